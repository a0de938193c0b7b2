#include "panel_view.h"

#include "code_page.h"
#include "control_ids.h"
#include "design_layout.h"
#include "settings_store.h"
#include "texts.h"
#include "ui_main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <array>
#include <cstring>

namespace qx4bench {
namespace {

struct ErrorLine {
    int code;
    int detail; // -1: any
    const char* text;
};

// The lines ShowLastError adds; detail matters only with code 5.
constexpr std::array kErrorLines{
    ErrorLine{1, -1, "CRCエラー"},
    ErrorLine{2, -1, "CMD_TIME_OVER受信"},
    ErrorLine{3, -1, "タグデータ受信エラー"},
    ErrorLine{4, -1, "タグからの応答なし"},
    ErrorLine{5, 0x01, "The command is not supported, i.e. the request code is not recognised."},
    ErrorLine{5, 0x02, "he command is not recognised, for example: a format error occurred."},
    ErrorLine{5, 0x03, "The option is not supported."},
    ErrorLine{5, 0x0F, "Unknown error."},
    ErrorLine{5, 0x10, "The specified block is not available (doesn’t exist)."},
    ErrorLine{5, 0x11, "The specified block is already -locked and thus cannot be locked again"},
    ErrorLine{5, 0x12, "The specified block is locked and its content cannot be changed."},
    ErrorLine{5, 0x13, "The specified block was not successfully programmed."},
    ErrorLine{5, 0x14, "The specified block was not successfully locked."},
    ErrorLine{5, -1, "? 'DF' Custom command error codes"},
    ErrorLine{0x41, -1, "データ数エラー"},
    ErrorLine{0x42, -1, "コマンドのサム値エラー"},
    ErrorLine{0x43, -1, "コマンドのＩＤ値のエラー"},
    ErrorLine{0x44, -1, "不正なコマンド"},
};
constexpr const char* kUnknownError = "??? NACK受信";

constexpr int kNotificationBytes = 256;
constexpr int kCountColumnWidth = 56; // "99999" in full

// Rows of one height, whatever fonts their text falls back to.
class FixedRowDelegate : public QStyledItemDelegate {
  public:
    FixedRowDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(height_);
        return size;
    }

  private:
    int height_;
};

int RowHeightOf(QListWidget* list) {
    QListWidget probe;
    probe.setFont(list->font());
    probe.addItem(QString::fromUtf8("E004010012345678[タグ漢字]"));
    probe.addItem("99999");
    return std::max(probe.sizeHintForRow(0), probe.sizeHintForRow(1));
}

} // namespace

CQX4PanelView::CQX4PanelView(QWidget* parent) : QWidget(parent), ui(new Ui::MainForm) {
    copyData = [](QX4Window* self, const QX4CopyData* record) {
        static_cast<CQX4PanelView*>(self)->OnCopyData(*record);
    };
    ComPort = ReadSettingInt("ComPort", 4);
    spped = ReadSettingInt("spped", 1);
    UidFlag = ReadSettingInt("UidFlag", 0);
    ReadOptionFlag = ReadSettingInt("ReadOptionFlag", 0);
    ReadUidFlag = ReadSettingInt("ReadUidFlag", 0);
    WriteOptionFlag = ReadSettingInt("WriteOptionFlag", 1);
    WriteUidFlag = ReadSettingInt("WriteUidFlag", 0);
    BlockNo = static_cast<uint8_t>(ReadSettingInt("BlockNo", 0));
    BlockNum = static_cast<uint8_t>(ReadSettingInt("BlockNum", 0));
    WrStr1 = ReadSettingText("WrStr1", QString());
    WrString = ReadSettingText("WrString", QString());
    TagBlockSize = ReadSettingInt("TagBlockSize", 4);
    comBaudRate = spped ? 9600 : 19200;

    QX4DllOpen(ComPort, spped);
    if (static_cast<uint8_t>(QX4IsOK())) {
        QX4SetTagBlockSize(TagBlockSize);
        openOutcome = "OK: Port Open";
    } else {
        openOutcome = "NG: Port Open";
    }

    ui->setupUi(this);
    LayOutForm();
    connect(ui->rfModeButton, &QPushButton::clicked, this, &CQX4PanelView::OnRfMode);
    connect(ui->operationModeButton, &QPushButton::clicked, this, &CQX4PanelView::OnOperationMode);
    connect(ui->writeButton, &QPushButton::clicked, this, &CQX4PanelView::OnWrite);
    connect(ui->comResetButton, &QPushButton::clicked, this, &CQX4PanelView::OnComReset);
    connect(ui->clearButton, &QPushButton::clicked, this, &CQX4PanelView::OnClear);
    connect(ui->autoScanBox, &QCheckBox::clicked, this, &CQX4PanelView::OnAutoScan);
    AddResultLine(openOutcome);
}

