// Reader EEPROM words and parameters.
#include "link/exchange.h"

#include <algorithm>
#include <array>

using namespace qx4;

namespace {

// 2 x count + 3 must fit the one-byte length.
constexpr int kMaxWords = 126;

bool ValidWords(int address, int count) {
    return FitsByte(address) && count >= 0 && count <= kMaxWords;
}

} // namespace

extern "C" {

QX4_API unsigned char QX4GetEepromData2(int address, int count, unsigned char* data) {
    if (!ValidWords(address, count)) return Refuse();
    const Reply context = Exchange(Command::ReadSetting, {sub::Eeprom, Low(address), Low(count)});
    if (!context) return 0;
    const auto& f = context->frame;
    const size_t bytes = 2 * static_cast<size_t>(count);
    if (!ReplyIs(*context, f[4] == sub::Eeprom && f[5] == Low(address) && f[6] == Low(count)) ||
        !ReplyCarries(*context, 2 + bytes))
        return 0;
    std::copy_n(f.begin() + 7, bytes, data);
    return 1;
}

QX4_API unsigned char QX4GetEepromData(int address, unsigned char* data) {
    return QX4GetEepromData2(address, 1, data);
}

QX4_API unsigned char QX4SetEepromData2(int address, int count, const unsigned char* data) {
    if (!ValidWords(address, count)) return Refuse();
    std::array<uint8_t, 3 + 2 * kMaxWords> request{sub::Eeprom, Low(address), Low(count)};
    const size_t bytes = 2 * static_cast<size_t>(count);
    std::copy_n(data, bytes, request.begin() + 3);
    return Acknowledged(Exchange(Command::WriteSetting, std::span(request.data(), 3 + bytes)));
}

QX4_API unsigned char QX4SetEepromData(int address, int value) {
    if (!FitsByte(address)) return Refuse();
    return Acknowledged(Exchange(Command::WriteSetting,
                                 {sub::Eeprom, Low(address), 0x01, Low(value), Low(value >> 8)}));
}

QX4_API unsigned char QX4InitEEPROM(void) {
    return Acknowledged(Exchange(Command::WriteSetting, {sub::EepromInit}));
}

QX4_API unsigned char QX4GetParamData(int number, unsigned char* value) {
    const Reply context = Exchange(Command::ReadSetting, {Low(number)});
    if (!context || !ReplyCarries(*context, 1)) return 0; // the wait checked the echo
    *value = context->frame[5];
    return 1;
}

QX4_API unsigned char QX4SetParamData(int number, int value) {
    return Acknowledged(Exchange(Command::WriteSetting, {Low(number), Low(value)}));
}

} // extern "C"
