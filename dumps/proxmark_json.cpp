#include "proxmark_json.h"

#include "dump_text.h"

#include <nlohmann/json.hpp>

namespace qx4dump {
namespace {

using nlohmann::ordered_json;

// A hex-string field of `object` as bytes, with exactly `size` bytes when size > 0.
Bytes HexField(const ordered_json& object, const char* key, size_t size, const std::string& at) {
    const auto it = object.find(key);
    if (it == object.end()) throw FormatError(at + ": \"" + key + "\" is missing");
    if (!it->is_string())
        throw FormatError(at + ": \"" + key + "\" must be hex digits in double quotes, not " +
                          JsonTypeWords(*it));
    const auto bytes = FromHex(it->get<std::string>());
    if (!bytes)
        throw FormatError(at + ": \"" + key + "\" must be pairs of hex digits, not " +
                          Quoted(it->get<std::string>()));
    if (size && bytes->size() != size)
        throw FormatError(at + ": \"" + key + "\" holds " + std::to_string(bytes->size()) +
                          " bytes, not " + std::to_string(size));
    return *bytes;
}

std::string Byte(unsigned value) {
    const uint8_t byte = static_cast<uint8_t>(value);
    return ToHex(&byte, 1);
}

} // namespace

bool LooksLikeProxmark(const std::string& text) {
    return text.find("\"FileType\"") != std::string::npos; // the parser says which type
}

TagDump ParseProxmarkJson(const std::string& text, const std::string& where) {
    const ordered_json doc = ParseStrictOrderedJson(text, where);
    if (!doc.is_object() || !doc.contains("FileType") || !doc["FileType"].is_string())
        throw FormatError(where + ": no \"FileType\"");
    const std::string type = doc["FileType"].get<std::string>();
    if (type != "15693 v4" && type != "15693 v5")
        throw FormatError(where + ": \"FileType\" " + Quoted(type) +
                          " is not a Proxmark3 ISO 15693 dump (15693 v4 or v5)");
    const std::string at = where + ": Card";
    if (!doc.contains("Card") || !doc["Card"].is_object())
        throw FormatError(at + " is missing or not an object");
    const ordered_json& card = doc["Card"];
    TagDump tag;
    const Bytes uid = HexField(card, "uid", 8, at);
    std::copy(uid.begin(), uid.end(), tag.uid.begin()); // least significant first, as ours
    tag.type = TypeOfUid(tag.uid);
    tag.dsfid = HexField(card, "dsfid", 1, at)[0];
    tag.dsfidLocked = HexField(card, "dsfidlock", 1, at)[0] != 0;
    tag.afi = HexField(card, "afi", 1, at)[0];
    tag.afiLocked = HexField(card, "afilock", 1, at)[0] != 0;
    tag.blockSize = HexField(card, "bytesperpage", 1, at)[0];
    const Bytes pages = HexField(card, "pagescount", type == "15693 v5" ? 2 : 1, at);
    const size_t count = pages.size() == 2 ? size_t(pages[0] | pages[1] << 8) : pages[0];
    if (card.contains("ic")) tag.icReference = HexField(card, "ic", 1, at)[0];
    const Bytes locks = HexField(card, "locks", 0, at);
    if (locks.size() < count)
        throw FormatError(at + ": \"locks\" holds " + std::to_string(locks.size()) + " bytes for " +
                          std::to_string(count) + " blocks");
    tag.infoFlags = 0x0F;
    if (!doc.contains("blocks") || !doc["blocks"].is_object())
        throw FormatError(where + ": \"blocks\" is missing or not an object");
    const ordered_json& blocks = doc["blocks"];
    if (count == 0 || count > kMostBlocks)
        throw FormatError(at + ": \"pagescount\" " + std::to_string(count) +
                          " is outside 1 to 256");
    if (blocks.size() != count)
        throw FormatError(where + ": \"blocks\" holds " + std::to_string(blocks.size()) +
                          " blocks where \"pagescount\" says " + std::to_string(count));
    for (size_t b = 0; b < count; ++b) {
        const std::string key = std::to_string(b);
        if (!blocks.contains(key)) throw FormatError(where + ": block \"" + key + "\" is missing");
        tag.blocks.push_back({HexField(blocks, key.c_str(), 0, where + ": blocks"), locks[b] != 0});
    }
    // What qx4 wrote as a default because it was not known (the client ignores the key).
    if (const auto unknown = doc.find("qx4Unknown"); unknown != doc.end()) {
        if (!unknown->is_array())
            throw FormatError(where + ": \"qx4Unknown\" must be a list of names");
        for (const auto& name : *unknown)
            if (!name.is_string() || !ForgetFact(tag, name.get<std::string>()))
                throw FormatError(
                    where + ": \"qx4Unknown\" holds " +
                    (name.is_string() ? Quoted(name.get<std::string>()) : JsonTypeWords(name)) +
                    ", not DSFID, AFI, Lock DSFID or Lock AFI");
    }
    CheckGeometry(tag, where);
    return tag;
}

std::string WriteProxmarkJson(const TagDump& tag) {
    const size_t count = tag.blocks.size();
    const bool wide = count > 255; // v4 counts in one byte
    Bytes locks;
    for (const Block& block : tag.blocks)
        locks.push_back(block.locked ? 1 : 0);
    const Bytes uid(tag.uid.begin(), tag.uid.end());
    ordered_json card{
        {"uid", ToHex(uid)},
        // What was not read is written as that file's default.
        {"dsfid", Byte(tag.dsfid.value_or(0))},
        {"dsfidlock", Byte(tag.dsfidLocked.value_or(false))},
        {"afi", Byte(tag.afi.value_or(0))},
        {"afilock", Byte(tag.afiLocked.value_or(false))},
        {"bytesperpage", Byte(tag.blockSize)},
        {"pagescount", wide ? Byte(count & 0xFF) + Byte(count >> 8) : Byte(count)},
        {"ic", Byte(tag.icReference)},
        {"locks", ToHex(locks)},
        {"random", "0000"},
        {"privacypasswd", "00000000"},
        {"state", "00"},
    };
    ordered_json blocks = ordered_json::object();
    for (size_t b = 0; b < count; ++b)
        blocks[std::to_string(b)] = ToHex(tag.blocks[b].data);
    ordered_json doc{{"Created", std::string("qx4 ") + QX4_VERSION},
                     {"FileType", wide ? "15693 v5" : "15693 v4"},
                     {"Card", card},
                     {"blocks", blocks}};
    if (const auto unknown = UnknownFacts(tag); !unknown.empty()) doc["qx4Unknown"] = unknown;
    return doc.dump(2) + "\n";
}

} // namespace qx4dump