CQX4PanelView::~CQX4PanelView() {
    WriteSettingInt("BlockNo", BlockNo);
    WriteSettingInt("BlockNum", BlockNum);
    WriteSettingText("WrStr1", WrStr1);
    WriteSettingText("WrString", WrString);
}

QListWidget* CQX4PanelView::resultList() const {
    return ui->resultList;
}
QListWidget* CQX4PanelView::uidList() const {
    return ui->uidList;
}
QListWidget* CQX4PanelView::countList() const {
    return ui->countList;
}
QCheckBox* CQX4PanelView::autoScanBox() const {
    return ui->autoScanBox;
}

QWidget* CQX4PanelView::Control(int controlId) const {
    for (QWidget* child : findChildren<QWidget*>())
        if (child->property(kControlIdProperty).toInt() == controlId) return child;
    return nullptr;
}

int CQX4PanelView::RunDialog(ExchangeDialog& dialog) {
    dialog.Prepare();
    return dialogRunner ? dialogRunner(dialog) : dialog.exec();
}

bool CQX4PanelView::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show)
        OnFirstActivation();
    return handled;
}

void CQX4PanelView::OnFirstActivation() {
    if (viewStarted) return;
    viewStarted = 1;
    QX4SetHandle(this);
    QX4SetTxOnOff(1);
}

void CQX4PanelView::LayOutForm() {
    // Counts up to 99999 need more room than the form first gave them.
    ui->countList->setGeometry(4, 76, kCountColumnWidth, 138);
    ui->uidList->setGeometry(4 + kCountColumnWidth, 76, 266 - kCountColumnWidth, 138);
    auto* layout = new DesignLayout(this);
    layout->GrowIntoFittedWidth();
    // The UID table takes a third of the extra height, the result list the rest; both
    // take the extra width; buttons keep their places, the company name goes right.
    layout->SetAnchor(ui->companyLabel, {1, 0, 0, 0});
    layout->SetAnchor(ui->countList, {0, 0, 0, 1.0 / 3});
    layout->SetAnchor(ui->uidList, {0, 1, 0, 1.0 / 3});
    layout->SetAnchor(ui->resultList, {0, 1, 1.0 / 3, 2.0 / 3});
    setMinimumSize(layout->minimumSize());

    // Row i of the counts stands beside row i of the UIDs: one row height (that of a
    // line with Japanese text, which is taller) and one scroll position for both.
    auto* rows = new FixedRowDelegate(RowHeightOf(ui->uidList), this);
    for (QListWidget* list : {ui->countList, ui->uidList}) {
        list->setItemDelegate(rows);
        list->setWordWrap(false);
    }
    ui->countList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->uidList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ui->countList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn); // rows line up
    ui->uidList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(ui->uidList->verticalScrollBar(), &QScrollBar::valueChanged,
            ui->countList->verticalScrollBar(), &QScrollBar::setValue);
    connect(ui->countList->verticalScrollBar(), &QScrollBar::valueChanged,
            ui->uidList->verticalScrollBar(), &QScrollBar::setValue);
    // A row added to one list before the other has laid it out must not part them.
    connect(ui->countList->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] {
        ui->countList->verticalScrollBar()->setValue(ui->uidList->verticalScrollBar()->value());
    });

    ui->countList->setAccessibleName("Counts of the UID table");
    ui->uidList->setAccessibleName("UID table");
    ui->resultList->setAccessibleName("Results");
    ui->testButton->setAccessibleName(ui->testButton->text());
}

