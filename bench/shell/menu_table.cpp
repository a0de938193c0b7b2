#include "menu_table.h"

#include "control_ids.h"

#include <array>

namespace qx4bench {
namespace {

constexpr const char* kFile = "ファイル";
constexpr const char* kIso = "ISO15693";
constexpr const char* kLock = "ISO15693/Lockコマンド";
constexpr const char* kExtended = "拡張コマンド";
constexpr const char* kEepromInit = "拡張コマンド/EEPROM初期化";
constexpr const char* kCarrier = "拡張コマンド/送信キャリア";
constexpr const char* kTools = "ツール";
constexpr const char* kPresets = "ツール/設定";
constexpr const char* kAfi = "ツール/AFI設定";
constexpr const char* kMyd = "ツール/my-d コマンド";

constexpr std::array kMenu{
    MenuItem{kFile, "終了", idm::Exit, "Closes the port and ends the checker."},
    MenuItem{kIso, "Inventory", idm::Inventory,
             "0x78 0x01 Inventory, flags 0x40 (one slot); then Inventory2 to count the tags that "
             "answered."},
    MenuItem{kIso, "Inventory2", idm::Inventory2,
             "0x78 0xF0 anticollision inventory: the reader collects every UID in the field."},
    MenuItem{kIso, "StayQuiet", idm::StayQuiet, "0x78 0x02 Stay quiet, always with the UID."},
    MenuItem{kIso, "ReadSingleBlock", idm::ReadSingleBlock,
             "0x78 0x20 Read single block: BlockNo; option and addressing of the read settings."},
    MenuItem{kIso, "WriteSingleBlock", idm::WriteSingleBlock,
             "0x78 0x21 Write single block: BlockNo, one block of WrStr1; write settings."},
    MenuItem{kIso, "ReadMultiBlock", idm::ReadMultiBlock,
             "0x78 0x23 Read multiple blocks: BlockNo, BlockNum + 1 blocks."},
    MenuItem{kIso, "WriteMultiBlock", idm::WriteMultiBlock,
             "0x78 0x24 Write multiple blocks: BlockNo, BlockNum + 1 blocks of WrStr1."},
    MenuItem{kIso, "SelectTag", idm::SelectTag, "0x78 0x25 Select, always with the UID."},
    MenuItem{kIso, "Write2Blocks", idm::Write2Blocks,
             "0x78 0xA2 Write two blocks: BlockNo and the next, from WrStr1."},
    MenuItem{kIso, "ResetToReady", idm::ResetToReady, "0x78 0x26 Reset to ready."},
    MenuItem{kIso, "WriteAFI", idm::WriteAfi, "0x78 0x27 Write AFI (the value typed)."},
    MenuItem{kIso, "WriteDSFID", idm::WriteDsfid, "0x78 0x29 Write DSFID (the value typed)."},
    MenuItem{kIso, "GetSystemInfo", idm::GetSystemInfo,
             "0x78 0x2B Get system information: UID, DSFID, AFI, memory size."},
    MenuItem{kIso, "GetMBlockSecSt", idm::GetMBlockSecSt,
             "0x78 0x2C Get multiple block security status: BlockNo, BlockNum + 1 blocks."},
    MenuItem{kLock, "LockBlock", idm::LockBlock,
             "0x78 0x22 Lock block BlockNo: permanent, asks first."},
    MenuItem{kLock, "LockAFI", idm::LockAfi, "0x78 0x28 Lock AFI: permanent, asks first."},
    MenuItem{kLock, "LockDSFID", idm::LockDsfid, "0x78 0x2A Lock DSFID: permanent, asks first."},
    MenuItem{
        kLock, "Lock2Blocks", idm::Lock2Blocks,
        "0x78 0xA3 Lock two blocks from BlockNo, option flag always set: permanent, asks first."},
    MenuItem{kExtended, "リスタート", idm::Restart, "0x4E 0x9D restart of the reader."},
    MenuItem{kExtended, "ROMバージョン取得", idm::RomVersion,
             "0x4F 0x90 ROM version of the reader."},
    MenuItem{
        kEepromInit, "実　行", idm::InitEeprom,
        "0x4E 0x71 EEPROM initialisation: every setting stored in the reader is lost; asks first."},
    MenuItem{kExtended, "パワーダウンモード", idm::PowerDown,
             "0x4E 0x52 power-down mode of the reader."},
    MenuItem{kExtended, "パワー状態取得", idm::PowerState, "0x4F 0x52 power state."},
    MenuItem{kExtended, "エラー状態取得", idm::ErrorStatus, "0x4F 0x80 error status."},
    MenuItem{kExtended, "カレントUID取得", idm::GetCurrentUid,
             "0x4F 0x50 the reader's current UID register."},
    MenuItem{kExtended, "カレントUID設定", idm::SetCurrentUid,
             "0x4E 0x50 sets the reader's current UID register to the UID in hand."},
    MenuItem{kExtended, "UID数取得", idm::UidNumber,
             "0x4F 0x53 number of UIDs the last Inventory2 collected."},
    MenuItem{kExtended, "UIDデータ取得", idm::UidData, "0x4F 0x54 UID number n of that list."},
    MenuItem{kCarrier, "TxON", idm::TxOn, "0x4E 0x9E carrier on."},
    MenuItem{kCarrier, "TxOFF", idm::TxOff, "0x4E 0x9E carrier off: no tag answers until TxON."},
    MenuItem{kExtended, nullptr, 0},
    MenuItem{kExtended, "ReadBytes", idm::ReadBytes,
             "0x78 0xA0 read of BlockNum bytes from block BlockNo."},
    MenuItem{kExtended, "WriteBytes", idm::WriteBytes,
             "0x78 0xA1 write of the bytes of WrStr1 from block BlockNo."},
    MenuItem{kTools, "環境設定...", idm::EnvSettings,
             "Nothing is sent: addressing, option flags and block size of the checker."},
    MenuItem{kPresets, "デフォルト", idm::PresetDefault,
             "0x4E 0x19 tag mode 0xD4 into the EEPROM, 0x4E 0x70 EEPROM words 12, 16, 19 (block "
             "size 4): the reader's configuration; asks first."},
    MenuItem{kPresets, "富士通", idm::PresetFujitsu,
             "0x4E 0x19 tag mode 0xE4 into the EEPROM, 0x4E 0x70 EEPROM words 12, 16, 19 (block "
             "size 8): the reader's configuration; asks first."},
    MenuItem{kAfi, "SetAFI", idm::SetAfi, "0x4E 0x51 the reader's AFI register."},
    MenuItem{kAfi, "GetAFI", idm::GetAfi, "0x4F 0x51 the reader's AFI register."},
    MenuItem{kMyd, "my-d Read", idm::MydRead, "0x78 0xB0 my-d read of block BlockNo."},
    MenuItem{kMyd, "my-d Write", idm::MydWrite, "0x78 0xB1 my-d write of one block of WrStr1."},
    MenuItem{kTools, "Inventory_設定あり", idm::InventoryWithSettings,
             "0x78 0x01 Inventory with the flags chosen in its dialog."},
    MenuItem{kTools, "COMPortCheck", idm::ComPortCheck,
             "Opens COM1 to COM10 in turn and asks each for its ROM version."},
    MenuItem{kTools, nullptr, 0},
    MenuItem{kTools, "QX4Bench のバージョン情報...", idm::About, "Nothing is sent."},
};

constexpr std::array kAccelerators{
    Accelerator{"Ctrl+N", idm::FileNew},  Accelerator{"Ctrl+O", idm::FileOpen},
    Accelerator{"Ctrl+S", idm::FileSave}, Accelerator{"Ctrl+Q", idm::AppExit},
    Accelerator{"Ctrl+Z", idm::EditUndo}, Accelerator{"Ctrl+X", idm::EditCut},
    Accelerator{"Ctrl+C", idm::EditCopy}, Accelerator{"Ctrl+V", idm::EditPaste},
};

} // namespace

std::span<const MenuItem> MenuItems() {
    return kMenu;
}
std::span<const Accelerator> Accelerators() {
    return kAccelerators;
}

} // namespace qx4bench
