#include "panel_view.h"

#include "code_page.h"
#include "control_ids.h"
#include "design_layout.h"
#include "link_calls.h"
#include "menu_table.h"
#include "platform_hooks.h"
#include "settings_store.h"
#include "texts.h"
#include "ui_main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
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

const char* ErrorLineText(int code, int detail) {
    for (const ErrorLine& line : kErrorLines)
        if (line.code == code && (line.detail < 0 || line.detail == detail)) return line.text;
    return kUnknownError;
}

constexpr int kNotificationBytes = 256;

// "41 42 00 FF |AB..|": bytes that are not text, each shown, with their ASCII.
QString HexWithAscii(const QByteArray& bytes) {
    QString hex, ascii;
    for (const char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        hex += QString::asprintf("%02X ", byte);
        ascii += byte >= 0x20 && byte < 0x7F ? QChar(byte) : QChar('.');
    }
    return hex + "|" + ascii + "|";
}

// A tag's data as the reader sent it: Shift-JIS text when it is that (zero padding at
// its end dropped), else every byte in hexadecimal, so nothing after a 00 is lost.
QString TagDataText(QByteArray bytes) {
    while (!bytes.isEmpty() && bytes.back() == '\0')
        bytes.chop(1);
    bool text = true;
    for (const char c : bytes)
        text = text && static_cast<uint8_t>(c) >= 0x20 && c != 0x7F;
    const QString decoded = FromDeviceText(bytes);
    if (text && ToDeviceText(decoded) == bytes) return decoded;
    return HexWithAscii(bytes);
}
constexpr int kCountColumn = 0, kUidColumn = 1;

// Result lines no wider than the list: they wrap between words, and a run too long for
// one row is elided (its tooltip and the viewer give it whole).
class WithinWidthDelegate : public QStyledItemDelegate {
  public:
    explicit WithinWidthDelegate(QListView* list) : QStyledItemDelegate(list), list_(list) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setWidth(std::min(size.width(), list_->viewport()->width()));
        return size;
    }

  private:
    QListView* list_;
};

// Long lines in the tooltip as rows, so the tooltip fits the screen.
QString ToolTipRows(const QString& time, const QString& text) {
    constexpr int kRow = 64;
    if (text.size() <= kRow) return time;
    QString rows = time;
    for (int i = 0; i < text.size(); i += kRow)
        rows += '\n' + text.mid(i, kRow);
    return rows;
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
    ComDevice = ReadSettingText("ComDevice", QString());
    ResponseTimeout = std::clamp(ReadSettingInt("ResponseTimeout", 2000), 0, 60000);
    comBaudRate = spped ? 9600 : 19200;
    storedTypedValues_ = std::make_tuple(BlockNo, BlockNum, WrStr1, WrString);

    ui->setupUi(this);
    LayOutForm();
    auto command = [this](QAbstractButton* button, void (CQX4PanelView::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, [this, button, handler] {
            RunCommand(button->text().remove('&'), [this, handler] { (this->*handler)(); });
        });
    };
    command(ui->rfModeButton, &CQX4PanelView::OnRfMode);
    command(ui->operationModeButton, &CQX4PanelView::OnOperationMode);
    command(ui->writeButton, &CQX4PanelView::OnWrite);
    command(ui->comResetButton, &CQX4PanelView::OnComReset);
    command(ui->autoScanBox, &CQX4PanelView::OnAutoScan);
    connect(ui->clearButton, &QPushButton::clicked, this, &CQX4PanelView::OnClear);

    if (const QString logPath = ReadSettingText("LogFile", QString()); !logPath.isEmpty())
        SetLogFile(logPath);
    status_ = new StatusPanel(this);
    status_->hide(); // until the frame puts it into its status bar
    UpdatePortStatus();
    status_->SetLink(LinkState::Opening);
    // The port opens once the window is up: a network port may take seconds.
    QTimer::singleShot(0, this, &CQX4PanelView::OpenLink);
}

void CQX4PanelView::UpdatePortStatus() {
    status_->SetPortText(PortText(), comBaudRate);
}

