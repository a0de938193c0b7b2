// The checker's form view: it owns the run-time state, shows every outcome, and is
// the only place that calls the library.
#pragma once

#include "dialogs.h"
#include "qx4drv.h"
#include "result_log.h"
#include "status_panel.h"

#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <tuple>

class QListWidget;
class QTreeWidget;
class QCheckBox;
class QMessageBox;

namespace Ui {
class MainForm;
}

namespace qx4bench {

struct UidRow {
    QString text;
    QString dataText;
    int count = 0;
};

class CQX4PanelView : public QWidget, public QX4Window {
  public:
    static constexpr int kUidRows = 256;
    static constexpr int kResultLines = 100;
    // Result lines of the checker's own (which tag, why it failed), not of the Parts.
    static constexpr int kOwnLineRole = Qt::UserRole + 1;

    explicit CQX4PanelView(QWidget* parent = nullptr);
    ~CQX4PanelView() override; // stores BlockNo, BlockNum, WrStr1, WrString

    // Menu commands; false for an identifier the view does not handle. While another
    // command runs, a command is refused: nothing sent, no line.
    bool OnCommand(int commandId);
    // Runs one command's handler unless another runs; false when refused. Meanwhile the
    // commands are disabled, the cursor is busy and the status bar says what waits.
    bool RunCommand(const QString& name, const std::function<void()>& handler);
    bool Busy() const { return running_; }
    // F5: the last menu command again, with its dialog as it was left.
    void RepeatLastCommand();
    // Told when commands become unavailable (true) and available again (false).
    std::function<void(bool)> onBusyChanged;

    // Opens the stored port off the GUI thread; the window paints meanwhile.
    void OpenLink();
    LinkState linkState() const { return linkState_; }
    StatusPanel* statusPanel() const { return status_; }
    // The frame's 200 ms tick: unsolicited data, and a lost port noticed.
    void OnTimerTick();
    // Reads the reader's operation mode; the AutoScan box and the status bar follow it.
    void FollowReaderMode();

    // The result list's selected lines (all when none is selected), one per line with
    // their time; to the clipboard, or to a file (false when it cannot be written).
    QString SelectedLinesText() const;
    void CopySelectedLines();
    bool SaveLog(const QString& path) const;
    // Every result line also to this file, with its time (appended, rotated by size);
    // empty: none. Kept with the settings. False, with a line, when it cannot be opened.
    bool SetLogFile(const QString& path);
    QString LogFile() const { return log_ ? log_->Path() : QString(); }
    void OnSaveLog();
    void ShowLineViewer(int row);

    // Display operations.
    void AddResultLine(const QString& text);
    void ShowHexLine(const QString& prefix, const uint8_t* bytes, int count);
    void ShowHexLineReversed(const QString& prefix, const uint8_t* bytes, int count);
    void ShowLastError();
    static int ParseDecimalText(const QString& text);
    void AddUidEntry(const QString& text);
    void AddUidDataEntry(const QString& uidText, const QString& dataText);
    void ClearUidTable();
    void PumpMessages();

    // Unsolicited tag data from the library.
    void OnCopyData(const QX4CopyData& record);

    // Form buttons.
    void OnRfMode();
    void OnOperationMode();
    void OnAutoScan();
    void OnWrite();
    void OnComReset();
    void OnClear();

    // Tests answer dialogs through this seam instead of a modal loop.
    std::function<int(ExchangeDialog&)> dialogRunner;
    int RunDialog(ExchangeDialog& dialog);
    // The question before an irreversible command; true: send. Tests answer it here.
    std::function<bool(QMessageBox&)> confirmRunner;
    // The application is ending: a running command or port scan stops at once.
    void StopForQuit();
    bool QuitRequested() const { return quitRequested_; }
    // The port as stored: a COM number, or a device path or address (empty: none).
    QString ComDevice;
    int ResponseTimeout = 2000; // ms, kept with the port
    // The port in words: "COM4 (/dev/ttyS3)", or the device as typed.
    QString PortText() const;

    QListWidget* resultList() const;
    // The UID table: one row per tag, column 0 its count, column 1 its text.
    QTreeWidget* uidTableView() const;
    QCheckBox* autoScanBox() const;
    QWidget* Control(int controlId) const;

    // Settings, by their store key names.
    int ComPort, spped, UidFlag, ReadOptionFlag, ReadUidFlag, WriteOptionFlag, WriteUidFlag;
    uint8_t BlockNo, BlockNum;
    QString WrStr1, WrString;
    int TagBlockSize;

    int uidCount = 0;
    std::array<UidRow, kUidRows> uidTable;
    uint8_t inventoryFlags = 0;
    uint8_t tagDsfid = 0;
    std::array<uint8_t, 8> tagUid{};
    int mydBlockSize = 8;
    uint8_t viewStarted = 0;
    uint8_t rwModeFlags = 0x78;
    uint8_t tagModeByte = 0x54;
    int comBaudRate = 19200;

  protected:
    bool event(QEvent* event) override;