void CQX4PanelView::AddResultLine(const QString& text) {
    if (ui->resultList->count() >= kResultLines) ui->resultList->clear();
    ui->resultList->addItem(text);
    ui->resultList->scrollToBottom(); // the outcome just added is in view
}

void CQX4PanelView::ShowHexLine(const QString& prefix, const uint8_t* bytes, int count) {
    QString line = Tr(prefix);
    for (int i = 0; i < count; ++i)
        line += QString::asprintf("%02X ", bytes[i]);
    AddResultLine(line);
}

void CQX4PanelView::ShowHexLineReversed(const QString& prefix, const uint8_t* bytes, int count) {
    QString line = Tr(prefix);
    for (int i = count - 1; i >= 0; --i)
        line += QString::asprintf("%02X ", bytes[i]);
    AddResultLine(line);
}

void CQX4PanelView::ShowLastError() {
    int code = 0, detail = 0;
    QX4GetErrorCode(&code, &detail);
    const char* text = kUnknownError;
    for (const ErrorLine& line : kErrorLines) {
        if (line.code == code && (line.detail < 0 || line.detail == detail)) {
            text = line.text;
            break;
        }
    }
    AddResultLine(Tr(text));
}

int CQX4PanelView::ParseDecimalText(const QString& text) {
    const QByteArray bytes = ToDeviceText(text) + '\0';
    const char* p = bytes.constData();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = std::min<long long>(value * 10 + (*p - '0'), 0x7FFFFFFF);
    return static_cast<int>(negative ? -value : value);
}

void CQX4PanelView::CountAgain(int row) {
    ++uidTable[size_t(row)].count;
    delete ui->countList->takeItem(row);
    ui->countList->insertItem(row, QString::number(uidTable[size_t(row)].count));
    ui->countList->update();
}

void CQX4PanelView::AddUidEntry(const QString& text) {
    for (int i = 0; i < uidCount; ++i) {
        if (uidTable[i].text == text) return CountAgain(i);
    }
    if (uidCount >= kUidRows) return;
    uidTable[uidCount] = {text, QString(), 1};
    ui->countList->insertItem(uidCount, "1");
    InsertUidRow(text);
    ++uidCount;
}

void CQX4PanelView::AddUidDataEntry(const QString& uidText, const QString& dataText) {
    for (int i = 0; i < uidCount; ++i) {
        if (uidTable[i].dataText == dataText && uidTable[i].text == uidText) return CountAgain(i);
    }
    if (uidCount >= kUidRows) return;
    uidTable[uidCount] = {uidText, dataText, 1};
    ui->countList->insertItem(uidCount, "1");
    InsertUidRow(uidText + "[" + dataText + "]");
    ++uidCount;
    ui->countList->update();
    ui->uidList->update();
}

void CQX4PanelView::InsertUidRow(const QString& text) {
    // Control bytes of a tag's data are drawn as their visible symbols, on one line;
    // the item keeps the text as it came.
    QString shown = text;
    for (QChar& c : shown)
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode());
        else if (c.unicode() == 0x7F)
            c = QChar(0x2421);
    auto* item = new QListWidgetItem(shown);
    item->setData(Qt::UserRole, text);
    ui->uidList->insertItem(uidCount, item);
}

void CQX4PanelView::ClearUidTable() {
    uidCount = 0;
    uidTable.fill(UidRow{});
}

void CQX4PanelView::OnClear() {
    ui->resultList->clear();
    ui->uidList->clear();
    ui->countList->clear();
    ClearUidTable();
}