QString CQX4PanelView::PortText() const {
    if (!ComDevice.isEmpty()) return ComDevice;
    const QString device = DeviceOfPort(ComPort);
    return device.isEmpty() ? QString("COM%1").arg(ComPort)
                            : QString("COM%1 (%2)").arg(ComPort).arg(device);
}

// Opens the stored port (a COM number or a device as typed), off the GUI thread.
bool CQX4PanelView::OpenPort(bool reopen, QStringList* boxes) {
    CaptureBoxes(boxes);
    bool ok = false;
    const int port = ComPort, slowRate = spped;
    const QByteArray device = ComDevice.toLocal8Bit();
    RunOffGuiThread([&] {
        if (!device.isEmpty())
            ok = QX4DllOpenDevice(device.constData(), slowRate) != 0;
        else if (reopen)
            ok = static_cast<uint8_t>(QX4ComReOpen(port, slowRate)) != 0;
        else
            ok = (QX4DllOpen(port, slowRate), static_cast<uint8_t>(QX4IsOK()) != 0);
    });
    CaptureBoxes(nullptr);
    // A new context starts with the library's own time-out.
    QX4SetCmdWaitTime(ResponseTimeout);
    return ok;
}

void CQX4PanelView::SetBusy(bool busy, const QString& name) {
    running_ = busy;
    for (QWidget* control :
         {static_cast<QWidget*>(ui->rfModeButton), static_cast<QWidget*>(ui->operationModeButton),
          static_cast<QWidget*>(ui->writeButton), static_cast<QWidget*>(ui->comResetButton),
          static_cast<QWidget*>(ui->autoScanBox)})
        control->setEnabled(!busy);
    if (busy) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        status_->SetActivity(Tr("実行中: %1").arg(name)); // the port stands beside it
    } else {
        QApplication::restoreOverrideCursor();
        status_->SetActivity(QString());
    }
    if (onBusyChanged) onBusyChanged(busy);
}

bool CQX4PanelView::RunCommand(const QString& name, const std::function<void()>& handler) {
    if (running_) return false;
    SetBusy(true, name);
    commandFirstLine_ = -1;
    target_.clear();
    handler();
    if (!target_.isEmpty()) AddNote(target_);
    target_.clear();
    commandFirstLine_ = -1;
    SetBusy(false);
    StoreTypedValues();
    OnTimerTick(); // a port lost during the command is reported now
    return true;
}

void CQX4PanelView::OpenLink() {
    if (linkOpened_ || running_) return;
    SetBusy(true, "Port Open");
    status_->SetLink(LinkState::Opening);
    QStringList boxes;
    const bool ok = OpenPort(false, &boxes);
    linkOpened_ = true;
    if (ok) QX4SetTagBlockSize(TagBlockSize);
    // "OK" only once the reader answered: a port that opens on a silent reader is not.
    const bool answered = ok && ResyncLink();
    openOutcome = answered ? "OK: Port Open" : "NG: Port Open";
    AddLine(openOutcome, !answered);
    LinkOpened(ok, boxes, answered);
    if (viewStarted) StartReader();
    if (ok) FollowReaderMode();
    SetBusy(false);
}

// After an open or reopen: the port's state, why it failed, the link brought in step.
void CQX4PanelView::LinkOpened(bool ok, const QStringList& boxes, bool answered) {
    linkState_ = ok ? LinkState::Open : LinkState::Closed;
    UpdatePortStatus();
    status_->SetLink(linkState_);
    status_->SetMode(-1);
    if (!ok) {
        QString reason = boxes.join(' ');
        if (reason.isEmpty() && ComDevice.isEmpty()) reason = PortOpenFailure(ComPort);
        AddLine(QString("%1: %2").arg(PortText(), reason.isEmpty() ? Tr("開けません") : reason),
                true);
        return;
    }
    // The fence also takes away a late answer of an earlier program still on the line.
    if (!answered) {
        const int cause = QX4GetFailureCause();
        if (cause == QX4_CAUSE_TIMEOUT || cause == QX4_CAUSE_OUT_OF_STEP)
            AddLine(Tr("%1 のリーダーから応答がありません").arg(PortText()), true);
        else
            AddLine(QString("%1: %2").arg(PortText(), FailureText()), true);
    }
}

