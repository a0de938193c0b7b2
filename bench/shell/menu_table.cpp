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
    MenuItem{kFile, "終了", idm::Exit},
    MenuItem{kIso, "Inventory", idm::Inventory},
    MenuItem{kIso, "Inventory2", idm::Inventory2},
    MenuItem{kIso, "StayQuiet", idm::StayQuiet},
    MenuItem{kIso, "ReadSingleBlock", idm::ReadSingleBlock},
    MenuItem{kIso, "WriteSingleBlock", idm::WriteSingleBlock},
    MenuItem{kIso, "ReadMultiBlock", idm::ReadMultiBlock},
    MenuItem{kIso, "WriteMultiBlock", idm::WriteMultiBlock},
    MenuItem{kIso, "SelectTag", idm::SelectTag},
    MenuItem{kIso, "Write2Blocks", idm::Write2Blocks},
    MenuItem{kIso, "ResetToReady", idm::ResetToReady},
    MenuItem{kIso, "WriteAFI", idm::WriteAfi},
    MenuItem{kIso, "WriteDSFID", idm::WriteDsfid},
    MenuItem{kIso, "GetSystemInfo", idm::GetSystemInfo},
    MenuItem{kIso, "GetMBlockSecSt", idm::GetMBlockSecSt},
    MenuItem{kLock, "LockBlock", idm::LockBlock},
    MenuItem{kLock, "LockAFI", idm::LockAfi},
    MenuItem{kLock, "LockDSFID", idm::LockDsfid},
    MenuItem{kLock, "Lock2Blocks", idm::Lock2Blocks},
    MenuItem{kExtended, "リスタート", idm::Restart},
    MenuItem{kExtended, "ROMバージョン取得", idm::RomVersion},
    MenuItem{kEepromInit, "実　行", idm::InitEeprom},
    MenuItem{kExtended, "パワーダウンモード", idm::PowerDown},
    MenuItem{kExtended, "パワー状態取得", idm::PowerState},
    MenuItem{kExtended, "エラー状態取得", idm::ErrorStatus},
    MenuItem{kExtended, "カレントUID取得", idm::GetCurrentUid},
    MenuItem{kExtended, "カレントUID設定", idm::SetCurrentUid},
    MenuItem{kExtended, "UID数取得", idm::UidNumber},
    MenuItem{kExtended, "UIDデータ取得", idm::UidData},
    MenuItem{kCarrier, "TxON", idm::TxOn},
    MenuItem{kCarrier, "TxOFF", idm::TxOff},
    MenuItem{kExtended, nullptr, 0},
    MenuItem{kExtended, "ReadBytes", idm::ReadBytes},
    MenuItem{kExtended, "WriteBytes", idm::WriteBytes},
    MenuItem{kTools, "環境設定...", idm::EnvSettings},
    MenuItem{kPresets, "デフォルト", idm::PresetDefault},
    MenuItem{kPresets, "富士通", idm::PresetFujitsu},
    MenuItem{kAfi, "SetAFI", idm::SetAfi},
    MenuItem{kAfi, "GetAFI", idm::GetAfi},
    MenuItem{kMyd, "my-d Read", idm::MydRead},
    MenuItem{kMyd, "my-d Write", idm::MydWrite},
    MenuItem{kTools, "Inventory_設定あり", idm::InventoryWithSettings},
    MenuItem{kTools, "COMPortCheck", idm::ComPortCheck},
    MenuItem{kTools, nullptr, 0},
    MenuItem{kTools, "QX4Bench のバージョン情報...", idm::About},
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