void CQX4PanelView::OnCopyData(const QX4CopyData& record) {
    QApplication::beep();
    const int count = static_cast<int>(std::min<uint32_t>(record.count, kNotificationBytes));
    std::array<char, kNotificationBytes + 1> buffer{};
    if (count > 0) std::memcpy(buffer.data(), record.data, static_cast<size_t>(count));
    const int textLength = static_cast<int>(std::strlen(buffer.data()));
    if (record.kind == 1) {
        QString uidText;
        for (int i = 7; i >= 0; --i)
            uidText += QString::asprintf("%02X", static_cast<uint8_t>(buffer[size_t(i)]));
        const int dataLength = count > 8 ? static_cast<int>(std::strlen(buffer.data() + 8)) : 0;
        AddUidDataEntry(uidText, FromDeviceText(buffer.data() + 8, dataLength));
    } else {
        AddUidEntry(FromDeviceText(buffer.data(), textLength));
    }
}

void CQX4PanelView::PumpMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void CQX4PanelView::ShowOutcome(bool ok, const char* function) {
    AddResultLine(QString(ok ? "OK: " : "Error: ") + function);
}

std::array<uint8_t, 256> CQX4PanelView::DataBuffer(const QString& text) const {
    std::array<uint8_t, 256> buffer{};
    const QByteArray bytes = ToDeviceText(text, 255); // room for the terminator
    std::memcpy(buffer.data(), bytes.constData(), static_cast<size_t>(bytes.size()));
    return buffer;
}

// ---- Connection ------------------------------------------------------------

void CQX4PanelView::OnComReset() {
    CComPortDlg dialog(this);
    dialog.portNumber = ComPort;
    if (comBaudRate == 19200) {
        dialog.baudIndex = 1;
    } else {
        comBaudRate = 9600;
        dialog.baudIndex = 0;
    }
    if (RunDialog(dialog) != QDialog::Accepted) return;
    // No port chosen: the stored port stays instead of a port number 256.
    if (dialog.portNumber < 1 || dialog.portNumber > 10) dialog.portNumber = ComPort;
    int slowRate;
    if (dialog.baudIndex == 1) {
        comBaudRate = 19200;
        slowRate = 0;
    } else {
        comBaudRate = 9600;
        slowRate = 1;
    }
    ComPort = dialog.portNumber;
    spped = slowRate;
    ShowOutcome(static_cast<uint8_t>(QX4ComReOpen(ComPort, slowRate)), "QX4ComReOpen");
    AddResultLine(QString::asprintf("Port: %d", ComPort));
    WriteSettingInt("ComPort", ComPort);
    WriteSettingInt("spped", spped);
    QX4SetTagBlockSize(TagBlockSize);
}

// ---- Reader mode dialogs and form buttons -----------------------------------

void CQX4PanelView::OnRfMode() {
    unsigned char tagMode = 0;
    if (!QX4GetTagMode(&tagMode)) {
        AddResultLine("Error: QX4GetTagMode");
        return;
    }
    tagModeByte = tagMode;
    CRfModeDlg dialog(this);
    dialog.depthIndex = tagModeByte >> 4 & 1;
    dialog.subcarrierIndex = tagModeByte >> 5 & 1;
    dialog.rateIndex = tagModeByte >> 6 & 1;
    dialog.codingIndex = (tagModeByte & 0x0E) == 0x04 ? 0 : 1;
    dialog.eepromFlag = 0;
    if (RunDialog(dialog) != QDialog::Accepted) return;
    uint8_t t =
        static_cast<uint8_t>((tagModeByte & 0x8F) | (dialog.depthIndex & 1) << 4 |
                             (dialog.subcarrierIndex & 1) << 5 | (dialog.rateIndex & 1) << 6);
    t = dialog.codingIndex == 0 ? static_cast<uint8_t>((t & 0xF5) | 0x04)
                                : static_cast<uint8_t>((t & 0xFD) | 0x0C);
    tagModeByte = t;
    ShowOutcome(QX4SetTagMode(t, dialog.eepromFlag), "QX4SetTagMode");
}