void CQX4PanelView::StartReader() {
    QX4SetHandle(this);
    QX4SetTxOnOff(1);
}

void CQX4PanelView::FollowReaderMode() {
    unsigned char mode = 0, second = 0, flags = rwModeFlags;
    if (linkState_ == LinkState::Open && QX4GetRWMode(&mode, &second, &flags)) {
        ui->autoScanBox->setChecked(mode == 1);
        status_->SetMode(mode);
    } else {
        status_->SetMode(-1);
    }
}

void CQX4PanelView::OnTimerTick() {
    // A waiting command scans itself, and an open must not be disturbed; while a
    // command's dialog is open, nothing waits and auto-scan data goes on arriving.
    if ((running_ && !dialogOpen_) || quitRequested_) return;
    QX4ReadData();
    if (linkState_ == LinkState::Open && !QX4IsOK()) {
        linkState_ = LinkState::Lost;
        status_->SetLink(linkState_);
        status_->SetMode(-1);
        AddLine(Tr("%1 との接続が切れました。COM再設定 で開き直してください。").arg(PortText()),
                true);
    }
}

void CQX4PanelView::StopForQuit() {
    if (quitRequested_) return;
    quitRequested_ = true;
    // A command still waiting (a port scan on a silent port) ends at once; the frame
    // closes the library afterwards anyway.
    if (running_) QX4DllClose();
}

CQX4PanelView::~CQX4PanelView() {
    StoreTypedValues(true);
}

// What the operator typed survives a program that is killed, not only one that exits.
void CQX4PanelView::StoreTypedValues(bool always) {
    const auto now = std::make_tuple(BlockNo, BlockNum, WrStr1, WrString);
    if (now == storedTypedValues_ && !always) return;
    storedTypedValues_ = now;
    WriteSettingInt("BlockNo", BlockNo);
    WriteSettingInt("BlockNum", BlockNum);
    WriteSettingText("WrStr1", WrStr1);
    WriteSettingText("WrString", WrString);
}

QListWidget* CQX4PanelView::resultList() const {
    return ui->resultList;
}
QTreeWidget* CQX4PanelView::uidTableView() const {
    return ui->uidTable;
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
    // The operator fills the dialog: no busy cursor over it.
    const bool busyCursor = QApplication::overrideCursor() != nullptr;
    if (busyCursor) QApplication::restoreOverrideCursor();
    dialogOpen_ = true; // no call waits meanwhile: the timer may scan
    const QString activity = status_->Activity();
    status_->SetActivity(QString()); // nothing waits for the reader while the operator types
    const int result = dialogRunner ? dialogRunner(dialog) : dialog.exec();
    dialogOpen_ = false;
    status_->SetActivity(activity);
    if (busyCursor) QApplication::setOverrideCursor(Qt::BusyCursor);
    return result;
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
    if (linkOpened_) StartReader(); // else the open does it when it ends
}

