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
    MenuItem{kFile, "終了", idm::Exit, 'X', "ポートを閉じてチェッカーを終了します。"},
    MenuItem{kIso, "Inventory", idm::Inventory, 'I',
             "0x78 0x01 Inventory、フラグ 0x40（1 スロット）。続けて Inventory2 で応答したタグを"
             "数えます。"},
    MenuItem{kIso, "Inventory2", idm::Inventory2, '2',
             "0x78 0xF0 衝突防止インベントリ: リーダーがフィールドのすべての UID を集めます。"},
    MenuItem{kIso, "StayQuiet", idm::StayQuiet, 'Q', "0x78 0x02 Stay quiet、常に UID 付き。"},
    MenuItem{kIso, "ReadSingleBlock", idm::ReadSingleBlock, 'R',
             "0x78 0x20 1 ブロック読み出し: BlockNo。オプションと UID の指定は Read 関係の設定。"},
    MenuItem{kIso, "WriteSingleBlock", idm::WriteSingleBlock, 'W',
             "0x78 0x21 1 ブロック書き込み: BlockNo に WrStr1 の 1 ブロック。Write 関係の設定。"},
    MenuItem{kIso, "ReadMultiBlock", idm::ReadMultiBlock, 'M',
             "0x78 0x23 複数ブロック読み出し: BlockNo から BlockNum + 1 ブロック。"},
    MenuItem{kIso, "WriteMultiBlock", idm::WriteMultiBlock, 'U',
             "0x78 0x24 複数ブロック書き込み: BlockNo から WrStr1 の BlockNum + 1 ブロック。"},
    MenuItem{kIso, "SelectTag", idm::SelectTag, 'S', "0x78 0x25 Select、常に UID 付き。"},
    MenuItem{kIso, "Write2Blocks", idm::Write2Blocks, 'B',
             "0x78 0xA2 2 ブロック書き込み: BlockNo と次のブロックに WrStr1。"},
    MenuItem{kIso, "ResetToReady", idm::ResetToReady, 'T', "0x78 0x26 Reset to ready。"},
    MenuItem{kIso, "WriteAFI", idm::WriteAfi, 'A', "0x78 0x27 AFI 書き込み（入力した値）。"},
    MenuItem{kIso, "WriteDSFID", idm::WriteDsfid, 'D', "0x78 0x29 DSFID 書き込み（入力した値）。"},
    MenuItem{kIso, "GetSystemInfo", idm::GetSystemInfo, 'G',
             "0x78 0x2B システム情報: UID、DSFID、AFI、メモリサイズ。"},
    MenuItem{kIso, "GetMBlockSecSt", idm::GetMBlockSecSt, 'C',
             "0x78 0x2C 複数ブロックのセキュリティ状態: BlockNo から BlockNum + 1 ブロック。"},
    MenuItem{kLock, "LockBlock", idm::LockBlock, 'B',
             "0x78 0x22 ブロック BlockNo のロック: 元に戻せません。先に確認します。"},
    MenuItem{kLock, "LockAFI", idm::LockAfi, 'A',
             "0x78 0x28 AFI のロック: 元に戻せません。先に確認します。"},
    MenuItem{kLock, "LockDSFID", idm::LockDsfid, 'D',
             "0x78 0x2A DSFID のロック: 元に戻せません。先に確認します。"},
    MenuItem{kLock, "Lock2Blocks", idm::Lock2Blocks, '2',
             "0x78 0xA3 BlockNo から 2 ブロックのロック、オプションフラグは常にセット: 元に戻せ"
             "ません。先に確認します。"},
    MenuItem{kExtended, "リスタート", idm::Restart, 'R', "0x4E 0x9D リーダーの再起動。"},
    MenuItem{kExtended, "ROMバージョン取得", idm::RomVersion, 'V',
             "0x4F 0x90 リーダーの ROM バージョン。"},
    MenuItem{kEepromInit, "実　行", idm::InitEeprom, 'X',
             "0x4E 0x71 EEPROM 初期化: リーダーに保存された設定はすべて失われます。先に確認し"
             "ます。"},
    MenuItem{kExtended, "パワーダウンモード", idm::PowerDown, 'D',
             "0x4E 0x52 リーダーのパワーダウンモード。"},
    MenuItem{kExtended, "パワー状態取得", idm::PowerState, 'T', "0x4F 0x52 電源の状態。"},
    MenuItem{kExtended, "エラー状態取得", idm::ErrorStatus, 'E', "0x4F 0x80 エラー状態。"},
    MenuItem{kExtended, "カレントUID取得", idm::GetCurrentUid, 'G',
             "0x4F 0x50 リーダーのカレント UID レジスタ。"},
    MenuItem{kExtended, "カレントUID設定", idm::SetCurrentUid, 'S',
             "0x4E 0x50 手元の UID をリーダーのカレント UID レジスタに設定します。"},
    MenuItem{kExtended, "UID数取得", idm::UidNumber, 'N',
             "0x4F 0x53 直前の Inventory2 が集めた UID の数。"},
    MenuItem{kExtended, "UIDデータ取得", idm::UidData, 'U', "0x4F 0x54 その一覧の n 番目の UID。"},
    MenuItem{kCarrier, "TxON", idm::TxOn, 'O', "0x4E 0x9E キャリアオン。"},
    MenuItem{kCarrier, "TxOFF", idm::TxOff, 'F',
             "0x4E 0x9E キャリアオフ: TxON までどのタグも応答しません。"},
    MenuItem{kExtended, nullptr, 0},
    MenuItem{kExtended, "ReadBytes", idm::ReadBytes, 'B',
             "0x78 0xA0 ブロック BlockNo から BlockNum バイトの読み出し。"},
    MenuItem{kExtended, "WriteBytes", idm::WriteBytes, 'W',
             "0x78 0xA1 ブロック BlockNo から WrStr1 のバイトの書き込み。"},
    MenuItem{kTools, "環境設定...", idm::EnvSettings, 'E',
             "何も送りません: チェッカーの UID の指定、オプションフラグ、ブロックサイズ。"},
    MenuItem{kPresets, "デフォルト", idm::PresetDefault, 'D',
             "0x4E 0x19 タグモード 0xD4 を EEPROM へ、0x4E 0x70 EEPROM ワード 12、16、19（ブロッ"
             "クサイズ 4）: リーダーの設定です。先に確認します。"},
    MenuItem{kPresets, "富士通", idm::PresetFujitsu, 'F',
             "0x4E 0x19 タグモード 0xE4 を EEPROM へ、0x4E 0x70 EEPROM ワード 12、16、19（ブロッ"
             "クサイズ 8）: リーダーの設定です。先に確認します。"},
    MenuItem{kAfi, "SetAFI", idm::SetAfi, 'S', "0x4E 0x51 リーダーの AFI レジスタの設定。"},
    MenuItem{kAfi, "GetAFI", idm::GetAfi, 'G', "0x4F 0x51 リーダーの AFI レジスタの読み出し。"},
    MenuItem{kMyd, "my-d Read", idm::MydRead, 'R', "0x78 0xB0 ブロック BlockNo の my-d 読み出し。"},
    MenuItem{kMyd, "my-d Write", idm::MydWrite, 'W',
             "0x78 0xB1 WrStr1 の 1 ブロックを my-d 書き込み。"},
    MenuItem{kTools, "Inventory_設定あり", idm::InventoryWithSettings, 'I',
             "0x78 0x01 ダイアログで選んだフラグで Inventory。"},
    MenuItem{kTools, "COMPortCheck", idm::ComPortCheck, 'C',
             "COM1 から COM10 を順に開き、それぞれに ROM バージョンを問い合わせます。"},
    MenuItem{kTools, nullptr, 0},
    MenuItem{kTools, "QX4Bench のバージョン情報...", idm::About, 'V', "何も送りません。"},
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
