// UID register, collected UID list, AFI register and tag data write.
#include "link/exchange.h"

#include <algorithm>
#include <array>

using namespace qx4;

namespace {

constexpr int kTagDataPrefix = 4; // four zero bytes precede the caller's data
constexpr int kWholeLength = 255; // sent as 250 bytes

unsigned char CopyUidFromReply(Bytes request, size_t offset, unsigned char* uid) {
    const Reply context = Exchange(Command::ReadSetting, request);
    if (!context || !ReplyCarries(*context, offset - 5 + 8)) return 0;
    std::copy_n(context->frame.begin() + offset, 8, uid);
    return 1;
}

} // namespace

extern "C" {

QX4_API unsigned char QX4GetUidNumber(unsigned char* count) {
    const Reply context = Exchange(Command::ReadSetting, {sub::UidNumber});
    if (!context || !ReplyCarries(*context, 1)) return 0;
    *count = context->frame[5];
    return 1;
}

QX4_API unsigned char QX4GetUidData(int index, unsigned char* uid) {
    return CopyUidFromReply({sub::UidData, Low(index)}, 7, uid);
}

QX4_API unsigned char QX4GetUIDGetCmd(unsigned char* uid) {
    return CopyUidFromReply({sub::UidRegister}, 5, uid);
}

QX4_API unsigned char QX4SetUIDSetCmd(const unsigned char* uid) {
    return Acknowledged(Exchange(Command::WriteSetting, {sub::UidRegister, uid[0], uid[1], uid[2],
                                                         uid[3], uid[4], uid[5], uid[6], uid[7]}));
}

QX4_API unsigned char QX4GetAFIData(unsigned char* afi) {
    const Reply context = Exchange(Command::ReadSetting, {sub::AfiRegister});
    if (!context || !ReplyCarries(*context, 1)) return 0; // the wait checked the echo
    *afi = context->frame[5];
    return 1;
}

QX4_API unsigned char QX4SetAFIData(int afi) {
    return Acknowledged(Exchange(Command::WriteSetting, {sub::AfiRegister, Low(afi)}));
}

QX4_API unsigned char QX4WriteTagData(int length, const unsigned char* data) {
    // Lengths beyond one byte would be sent as their low byte: another length than asked.
    if (length < 0 || length > 255) return Refuse();
    size_t count = static_cast<size_t>(length);
    if (count == kWholeLength) count = 250;
    if (count + kTagDataPrefix > 255) return Refuse(); // 252 to 254 cannot be framed
    std::array<uint8_t, 255> request{};
    std::copy_n(data, count, request.begin() + kTagDataPrefix);
    return Exchange(Command::WriteTagData, std::span(request.data(), count + kTagDataPrefix)) ? 1
                                                                                              : 0;
}

} // extern "C"
