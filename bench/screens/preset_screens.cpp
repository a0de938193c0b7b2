// ツール > 設定 presets and ツール > COMPortCheck.
#include "panel_view.h"
#include "texts.h"

#include "code_page.h"
#include "link_calls.h"
#include "platform_hooks.h"
#include "settings_store.h"

#include <bit>
#include <cstring>

namespace qx4bench {
namespace {

constexpr uint16_t kWord16Bit14 = 0x4000;

bool ReadWord(int address, uint16_t& word) {
    unsigned char bytes[2];
    if (!QX4GetEepromData(address, bytes)) return false;
    word = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    return true;
}

} // namespace

const CQX4PanelView::Preset CQX4PanelView::kDefaultPreset{"デフォルト", 0x54, 5,     4,
                                                          false,        4,    false, true};
// Fujitsu stops at a failed tag-mode write and reports only the final outcome.
const CQX4PanelView::Preset CQX4PanelView::kFujitsuPreset{"富士通", 0x64, 10,   8,
                                                          true,     8,    true, false};

uint8_t EvenParity7(uint8_t value) {
    const uint8_t low = value & 0x7F;
    return static_cast<uint8_t>(std::popcount(low) % 2 ? low | 0x80 : low);
}

void CQX4PanelView::ApplyPreset(const Preset& preset) {
    const uint8_t modeBits = preset.tagModeBits;
    // "Default" is the reader's configuration, not the checker's own settings.
    if (!Confirm(Tr(preset.name),
                 Tr("リーダーの設定を書き換えます: タグモード 0x%1（EEPROM へ）、EEPROM の語 12, "
                    "16, 19、"
                    "ブロックサイズ %2。チェッカー自身の設定を戻すものではありません。")
                     .arg(EvenParity7(modeBits), 2, 16, QChar('0'))
                     .arg(preset.blockSize)))
        return;
    unsigned char current = 0;
    if (!QX4GetTagMode(&current)) {
        AddResultLine("Error: QX4GetTagMode");
        ShowReason();
        return;
    }
    const uint8_t mode =
        EvenParity7(static_cast<uint8_t>((current & (modeBits | 0x80)) | modeBits));
    tagModeByte = mode;
    if (QX4SetTagMode(mode, 1)) {
        if (preset.reportTagModeSuccess) AddResultLine("OK: QX4SetTagMode");
    } else {
        AddResultLine("Error: QX4SetTagMode");
        ShowReason();
        if (preset.stopOnTagModeFailure) return;
    }
    uint16_t word = 0;
    if (ReadWord(12, word)) QX4SetEepromData(12, (word & 0xFF00) | preset.word12Low);
    if (ReadWord(19, word)) QX4SetEepromData(19, (word & 0xFF00) | preset.word19Low);
    const bool word16Done =
        ReadWord(16, word) &&
        QX4SetEepromData(16, preset.word16Bit14 ? (word | kWord16Bit14)
                                                : (word & ~kWord16Bit14 & 0xFFFF));
    if (!word16Done) {
        AddResultLine("Error: QX4SetTagMode");
        ShowReason();
        return;
    }
    AddResultLine("OK: QX4SetTagMode");
    TagBlockSize = preset.blockSize;
    WriteSettingInt("TagBlockSize", TagBlockSize);
    QX4SetTagBlockSize(TagBlockSize);
}

void CQX4PanelView::OnPresetDefault() {
    ApplyPreset(kDefaultPreset);
}

void CQX4PanelView::OnPresetFujitsu() {
    ApplyPreset(kFujitsuPreset);
}

void CQX4PanelView::OnComPortCheck() {
    AddResultLine(Tr("COM1～COM10までチェックします。"));
    AddResultLine(Tr("--- しばらくお待ちください ---"));
    PumpMessages();
    QStringList boxes; // an address that does not answer is this scan's finding, not a box
    CaptureBoxes(&boxes);
    for (int n = 1; n <= 10 && !QuitRequested(); ++n) {
        int found = 0;
        RunOffGuiThread([&found, n, this] { found = QX4ComReOpen(n, spped); });
        PumpMessages();
        const bool opened = QX4IsOK();
        char text[256] = {};
        if (opened && !QuitRequested()) found = QX4GetROMVersion(text);
        if (QuitRequested()) break; // the application ends: no further port, no line
        // After the label, what was found there: the reader's version, or why not.
        const QString label = QString::asprintf("COM%d : ", n);
        if (found) {
            ComPort = n;
            ComDevice.clear(); // in memory only, as the port number
            AddResultLine("Find " + label +
                          FromDeviceText(text, static_cast<int>(std::strlen(text))));
            break;
        }
        AddResultLine("Not Find " + label +
                      (opened ? Tr("リーダーから応答がありません") : Tr("ポートを開けません")));
        PumpMessages();
    }
    CaptureBoxes(nullptr);
    if (QuitRequested()) {
        QX4DllClose(); // the port tried last is not held while the program ends
        return;
    }
    // The library holds the last port tried; the status bar says which.
    linkState_ = QX4IsOK() ? LinkState::Open : LinkState::Closed;
    status_->SetPort(QX4GetPortNum(), comBaudRate);
    status_->SetLink(linkState_);
    status_->SetMode(-1);
}

} // namespace qx4bench
