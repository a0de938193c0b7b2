#include "capability_container.h"

#include <algorithm>
#include <cstdio>

namespace qx4ndef {

CapabilityContainer ParseCapabilityContainer(ByteView memory, size_t tagBytes) {
    if (memory.size() < 4) throw NdefError("the memory is too short for a capability container");
    CapabilityContainer cc;
    cc.magic = memory[0];
    if (cc.magic != 0xE1 && cc.magic != 0xE2) {
        char text[96];
        std::snprintf(text, sizeof text,
                      "no NDEF capability container (byte 0 is %02X, not E1 or E2)", cc.magic);
        throw NdefError(text);
    }
    cc.versionMajor = memory[1] >> 6;
    cc.versionMinor = (memory[1] >> 4) & 0x03;
    cc.read = static_cast<Access>((memory[1] >> 2) & 0x03);
    cc.write = static_cast<Access>(memory[1] & 0x03);
    if (cc.versionMajor != 1)
        throw NdefError("capability container of version " + std::to_string(cc.versionMajor) + "." +
                        std::to_string(cc.versionMinor) + ": only version 1 is read");
    cc.features = memory[3];
    cc.multipleBlockRead = memory[3] & kMultipleBlockRead;
    cc.lockBlock = memory[3] & kLockBlock;
    cc.specialFrame = memory[3] & kSpecialFrame;
    if (memory[2] != 0) {
        cc.memoryLength = size_t{memory[2]} * 8;
    } else {
        if (memory.size() < 8)
            throw NdefError("the memory is too short for an eight-byte capability container");
        cc.size = 8;
        cc.memoryLength = (size_t{memory[6]} << 8 | memory[7]) * 8;
    }
    if (cc.memoryLength == 0) throw NdefError("the capability container gives no memory length");
    if (tagBytes && cc.memoryLength > tagBytes)
        throw NdefError("the capability container claims " + std::to_string(cc.memoryLength) +
                        " bytes where the tag has " + std::to_string(tagBytes));
    return cc;
}

Bytes BuildCapabilityContainer(const CapabilityContainer& cc) {
    const size_t units = cc.memoryLength / 8;
    Bytes out{
        cc.magic,
        static_cast<uint8_t>(cc.versionMajor << 6 | (cc.versionMinor & 3) << 4 |
                             static_cast<uint8_t>(cc.read) << 2 | static_cast<uint8_t>(cc.write)),
        0,
        static_cast<uint8_t>((cc.features & ~(kMultipleBlockRead | kLockBlock | kSpecialFrame)) |
                             (cc.multipleBlockRead ? kMultipleBlockRead : 0) |
                             (cc.lockBlock ? kLockBlock : 0) |
                             (cc.specialFrame ? kSpecialFrame : 0))};
    if (cc.size == 4) {
        if (units < 1 || units > 255)
            throw NdefError("a four-byte capability container holds 8 to 2040 bytes");
        out[2] = static_cast<uint8_t>(units);
    } else {
        if (units < 1 || units > 0xFFFF)
            throw NdefError("an eight-byte capability container holds 8 to 524280 bytes");
        for (const size_t byte : {size_t{0}, size_t{0}, units >> 8, units & 0xFF})
            out.push_back(static_cast<uint8_t>(byte));
    }
    return out;
}

CapabilityContainer ContainerFor(size_t tagBytes, bool multipleBlockRead) {
    CapabilityContainer cc;
    cc.multipleBlockRead = multipleBlockRead;
    if (tagBytes < 4 + 8) throw NdefError("the tag is too small for NDEF");
    if ((tagBytes - 4) / 8 * 8 > kLargestShortArea) {
        cc.size = 8;
        cc.magic = 0xE2;
    }
    cc.memoryLength = std::min<size_t>((tagBytes - cc.size) / 8, cc.size == 4 ? 255 : 0xFFFF) * 8;
    cc.features = (multipleBlockRead ? kMultipleBlockRead : 0);
    return cc;
}

size_t AreaEnd(const CapabilityContainer& cc, size_t tagBytes) {
    return std::min(cc.size + cc.memoryLength, tagBytes);
}

const char* AccessName(Access access) {
    switch (access) {
    case Access::Always:
        return "always";
    case Access::Reserved:
        return "reserved";
    case Access::Proprietary:
        return "proprietary";
    case Access::Never:
        return "never";
    }
    return "?";
}

} // namespace qx4ndef
