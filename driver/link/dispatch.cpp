// What each complete frame does to the context, and the texts it shows.
#include "link/codes.h"
#include "link/command_table.h"
#include "link/context.h"
#include "link/response.h"

#include <algorithm>
#include <array>

namespace qx4 {
namespace {

struct ReceiveText {
    uint8_t code;
    const char* text;
};

// Acknowledgements of reader reads (0x4F), by echoed sub-command.
constexpr std::array kReadSettingTexts{
    ReceiveText{sub::OperationMode, "DousaModeSet_CMD受信"},
    ReceiveText{sub::TagMode, "S6700ModeSet_CMD受信"},
    ReceiveText{sub::UidNumber, "GETUIDNUMBER_CMD受信"},
    ReceiveText{sub::UidData, "GETUIDDATA_CMD受信"},
    ReceiveText{sub::RomVersion, "ROMバージョン取得"},
};
// Acknowledgements of reader writes (0x4E).
constexpr std::array kWriteSettingTexts{
    ReceiveText{sub::OperationMode, "DousaModeSet_CMD受信"},
    ReceiveText{sub::TagMode, "S6700ModeSet_CMD受信"},
};
// Acknowledgements of tag commands (0x78), by echoed ISO 15693 code.
constexpr std::array kTagTexts{
    ReceiveText{iso::Inventory, "ISO15693_Inventory受信"},
    ReceiveText{iso::StayQuiet, "ISO15693_StayQuit受信"},
    ReceiveText{iso::ReadSingleBlock, "ISO15693_ReadSingleBlock受信"},
    ReceiveText{iso::WriteSingleBlock, "ISO15693_WriteSingleBlock受信"},
    ReceiveText{iso::LockBlock, "ISO15693_LockBlock受信"},
    ReceiveText{iso::ReadMultiBlock, "ISO15693_ReadMultiBlock受信"},
    ReceiveText{iso::WriteMultiBlock, "ISO15693_WriteMultiBlock受信"},
    ReceiveText{iso::Select, "ISO15693_SelectTag受信"},
    ReceiveText{iso::ResetToReady, "ISO15693_ResetToReady受信"},
    ReceiveText{iso::WriteAfi, "ISO15693_WriteAFI受信"},
    ReceiveText{iso::LockAfi, "ISO15693_LockAFI受信"},
    ReceiveText{iso::WriteDsfid, "ISO15693_WrietDSFID受信"},
    ReceiveText{iso::LockDsfid, "ISO15693_LockDSFID受信"},
    ReceiveText{iso::GetSystemInfo, "ISO15693_GetSystemInfo受信"},
    ReceiveText{iso::GetMultiBlockSecurity, "ISO15693_GetMBlockSecSt受信"},
    ReceiveText{iso::ReadBytes, "ISO15693_ReadBytes受信"},
    ReceiveText{iso::WriteBytes, "ISO15693_WriteBytes受信"},
    ReceiveText{iso::Write2Blocks, "ISO15693_Write2Blocks受信"},
    ReceiveText{iso::Lock2Blocks, "ISO15693_Lock2Blocks受信"},
    ReceiveText{iso::MydRead, "Myd_ReadCommand OK"},
    ReceiveText{iso::MydWrite, "Myd_WriteCommand OK"},
    ReceiveText{iso::MydWriteByte, "Myd_WriteByteCommand OK"},
    ReceiveText{iso::MydWriteReread, "Myd_WriteRereadCommand OK"},
};

template <size_t N>
void ShowReceiveText(const ReaderContext& context, const std::array<ReceiveText, N>& table,
                     uint8_t code) {
    for (const auto& entry : table)
        if (entry.code == code) ShowDiagnostic(context, entry.text);
}

// Copies the UID at `from` when the frame's data reaches that far: a short frame
// leaves the registers as they were instead of filling them with older bytes.
void CopyUid(ReaderContext& context, size_t from) {
    if (4 + size_t{context.frame[3]} < from + 8) return;
    std::copy_n(context.frame.begin() + from, 8, context.currentUid.begin());
}

void AfterReadSetting(ReaderContext& context) {
    const uint8_t echo = context.frame[4];
    if (echo == sub::UidRegister) CopyUid(context, 5);
    ShowReceiveText(context, kReadSettingTexts, echo);
    if (echo == sub::UidData) CopyUid(context, 7);
}

void AfterTagCommand(ReaderContext& context) {
    const uint8_t code = context.frame[4];
    if (code == iso::Inventory) {
        if (context.frame[3] >= 10) { // echo, DSFID, UID
            context.dsfid = context.frame[5];
            CopyUid(context, 6);
        }
    } else if (code == iso::GetSystemInfo) {
        RecordSystemInfo(context);
    }
    ShowReceiveText(context, kTagTexts, code);
}

void Notify(ReaderContext& context, uintptr_t kind) {
    std::array<uint8_t, 256> buffer{};
    const uint32_t count = context.frame[3];
    std::copy_n(context.frame.begin() + 4, count, buffer.begin());
    if (QX4Window* window = Link().window.load()) {
        const QX4CopyData record{kind, count, buffer.data()};
        window->copyData(window, &record);
    }
}

} // namespace

void RecordSystemInfo(ReaderContext& context) {
    const auto& f = context.frame;
    if (f[3] < 10) return; // echo, info flags, UID
    context.sysInfoFlags = f[5];
    CopyUid(context, 6);
    size_t p = 14;
    if (context.sysInfoFlags & 0x01) context.dsfid = f[p++];
    if (context.sysInfoFlags & 0x02) context.afi = f[p++];
    if (context.sysInfoFlags & 0x04) {
        context.blockCount = f[p];
        context.blockSizeInfo = f[p + 1];
    }
}

void DispatchFrame(ReaderContext& context) {
    context.responseReceived = 1;
    switch (static_cast<ResponseType>(context.frame[2])) {
    case ResponseType::Ack:
        // Nobody waits for it: an answer repeated, or one of several to one request.
        if (!Link().responseWait) {
            context.inDoubt = true;
            NoteRepeat(context);
        }
        if (context.lastCommand == static_cast<uint8_t>(Command::ReadSetting))
            AfterReadSetting(context);
        else if (context.lastCommand == static_cast<uint8_t>(Command::WriteSetting))
            ShowReceiveText(context, kWriteSettingTexts, context.frame[4]);
        else if (context.lastCommand == static_cast<uint8_t>(Command::Iso15693))
            AfterTagCommand(context);
        break;
    case ResponseType::DataNotification:
        Notify(context, 0);
        break;
    case ResponseType::UidDataNotification:
        CopyUid(context, 4);
        Notify(context, 1);
        break;
    case ResponseType::Nack: {
        // The fence's refusal, or an earlier request's: the caller's codes stay. (While a
        // fence tells a repeat from the command's answer, this may be that answer.)
        if (context.fencing && !context.resolving) break;
        const uint32_t n = context.frame[3];
        context.errorDetail = 0;
        context.errorCode = n >= 1 ? context.frame[4] : kNackNoCode;
        if (context.errorCode == kNackTagError && n >= 2) context.errorDetail = context.frame[5];
        // Nobody waited for it: it answers an earlier command, whose other frames may follow.
        if (!Link().responseWait) context.inDoubt = true;
        ShowDiagnostic(context, ErrorText(context.errorCode, context.errorDetail));
        break;
    }
    case ResponseType::UidReport:
        CopyUid(context, 5);
        break;
    default:
        ShowDiagnostic(context, "レスポンスフォーマットエラー");
        break;
    }
}

} // namespace qx4