void CQX4PanelView::LayOutForm() {
    auto* layout = new DesignLayout(this);
    layout->GrowIntoFittedWidth();
    // The UID table takes a third of the extra height, the result list the rest; both
    // take the extra width; buttons keep their places, the company name goes right.
    layout->SetAnchor(ui->companyLabel, {1, 0, 0, 0});
    layout->SetAnchor(ui->uidTable, {0, 1, 0, 1.0 / 3});
    layout->SetAnchor(ui->resultList, {0, 1, 1.0 / 3, 2.0 / 3});
    layout->ShrinkGrowingHeights(0.35); // on a small screen the lists give way first
    setMinimumSize(layout->minimumSize());

    // One row per tag: its count, then its UID (and data); a screen reader reads them
    // together. Counts up to 99999 fit their column.
    QTreeWidget* table = ui->uidTable;
    table->setColumnCount(2);
    table->setHeaderLabels({Tr("回数"), "UID"});
    table->setRootIsDecorated(false);
    table->setUniformRowHeights(true);
    table->setWordWrap(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->header()->setStretchLastSection(true);
    table->header()->setSectionResizeMode(kCountColumn, QHeaderView::Fixed);
    table->setColumnWidth(kCountColumn,
                          table->fontMetrics().horizontalAdvance(QString("99999")) +
                              4 * table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 12);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    // The log: several lines selectable, copied, saved, long data lines viewed whole.
    QListWidget* results = ui->resultList;
    results->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // A long data line wraps within the list: scrolling sideways would move every other
    // line out of view with it. The viewer shows it in rows of 16 bytes.
    results->setWordWrap(true);
    results->setTextElideMode(Qt::ElideRight);
    results->setResizeMode(QListView::Adjust);
    results->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    results->setItemDelegate(new WithinWidthDelegate(results));
    results->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(results, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (WaitsForReader()) return; // a menu open now would hold the reader's answer
        QMenu menu(this);
        const int row = ui->resultList->indexAt(at).row();
        menu.addAction(Tr("コピー(&C)"), QKeySequence::Copy, this,
                       &CQX4PanelView::CopySelectedLines);
        menu.addAction(Tr("すべて選択(&A)"), QKeySequence::SelectAll, ui->resultList,
                       &QListWidget::selectAll);
        if (row >= 0)
            menu.addAction(Tr("行を表示(&V)..."), this, [this, row] { ShowLineViewer(row); });
        menu.addSeparator();
        menu.addAction(Tr("ログを保存(&S)..."), this, &CQX4PanelView::OnSaveLog);
        menu.exec(ui->resultList->viewport()->mapToGlobal(at));
    });
    connect(results, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        if (!WaitsForReader()) ShowLineViewer(ui->resultList->row(item));
    });

    ui->uidTable->setAccessibleName(Tr("UIDテーブル"));
    ui->resultList->setAccessibleName(Tr("結果"));
    ui->rfModeButton->setToolTip(Tr("リーダーのタグモードを読み、変更します"));
    ui->operationModeButton->setToolTip(Tr("リーダーの動作モードを読み、変更します"));
    ui->writeButton->setToolTip(Tr("リーダーにタグデータを送ります"));
    ui->comResetButton->setToolTip(Tr("ポート、通信速度、応答タイムアウトを設定して開き直します"));
    ui->clearButton->setToolTip(Tr("結果の一覧と UID テーブルを空にします"));
    ui->autoScanBox->setToolTip(Tr("オートスキャンモードとコマンドモードを切り替えます"));
    ui->uidTable->setToolTip(Tr("タグが自分から送った UID（とデータ）と、その回数"));
    ui->resultList->setToolTip(Tr("各コマンドの結果。行をダブルクリックすると全体を表示します"));
    ui->testButton->setAccessibleName(ui->testButton->text());
}

void CQX4PanelView::AddResultLine(const QString& text) {
    AddLine(text, text.startsWith("Error:") || text.startsWith("NG:"));
}

void CQX4PanelView::AddNote(const QString& text, bool error) {
    AddLine(text, error, true);
}

void CQX4PanelView::AddLine(const QString& text, bool error, bool own) {
    QListWidget* list = ui->resultList;
    if (list->count() >= kResultLines) {
        // One command's lines stay together: what went before it goes.
        if (commandFirstLine_ > 0) {
            for (int i = 0; i < commandFirstLine_; ++i)
                delete list->takeItem(0);
        } else {
            list->clear();
        }
        commandFirstLine_ = running_ ? 0 : -1;
    }
    if (running_ && commandFirstLine_ < 0) commandFirstLine_ = list->count();
    auto* item = new QListWidgetItem(text);
    const QDateTime now = QDateTime::currentDateTime();
    item->setData(Qt::UserRole, now);
    item->setToolTip(ToolTipRows(now.toString("yyyy-MM-dd HH:mm:ss.zzz"), text));
    if (own) item->setData(kOwnLineRole, true);
    if (error)
        item->setForeground(QColor(0xB0, 0x00, 0x20));
    else if (own)
        item->setForeground(QColor(0x20, 0x40, 0x80));
    list->addItem(item);
    if (log_) log_->Append(now, text);
    list->scrollToBottom(); // the outcome just added is in view
}

