// ISO15693 > Lockコマンド screens.
#include "panel_view.h"
#include "texts.h"

namespace qx4bench {

// Shows the block number dialog; -1 when it is not confirmed.
int CQX4PanelView::AskBlockNumber(const QString& heading) {
    CDataEntry1Dlg dialog(this);
    dialog.heading = heading;
    dialog.label1 = "ブロックNO（１０進）";
    dialog.edit1 = QString::asprintf("%d", BlockNo);
    if (RunDialog(dialog) != QDialog::Accepted) return -1;
    BlockNo = static_cast<uint8_t>(ParseDecimalText(dialog.edit1));
    return BlockNo;
}

void CQX4PanelView::OnLockBlock() {
    if (AskBlockNumber("ロックブロック") < 0) return;
    const QString block = Tr("ブロック %1").arg(BlockNo);
    if (!ConfirmOnTag("LockBlock", WriteMode(), Tr("%1 をロックします").arg(block), true)) return;
    SetTarget(WriteMode(), block);
    ShowOutcomeAndReason(QX4LockBlock(WriteMode(), BlockNo, tagUid.data()), "QX4LockBlock");
}

void CQX4PanelView::OnLockAfi() {
    if (!ConfirmOnTag("LockAFI", WriteMode(), Tr("%1 をロックします").arg("AFI"), true)) return;
    SetTarget(WriteMode(), "AFI");
    ShowOutcomeAndReason(QX4LockAFI(WriteMode(), tagUid.data()), "QX4LockAFI");
}

void CQX4PanelView::OnLockDsfid() {
    if (!ConfirmOnTag("LockDSFID", WriteMode(), Tr("%1 をロックします").arg("DSFID"), true)) return;
    SetTarget(WriteMode(), "DSFID");
    ShowOutcomeAndReason(QX4LockDSFID(WriteMode(), tagUid.data()), "QX4LockDSFID");
}

void CQX4PanelView::OnLock2Blocks() {
    if (AskBlockNumber("Lock2Blocks") < 0) return;
    const uint8_t mode = ModeByte(1, WriteUidFlag);
    const QString blocks = Tr("ブロック %1–%2").arg(BlockNo).arg(BlockNo + 1);
    if (!ConfirmOnTag("Lock2Blocks", mode, Tr("%1 をロックします").arg(blocks), true)) return;
    SetTarget(mode, blocks);
    // The two-block lock always carries the option flag.
    ShowOutcomeAndReason(QX4Lock2Blocks(ModeByte(1, WriteUidFlag), BlockNo, tagUid.data()),
                         "QX4Lock2Blocks");
}

} // namespace qx4bench
