// ISO 15693 block commands and the custom byte and two-block commands.
#include "tags/tag_request.h"

using namespace qx4;

namespace {

bool WithStatus(int requestMode) {
    return (requestMode & kOptionFlag) != 0;
}

unsigned char ReadBlocks(uint8_t code, int requestMode, Bytes parameters, size_t blocks,
                         unsigned char* out, const unsigned char* uid) {
    const std::shared_ptr<ReaderContext> context = Context();
    if (context && !BlocksFitAReply(blocks, context->tagBlockSize, WithStatus(requestMode)))
        return Refuse();
    const CommandClaim claim = BeginTagExport(uid);
    if (!claim) return 0;
    ExpectSecurityStatus(*claim, requestMode);
    return SendTagRequest(*claim,
                          {.code = code, .parameters = parameters, .requestMode = requestMode}) &&
                   CopyBlocks(*claim, out, blocks, claim->tagBlockSize,
                              claim->securityStatusExpected != 0)
               ? 1
               : 0;
}

unsigned char Write(uint8_t code, int requestMode, Bytes parameters, const unsigned char* data,
                    size_t dataBytes, const unsigned char* uid) {
    const CommandClaim claim = BeginTagExport(uid);
    if (!claim) return 0;
    return SendTagRequest(*claim, {.code = code,
                                   .parameters = parameters,
                                   .data = {data, dataBytes},
                                   .requestMode = requestMode}) &&
                   EchoOnly(*claim)
               ? 1
               : 0;
}

// Reads whose reply is copied byte for byte: count bytes from frame[5].
unsigned char ReadRaw(uint8_t code, int requestMode, Bytes parameters, size_t count,
                      unsigned char* out, const unsigned char* uid) {
    if (count > 254) return Refuse();
    const CommandClaim claim = BeginTagExport(uid);
    if (!claim) return 0;
    return SendTagRequest(*claim,
                          {.code = code, .parameters = parameters, .requestMode = requestMode}) &&
                   CopyBlocks(*claim, out, 1, static_cast<int>(count), false)
               ? 1
               : 0;
}

int BlockSize() {
    const std::shared_ptr<ReaderContext> context = Context();
    return context ? context->tagBlockSize : 0;
}

} // namespace

extern "C" {

QX4_API unsigned char QX4ReadSingleBlock(int requestMode, int blockNo, unsigned char* out,
                                         const unsigned char* uid) {
    if (!FitsByte(blockNo)) return Refuse();
    return ReadBlocks(iso::ReadSingleBlock, requestMode, {Low(blockNo)}, 1, out, uid);
}

QX4_API unsigned char QX4ReadSingleBlockB(int requestMode, int blockNo, unsigned char* out,
                                          const unsigned char* uid) {
    return QX4ReadSingleBlock(requestMode, blockNo, out, uid);
}

QX4_API unsigned char QX4WriteSingleBlock(int requestMode, int blockNo, const unsigned char* data,
                                          const unsigned char* uid) {
    if (!FitsByte(blockNo)) return Refuse();
    return Write(iso::WriteSingleBlock, requestMode, {Low(blockNo)}, data,
                 BlockBytes(BlockSize(), 1), uid);
}

QX4_API unsigned char QX4LockBlock(int requestMode, int blockNo, const unsigned char* uid) {
    if (!FitsByte(blockNo)) return Refuse();
    return Write(iso::LockBlock, requestMode, {Low(blockNo)}, nullptr, 0, uid);
}

QX4_API unsigned char QX4ReadMultiBlock(int requestMode, int firstBlock, int blocksMinus1,
                                        unsigned char* out, const unsigned char* uid) {
    if (!FitsByte(firstBlock) || !FitsByte(blocksMinus1)) return Refuse();
    return ReadBlocks(iso::ReadMultiBlock, requestMode, {Low(firstBlock), Low(blocksMinus1)},
                      size_t(blocksMinus1) + 1, out, uid);
}

QX4_API unsigned char QX4WriteMultiBlock(int requestMode, int firstBlock, int blocksMinus1,
                                         const unsigned char* data, const unsigned char* uid) {
    if (!FitsByte(firstBlock) || !FitsByte(blocksMinus1)) return Refuse();
    return Write(iso::WriteMultiBlock, requestMode, {Low(firstBlock), Low(blocksMinus1)}, data,
                 BlockBytes(BlockSize(), size_t(blocksMinus1) + 1), uid);
}

QX4_API unsigned char QX4GetMBlockSecSt(int requestMode, int firstBlock, int blocksMinus1,
                                        unsigned char* out, const unsigned char* uid) {
    if (!FitsByte(firstBlock) || !FitsByte(blocksMinus1)) return Refuse();
    return ReadRaw(iso::GetMultiBlockSecurity, requestMode, {Low(firstBlock), Low(blocksMinus1)},
                   size_t(blocksMinus1) + 1, out, uid);
}

QX4_API unsigned char QX4Write2Blocks(int requestMode, int blockNo, const unsigned char* data,
                                      const unsigned char* uid) {
    if (!FitsByte(blockNo)) return Refuse();
    return Write(iso::Write2Blocks, requestMode, {Low(blockNo)}, data, BlockBytes(BlockSize(), 2),
                 uid);
}

QX4_API unsigned char QX4Lock2Blocks(int requestMode, int blockNo, const unsigned char* uid) {
    if (!FitsByte(blockNo)) return Refuse();
    return Write(iso::Lock2Blocks, requestMode, {Low(blockNo)}, nullptr, 0, uid);
}

QX4_API unsigned char QX4ReadBytes(int requestMode, int blockNo, int byteCount, unsigned char* out,
                                   const unsigned char* uid) {
    if (!FitsByte(blockNo) || !FitsByte(byteCount)) return Refuse();
    return ReadRaw(iso::ReadBytes, requestMode, {Low(blockNo), Low(byteCount)},
                   size_t(byteCount) + 1, out, uid);
}

QX4_API unsigned char QX4WriteBytes(int requestMode, int blockNo, int byteCount,
                                    const unsigned char* data, const unsigned char* uid) {
    if (!FitsByte(blockNo) || !FitsByte(byteCount)) return Refuse();
    return Write(iso::WriteBytes, requestMode, {Low(blockNo), Low(byteCount)}, data,
                 size_t(byteCount), uid);
}

} // extern "C"
