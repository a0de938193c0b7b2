// Names of command bytes, response types, sub-commands and ISO 15693 codes, for --trace.
#include "link_observer.h"
#include "session.h"

#include <array>
#include <cstdio>

namespace qx4cli {
namespace {

struct Name {
    uint8_t code;
    const char* name;
};

constexpr std::array kCommands{
    Name{0x42, "Buzzer"},      Name{0x4A, "WriteTagData"}, Name{0x4E, "WriteSetting"},
    Name{0x4F, "ReadSetting"}, Name{0x52, "SimpleRead"},   Name{0x78, "ISO15693"},
};
constexpr std::array kResponses{
    Name{0x30, "ACK"},
    Name{0x31, "NACK"},
    Name{0x44, "DataNotification"},
    Name{0x49, "UidReport"},
    Name{0x64, "UidDataNotification"},
};
constexpr std::array kSubCommands{
    Name{0x00, "OperationMode"},  Name{0x09, "TagMode"},     Name{0x10, "OperationMode+EEPROM"},
    Name{0x19, "TagMode+EEPROM"}, Name{0x50, "UidRegister"}, Name{0x51, "AfiRegister"},
    Name{0x52, "PowerDown"},      Name{0x53, "UidNumber"},   Name{0x54, "UidData"},
    Name{0x55, "LedControl"},     Name{0x70, "Eeprom"},      Name{0x71, "EepromInit"},
    Name{0x80, "ErrorStatus"},    Name{0x90, "RomVersion"},  Name{0x93, "ModelName"},
    Name{0x9D, "Restart"},        Name{0x9E, "Carrier"},     Name{0x9F, "IoPort"},
};
constexpr std::array kIsoCodes{
    Name{0x01, "Inventory"},
    Name{0x02, "StayQuiet"},
    Name{0x20, "ReadSingleBlock"},
    Name{0x21, "WriteSingleBlock"},
    Name{0x22, "LockBlock"},
    Name{0x23, "ReadMultipleBlocks"},
    Name{0x24, "WriteMultipleBlocks"},
    Name{0x25, "Select"},
    Name{0x26, "ResetToReady"},
    Name{0x27, "WriteAFI"},
    Name{0x28, "LockAFI"},
    Name{0x29, "WriteDSFID"},
    Name{0x2A, "LockDSFID"},
    Name{0x2B, "GetSystemInfo"},
    Name{0x2C, "GetMultipleBlockSecurity"},
    Name{0xA0, "ReadBytes"},
    Name{0xA1, "WriteBytes"},
    Name{0xA2, "Write2Blocks"},
    Name{0xA3, "Lock2Blocks"},
    Name{0xB0, "MydRead"},
    Name{0xB1, "MydWrite"},
    Name{0xB2, "MydWriteByte"},
    Name{0xB3, "MydWriteReread"},
    Name{0xF0, "ReaderInventory"},
};

template <size_t N> std::string NameOf(const std::array<Name, N>& table, uint8_t code) {
    for (const Name& entry : table)
        if (entry.code == code) return entry.name;
    char unknown[8];
    std::snprintf(unknown, sizeof unknown, "0x%02X", code);
    return unknown;
}

// The sub-command or ISO code at data[0] (a request) or the echo (an ACK).
std::string Detail(uint8_t command, uint8_t code) {
    if (command == 0x78) return NameOf(kIsoCodes, code);
    if (command == 0x4E || command == 0x4F) return NameOf(kSubCommands, code);
    return {};
}

} // namespace

std::string DescribeFrame(int direction, const uint8_t* bytes, unsigned count,
                          uint8_t lastCommand) {
    std::string text = direction == QX4_TRACE_SENT ? "-> " : "<- ";
    if (count < 7) return text + "? | " + Hex(bytes, count);
    const uint8_t type = bytes[2], n = bytes[3];
    if (direction == QX4_TRACE_SENT) {
        text += NameOf(kCommands, type);
        if (n > 0 && !Detail(type, bytes[4]).empty()) text += " " + Detail(type, bytes[4]);
    } else {
        text += NameOf(kResponses, type);
        if (type == 0x30 && n > 0 && !Detail(lastCommand, bytes[4]).empty())
            text += " " + Detail(lastCommand, bytes[4]);
        if (type == 0x31 && n > 0) {
            const int iso = bytes[4] == 5 && n > 1 ? bytes[5] : -1;
            char code[24];
            std::snprintf(code, sizeof code, iso >= 0 ? " 0x%02X/0x%02X " : " 0x%02X ", bytes[4],
                          iso);
            text += code + qx4dump::EnglishNackText(bytes[4], iso);
        }
    }
    // The fields: STX, address, type, n, n data bytes, ETX, sum, CR.
    if (count == n + 7u) {
        char fields[48];
        std::snprintf(fields, sizeof fields, " (address 0x%02X, n %u, ", bytes[1], n);
        text += fields + (n ? "data " + Hex(bytes + 4, n) : std::string("no data"));
        std::snprintf(fields, sizeof fields, ", sum 0x%02X)", bytes[5 + n]);
        text += fields;
    }
    return text + " | " + Hex(bytes, count);
}

} // namespace qx4cli
