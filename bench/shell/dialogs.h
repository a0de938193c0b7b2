// The checker's dialogs. They only gather values into their members and call
// nothing; the view acts on them. Members go to the controls when the dialog is
// prepared and come back when it is confirmed.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>

class QComboBox;
class QRadioButton;

namespace Ui {
class AboutDialog;
class ComPortDialog;
class RfModeDialog;
class OperationModeDialog;
class EnvSettingsDialog;
class InventorySettingsDialog;
class DataEntry1Dialog;
class DataEntry2Dialog;
class DataEntry3Dialog;
} // namespace Ui

namespace qx4bench {

class ExchangeDialog : public QDialog {
  public:
    explicit ExchangeDialog(QWidget* parent) : QDialog(parent) {}
    void Prepare();         // members -> controls; fields named after the labels now shown
    void accept() override; // controls -> members, then close
    QWidget* Control(int controlId) const;

  protected:
    virtual void ToControls() = 0;
    virtual void FromControls() = 0;
    // OK confirms; the cancel button closes as cancelled.
    void WireButtons(int cancelId);
};

// Selection index of an editable combo box: -1 when the text is none of the entries.
int SelectedIndex(const QComboBox* combo);
void Select(QComboBox* combo, int index);
// Index of the checked button of a radio pair, -1 when neither is.
int CheckedIndex(const QRadioButton* first, const QRadioButton* second);
void Check(QRadioButton* first, QRadioButton* second, int index);

class CAboutDlg : public QDialog {
  public:
    explicit CAboutDlg(QWidget* parent);
    ~CAboutDlg() override;

  private:
    std::unique_ptr<Ui::AboutDialog> ui;
};

class CComPortDlg : public ExchangeDialog {
  public:
    explicit CComPortDlg(QWidget* parent);
    ~CComPortDlg() override;
    int portNumber = 1;
    int baudIndex = -1;
    // Typed instead of a COM number: a device path or a tcp:// or rfc2217:// address.
    QString device;
    int timeoutMs = 2000;
    QString typedPort; // the port field as confirmed
    bool PortValid() const { return portNumber > 0 || !device.isEmpty(); }
    void accept() override; // refuses, in words, a port it cannot take

  protected:
    void ToControls() override;
    void FromControls() override;

  private:
    std::unique_ptr<Ui::ComPortDialog> ui;
};

class CRfModeDlg : public ExchangeDialog {
  public:
    explicit CRfModeDlg(QWidget* parent);
    ~CRfModeDlg() override;
    int depthIndex = -1;
    int subcarrierIndex = -1;
    int rateIndex = -1;
    int eepromFlag = 0;
    uint8_t codingIndex = 0;

  protected:
    void ToControls() override;
    void FromControls() override;

  private:
    std::unique_ptr<Ui::RfModeDialog> ui;
};

class COperationModeDlg : public ExchangeDialog {
  public:
    explicit COperationModeDlg(QWidget* parent);
    ~COperationModeDlg() override;
    int buzzer = 0;
    int eepromFlag = 0;
    int dataUid = 0;
    int baud9600 = 0;
    int anticollisionIndex = -1;
    int readIndex = -1;
    uint8_t modeIndex = 0;

  protected:
    void ToControls() override;
    void FromControls() override;

  private:
    std::unique_ptr<Ui::OperationModeDialog> ui;
};

class CEnvSettingsDlg : public ExchangeDialog {
  public:
    explicit CEnvSettingsDlg(QWidget* parent);
    ~CEnvSettingsDlg() override;
    int uidMode = 0;
    int readUidMode = 0;
    int writeUidMode = 0;
    int readOption = -1;
    int writeOption = -1;
    QString blockSizeText;

  protected:
    void ToControls() override;
    void FromControls() override;

  private:
    std::unique_ptr<Ui::EnvSettingsDialog> ui;
};

class CInventorySettingsDlg : public ExchangeDialog {
  public:
    explicit CInventorySettingsDlg(QWidget* parent);
    ~CInventorySettingsDlg() override;
    int afiIndex = -1;
    int slotsIndex = -1;
    int optionIndex = -1;
    int selectIndex = -1;
    int uidModeIndex = 0;

  protected:
    void ToControls() override;
    void FromControls() override;

  private:
    std::unique_ptr<Ui::InventorySettingsDialog> ui;
};

// One, two and three text fields; the caller sets heading, labels and texts.
class CDataEntry1Dlg : public ExchangeDialog {
  public:
    explicit CDataEntry1Dlg(QWidget* parent);
    ~CDataEntry1Dlg() override;
    QString heading, label1, edit1;

  protected:
    void ToControls() override;
    void FromControls() override;

  private:
    std::unique_ptr<Ui::DataEntry1Dialog> ui;
};

class CDataEntry2Dlg : public ExchangeDialog {
  public:
    explicit CDataEntry2Dlg(QWidget* parent);
    ~CDataEntry2Dlg() override;
    QString heading, label1, edit1, label2, edit2;

  protected:
    void ToControls() override;
    void FromControls() override;

  private:
    std::unique_ptr<Ui::DataEntry2Dialog> ui;
};

class CDataEntry3Dlg : public ExchangeDialog {
  public:
    explicit CDataEntry3Dlg(QWidget* parent);
    ~CDataEntry3Dlg() override;
    QString heading, label1, edit1, label2, edit2, label3, edit3;

  protected:
    void ToControls() override;
    void FromControls() override;

  private:
    std::unique_ptr<Ui::DataEntry3Dialog> ui;
};

} // namespace qx4bench
