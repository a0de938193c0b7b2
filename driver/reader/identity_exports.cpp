// Reader identity, control and I/O commands.
#include "link/exchange.h"

#include <algorithm>

using namespace qx4;

namespace {

// The reply text after the echoed sub-command, zero-terminated.
unsigned char ReadText(Bytes request, char* text) {
    const Reply context = Exchange(Command::ReadSetting, request);
    if (!context) return 0;
    const size_t n = context->FrameDataCount();
    const size_t length = n < 2 ? 0 : n - 1;
    std::copy_n(context->frame.begin() + 5, length, text);
    text[length] = '\0';
    return 1;
}

// One reply byte at frame[5].
unsigned char ReadByte(uint8_t subCommand, unsigned char* value) {
    const Reply context = Exchange(Command::ReadSetting, {subCommand});
    if (!context || !ReplyCarries(*context, 1)) return 0;
    *value = context->frame[5];
    return 1;
}

unsigned char WriteSetting(Bytes data) {
    return Acknowledged(Exchange(Command::WriteSetting, data));
}

bool IsNotNack(uint8_t type) {
    return type != static_cast<uint8_t>(ResponseType::Nack);
}

} // namespace

extern "C" {

QX4_API unsigned char QX4GetROMVersion(char* text) {
    return ReadText({sub::RomVersion, 0x00}, text);
}

QX4_API unsigned char QX4GetModelNameComad(char* text) {
    return ReadText({sub::ModelName}, text);
}

QX4_API unsigned char QX4ReStartComand(void) {
    return SendOnly(Command::WriteSetting, {sub::Restart}) ? 1 : 0;
}

QX4_API unsigned char QX4SetTxOnOff(int value) {
    return WriteSetting({sub::Carrier, Low(value)});
}

QX4_API unsigned char QX4SetPowerDown(void) {
    return SendOnly(Command::WriteSetting, {sub::PowerDown}) ? 1 : 0;
}

QX4_API unsigned char QX4GetPowerDown(unsigned char* state) {
    return ReadByte(sub::PowerDown, state);
}

QX4_API unsigned char QX4GetErrorStatus(unsigned char* status) {
    return ReadByte(sub::ErrorStatus, status);
}

QX4_API unsigned char QX4SetLEDCont(int first, int second, int third) {
    return WriteSetting({sub::LedControl, Low(first), Low(second), Low(third)});
}

QX4_API unsigned char QX4BuzOn(int first, int second) {
    // The buzzer frame leaves lastCommand alone: its answer gets the previous command's handling.
    const Bytes data{Low(second), Low(first)};
    if (second == 0) return SendOnly(Command::Buzzer, data, Records::Nothing) ? 1 : 0;
    return Exchange(Command::Buzzer, AsSpan(data), Records::Nothing) ? 1 : 0;
}

QX4_API unsigned char QX4ReadIOPort(unsigned char* value) {
    const Reply context = Exchange(Command::ReadSetting, {sub::IoPort});
    if (!context || !ReplyCarries(*context, 1)) return 0; // the wait checked the echo
    *value = context->frame[5];
    return 1;
}

QX4_API unsigned char QX4WriteIOPort(int first, int second) {
    return WriteSetting({sub::IoPort, Low(first), Low(second)});
}

QX4_API unsigned char QX4SimpleReadCmd(void) {
    return Exchange(Command::SimpleRead, {}, Records::Nothing, IsNotNack) ? 1 : 0;
}

} // extern "C"