QString CQX4PanelView::SelectedLinesText() const {
    QString text;
    const QListWidget* list = ui->resultList;
    const bool all = list->selectedItems().isEmpty();
    for (int i = 0; i < list->count(); ++i) {
        const QListWidgetItem* item = list->item(i);
        if (!all && !item->isSelected()) continue;
        text += item->data(Qt::UserRole).toDateTime().toString("HH:mm:ss.zzz") + '\t' +
                item->text() + '\n';
    }
    return text;
}

void CQX4PanelView::CopySelectedLines() {
    QApplication::clipboard()->setText(SelectedLinesText());
}

bool CQX4PanelView::SaveLog(const QString& path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return false;
    const QListWidget* list = ui->resultList;
    for (int i = 0; i < list->count(); ++i) {
        const QListWidgetItem* item = list->item(i);
        file.write((item->data(Qt::UserRole).toDateTime().toString("yyyy-MM-dd HH:mm:ss.zzz") +
                    '\t' + item->text() + '\n')
                       .toUtf8());
    }
    return file.commit();
}

bool CQX4PanelView::SetLogFile(const QString& path) {
    log_.reset();
    if (!path.isEmpty()) {
        auto log = std::make_unique<ResultLog>(path);
        if (!log->IsOpen()) {
            AddNote(Tr("ログファイルを開けません: %1 (%2)").arg(path, log->Error()), true);
            return false;
        }
        log_ = std::move(log);
    }
    WriteSettingText("LogFile", path);
    return true;
}

void CQX4PanelView::OnSaveLog() {
    if (WaitsForReader()) return;
    const QString path = QFileDialog::getSaveFileName(
        this, Tr("ログを保存"),
        "qx4bench-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss") + ".txt",
        Tr("テキスト (*.txt *.log);;すべてのファイル (*)"));
    if (path.isEmpty()) return;
    if (!SaveLog(path)) AddLine(Tr("ログを保存できません: %1").arg(path), true);
}

// Long data lines read better as rows of 16 bytes.
void CQX4PanelView::ShowLineViewer(int row) {
    const QListWidgetItem* item = ui->resultList->item(row);
    if (!item) return;
    QString text = item->text();
    const int colon = text.indexOf(": ");
    const QStringList bytes = text.mid(colon + 2).split(' ', Qt::SkipEmptyParts);
    if (colon >= 0 && bytes.size() > 16) {
        QString rows = text.left(colon + 1) + QString(" %1 bytes\n").arg(bytes.size());
        for (int i = 0; i < bytes.size(); i += 16) {
            const QStringList row = bytes.mid(i, 16);
            QString ascii;
            for (const QString& byte : row) {
                const int value = byte.toInt(nullptr, 16);
                ascii += value >= 0x20 && value < 0x7F ? QChar(value) : QChar('.');
            }
            rows += QString::asprintf("%04X  ", i) + row.join(' ').leftJustified(16 * 3 - 1) +
                    "  " + ascii + '\n';
        }
        text = rows;
    }
    QDialog viewer(this);
    viewer.setWindowTitle(Tr("結果の行"));
    auto* layout = new QVBoxLayout(&viewer);
    auto* edit = new QPlainTextEdit(text, &viewer);
    edit->setReadOnly(true);
    edit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    edit->setAccessibleName(Tr("結果の行"));
    layout->addWidget(edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &viewer);
    connect(buttons, &QDialogButtonBox::rejected, &viewer, &QDialog::reject);
    layout->addWidget(buttons);
    viewer.resize(edit->fontMetrics().horizontalAdvance(QString(60, '0')), 300);
    viewer.exec();
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
    AddResultLine(Tr(ErrorLineText(code, detail)));
}

void CQX4PanelView::ShowFailure() {
    const QString text = FailureText();
    if (text.isEmpty()) return ShowLastError(); // a NACK: its code has the words
    AddLine(text, true);
}

