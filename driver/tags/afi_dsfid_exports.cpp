// ISO 15693 AFI and DSFID write/lock, and system information.
#include "tags/tag_request.h"

#include <algorithm>

using namespace qx4;

namespace {

// Payload of a system-information reply with these info flags.
size_t SystemInfoBytes(uint8_t flags) {
    return 1 + 8 + (flags & 0x01 ? 1 : 0) + (flags & 0x02 ? 1 : 0) + (flags & 0x04 ? 2 : 0) +
           (flags & 0x08 ? 1 : 0);
}

unsigned char Simple(uint8_t code, int requestMode, Bytes parameters, const unsigned char* uid) {
    const CommandClaim claim = BeginTagExport(uid);
    if (!claim) return 0;
    return SendTagRequest(*claim,
                          {.code = code, .parameters = parameters, .requestMode = requestMode}) &&
                   EchoOnly(*claim)
               ? 1
               : 0;
}

} // namespace

extern "C" {

QX4_API unsigned char QX4WriteAFI(int requestMode, int afiValue, const unsigned char* uid) {
    return Simple(iso::WriteAfi, requestMode, {Low(afiValue)}, uid);
}

QX4_API unsigned char QX4LockAFI(int requestMode, const unsigned char* uid) {
    return Simple(iso::LockAfi, requestMode, {}, uid);
}

QX4_API unsigned char QX4WrietDSFID(int requestMode, int dsfidValue, const unsigned char* uid) {
    return Simple(iso::WriteDsfid, requestMode, {Low(dsfidValue)}, uid);
}

QX4_API unsigned char QX4LockDSFID(int requestMode, const unsigned char* uid) {
    return Simple(iso::LockDsfid, requestMode, {}, uid);
}

QX4_API unsigned char QX4GetSystemInfo(int requestMode, unsigned char* out, int* lenOut,
                                       const unsigned char* uid) {
    const CommandClaim claim = BeginTagExport(uid);
    if (!claim) return 0;
    // Info flags, UID and the fields the flags announce; the copy ends with the ETX byte.
    if (!SendTagRequest(
            *claim, {.code = iso::GetSystemInfo, .parameters = {}, .requestMode = requestMode}) ||
        !ReplyIs(*claim, claim->frame[3] >= 2) ||
        !ReplyCarries(*claim, SystemInfoBytes(claim->frame[5])))
        return 0;
    RecordSystemInfo(*claim);
    const size_t n = claim->FrameDataCount();
    *lenOut = static_cast<int>(n);
    std::copy_n(claim->frame.begin() + 5, n, out);
    return 1;
}

} // extern "C"
