// 拡張コマンド screens, ツール > AFI設定 and ツール > my-d コマンド.
#include "panel_view.h"
#include "texts.h"

#include "code_page.h"

#include <cstring>

namespace qx4bench {

void CQX4PanelView::OnRestart() {
    QX4ReStartComand();
    AddResultLine("QX4ReStartCommand");
    FollowReaderMode(); // a restart brings back the mode kept in the EEPROM
}

void CQX4PanelView::OnRomVersion() {
    char text[256] = {};
    const bool ok = QX4GetROMVersion(text);
    ShowOutcome(ok, "QX4GetROMVersion");
    if (ok) AddResultLine(FromDeviceText(text, static_cast<int>(std::strlen(text))));
}

void CQX4PanelView::OnInitEeprom() {
    if (!Confirm(
            Tr("EEPROM初期化"),
            Tr("リーダーの EEPROM を初期値に戻します。リーダーに保存した設定はすべて消えます。")))
        return;
    ShowOutcome(QX4InitEEPROM(), "QX4InitEEPROM");
}

void CQX4PanelView::OnPowerDown() {
    ShowOutcome(QX4SetPowerDown(), "QX4SetPowerDown");
}

void CQX4PanelView::OnPowerState() {
    unsigned char state = 0;
    const bool ok = QX4GetPowerDown(&state);
    ShowOutcome(ok, "QX4GetPowerDown");
    if (ok) ShowHexLine("PowerMode : ", &state, 1);
}

void CQX4PanelView::OnErrorStatus() {
    unsigned char status = 0;
    const bool ok = QX4GetErrorStatus(&status);
    ShowOutcome(ok, "QX4GetErrorStatus");
    if (ok) ShowHexLine("ErrCode : ", &status, 1);
}

void CQX4PanelView::OnGetCurrentUid() {
    const bool ok = QX4GetUIDGetCmd(tagUid.data());
    ShowOutcome(ok, "QX4GetUIDGetCmd");
    if (ok) ShowHexLineReversed("UID: ", tagUid.data(), 8);
}

void CQX4PanelView::OnSetCurrentUid() {
    ShowHexLineReversed("SET UID: ", tagUid.data(), 8);
    ShowOutcome(QX4SetUIDSetCmd(tagUid.data()), "QX4SetUIDSetCmd");
}

void CQX4PanelView::OnUidNumber() {
    unsigned char count = 0;
    const bool ok = QX4GetUidNumber(&count);
    ShowOutcome(ok, "QX4GetUidNumber");
    if (ok) ShowHexLine("受信UID数 : ", &count, 1);
}

void CQX4PanelView::OnUidData() {
    CDataEntry1Dlg dialog(this);
    dialog.heading = "UIDの番号";
    dialog.label1 = "番号を指定してください(1-)";
    dialog.edit1 = "1";
    if (RunDialog(dialog) != QDialog::Accepted) return;
    const uint8_t index = static_cast<uint8_t>(ParseDecimalText(dialog.edit1));
    const bool ok = QX4GetUidData(index, tagUid.data());
    ShowOutcome(ok, "QX4GetUidData");
    if (ok) ShowHexLineReversed("UID: ", tagUid.data(), 8);
}

void CQX4PanelView::OnTxOn() {
    if (QX4SetTxOnOff(1) == 1)
        AddResultLine("OK : TxON");
    else
        ShowReason();
}

void CQX4PanelView::OnTxOff() {
    if (QX4SetTxOnOff(0) == 1) {
        AddResultLine("OK : TxOFF");
        AddNote(Tr("キャリアを止めました: TxON までタグは読めません"));
    } else {
        ShowReason();
    }
}

void CQX4PanelView::OnSetAfi() {
    CDataEntry1Dlg dialog(this);
    dialog.heading = "AFI値の設定";
    dialog.label1 = "AFI値（１０進）";
    if (RunDialog(dialog) != QDialog::Accepted) return;
    const uint8_t value = static_cast<uint8_t>(ParseDecimalText(dialog.edit1));
    ShowOutcome(QX4SetAFIData(value), "QX4SetAFIData");
    AddResultLine(Tr("AFI値: %d").replace("%d", QString::number(value)));
}

void CQX4PanelView::OnGetAfi() {
    unsigned char afi = 0;
    const bool ok = QX4GetAFIData(&afi);
    ShowOutcome(ok, "QX4GetAFIData");
    if (ok) ShowHexLine("AFI値 : ", &afi, 1);
}

void CQX4PanelView::OnMydRead() {
    if (AskBlockNumber("My-d １ブロックリード") < 0) return;
    const uint8_t mode = ReadMode();
    // Sized for the largest block the library may copy, whatever its my-d block size.
    std::array<uint8_t, 256> data{};
    SetTarget(mode, Tr("ブロック %1").arg(BlockNo));
    const bool ok = QX4Myd_Read(mode, BlockNo, data.data(), tagUid.data());
    ShowOutcomeLine(ok, "QX4Myd_Read");
    if (!ok) return ShowFailure();
    const int n = std::min(mydBlockSize, QX4GetTagMydBlockSize()) + ((mode & 0x10) ? 1 : 0);
    ShowHexLine("data: ", data.data(), n);
}

void CQX4PanelView::OnMydWrite() {
    if (!AskBlockAndData("My-d １ブロックライト")) return;
    const auto data = DataBuffer(WrStr1);
    if (!ConfirmWrite("my-d Write", Tr("ブロック %1").arg(BlockNo), data.data(),
                      QX4GetTagMydBlockSize()))
        return;
    ShowOutcomeAndReason(QX4MydWrite(WriteMode(), BlockNo, data.data(), tagUid.data()),
                         "QX4MydWrite");
}

} // namespace qx4bench