// A tag whose blocks are longer than the block size the reads show: say so, so that no
// one takes the bytes shown for the whole block.
void CQX4PanelView::ShowBlockSizeNotes(uint8_t mode, int shownBlockSize, bool replyDidNotFit) {
    // Only the system information of the tag that answered counts: an unaddressed read
    // is that tag's only when it is the one tag known in the field.
    const bool sameTag = tagUid == tagInfoUid_ && ((mode & 3) == 1 || KnownTags() == 1);
    if (sameTag && tagInfoBlockSize > 0 && tagInfoBlockSize != shownBlockSize)
        AddLine(
            replyDidNotFit
                ? Tr("タグのブロックサイズは %1 バイトです（環境設定のブロックサイズは %2 バイト）")
                      .arg(tagInfoBlockSize)
                      .arg(shownBlockSize)
                : Tr("タグのブロックサイズは %1 バイトです（表示は %2 バイト分）")
                      .arg(tagInfoBlockSize)
                      .arg(shownBlockSize),
            false);
    else if (replyDidNotFit)
        AddLine(Tr("応答がブロックサイズ %1 バイトに合いません").arg(shownBlockSize), true);
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
    ui->uidTable->topLevelItem(row)->setText(kCountColumn,
                                             QString::number(uidTable[size_t(row)].count));
}

void CQX4PanelView::AddUidEntry(const QString& text) {
    for (int i = 0; i < uidCount; ++i) {
        if (uidTable[i].text == text) return CountAgain(i);
    }
    if (uidCount >= kUidRows) return;
    uidTable[uidCount] = {text, QString(), 1};
    InsertUidRow(text);
    ++uidCount;
    status_->SetTags(uidCount);
}

void CQX4PanelView::AddUidDataEntry(const QString& uidText, const QString& dataText) {
    for (int i = 0; i < uidCount; ++i) {
        if (uidTable[i].dataText == dataText && uidTable[i].text == uidText) return CountAgain(i);
    }
    if (uidCount >= kUidRows) return;
    uidTable[uidCount] = {uidText, dataText, 1};
    InsertUidRow(uidText + "[" + dataText + "]");
    ++uidCount;
    status_->SetTags(uidCount);
}

void CQX4PanelView::InsertUidRow(const QString& text) {
    // Control bytes of a tag's data are drawn as \x0A escapes, on one line (every font
    // has those glyphs); the item keeps the text as it came.
    QString shown;
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            shown += QString::asprintf("\\x%02X", c.unicode());
        else
            shown += c;
    auto* item = new QTreeWidgetItem(QStringList{"1", shown});
    item->setData(kUidColumn, Qt::UserRole, text);
    item->setTextAlignment(kCountColumn, Qt::AlignRight | Qt::AlignVCenter);
    ui->uidTable->insertTopLevelItem(uidCount, item);
}

void CQX4PanelView::ClearUidTable() {
    uidCount = 0;
    uidTable.fill(UidRow{});
}

void CQX4PanelView::OnClear() {
    ui->resultList->clear();
    ui->uidTable->clear();
    ClearUidTable();
    status_->SetTags(0);
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
        AddUidDataEntry(uidText,
                        TagDataText(QByteArray(buffer.data() + 8, std::max(0, count - 8))));
    } else {
        AddUidEntry(FromDeviceText(buffer.data(), textLength));
    }
}

void CQX4PanelView::PumpMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void CQX4PanelView::ShowOutcome(bool ok, const char* function) {
    AddResultLine(QString(ok ? "OK: " : "Error: ") + function);
    if (!ok) ShowReason();
}

void CQX4PanelView::ShowOutcomeLine(bool ok, const char* function) {
    AddResultLine(QString(ok ? "OK: " : "Error: ") + function);
}

void CQX4PanelView::ShowReason() {
    const QString text = FailureText();
    if (!text.isEmpty()) return AddNote(text, true);
    int code = 0, detail = 0;
    QX4GetErrorCode(&code, &detail);
    AddNote(Tr(ErrorLineText(code, detail)), true);
}