  private:
    void AddLine(const QString& text, bool error, bool own = false);
    // The checker's own line after the Parts' lines of a command.
    void AddNote(const QString& text, bool error = false);
    // What the running command goes to: the UID (or unaddressed), blocks, data written.
    void SetTarget(uint8_t mode, const QString& what = QString(), const uint8_t* data = nullptr,
                   int count = 0);
    QString TargetText(uint8_t mode) const;
    // Asks before an irreversible command; false when declined (a line says so).
    bool Confirm(const QString& command, const QString& change);
    // The same for a lock or write on a tag: names the tag, warns of several in the field.
    bool ConfirmOnTag(const QString& command, uint8_t mode, const QString& change, bool alwaysAsk);
    // A write: its note, and the question when it would reach several tags unaddressed.
    bool ConfirmWrite(const QString& command, const QString& what, const uint8_t* data, int count);
    int KnownTags() const; // tags in the field as far as the checker knows; -1 unknown
    bool OpenPort(bool reopen, QStringList* boxes); // off the GUI thread
    void ShowFailure();                             // why the last command failed, as one line
    // A line when the tag's blocks are not the size shown (or the reply did not fit it).
    void ShowBlockSizeNotes(uint8_t mode, int shownBlockSize, bool replyDidNotFit = false);
    void SetBusy(bool busy, const QString& name = QString());
    void StoreTypedValues(bool always = false); // BlockNo, BlockNum, WrStr1, WrString
    void LinkOpened(bool ok, const QStringList& boxes, bool answered = true);
    void StartReader(); // window registered, carrier on
    void UpdatePortStatus();
    void LayOutForm();
    void InsertUidRow(const QString& text);
    using Handler = void (CQX4PanelView::*)();
    struct CommandHandler {
        int id;
        Handler handler;
    };
    static const CommandHandler kHandlers[];

    void OnFirstActivation();
    void CountAgain(int row); // one more sighting of a tag already in the table
    void OnEnvSettings();
    // Mode bytes of the tag commands.
    static uint8_t ModeByte(int optionFlag, int uidFlag) {
        return static_cast<uint8_t>((optionFlag & 1) << 4 | (uidFlag & 3));
    }
    uint8_t ReadMode() const { return ModeByte(ReadOptionFlag, ReadUidFlag); }
    uint8_t WriteMode() const { return ModeByte(WriteOptionFlag, WriteUidFlag); }
    // The outcome line; on failure why, as the checker's own line.
    void ShowOutcome(bool ok, const char* function);
    void ShowOutcomeLine(bool ok, const char* function); // the line alone
    void ShowReason(); // why the last command failed, as the checker's own line
    // A command waits for the reader now (not for the operator in one of its dialogs).
    bool WaitsForReader() const { return running_ && !dialogOpen_; }
    // The outcome line, then on failure why (writes and locks, as the reads do).
    void ShowOutcomeAndReason(bool ok, const char* function);
    // The data string of the write screens, zero-filled into a 256-byte buffer.
    std::array<uint8_t, 256> DataBuffer(const QString& text) const;
    void ShowInventoryResult(bool ok);

    // Screens: ISO 15693.
    void OnInventory();
    void OnInventory2();
    void OnStayQuiet();
    void OnReadSingleBlock();
    void OnWriteSingleBlock();
    void OnReadMultiBlock();
    void OnWriteMultiBlock();
    void OnSelectTag();
    void OnWrite2Blocks();
    void OnResetToReady();
    void OnWriteAfi();
    void OnWriteDsfid();
    void OnGetSystemInfo();
    void OnGetMBlockSecSt();
    void OnReadBytes();
    void OnWriteBytes();
    void OnInventoryWithSettings();
    // Screens: locks.
    void OnLockBlock();
    void OnLockAfi();
    void OnLockDsfid();
    void OnLock2Blocks();
    // Block dialogs of the tag screens: BlockNo, with BlockNum or WrStr1; false when cancelled.
    int AskBlockNumber(const QString& heading);
    bool AskBlockAndCount(const QString& heading, const QString& countLabel);
    bool AskBlockAndData(const QString& heading);
    // Screens: reader and my-d.
    void OnRestart();
    void OnRomVersion();
    void OnInitEeprom();
    void OnPowerDown();
    void OnPowerState();
    void OnErrorStatus();
    void OnGetCurrentUid();
    void OnSetCurrentUid();
    void OnUidNumber();
    void OnUidData();
    void OnTxOn();
    void OnTxOff();
    void OnSetAfi();
    void OnGetAfi();
    void OnMydRead();
    void OnMydWrite();
    // Screens: presets and the port scan.
    void OnPresetDefault();
    void OnPresetFujitsu();
    struct Preset {
        const char* name;    // its menu item
        uint8_t tagModeBits; // bits 0-6 of the tag mode
        uint8_t word12Low;
        uint8_t word19Low;
        bool word16Bit14;
        int blockSize;
        bool stopOnTagModeFailure;
        bool reportTagModeSuccess;
    };
    static const Preset kDefaultPreset, kFujitsuPreset;
    void ApplyPreset(const Preset& preset);
    void OnComPortCheck();

    std::unique_ptr<Ui::MainForm> ui;
    QString openOutcome;
    StatusPanel* status_ = nullptr;
    LinkState linkState_ = LinkState::Closed;
    bool running_ = false;
    bool dialogOpen_ = false;   // the running command waits for its dialog, not the reader
    bool linkOpened_ = false;   // the start-up open has ended, well or not
    int commandFirstLine_ = -1; // the running command's first result line
    int tagInfoBlockSize = 0;   // bytes per block the tag's system information gave
    std::array<uint8_t, 8> tagInfoUid_{}; // ... of this tag
    int tagsInField_ = -1;                // as the last inventory counted them
    QString target_;                      // the running command's note
    bool quitRequested_ = false;
    int lastCommandId_ = 0;
    std::unique_ptr<ResultLog> log_; // every line to a file, when the operator chose one
    std::tuple<uint8_t, uint8_t, QString, QString> storedTypedValues_;
};

uint8_t EvenParity7(uint8_t value);

} // namespace qx4bench
