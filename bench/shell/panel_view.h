// The checker's form view: it owns the run-time state, shows every outcome, and is
// the only place that calls the library.
#pragma once

#include "dialogs.h"
#include "qx4drv.h"

#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class QListWidget;
class QCheckBox;

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

    explicit CQX4PanelView(QWidget* parent = nullptr);
    ~CQX4PanelView() override; // stores BlockNo, BlockNum, WrStr1, WrString

    // Menu commands; false for an identifier the view does not handle.
    bool OnCommand(int commandId);

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

    QListWidget* resultList() const;
    QListWidget* uidList() const;
    QListWidget* countList() const;
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
    void ShowOutcome(bool ok, const char* function);
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
};

uint8_t EvenParity7(uint8_t value);

} // namespace qx4bench