void CQX4PanelView::ShowOutcomeAndReason(bool ok, const char* function) {
    AddResultLine(QString(ok ? "OK: " : "Error: ") + function);
    if (!ok) ShowFailure();
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
    dialog.device = ComDevice;
    dialog.timeoutMs = ResponseTimeout;
    if (comBaudRate == 19200) {
        dialog.baudIndex = 1;
    } else {
        comBaudRate = 9600;
        dialog.baudIndex = 0;
    }
    if (RunDialog(dialog) != QDialog::Accepted) return;
    // A port that is none of the kinds the library opens is refused, never replaced.
    if (!dialog.PortValid()) {
        AddNote(Tr("ポート「%1」は使えません: COM番号（COM11 など）、デバイスのパス（/dev/ttyUSB0 "
                   "など）か tcp://、rfc2217:// のアドレスを入力してください")
                    .arg(dialog.typedPort),
                true);
        return;
    }
    int slowRate;
    if (dialog.baudIndex == 1) {
        comBaudRate = 19200;
        slowRate = 0;
    } else {
        comBaudRate = 9600;
        slowRate = 1;
    }
    if (dialog.device.isEmpty()) ComPort = dialog.portNumber;
    ComDevice = dialog.device;
    ResponseTimeout = dialog.timeoutMs;
    spped = slowRate;
    status_->SetLink(LinkState::Opening);
    UpdatePortStatus();
    QStringList boxes;
    const bool ok = OpenPort(true, &boxes);
    // A device opens in a new context: the window is registered with it again.
    if (!ComDevice.isEmpty() && viewStarted) QX4SetHandle(this);
    ShowOutcomeLine(ok, "QX4ComReOpen");
    AddResultLine(ComDevice.isEmpty() ? QString::asprintf("Port: %d", ComPort)
                                      : "Port: " + ComDevice);
    WriteSettingInt("ComPort", ComPort);
    WriteSettingInt("spped", spped);
    WriteSettingText("ComDevice", ComDevice);
    WriteSettingInt("ResponseTimeout", ResponseTimeout);
    QX4SetTagBlockSize(TagBlockSize);
    // An answer an earlier program waited for may still be on the line.
    LinkOpened(ok, boxes, ok && ResyncLink());
    FollowReaderMode();
}

// ---- Reader mode dialogs and form buttons -----------------------------------

void CQX4PanelView::OnRfMode() {
    unsigned char tagMode = 0;
    if (!QX4GetTagMode(&tagMode)) {
        AddResultLine("Error: QX4GetTagMode");
        ShowReason();
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
    if (dialog.eepromFlag &&
        !Confirm(
            Tr("RFﾓｰﾄﾞ"),
            Tr("リーダーの EEPROM にタグモード 0x%1 を書き込みます").arg(t, 2, 16, QChar('0'))))
        return;
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
    const int modeCode = dialog.modeIndex == 4 ? 0x50 : dialog.modeIndex;
    if (dialog.eepromFlag &&
        !Confirm(Tr("動作モードの設定"),
                 Tr("リーダーの EEPROM に動作モード 0x%1（フラグ 0x%2）を書き込みます")
                     .arg(modeCode, 2, 16, QChar('0'))
                     .arg(f, 2, 16, QChar('0'))))
        return;
    rwModeFlags = f;
    ShowOutcome(QX4SetRWMode(modeCode, second, f, 10, dialog.eepromFlag), "QX4SetRWMode");
    FollowReaderMode(); // the AutoScan box and the status bar say what the reader does now
}

void CQX4PanelView::OnAutoScan() {
    const int m = ui->autoScanBox->isChecked() ? 1 : 0;
    unsigned char mode = static_cast<unsigned char>(m), second = 0, flags = rwModeFlags;
    QX4GetRWMode(&mode, &second, &flags);
    ShowOutcome(QX4SetRWMode(m, second, flags, 0, 0), "QX4SetRWMode");
    FollowReaderMode(); // the box says what the reader does, also when the set failed
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

void CQX4PanelView::RepeatLastCommand() {
    if (lastCommandId_) OnCommand(lastCommandId_);
}

bool CQX4PanelView::OnCommand(int commandId) {
    for (const CommandHandler& entry : kHandlers) {
        if (entry.id == commandId) {
            QString name;
            for (const MenuItem& item : MenuItems())
                if (item.id == commandId) name = Tr(item.text);
            if (RunCommand(name, [this, &entry] { (this->*entry.handler)(); }))
                lastCommandId_ = commandId;
            return true;
        }
    }
    return false;
}

} // namespace qx4bench
