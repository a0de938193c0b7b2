// Numeric identifiers of the form's and dialogs' controls and of the menu commands.
// Every widget carries its identifier in the "controlId" property, every menu action
// its command identifier in "commandId", so tests and tools can find them.
#pragma once

namespace qx4bench {

inline constexpr const char* kControlIdProperty = "controlId";
inline constexpr const char* kCommandIdProperty = "commandId";

namespace idc {
inline constexpr int Ok = 1;
inline constexpr int Cancel = 2;
inline constexpr int RfMode = 1000;
inline constexpr int CountList = 1001;
inline constexpr int OperationMode = 1003;
inline constexpr int Write = 1004;
inline constexpr int Clear = 1005;
inline constexpr int UidList = 1006;
inline constexpr int Test = 1007;
inline constexpr int AutoScan = 1009;
inline constexpr int ResultList = 1010;
inline constexpr int ComReset = 1025;
} // namespace idc

namespace idm {
inline constexpr int Exit = 32775;
inline constexpr int Inventory = 32790;
inline constexpr int Inventory2 = 32781;
inline constexpr int StayQuiet = 32782;
inline constexpr int ReadSingleBlock = 32783;
inline constexpr int WriteSingleBlock = 32784;
inline constexpr int ReadMultiBlock = 32797;
inline constexpr int WriteMultiBlock = 32798;
inline constexpr int SelectTag = 32823;
inline constexpr int Write2Blocks = 32799;
inline constexpr int ResetToReady = 32785;
inline constexpr int WriteAfi = 32786;
inline constexpr int WriteDsfid = 32787;
inline constexpr int GetSystemInfo = 32788;
inline constexpr int GetMBlockSecSt = 32789;
inline constexpr int LockBlock = 32827;
inline constexpr int LockAfi = 32828;
inline constexpr int LockDsfid = 32829;
inline constexpr int Lock2Blocks = 32830;
inline constexpr int Restart = 32818;
inline constexpr int RomVersion = 32806;
inline constexpr int InitEeprom = 32807;
inline constexpr int PowerDown = 32808;
inline constexpr int PowerState = 32809;
inline constexpr int ErrorStatus = 32810;
inline constexpr int GetCurrentUid = 32811;
inline constexpr int SetCurrentUid = 32812;
inline constexpr int UidNumber = 32813;
inline constexpr int UidData = 32814;
inline constexpr int TxOn = 32820;
inline constexpr int TxOff = 32821;
inline constexpr int ReadBytes = 32804;
inline constexpr int WriteBytes = 32805;
inline constexpr int EnvSettings = 32791;
inline constexpr int PresetDefault = 32793;
inline constexpr int PresetFujitsu = 32794;
inline constexpr int SetAfi = 32817;
inline constexpr int GetAfi = 32815;
inline constexpr int MydRead = 32825;
inline constexpr int MydWrite = 32826;
inline constexpr int InventoryWithSettings = 32822;
inline constexpr int ComPortCheck = 32795;
inline constexpr int SaveLog = 32900;      // the checker's own: the result list to a file
inline constexpr int LogFile = 32901;      // every result line to a file as it comes
inline constexpr int RepeatLast = 32902;   // the last command again (F5)
inline constexpr int HelpCommands = 32903; // what each menu item sends (F1)
inline constexpr int FramesView = 32904;   // the frames on the wire, shown or hidden
inline constexpr int About = 57664;
// The framework's standard commands behind the accelerators.
inline constexpr int FileNew = 57600;
inline constexpr int FileOpen = 57601;
inline constexpr int FileSave = 57603;
inline constexpr int AppExit = 57665;
inline constexpr int EditUndo = 57643;
inline constexpr int EditCut = 57635;
inline constexpr int EditCopy = 57634;
inline constexpr int EditPaste = 57637;
} // namespace idm

} // namespace qx4bench
