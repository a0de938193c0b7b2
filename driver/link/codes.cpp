#include "link/codes.h"

#include <array>
#include <cstddef>

namespace qx4 {
namespace {

struct CodeText {
    uint32_t code;
    const char* text;
};

constexpr std::array kNackTexts{
    CodeText{0x01, "CRCエラー"},
    CodeText{0x02, "CMD_TIME_OVER受信"},
    CodeText{0x03, "タグデータ受信エラー"},
    CodeText{0x04, "タグからの応答なし"},
    CodeText{0x41, "データ数エラー"},
    CodeText{0x42, "コマンドのサム値エラー"},
    CodeText{0x43, "コマンドのＩＤ値のエラー"},
    CodeText{0x44, "不正なコマンド"},
};
constexpr const char* kUnknownNack = "??? NACK受信";

constexpr std::array kIsoTexts{
    CodeText{0x01, "The command is not supported, i.e. the request code is not recognised."},
    CodeText{0x02, "The command is not recognised, for example: a format error occurred."},
    CodeText{0x03, "The option is not supported."},
    CodeText{0x0F, "Unknown error."},
    CodeText{0x10, "The specified block is not available (doesn’t exist)."},
    CodeText{0x11, "The specified block is already -locked and thus cannot be locked again"},
    CodeText{0x12, "The specified block is locked and its content cannot be changed."},
    CodeText{0x13, "The specified block was not successfully programmed."},
    CodeText{0x14, "The specified block was not successfully locked."},
};
constexpr const char* kCustomIsoError = "? 'DF' Custom command error codes";

template <std::size_t N>
const char* Find(const std::array<CodeText, N>& table, uint32_t code, const char* otherwise) {
    for (const auto& entry : table)
        if (entry.code == code) return entry.text;
    return otherwise;
}

} // namespace

const char* NackText(uint32_t code) {
    if (code == kNackTagError) return kCustomIsoError; // the ISO code decides
    return Find(kNackTexts, code, kUnknownNack);
}

const char* IsoErrorText(uint32_t isoCode) {
    return Find(kIsoTexts, isoCode, kCustomIsoError);
}

const char* ErrorText(uint32_t code, uint32_t detail) {
    return code == kNackTagError ? IsoErrorText(detail) : NackText(code);
}

} // namespace qx4
