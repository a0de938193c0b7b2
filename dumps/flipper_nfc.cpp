#include "flipper_nfc.h"

#include "dump_text.h"

#include <map>
#include <sstream>

namespace qx4dump {
namespace {

struct Value {
    std::string text;
    int line;
};

// "AA BB CC" as bytes; nullopt for anything else.
std::optional<Bytes> SpacedHex(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    // Pairs only: every blank must stand between two bytes.
    std::istringstream words(text);
    for (std::string word; words >> word;)
        if (word.size() != 2) return std::nullopt;
    return FromHex(digits);
}

// A comment the Flipper ignores, naming what qx4 wrote as a default because it was not
// known: "# qx4 unknown: AFI, Lock AFI".
constexpr std::string_view kUnknownComment = "# qx4 unknown: ";

} // namespace

bool LooksLikeFlipper(const std::string& text) {
    return text.find("Filetype: Flipper NFC device") != std::string::npos;
}

TagDump ParseFlipperNfc(const std::string& text, const std::string& where) {
    std::map<std::string, Value> values;
    std::istringstream lines(text);
    int number = 0;
    std::vector<std::string> unknown;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with(kUnknownComment)) {
            std::istringstream names(line.substr(kUnknownComment.size()));
            for (std::string name; std::getline(names, name, ',');) {
                name.erase(0, name.find_first_not_of(' '));
                unknown.push_back(name);
            }
        }
        if (line.empty() || line[0] == '#') continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            throw FormatError(where + ": line " + std::to_string(number) + ": no \"Key: value\"");
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        const std::string key = line.substr(0, colon);
        if (const auto seen = values.find(key); seen != values.end())
            throw FormatError(where + ": line " + std::to_string(number) + ": " + Quoted(key) +
                              " appears again (first on line " + std::to_string(seen->second.line) +
                              ")");
        values[key] = {value, number};
    }
    auto get = [&](const char* key) -> const Value& {
        const auto it = values.find(key);
        if (it == values.end()) throw FormatError(where + ": \"" + key + "\" is missing");
        return it->second;
    };
    auto fail = [&](const char* key, const std::string& what) -> FormatError {
        return FormatError(where + ": line " + std::to_string(values[key].line) + ": \"" + key +
                           "\" " + what);
    };
    auto bytes = [&](const char* key, size_t size) {
        const auto parsed = SpacedHex(get(key).text);
        if (!parsed)
            throw fail(key, "must be hex bytes separated by blanks, not " + Quoted(get(key).text));
        if (size && parsed->size() != size)
            throw fail(key, "holds " + std::to_string(parsed->size()) + " bytes, not " +
                                std::to_string(size));
        return *parsed;
    };
    auto flag = [&](const char* key) {
        const std::string& value = get(key).text;
        if (value != "true" && value != "false")
            throw fail(key, "must be true or false, not " + Quoted(value));
        return value == "true";
    };
    if (get("Filetype").text != "Flipper NFC device")
        throw fail("Filetype", "must be Flipper NFC device, not " + Quoted(get("Filetype").text));
    const std::string device = get("Device type").text;
    if (device != "ISO15693-3" && device != "SLIX")
        throw fail("Device type", Quoted(device) + " is not an ISO 15693 tag (ISO15693-3 or SLIX)");
    const std::string version = get("Version").text;
    if (version != "4") throw fail("Version", "must be 4, not " + Quoted(version));

    TagDump tag;
    const Bytes uid = bytes("UID", 8);
    std::copy(uid.rbegin(), uid.rend(), tag.uid.begin()); // the file: most significant first
    tag.type = TypeOfUid(tag.uid);
    tag.dsfid = bytes("DSFID", 1)[0];
    tag.afi = bytes("AFI", 1)[0];
    tag.icReference = bytes("IC Reference", 1)[0];
    tag.dsfidLocked = flag("Lock DSFID");
    tag.afiLocked = flag("Lock AFI");
    const std::string countText = get("Block Count").text;
    if (countText.empty() || countText.size() > 3 ||
        countText.find_first_not_of("0123456789") != std::string::npos)
        throw fail("Block Count", "must be a decimal number, not " + Quoted(countText));
    const size_t count = std::stoul(countText);
    tag.blockSize = bytes("Block Size", 1)[0];
    if (count < 1 || count > kMostBlocks) throw fail("Block Count", "is outside 1 to 256");
    if (tag.blockSize < 1 || tag.blockSize > kLargestBlock)
        throw fail("Block Size", "is outside 01 to 20 (hex)");
    const Bytes data = bytes("Data Content", 0);
    if (data.size() != count * tag.blockSize)
        throw fail("Data Content", "holds " + std::to_string(data.size()) + " bytes where " +
                                       std::to_string(count) + " blocks of " +
                                       std::to_string(tag.blockSize) + " take " +
                                       std::to_string(count * tag.blockSize));
    const Bytes security = bytes("Security Status", 0);
    if (security.size() != count)
        throw fail("Security Status", "holds " + std::to_string(security.size()) + " bytes for " +
                                          std::to_string(count) + " blocks");
    for (size_t b = 0; b < count; ++b)
        tag.blocks.push_back({Bytes(data.begin() + long(b * tag.blockSize),
                                    data.begin() + long((b + 1) * tag.blockSize)),
                              (security[b] & 0x01) != 0});
    for (const std::string& name : unknown)
        if (!ForgetFact(tag, name))
            throw FormatError(where + ": " + Quoted(name) + " in \"" +
                              std::string(kUnknownComment.substr(2, 11)) +
                              "\" is not DSFID, AFI, Lock DSFID or Lock AFI");
    CheckGeometry(tag, where);
    return tag;
}

