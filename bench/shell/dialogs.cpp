#include "dialogs.h"

#include "control_ids.h"
#include "design_layout.h"
#include "texts.h"
#include "ui_about_dialog.h"
#include "ui_com_port_dialog.h"
#include "ui_data_entry1_dialog.h"
#include "ui_data_entry2_dialog.h"
#include "ui_data_entry3_dialog.h"
#include "ui_env_settings_dialog.h"
#include "ui_inventory_settings_dialog.h"
#include "ui_operation_mode_dialog.h"
#include "ui_rf_mode_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStyle>

namespace qx4bench {
namespace {

const QStringList kUidModes{"指定しない", "コマンドで指定", "カレント値を使用"};
const QStringList kCodings{"IOS15693(1/4)", "IOS15693(1/256)"};
const QStringList kOperationModes{"コマンドモード", "オートスキャンモード", "トリガーモード",
                                  "ポーリングモード", "連続インベントリ"};
const QStringList kInventoryUidModes{"未使用", "カードUID指定", "カレントUID指定"};

void Fill(QComboBox* combo, const QStringList& entries) {
    combo->clear();
    for (const QString& entry : entries)
        combo->addItem(Tr(entry));
}

} // namespace

void ExchangeDialog::Prepare() {
    ToControls();
    if (auto* fitted = dynamic_cast<DesignLayout*>(layout())) {
        fitted->FitTextsAgain();
        setMinimumSize(fitted->minimumSize());
        resize(size().expandedTo(minimumSize()));
    }
    // Callers set the labels: a field's accessible name is the label the operator sees.
    for (QLabel* label : findChildren<QLabel*>())
        if (label->buddy()) label->buddy()->setAccessibleName(label->text().remove('&'));
    // The typing field of an editable combo box is the same control to a screen reader.
    for (QComboBox* combo : findChildren<QComboBox*>())
        if (combo->lineEdit()) combo->lineEdit()->setAccessibleName(combo->accessibleName());
}

void ExchangeDialog::accept() {
    FromControls();
    QDialog::accept();
}

QWidget* ExchangeDialog::Control(int controlId) const {
    for (QWidget* child : findChildren<QWidget*>())
        if (child->property(kControlIdProperty).toInt() == controlId) return child;
    return nullptr;
}

void ExchangeDialog::WireButtons(int cancelId) {
    if (auto* ok = qobject_cast<QPushButton*>(Control(idc::Ok)))
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    if (auto* cancel = qobject_cast<QPushButton*>(Control(cancelId)))
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

int SelectedIndex(const QComboBox* combo) {
    return combo->findText(combo->currentText());
}

void Select(QComboBox* combo, int index) {
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
    if (combo->currentIndex() < 0) combo->setEditText(QString());
}

int CheckedIndex(const QRadioButton* first, const QRadioButton* second) {
    return first->isChecked() ? 0 : second->isChecked() ? 1 : -1;
}

void Check(QRadioButton* first, QRadioButton* second, int index) {
    QButtonGroup* group = first->group();
    if (group) group->setExclusive(false);
    first->setChecked(index == 0);
    second->setChecked(index == 1);
    if (group) group->setExclusive(true);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui(new Ui::AboutDialog) {
    ui->setupUi(this);
    PrepareDialogLayout(this);
    ui->iconLabel->setPixmap(QApplication::windowIcon().pixmap(32, 32));
}
CAboutDlg::~CAboutDlg() = default;

CComPortDlg::CComPortDlg(QWidget* parent) : ExchangeDialog(parent), ui(new Ui::ComPortDialog) {
    ui->setupUi(this);
    PrepareDialogLayout(this);
    WireButtons(idc::Cancel);
}
CComPortDlg::~CComPortDlg() = default;

void CComPortDlg::ToControls() {
    QStringList ports;
    for (int n = 1; n <= 10; ++n)
        ports << QString("COM%1").arg(n);
    Fill(ui->portCombo, ports);
    Select(ui->portCombo, portNumber - 1);
    if (!device.isEmpty())
        ui->portCombo->setEditText(device);
    else if (portNumber > 10)
        ui->portCombo->setEditText(QString("COM%1").arg(portNumber));
    Check(ui->baud9600, ui->baud19200, baudIndex);
    ui->timeoutBox->setValue(timeoutMs);
    ui->errorLabel->clear();
}

// A port as a user types it: COM11, com5, 5, /dev/ttyUSB0, tcp://host:port.
void CComPortDlg::FromControls() {
    typedPort = ui->portCombo->currentText().trimmed();
    portNumber = 0;
    device.clear();
    static const QRegularExpression comNumber("^(?:COM)?\\s*(\\d{1,3}):?$",
                                              QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch number = comNumber.match(typedPort); number.hasMatch()) {
        const int n = number.captured(1).toInt();
        if (n >= 1 && n <= 255) portNumber = n;
    } else if (typedPort.startsWith('/') || typedPort.startsWith("tcp://") ||
               typedPort.startsWith("rfc2217://")) {
        device = typedPort;
    }
    baudIndex = CheckedIndex(ui->baud9600, ui->baud19200);
    timeoutMs = ui->timeoutBox->value();
}

void CComPortDlg::accept() {
    FromControls();
    if (!PortValid()) {
        ui->errorLabel->setText(
            Tr("COM番号、デバイスのパスか tcp://、rfc2217:// のアドレスを入力してください"));
        return;
    }
    QDialog::accept();
}

CRfModeDlg::CRfModeDlg(QWidget* parent) : ExchangeDialog(parent), ui(new Ui::RfModeDialog) {
    ui->setupUi(this);
    PrepareDialogLayout(this);
    WireButtons(idc::Cancel);
}
CRfModeDlg::~CRfModeDlg() = default;

void CRfModeDlg::ToControls() {
    Fill(ui->codingCombo, kCodings);
    Select(ui->codingCombo, codingIndex);
    Check(ui->depth10, ui->depth100, depthIndex);
    Check(ui->fsk, ui->am, subcarrierIndex);
    Check(ui->rateLow, ui->rateHigh, rateIndex);
    ui->eepromBox->setChecked(eepromFlag);
}

void CRfModeDlg::FromControls() {
    codingIndex = static_cast<uint8_t>(SelectedIndex(ui->codingCombo));
    depthIndex = CheckedIndex(ui->depth10, ui->depth100);
    subcarrierIndex = CheckedIndex(ui->fsk, ui->am);
    rateIndex = CheckedIndex(ui->rateLow, ui->rateHigh);
    eepromFlag = ui->eepromBox->isChecked();
}

COperationModeDlg::COperationModeDlg(QWidget* parent)
    : ExchangeDialog(parent), ui(new Ui::OperationModeDialog) {
    ui->setupUi(this);
    PrepareDialogLayout(this);
    WireButtons(idc::Cancel);
}
COperationModeDlg::~COperationModeDlg() = default;

void COperationModeDlg::ToControls() {
    Fill(ui->modeCombo, kOperationModes);
    Select(ui->modeCombo, modeIndex);
    ui->buzzerBox->setChecked(buzzer);
    ui->baud9600Box->setChecked(baud9600);
    ui->dataUidBox->setChecked(dataUid);
    ui->eepromBox->setChecked(eepromFlag);
    Check(ui->single, ui->multiple, anticollisionIndex);
    Check(ui->readSingle, ui->readContinuous, readIndex);
}

void COperationModeDlg::FromControls() {
    modeIndex = static_cast<uint8_t>(SelectedIndex(ui->modeCombo));
    buzzer = ui->buzzerBox->isChecked();
    baud9600 = ui->baud9600Box->isChecked();
    dataUid = ui->dataUidBox->isChecked();
    eepromFlag = ui->eepromBox->isChecked();
    anticollisionIndex = CheckedIndex(ui->single, ui->multiple);
    readIndex = CheckedIndex(ui->readSingle, ui->readContinuous);
}

CEnvSettingsDlg::CEnvSettingsDlg(QWidget* parent)
    : ExchangeDialog(parent), ui(new Ui::EnvSettingsDialog) {
    ui->setupUi(this);
    PrepareDialogLayout(this);
    WireButtons(idc::Cancel);
}
CEnvSettingsDlg::~CEnvSettingsDlg() = default;

void CEnvSettingsDlg::ToControls() {
    for (QComboBox* combo : {ui->uidCombo, ui->readUidCombo, ui->writeUidCombo})
        Fill(combo, kUidModes);
    Select(ui->uidCombo, uidMode);
    Select(ui->readUidCombo, readUidMode);
    Select(ui->writeUidCombo, writeUidMode);
    Check(ui->readOption0, ui->readOption1, readOption);
    Check(ui->writeOption0, ui->writeOption1, writeOption);
    ui->blockSizeEdit->setText(blockSizeText);
}

void CEnvSettingsDlg::FromControls() {
    uidMode = SelectedIndex(ui->uidCombo);
    readUidMode = SelectedIndex(ui->readUidCombo);
    writeUidMode = SelectedIndex(ui->writeUidCombo);
    readOption = CheckedIndex(ui->readOption0, ui->readOption1);
    writeOption = CheckedIndex(ui->writeOption0, ui->writeOption1);
    blockSizeText = ui->blockSizeEdit->text();
}

CInventorySettingsDlg::CInventorySettingsDlg(QWidget* parent)
    : ExchangeDialog(parent), ui(new Ui::InventorySettingsDialog) {
    ui->setupUi(this);
    PrepareDialogLayout(this);
    WireButtons(idc::Cancel);
}
CInventorySettingsDlg::~CInventorySettingsDlg() = default;

void CInventorySettingsDlg::ToControls() {
    Fill(ui->uidCombo, kInventoryUidModes);
    Select(ui->uidCombo, uidModeIndex);
    Check(ui->selectOff, ui->selectOn, selectIndex);
    Check(ui->option0, ui->option1, optionIndex);
    Check(ui->afiOff, ui->afiOn, afiIndex);
    Check(ui->slots16, ui->slots1, slotsIndex);
}

void CInventorySettingsDlg::FromControls() {
    uidModeIndex = static_cast<uint8_t>(SelectedIndex(ui->uidCombo));
    selectIndex = CheckedIndex(ui->selectOff, ui->selectOn);
    optionIndex = CheckedIndex(ui->option0, ui->option1);
    afiIndex = CheckedIndex(ui->afiOff, ui->afiOn);
    slotsIndex = CheckedIndex(ui->slots16, ui->slots1);
}

CDataEntry1Dlg::CDataEntry1Dlg(QWidget* parent)
    : ExchangeDialog(parent), ui(new Ui::DataEntry1Dialog) {
    ui->setupUi(this);
    PrepareDialogLayout(this);
    WireButtons(idc::Cancel);
}
CDataEntry1Dlg::~CDataEntry1Dlg() = default;

void CDataEntry1Dlg::ToControls() {
    ui->heading->setText(Tr(heading));
    setWindowTitle(Tr(heading)); // the caption says what is asked, as the heading does
    ui->label1->setText(Tr(label1));
    ui->edit1->setText(edit1);
}

void CDataEntry1Dlg::FromControls() {
    edit1 = ui->edit1->text();
}

CDataEntry2Dlg::CDataEntry2Dlg(QWidget* parent)
    : ExchangeDialog(parent), ui(new Ui::DataEntry2Dialog) {
    ui->setupUi(this);
    PrepareDialogLayout(this);
    WireButtons(4);
}
CDataEntry2Dlg::~CDataEntry2Dlg() = default;

void CDataEntry2Dlg::ToControls() {
    ui->heading->setText(Tr(heading));
    setWindowTitle(Tr(heading)); // the caption says what is asked, as the heading does
    ui->label1->setText(Tr(label1));
    ui->edit1->setText(edit1);
    ui->label2->setText(Tr(label2));
    ui->edit2->setText(edit2);
}

void CDataEntry2Dlg::FromControls() {
    edit1 = ui->edit1->text();
    edit2 = ui->edit2->text();
}

CDataEntry3Dlg::CDataEntry3Dlg(QWidget* parent)
    : ExchangeDialog(parent), ui(new Ui::DataEntry3Dialog) {
    ui->setupUi(this);
    PrepareDialogLayout(this);
    WireButtons(1036);
}
CDataEntry3Dlg::~CDataEntry3Dlg() = default;

void CDataEntry3Dlg::ToControls() {
    ui->heading->setText(Tr(heading));
    setWindowTitle(Tr(heading)); // the caption says what is asked, as the heading does
    ui->label1->setText(Tr(label1));
    ui->edit1->setText(edit1);
    ui->label2->setText(Tr(label2));
    ui->edit2->setText(edit2);
    ui->label3->setText(Tr(label3));
    ui->edit3->setText(edit3);
}

void CDataEntry3Dlg::FromControls() {
    edit1 = ui->edit1->text();
    edit2 = ui->edit2->text();
    edit3 = ui->edit3->text();
}

} // namespace qx4bench
