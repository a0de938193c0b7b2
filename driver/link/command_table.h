// Command bytes, sub-commands and response types of the reader's frame protocol.
#pragma once

#include <cstdint>

namespace qx4 {

// Byte 2 of a frame the library writes.
enum class Command : uint8_t {
    Buzzer = 0x42,
    WriteTagData = 0x4A,
    WriteSetting = 0x4E,
    ReadSetting = 0x4F,
    SimpleRead = 0x52,
    Iso15693 = 0x78,
};

// Byte 2 of a frame the reader writes.
enum class ResponseType : uint8_t {
    Ack = 0x30,
    Nack = 0x31,
    DataNotification = 0x44,
    UidDataNotification = 0x64,
    UidReport = 0x49,
};

// data[0] of 0x4F / 0x4E frames.
namespace sub {
inline constexpr uint8_t OperationMode = 0x00;       // DousaModeSet
inline constexpr uint8_t OperationModeEeprom = 0x10; // written with the EEPROM option
inline constexpr uint8_t TagMode = 0x09;             // S6700ModeSet
inline constexpr uint8_t TagModeEeprom = 0x19;
inline constexpr uint8_t UidRegister = 0x50; // UID_RDWR_CMD
inline constexpr uint8_t AfiRegister = 0x51; // AFI_RDWR_CMD
inline constexpr uint8_t PowerDown = 0x52;   // POWERDOWN_CMD
inline constexpr uint8_t UidNumber = 0x53;   // GETUIDNUMBER_CMD
inline constexpr uint8_t UidData = 0x54;     // GETUIDDATA_CMD
inline constexpr uint8_t LedControl = 0x55;  // SET_LEDCONT
inline constexpr uint8_t Eeprom = 0x70;      // EEPROM_RDWR_CMD
inline constexpr uint8_t EepromInit = 0x71;  // EEPROM_INIT_CMD
inline constexpr uint8_t ErrorStatus = 0x80;
inline constexpr uint8_t RomVersion = 0x90;
inline constexpr uint8_t ModelName = 0x93;
inline constexpr uint8_t Restart = 0x9D; // RESTART_CMD
inline constexpr uint8_t Carrier = 0x9E; // TXON_OFF_CMD
inline constexpr uint8_t IoPort = 0x9F;
} // namespace sub

// ISO 15693 command codes carried by 0x78 frames (data[0]).
namespace iso {
inline constexpr uint8_t Inventory = 0x01;
inline constexpr uint8_t StayQuiet = 0x02;
inline constexpr uint8_t ReadSingleBlock = 0x20;
inline constexpr uint8_t WriteSingleBlock = 0x21;
inline constexpr uint8_t LockBlock = 0x22;
inline constexpr uint8_t ReadMultiBlock = 0x23;
inline constexpr uint8_t WriteMultiBlock = 0x24;
inline constexpr uint8_t Select = 0x25;
inline constexpr uint8_t ResetToReady = 0x26;
inline constexpr uint8_t WriteAfi = 0x27;
inline constexpr uint8_t LockAfi = 0x28;
inline constexpr uint8_t WriteDsfid = 0x29;
inline constexpr uint8_t LockDsfid = 0x2A;
inline constexpr uint8_t GetSystemInfo = 0x2B;
inline constexpr uint8_t GetMultiBlockSecurity = 0x2C;
inline constexpr uint8_t ReadBytes = 0xA0;
inline constexpr uint8_t WriteBytes = 0xA1;
inline constexpr uint8_t Write2Blocks = 0xA2;
inline constexpr uint8_t Lock2Blocks = 0xA3;
inline constexpr uint8_t MydRead = 0xB0;
inline constexpr uint8_t MydWrite = 0xB1;
inline constexpr uint8_t MydWriteByte = 0xB2;
inline constexpr uint8_t MydWriteReread = 0xB3;
inline constexpr uint8_t ReaderInventory = 0xF0;
} // namespace iso

// Request mode byte of the tag commands.
inline constexpr uint8_t kUidDesignationMask = 0x03;
inline constexpr uint8_t kAddressed = 0x01;
inline constexpr uint8_t kOptionFlag = 0x10;

} // namespace qx4