std::string WriteFlipperNfc(const TagDump& tag) {
    Bytes data, security;
    for (const Block& block : tag.blocks) {
        data.insert(data.end(), block.data.begin(), block.data.end());
        security.push_back(block.locked ? 0x01 : 0x00);
    }
    const Bytes uid(tag.uid.rbegin(), tag.uid.rend());
    auto byte = [](unsigned value) {
        const uint8_t b = static_cast<uint8_t>(value);
        return ToHex(&b, 1);
    };
    std::ostringstream out;
    out << "Filetype: Flipper NFC device\n"
        << "Version: 4\n"
        << "# Device type can be ISO14443-3A, ISO14443-3B, ISO14443-4A, ISO14443-4B, ISO15693-3, "
           "FeliCa, NTAG/Ultralight, Mifare Classic, Mifare DESFire, SLIX, ST25TB\n"
        << "Device type: ISO15693-3\n"
        << "# UID is common for all formats\n"
        << "UID: " << ToHex(uid, " ") << "\n"
        << "# ISO15693-3 specific data\n";
    if (const auto unknown = UnknownFacts(tag); !unknown.empty()) {
        std::string names;
        for (const std::string& name : unknown)
            names += (names.empty() ? "" : ", ") + name;
        out << "# Not known when dumped, written as 00 / false below:\n"
            << kUnknownComment << names << "\n";
    }
    out << "# Data Storage Format Identifier\n"
        << "DSFID: " << byte(tag.dsfid.value_or(0)) << "\n"
        << "# Application Family Identifier\n"
        << "AFI: " << byte(tag.afi.value_or(0)) << "\n"
        << "# IC Reference - Vendor specific meaning\n"
        << "IC Reference: " << byte(tag.icReference) << "\n"
        << "# Lock Bits\n"
        << "Lock DSFID: " << (tag.dsfidLocked.value_or(false) ? "true" : "false") << "\n"
        << "Lock AFI: " << (tag.afiLocked.value_or(false) ? "true" : "false") << "\n"
        << "# Number of memory blocks, valid range = 1..256\n"
        << "Block Count: " << tag.blocks.size() << "\n"
        << "# Size of a single memory block, valid range = 01...20 (hex)\n"
        << "Block Size: " << byte(tag.blockSize) << "\n"
        << "Data Content: " << ToHex(data, " ") << "\n"
        << "# Block Security Status: 01 = locked, 00 = not locked\n"
        << "Security Status: " << ToHex(security, " ") << "\n";
    return out.str();
}

} // namespace qx4dump
