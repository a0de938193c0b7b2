#include "tags/tag_request.h"

#include <algorithm>
#include <array>

namespace qx4 {

CommandClaim BeginTagExport(const uint8_t* uid) {
    CommandClaim claim;
    if (claim) std::copy_n(uid, 8, claim->currentUid.begin());
    return claim;
}

bool SendTagRequest(ReaderContext& context, const TagRequest& request) {
    const uint8_t mode = Low(request.requestMode);
    const uint8_t* uid = nullptr;
    if (request.uidField == UidField::Always)
        uid = request.uid;
    else if (request.uidField == UidField::ByDesignation &&
             (mode & kUidDesignationMask) == kAddressed)
        uid = context.currentUid.data();

    const size_t length = 1 + request.parameters.size() + request.data.size() + 1 +
                          request.afterMode.size() + (uid ? 8 : 0);
    if (length > 255) {
        NoteFailure(QX4_CAUSE_BAD_ARGUMENT);
        return false;
    }
    std::array<uint8_t, 255> data;
    auto out = data.begin();
    *out++ = request.code;
    out = std::copy(request.parameters.begin(), request.parameters.end(), out);
    out = std::copy(request.data.begin(), request.data.end(), out);
    *out++ = mode;
    out = std::copy(request.afterMode.begin(), request.afterMode.end(), out);
    if (uid) std::copy_n(uid, 8, out);
    return SendCommand(context, Command::Iso15693, std::span(data.data(), length)) &&
           AwaitResponse(context) == WaitOutcome::Accepted;
}

bool CopyBlocks(const ReaderContext& context, unsigned char* out, size_t blocks, int k,
                bool withStatus) {
    const size_t blockBytes = size_t(k) + (withStatus ? 1 : 0);
    if (!ReplyCarries(context, blocks * blockBytes)) return false;
    std::copy_n(context.frame.begin() + 5, blocks * blockBytes, out);
    return true;
}

} // namespace qx4
