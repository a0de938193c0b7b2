// my-d tag commands (custom codes 0xB0 to 0xB3).
#include "tags/tag_request.h"

using namespace qx4;

namespace {

constexpr uint8_t kMydPad = 0x00; // every my-d request carries it after the block number

size_t MydBlockBytes(const ReaderContext& context) {
    return BlockBytes(context.tagMydBlockSize, 1);
}

} // namespace

extern "C" {

QX4_API unsigned char QX4Myd_Read(int requestMode, int blockNo, unsigned char* out,
                                  const unsigned char* uid) {
    if (!FitsByte(blockNo)) return Refuse();
    const CommandClaim claim = BeginTagExport(uid);
    if (!claim) return 0;
    ExpectSecurityStatus(*claim, requestMode);
    return SendTagRequest(*claim, {.code = iso::MydRead,
                                   .parameters = {Low(blockNo), kMydPad},
                                   .requestMode = requestMode}) &&
                   CopyBlocks(*claim, out, 1, claim->tagMydBlockSize,
                              claim->securityStatusExpected != 0)
               ? 1
               : 0;
}

QX4_API unsigned char QX4MydWrite(int requestMode, int blockNo, const unsigned char* data,
                                  const unsigned char* uid) {
    if (!FitsByte(blockNo)) return Refuse();
    const CommandClaim claim = BeginTagExport(uid);
    if (!claim) return 0;
    return SendTagRequest(*claim, {.code = iso::MydWrite,
                                   .parameters = {Low(blockNo), kMydPad},
                                   .data = {data, MydBlockBytes(*claim)},
                                   .requestMode = requestMode}) &&
                   EchoOnly(*claim)
               ? 1
               : 0;
}

QX4_API unsigned char QX4Myd_WriteByte(int requestMode, int blockNo, int byte1, int byte2,
                                       const unsigned char* uid) {
    if (!FitsByte(blockNo)) return Refuse();
    const CommandClaim claim = BeginTagExport(uid);
    if (!claim) return 0;
    return SendTagRequest(*claim, {.code = iso::MydWriteByte,
                                   .parameters = {Low(blockNo), kMydPad, Low(byte1), Low(byte2)},
                                   .requestMode = requestMode}) &&
                   EchoOnly(*claim)
               ? 1
               : 0;
}

// The read-back block carries a status byte exactly when this request's option flag is set.
QX4_API unsigned char QX4MydWriteReread(int requestMode, int blockNo, unsigned char* buf,
                                        const unsigned char* uid) {
    if (!FitsByte(blockNo)) return Refuse();
    const CommandClaim claim = BeginTagExport(uid);
    if (!claim) return 0;
    return SendTagRequest(*claim, {.code = iso::MydWriteReread,
                                   .parameters = {Low(blockNo), kMydPad},
                                   .data = {buf, MydBlockBytes(*claim)},
                                   .requestMode = requestMode}) &&
                   CopyBlocks(*claim, buf, 1, claim->tagMydBlockSize,
                              (requestMode & kOptionFlag) != 0)
               ? 1
               : 0;
}

} // extern "C"
