#include "tag_dump.h"

namespace qx4dump {
namespace {

int Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string ToHex(const uint8_t* bytes, size_t count, const char* separator) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i) text += separator;
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::optional<Bytes> FromHex(const std::string& text) {
    if (text.size() % 2) return std::nullopt;
    Bytes bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = Digit(text[i]), low = Digit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return bytes;
}

std::string UidText(const Uid& uid) {
    const Bytes reversed(uid.rbegin(), uid.rend());
    return ToHex(reversed);
}

std::optional<Uid> ParseUid(const std::string& text) {
    Uid uid;
    size_t at = 0;
    for (size_t i = 0; i < 8; ++i) {
        if (i > 0 && at < text.size() && (text[at] == ':' || text[at] == ' ')) ++at;
        if (at + 2 > text.size()) return std::nullopt;
        const int high = Digit(text[at]), low = Digit(text[at + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        uid[7 - i] = static_cast<uint8_t>(high << 4 | low);
        at += 2;
    }
    if (at != text.size()) return std::nullopt;
    return uid;
}

const char* TypeName(TagType type) {
    return type == TagType::Myd ? "my-d" : "iso15693";
}

std::vector<std::string> UnknownFacts(const TagDump& dump) {
    std::vector<std::string> names;
    if (!dump.dsfid) names.push_back("DSFID");
    if (!dump.afi) names.push_back("AFI");
    if (!dump.dsfidLocked) names.push_back("Lock DSFID");
    if (!dump.afiLocked) names.push_back("Lock AFI");
    return names;
}

bool ForgetFact(TagDump& dump, const std::string& name) {
    if (name == "DSFID")
        dump.dsfid.reset();
    else if (name == "AFI")
        dump.afi.reset();
    else if (name == "Lock DSFID")
        dump.dsfidLocked.reset();
    else if (name == "Lock AFI")
        dump.afiLocked.reset();
    else
        return false;
    return true;
}

void CheckGeometry(const TagDump& dump, const std::string& where) {
    const std::string tag = where + ": tag " + UidText(dump.uid);
    if (dump.blockSize < 1 || dump.blockSize > kLargestBlock)
        throw FormatError(tag + ": block size " + std::to_string(dump.blockSize) +
                          " is outside 1 to 32");
    if (dump.blocks.empty() || dump.blocks.size() > kMostBlocks)
        throw FormatError(tag + ": " + std::to_string(dump.blocks.size()) +
                          " blocks, where 1 to 256 are possible");
    for (size_t b = 0; b < dump.blocks.size(); ++b)
        if (dump.blocks[b].data.size() != dump.blockSize)
            throw FormatError(tag + ": block " + std::to_string(b) + " holds " +
                              std::to_string(dump.blocks[b].data.size()) + " bytes, not " +
                              std::to_string(dump.blockSize));
}

} // namespace qx4dump
