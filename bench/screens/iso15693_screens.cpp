// ISO15693 menu screens, Inventory_設定あり, ReadBytes and WriteBytes.
#include "panel_view.h"
#include "texts.h"

#include "code_page.h"
#include "link_calls.h"

#include <algorithm>

namespace qx4bench {
namespace {

// Large enough for the longest reply a frame carries (254 payload bytes).
using ReplyBuffer = std::array<uint8_t, 256>;

constexpr uint8_t kOptionBit = 0x10;
constexpr uint8_t kPlainInventoryFlags = 0x40; // one slot, nothing else

// Bytes per block the library copied: it may still hold another size when the
// port did not open at start-up.
int ReturnedBlockSize(int tagBlockSize) {
    return std::min(tagBlockSize, QX4GetTagBlockSize());
}

const char* kBlockNoLabel = "ブロックNO（１０進）";
const char* kBlockCountLabel = "ブロック数";
const char* kDataLabel = "書き込むデータ（文字列）";

QString BlocksText(int first, int count) {
    if (count <= 1) return Tr("ブロック %1").arg(first);
    return Tr("ブロック %1–%2").arg(first).arg(first + count - 1);
}

} // namespace

bool CQX4PanelView::AskBlockAndCount(const QString& heading, const QString& countLabel) {
    CDataEntry2Dlg dialog(this);
    dialog.heading = heading;
    dialog.edit1 = QString::asprintf("%d", BlockNo);
    dialog.label1 = kBlockNoLabel;
    dialog.edit2 = QString::asprintf("%d", BlockNum);
    dialog.label2 = countLabel;
    if (RunDialog(dialog) != QDialog::Accepted) return false;
    BlockNo = static_cast<uint8_t>(ParseDecimalText(dialog.edit1));
    BlockNum = static_cast<uint8_t>(ParseDecimalText(dialog.edit2));
    return true;
}

bool CQX4PanelView::AskBlockAndData(const QString& heading) {
    CDataEntry2Dlg dialog(this);
    dialog.heading = heading;
    dialog.edit1 = QString::asprintf("%d", BlockNo);
    dialog.label1 = kBlockNoLabel;
    dialog.edit2 = WrStr1;
    dialog.label2 = kDataLabel;
    if (RunDialog(dialog) != QDialog::Accepted) return false;
    BlockNo = static_cast<uint8_t>(ParseDecimalText(dialog.edit1));
    WrStr1 = dialog.edit2;
    return true;
}

void CQX4PanelView::ShowInventoryResult(bool ok) {
    ShowOutcome(ok, "QX4Inventory");
    if (!ok) return;
    ShowHexLine("DSFID: ", &tagDsfid, 1);
    ShowHexLineReversed("UID: ", tagUid.data(), 8);
    // One UID is shown; the anticollision inventory says how many tags answered.
    unsigned char count = 0;
    if (QX4Inventory2(inventoryFlags, 0, &count)) {
        tagsInField_ = count;
        AddNote(count > 1
                    ? Tr("応答したタグ: %1（表示は 1 つ。すべては Inventory2 と UIDデータ取得 で）")
                          .arg(count)
                    : Tr("応答したタグ: %1").arg(count));
    }
}

void CQX4PanelView::OnInventory() {
    inventoryFlags = kPlainInventoryFlags;
    ShowInventoryResult(QX4Inventory(inventoryFlags, &tagDsfid, tagUid.data()));
}

void CQX4PanelView::OnInventory2() {
    unsigned char count = 0;
    const bool ok = QX4Inventory2(0, 0, &count);
    ShowOutcome(ok, "QX4Inventory2");
    if (ok) AddResultLine(Tr("受信UID数 : %d ").replace("%d", QString::number(count)));
    if (ok) tagsInField_ = count;
}

void CQX4PanelView::OnStayQuiet() {
    inventoryFlags = ModeByte(0, UidFlag);
    SetTarget(1); // the UID goes with it whatever the addressing
    ShowOutcome(QX4StayQuiet(inventoryFlags, tagUid.data()), "QX4StayQuiet");
}

void CQX4PanelView::OnReadSingleBlock() {
    if (AskBlockNumber("１ブロックリード") < 0) return;
    const uint8_t mode = ReadMode();
    SetTarget(mode, BlocksText(BlockNo, 1));
    ReplyBuffer data{};
    const bool ok = QX4ReadSingleBlock(mode, BlockNo, data.data(), tagUid.data());
    ShowOutcomeLine(ok, "QX4ReadSingleBlock");
    if (!ok) {
        ShowFailure();
        if (QX4GetFailureCause() == QX4_CAUSE_BAD_REPLY)
            ShowBlockSizeNotes(mode, TagBlockSize, true);
        return;
    }
    const int n = ReturnedBlockSize(TagBlockSize) + ((mode & kOptionBit) ? 1 : 0);
    ShowHexLine("data: ", data.data(), std::clamp(n, 0, int(data.size())));
    ShowBlockSizeNotes(mode, ReturnedBlockSize(TagBlockSize));
}

void CQX4PanelView::OnWriteSingleBlock() {
    if (!AskBlockAndData("１ブロックライト")) return;
    const auto data = DataBuffer(WrStr1);
    if (!ConfirmWrite("WriteSingleBlock", BlocksText(BlockNo, 1), data.data(),
                      QX4GetTagBlockSize()))
        return;
    ShowOutcomeAndReason(QX4WriteSingleBlock(WriteMode(), BlockNo, data.data(), tagUid.data()),
                         "QX4WriteSingleBlock");
}

void CQX4PanelView::OnReadMultiBlock() {
    if (!AskBlockAndCount("ReadMultiBlock", kBlockCountLabel)) return;
    const uint8_t mode = ModeByte(ReadOptionFlag, UidFlag);
    SetTarget(mode, BlocksText(BlockNo, BlockNum + 1));
    ReplyBuffer data{};
    const bool ok = QX4ReadMultiBlock(mode, BlockNo, BlockNum, data.data(), tagUid.data());
    ShowOutcomeLine(ok, "QX4ReadMultiBlock");
    if (!ok) {
        ShowFailure();
        if (QX4GetFailureCause() == QX4_CAUSE_BAD_REPLY)
            ShowBlockSizeNotes(mode, TagBlockSize, true);
        return;
    }
    if (!(inventoryFlags & kOptionBit)) {
        // The library refuses replies longer than a frame, so this is within the buffer.
        const int n = (BlockNum + 1) * ReturnedBlockSize(TagBlockSize);
        ShowHexLine("data: ", data.data(), std::clamp(n, 0, int(data.size())));
    }
    ShowBlockSizeNotes(mode, ReturnedBlockSize(TagBlockSize));
}

void CQX4PanelView::OnWriteMultiBlock() {
    CDataEntry3Dlg dialog(this);
    dialog.heading = "WriteMultiBlock";
    dialog.edit1 = QString::asprintf("%d", BlockNo);
    dialog.label1 = kBlockNoLabel;
    dialog.edit2 = QString::asprintf("%d", BlockNum);
    dialog.label2 = kBlockCountLabel;
    dialog.edit3 = WrStr1;
    dialog.label3 = kDataLabel;
    if (RunDialog(dialog) != QDialog::Accepted) return;
    BlockNo = static_cast<uint8_t>(ParseDecimalText(dialog.edit1));
    BlockNum = static_cast<uint8_t>(ParseDecimalText(dialog.edit2));
    WrStr1 = dialog.edit3;
    const auto data = DataBuffer(WrStr1);
    if (!ConfirmWrite("WriteMultiBlock", BlocksText(BlockNo, BlockNum + 1), data.data(),
                      std::min(int(data.size()), (BlockNum + 1) * QX4GetTagBlockSize())))
        return;
    // A request of more than 255 bytes is refused by the library, so the library
    // never reads past this 256-byte buffer.
    ShowOutcomeAndReason(
        QX4WriteMultiBlock(WriteMode(), BlockNo, BlockNum, data.data(), tagUid.data()),
        "QX4WriteMultiBlock");
}

void CQX4PanelView::OnSelectTag() {
    inventoryFlags = ModeByte(0, UidFlag);
    SetTarget(1);
    ShowOutcome(QX4SelectTag(inventoryFlags, tagUid.data()), "QX4SelectTag");
}

void CQX4PanelView::OnWrite2Blocks() {
    if (!AskBlockAndData("２ブロックライト")) return;
    const auto data = DataBuffer(WrStr1);
    if (!ConfirmWrite("Write2Blocks", BlocksText(BlockNo, 2), data.data(),
                      2 * QX4GetTagBlockSize()))
        return;
    ShowOutcomeAndReason(QX4Write2Blocks(WriteMode(), BlockNo, data.data(), tagUid.data()),
                         "QX4Write2Blocks");
}

void CQX4PanelView::OnResetToReady() {
    SetTarget(ModeByte(0, UidFlag));
    ShowOutcome(QX4ResetToReady(ModeByte(0, UidFlag), tagUid.data()), "QX4ResetToReady");
}

void CQX4PanelView::OnWriteAfi() {
    CDataEntry1Dlg dialog(this);
    dialog.heading = "AFI値の書き込み";
    dialog.label1 = "AFI値（１０進）";
    if (RunDialog(dialog) != QDialog::Accepted) return;
    const uint8_t value = static_cast<uint8_t>(ParseDecimalText(dialog.edit1));
    if (!ConfirmWrite("WriteAFI", "AFI", &value, 1)) return;
    const bool ok = QX4WriteAFI(WriteMode(), value, tagUid.data());
    ShowOutcomeLine(ok, "QX4WriteAFI");
    AddResultLine(QString::asprintf("bdata: %d", value));
    if (!ok) ShowFailure();
}

void CQX4PanelView::OnWriteDsfid() {
    CDataEntry1Dlg dialog(this);
    dialog.heading = "DSFID値の書き込み";
    dialog.label1 = "DSFID値（１０進）";
    if (RunDialog(dialog) != QDialog::Accepted) return;
    const uint8_t value = static_cast<uint8_t>(ParseDecimalText(dialog.edit1));
    if (!ConfirmWrite("WriteDSFID", "DSFID", &value, 1)) return;
    const bool ok = QX4WrietDSFID(WriteMode(), value, tagUid.data());
    ShowOutcomeLine(ok, "QX4WrietDSFID");
    AddResultLine(QString::asprintf("bdata: %d", value));
    if (!ok) ShowFailure();
}

void CQX4PanelView::OnGetSystemInfo() {
    ReplyBuffer data{};
    int length = 0;
    SetTarget(ModeByte(0, UidFlag));
    const bool ok = QX4GetSystemInfo(ModeByte(0, UidFlag), data.data(), &length, tagUid.data());
    ShowOutcome(ok, "QX4GetSystemInfo");
    if (!ok) return;
    std::copy_n(data.begin() + 1, 8, tagUid.begin());
    // The block size below belongs to this tag only.
    tagInfoUid_ = tagUid;
    tagInfoBlockSize = 0;
    const int n = std::clamp(length - 1, 1, int(data.size()));
    ShowHexLine("", data.data(), n);
    // DSFID and AFI stand where the info flags put them; a field the flags do not
    // announce is not there, and the frame's ETX is never shown as a value.
    const uint8_t flags = data[0];
    const int payloadEnd = length - 1; // the copy ends with the ETX byte
    int p = 9;
    const bool hasDsfid = (flags & 0x01) && p < payloadEnd;
    if (hasDsfid) tagDsfid = data[size_t(p++)];
    const bool hasAfi = (flags & 0x02) && p < payloadEnd;
    const uint8_t afi = hasAfi ? data[size_t(p)] : 0;
    if (hasAfi) ++p;
    // The memory size gives the tag's block size, which the reads are checked against.
    if ((flags & 0x04) && p + 1 < payloadEnd) tagInfoBlockSize = (data[size_t(p + 1)] & 0x1F) + 1;
    ShowHexLine("DSFID: ", &tagDsfid, hasDsfid ? 1 : 0);
    ShowHexLineReversed("UID: ", tagUid.data(), 8);
    ShowHexLine("AFI値: ", &afi, hasAfi ? 1 : 0);
}

void CQX4PanelView::OnGetMBlockSecSt() {
    if (!AskBlockAndCount("ブロック", kBlockCountLabel)) return;
    ReplyBuffer data{};
    SetTarget(ModeByte(0, UidFlag), BlocksText(BlockNo, BlockNum + 1));
    const bool ok =
        QX4GetMBlockSecSt(ModeByte(0, UidFlag), BlockNo, BlockNum, data.data(), tagUid.data());
    ShowOutcome(ok, "QX4GetMBlockSecSt");
    if (ok) ShowHexLine("data: ", data.data(), BlockNum + 1);
}

void CQX4PanelView::OnReadBytes() {
    if (!AskBlockAndCount("ReadBytes", "データ数[1-255]")) return;
    ReplyBuffer data{};
    SetTarget(ModeByte(ReadOptionFlag, UidFlag),
              Tr("ブロック %1 から %2 バイト").arg(BlockNo).arg(BlockNum));
    const bool ok = QX4ReadBytes(ModeByte(ReadOptionFlag, UidFlag), BlockNo, BlockNum, data.data(),
                                 tagUid.data());
    ShowOutcome(ok, "QX4ReadBytes");
    if (ok) ShowHexLine("data: ", data.data(), BlockNum);
}

void CQX4PanelView::OnWriteBytes() {
    if (!AskBlockAndData("Writebytes")) return;
    const auto data = DataBuffer(WrStr1);
    const int count = static_cast<int>(std::find(data.begin(), data.end(), 0) - data.begin());
    BlockNum = static_cast<uint8_t>(count);
    if (!ConfirmWrite("WriteBytes", Tr("ブロック %1 から %2 バイト").arg(BlockNo).arg(count),
                      data.data(), count))
        return;
    ShowOutcomeAndReason(QX4WriteBytes(WriteMode(), BlockNo, count, data.data(), tagUid.data()),
                         "QX4WriteBytes");
}

void CQX4PanelView::OnInventoryWithSettings() {
    inventoryFlags = 0;
    CInventorySettingsDlg dialog(this);
    dialog.uidModeIndex = 0;
    dialog.selectIndex = 0;
    dialog.optionIndex = 0;
    dialog.afiIndex = 0;
    dialog.slotsIndex = 0;
    if (RunDialog(dialog) != QDialog::Accepted) return;
    inventoryFlags =
        static_cast<uint8_t>((dialog.uidModeIndex & 3) | (dialog.selectIndex == 1) << 2 |
                             (dialog.optionIndex == 1) << 4 | (dialog.afiIndex == 1) << 5 |
                             (dialog.slotsIndex == 1) << 6);
    ShowInventoryResult(QX4Inventory(inventoryFlags, &tagDsfid, tagUid.data()));
}

} // namespace qx4bench