void CQX4PanelView::OnOperationMode() {
    unsigned char mode = 1, second = 0, flags = rwModeFlags;
    const bool read = QX4GetRWMode(&mode, &second, &flags);
    if (read) rwModeFlags = flags;
    ShowOutcome(read, "QX4GetRWMode");
    COperationModeDlg dialog(this);
    dialog.buzzer = rwModeFlags >> 4 & 1;
    dialog.dataUid = rwModeFlags >> 5 & 1;
    dialog.baud9600 = rwModeFlags >> 6 & 1;
    dialog.anticollisionIndex = rwModeFlags >> 2 & 1;
    dialog.readIndex = rwModeFlags >> 3 & 1;
    dialog.modeIndex = mode == 0x50 ? 4 : mode;
    dialog.eepromFlag = 0;
    if (RunDialog(dialog) != QDialog::Accepted) return;
    const uint8_t f = static_cast<uint8_t>(
        (rwModeFlags & 0x83) | (dialog.anticollisionIndex & 1) << 2 | (dialog.readIndex & 1) << 3 |
        (dialog.buzzer & 1) << 4 | (dialog.dataUid & 1) << 5 | (dialog.baud9600 & 1) << 6);
    rwModeFlags = f;
    const int modeCode = dialog.modeIndex == 4 ? 0x50 : dialog.modeIndex;
    ShowOutcome(QX4SetRWMode(modeCode, second, f, 10, dialog.eepromFlag), "QX4SetRWMode");
}

void CQX4PanelView::OnAutoScan() {
    const int m = ui->autoScanBox->isChecked() ? 1 : 0;
    unsigned char mode = static_cast<unsigned char>(m), second = 0, flags = rwModeFlags;
    QX4GetRWMode(&mode, &second, &flags);
    ShowOutcome(QX4SetRWMode(m, second, flags, 0, 0), "QX4SetRWMode");
}

void CQX4PanelView::OnWrite() {
    CDataEntry1Dlg dialog(this);
    dialog.heading = "タグデータの書き込み";
    dialog.edit1 = WrString;
    dialog.label1 = "ライトデータ（文字列）";
    if (RunDialog(dialog) != QDialog::Accepted) return;
    WrString = dialog.edit1;
    // 251 bytes is the most one tag-data frame carries.
    const QByteArray bytes = ToDeviceText(WrString, 251);
    const int length = static_cast<int>(bytes.size());
    ShowOutcome(QX4WriteTagData(length, reinterpret_cast<const unsigned char*>(bytes.constData())),
                "QX4WriteTagData");
    AddResultLine(QString::asprintf("datanum: %d", length));
}

// ---- Settings dialog --------------------------------------------------------

void CQX4PanelView::OnEnvSettings() {
    CEnvSettingsDlg dialog(this);
    dialog.readOption = ReadOptionFlag;
    dialog.writeOption = WriteOptionFlag;
    dialog.uidMode = UidFlag;
    dialog.readUidMode = ReadUidFlag;
    dialog.writeUidMode = WriteUidFlag;
    dialog.blockSizeText = QString::asprintf("%d", TagBlockSize);
    if (RunDialog(dialog) != QDialog::Accepted) return;
    ReadOptionFlag = dialog.readOption;
    WriteOptionFlag = dialog.writeOption;
    UidFlag = dialog.uidMode;
    ReadUidFlag = dialog.readUidMode;
    WriteUidFlag = dialog.writeUidMode;
    TagBlockSize = ParseDecimalText(dialog.blockSizeText) & 0xFF;
    WriteSettingInt("UidFlag", UidFlag);
    WriteSettingInt("ReadOptionFlag", ReadOptionFlag);
    WriteSettingInt("ReadUidFlag", ReadUidFlag);
    WriteSettingInt("WriteOptionFlag", WriteOptionFlag);
    WriteSettingInt("WriteUidFlag", WriteUidFlag);
    WriteSettingInt("TagBlockSize", TagBlockSize);
    QX4SetTagBlockSize(TagBlockSize);
}

