#include "qx4_json.h"

#include "dump_text.h"

#include <limits>
#include <nlohmann/json.hpp>
#include <type_traits>

namespace qx4dump {
namespace {

using nlohmann::json;

// A value of the expected JSON type, or a FormatError naming its key and what is wrong.
template <typename T>
T Get(const json& object, const char* key, T otherwise, const std::string& at, long long low = 0,
      long long high = -1) {
    const auto it = object.find(key);
    if (it == object.end()) return otherwise;
    auto wrong = [&](const std::string& what) {
        return FormatError(at + ": \"" + key + "\" must be " + what + ", not " +
                           (it->is_string()   ? Quoted(it->get<std::string>())
                            : it->is_number() ? it->dump()
                                              : JsonTypeWords(*it)));
    };
    if constexpr (std::is_same_v<T, bool>) {
        if (!it->is_boolean()) throw wrong("true or false");
    } else if constexpr (std::is_integral_v<T>) {
        const long long most =
            high >= 0 ? high : static_cast<long long>(std::numeric_limits<T>::max());
        const std::string range =
            "a whole number from " + std::to_string(low) + " to " + std::to_string(most);
        if (!it->is_number_integer()) throw wrong(range);
        const long long value =
            it->is_number_unsigned() && it->get<unsigned long long>() > (1ULL << 62)
                ? most + 1
                : it->get<long long>();
        if (value < low || value > most) throw wrong(range);
        return static_cast<T>(value);
    } else {
        if (!it->is_string()) throw wrong("text in double quotes");
    }
    return it->get<T>();
}

// A value that may be null: nullopt, the fact not known. An absent key reads as `otherwise`.
template <typename T>
std::optional<T> GetKnown(const json& object, const char* key, T otherwise, const std::string& at) {
    const auto it = object.find(key);
    if (it != object.end() && it->is_null()) return std::nullopt;
    return Get<T>(object, key, otherwise, at);
}

TagDump ParseTag(const json& entry, const std::string& at) {
    if (!entry.is_object()) throw FormatError(at + " is not an object");
    TagDump tag;
    const std::string uidText = Get<std::string>(entry, "uid", "", at);
    const auto uid = ParseUid(uidText);
    if (!uid) throw FormatError(at + ": \"uid\" must be 16 hex digits, not " + Quoted(uidText));
    tag.uid = *uid;
    const std::string type = Get<std::string>(entry, "type", "iso15693", at);
    if (type != "iso15693" && type != "my-d")
        throw FormatError(at + ": \"type\" must be \"iso15693\" or \"my-d\", not " + Quoted(type));
    tag.type = type == "my-d" ? TagType::Myd : TagType::Iso15693;
    tag.dsfid = GetKnown<uint8_t>(entry, "dsfid", 0, at);
    tag.afi = GetKnown<uint8_t>(entry, "afi", 0, at);
    tag.dsfidLocked = GetKnown<bool>(entry, "dsfidLocked", false, at);
    tag.afiLocked = GetKnown<bool>(entry, "afiLocked", false, at);
    tag.icReference = Get<uint8_t>(entry, "icReference", 0, at);
    tag.infoFlags = Get<uint8_t>(entry, "infoFlags", 0x0F, at);
    // Older dumps wrote 0 for what the system information did not announce.
    if (!(tag.infoFlags & 0x01)) tag.dsfid.reset();
    if (!(tag.infoFlags & 0x02)) tag.afi.reset();
    tag.blockSize = Get<unsigned>(entry, "blockSize", 4, at, 1, kLargestBlock);
    if (const auto simulation = entry.find("simulation"); simulation != entry.end()) {
        tag.answersSystemInfo = Get<bool>(*simulation, "systemInfo", true, at + ".simulation");
        tag.answersMultiBlock = Get<bool>(*simulation, "multiBlock", true, at + ".simulation");
    }
    const auto blocks = entry.find("blocks");
    if (blocks == entry.end() || !blocks->is_array())
        throw FormatError(at + ": \"blocks\" is missing or not a list");
    for (size_t b = 0; b < blocks->size(); ++b) {
        const std::string blockAt = at + ".blocks[" + std::to_string(b) + "]";
        const json& block = (*blocks)[b];
        if (!block.is_object()) throw FormatError(blockAt + " is not an object");
        const std::string data = Get<std::string>(block, "data", "", blockAt);
        const auto bytes = FromHex(data);
        if (!bytes)
            throw FormatError(blockAt + ": \"data\" must be pairs of hex digits, not " +
                              Quoted(data));
        tag.blocks.push_back({*bytes, Get<bool>(block, "locked", false, blockAt)});
    }
    if (const auto count = entry.find("blockCount");
        count != entry.end() &&
        Get<unsigned>(entry, "blockCount", 0, at, 1, kMostBlocks) != tag.blocks.size())
        throw FormatError(at + ": \"blockCount\" says " + count->dump() + " but " +
                          std::to_string(tag.blocks.size()) + " blocks follow");
    CheckGeometry(tag, at);
    return tag;
}

template <typename T> json Known(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

} // namespace

std::vector<TagDump> ParseQx4Json(const std::string& text, const std::string& where) {
    const json doc = ParseStrictJson(text, where);
    if (!doc.is_object()) throw FormatError(where + ": not a JSON object");
    const int format = Get<int>(doc, "format", 1, where);
    if (format > kQx4FormatVersion)
        throw FormatError(where + ": dump format " + std::to_string(format) +
                          " is newer than this program reads (" +
                          std::to_string(kQx4FormatVersion) + ")");
    const auto tags = doc.find("tags");
    if (tags == doc.end() || !tags->is_array() || tags->empty())
        throw FormatError(where + ": \"tags\" is missing, empty or not a list");
    std::vector<TagDump> dumps;
    for (size_t i = 0; i < tags->size(); ++i)
        dumps.push_back(ParseTag((*tags)[i], where + ": tags[" + std::to_string(i) + "]"));
    return dumps;
}

std::string WriteQx4Json(const std::vector<TagDump>& tags) {
    json doc{{"format", kQx4FormatVersion}, {"tags", json::array()}};
    for (const TagDump& tag : tags) {
        json blocks = json::array();
        for (const Block& block : tag.blocks)
            blocks.push_back({{"data", ToHex(block.data)}, {"locked", block.locked}});
        json entry{{"type", TypeName(tag.type)},
                   {"uid", UidText(tag.uid)},
                   {"dsfid", Known(tag.dsfid)},
                   {"dsfidLocked", Known(tag.dsfidLocked)},
                   {"afi", Known(tag.afi)},
                   {"afiLocked", Known(tag.afiLocked)},
                   {"icReference", tag.icReference},
                   {"infoFlags", tag.infoFlags},
                   {"blockSize", tag.blockSize},
                   {"blockCount", tag.blocks.size()},
                   {"blocks", blocks}};
        if (!tag.answersSystemInfo || !tag.answersMultiBlock)
            entry["simulation"] = {{"systemInfo", tag.answersSystemInfo},
                                   {"multiBlock", tag.answersMultiBlock}};
        doc["tags"].push_back(entry);
    }
    return doc.dump(2) + "\n";
}

} // namespace qx4dump
