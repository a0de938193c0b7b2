// Operation mode and tag mode registers.
#include "link/exchange.h"

using namespace qx4;

namespace {

constexpr uint8_t kModeWithAfi = 0x51; // sends afiSubstitute instead of the value

} // namespace

extern "C" {

QX4_API unsigned char QX4GetRWMode(unsigned char* mode, unsigned char* second,
                                   unsigned char* flags) {
    const Reply context = Exchange(Command::ReadSetting, {sub::OperationMode});
    // Mode, second, flags and the two value bytes QX4SetRWMode writes.
    if (!context || !ReplyCarries(*context, 5)) return 0;
    *mode = context->frame[5];
    *second = context->frame[6];
    *flags = context->frame[7];
    return 1;
}

QX4_API unsigned char QX4DllRxModeSetCmd(unsigned char* mode, unsigned char* second,
                                         unsigned char* flags) {
    return QX4GetRWMode(mode, second, flags);
}

QX4_API unsigned char QX4SetRWMode(int mode, int second, int flags, int value, int option) {
    const std::shared_ptr<ReaderContext> context = Context();
    if (!context) return Link().failureCause.store(QX4_CAUSE_NO_PORT), 0;
    uint8_t high = Low(value >> 8);
    uint8_t low = Low(value);
    if (Low(mode) == kModeWithAfi) {
        high = context->afiSubstitute;
        low = 0x00;
    }
    const uint8_t target = option ? sub::OperationModeEeprom : sub::OperationMode;
    // The one way out of auto-scan for a reader that refuses everything else meanwhile:
    // it goes out even when the fence before it fails.
    const Bytes request{target, Low(mode), Low(second), Low(flags), 0x01, high, low};
    return Acknowledged(Exchange(Command::WriteSetting, AsSpan(request), Records::LastCommand,
                                 nullptr, Fencing::EvenUnfenced));
}

QX4_API unsigned char QX4GetTagMode(unsigned char* tagMode) {
    if (!Context()) return Link().failureCause.store(QX4_CAUSE_NO_PORT), 0;
    *tagMode = 0; // callers read 0 after a failure
    const Reply context = Exchange(Command::ReadSetting, {sub::TagMode});
    if (!context || !ReplyCarries(*context, 1)) return 0;
    *tagMode = context->frame[5];
    return 1;
}

QX4_API unsigned char QX4SetTagMode(int tagMode, int option) {
    const uint8_t target = option ? sub::TagModeEeprom : sub::TagMode;
    return Acknowledged(Exchange(Command::WriteSetting, {target, Low(tagMode)}));
}

} // extern "C"