// ---- Command dispatch ---------------------------------------------------------

const CQX4PanelView::CommandHandler CQX4PanelView::kHandlers[] = {
    {idm::Inventory, &CQX4PanelView::OnInventory},
    {idm::Inventory2, &CQX4PanelView::OnInventory2},
    {idm::StayQuiet, &CQX4PanelView::OnStayQuiet},
    {idm::ReadSingleBlock, &CQX4PanelView::OnReadSingleBlock},
    {idm::WriteSingleBlock, &CQX4PanelView::OnWriteSingleBlock},
    {idm::ReadMultiBlock, &CQX4PanelView::OnReadMultiBlock},
    {idm::WriteMultiBlock, &CQX4PanelView::OnWriteMultiBlock},
    {idm::SelectTag, &CQX4PanelView::OnSelectTag},
    {idm::Write2Blocks, &CQX4PanelView::OnWrite2Blocks},
    {idm::ResetToReady, &CQX4PanelView::OnResetToReady},
    {idm::WriteAfi, &CQX4PanelView::OnWriteAfi},
    {idm::WriteDsfid, &CQX4PanelView::OnWriteDsfid},
    {idm::GetSystemInfo, &CQX4PanelView::OnGetSystemInfo},
    {idm::GetMBlockSecSt, &CQX4PanelView::OnGetMBlockSecSt},
    {idm::LockBlock, &CQX4PanelView::OnLockBlock},
    {idm::LockAfi, &CQX4PanelView::OnLockAfi},
    {idm::LockDsfid, &CQX4PanelView::OnLockDsfid},
    {idm::Lock2Blocks, &CQX4PanelView::OnLock2Blocks},
    {idm::Restart, &CQX4PanelView::OnRestart},
    {idm::RomVersion, &CQX4PanelView::OnRomVersion},
    {idm::InitEeprom, &CQX4PanelView::OnInitEeprom},
    {idm::PowerDown, &CQX4PanelView::OnPowerDown},
    {idm::PowerState, &CQX4PanelView::OnPowerState},
    {idm::ErrorStatus, &CQX4PanelView::OnErrorStatus},
    {idm::GetCurrentUid, &CQX4PanelView::OnGetCurrentUid},
    {idm::SetCurrentUid, &CQX4PanelView::OnSetCurrentUid},
    {idm::UidNumber, &CQX4PanelView::OnUidNumber},
    {idm::UidData, &CQX4PanelView::OnUidData},
    {idm::TxOn, &CQX4PanelView::OnTxOn},
    {idm::TxOff, &CQX4PanelView::OnTxOff},
    {idm::ReadBytes, &CQX4PanelView::OnReadBytes},
    {idm::WriteBytes, &CQX4PanelView::OnWriteBytes},
    {idm::EnvSettings, &CQX4PanelView::OnEnvSettings},
    {idm::PresetDefault, &CQX4PanelView::OnPresetDefault},
    {idm::PresetFujitsu, &CQX4PanelView::OnPresetFujitsu},
    {idm::SetAfi, &CQX4PanelView::OnSetAfi},
    {idm::GetAfi, &CQX4PanelView::OnGetAfi},
    {idm::MydRead, &CQX4PanelView::OnMydRead},
    {idm::MydWrite, &CQX4PanelView::OnMydWrite},
    {idm::InventoryWithSettings, &CQX4PanelView::OnInventoryWithSettings},
    {idm::ComPortCheck, &CQX4PanelView::OnComPortCheck},
};

bool CQX4PanelView::OnCommand(int commandId) {
    for (const CommandHandler& entry : kHandlers) {
        if (entry.id == commandId) {
            (this->*entry.handler)();
            return true;
        }
    }
    return false;
}

} // namespace qx4bench
