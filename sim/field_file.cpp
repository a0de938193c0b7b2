#include "field_file.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace qx4sim {

using nlohmann::json;

std::string ToHex(const uint8_t* bytes, size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

Bytes FromHex(const std::string& text) {
    if (text.size() % 2) throw std::runtime_error("hex text \"" + text + "\" has an odd length");
    Bytes bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        const std::string pair = text.substr(i, 2);
        if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            throw std::runtime_error("\"" + text + "\" is not hexadecimal");
        bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
    }
    return bytes;
}

std::vector<Tag> ParseField(const std::string& text) {
    std::vector<Tag> tags;
    try {
        const json doc = json::parse(text);
        for (const json& entry : doc.at("tags")) {
            const std::string uidText = entry.at("uid").get<std::string>();
            const auto uid = ParseUidText(uidText);
            if (!uid) throw std::runtime_error("UID \"" + uidText + "\" is not 16 hex digits");
            const TagType type = entry.value("type", std::string("iso15693")) == "my-d"
                                     ? TagType::Myd
                                     : TagType::Iso15693;
            const unsigned blockSize = entry.value("blockSize", 4u);
            if (blockSize == 0 || blockSize > 32)
                throw std::runtime_error("block size " + std::to_string(blockSize) + " of tag " +
                                         uidText + " is outside 1 to 32");
            const json& blocks = entry.at("blocks");
            if (blocks.empty() || blocks.size() > 256)
                throw std::runtime_error("tag " + uidText + " needs 1 to 256 blocks");
            Tag tag = Tag::Make(*uid, type, blockSize, static_cast<unsigned>(blocks.size()));
            tag.dsfid = entry.value("dsfid", 0);
            tag.afi = entry.value("afi", 0);
            tag.icReference = entry.value("icReference", 0);
            tag.infoFlags = entry.value("infoFlags", 0x0F);
            tag.afiLocked = entry.value("afiLocked", false);
            tag.dsfidLocked = entry.value("dsfidLocked", false);
            for (size_t b = 0; b < blocks.size(); ++b) {
                const Bytes data = FromHex(blocks[b].at("data").get<std::string>());
                if (data.size() != blockSize)
                    throw std::runtime_error("block " + std::to_string(b) + " of tag " + uidText +
                                             " does not hold " + std::to_string(blockSize) +
                                             " bytes");
                std::copy(data.begin(), data.end(), tag.memory.begin() + long(b * blockSize));
                tag.locked[b] = blocks[b].value("locked", false);
            }
            tags.push_back(std::move(tag));
        }
    } catch (const json::exception& error) {
        throw std::runtime_error(std::string("the field file is not valid: ") + error.what());
    }
    return tags;
}

std::vector<Tag> LoadField(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::stringstream text;
    text << in.rdbuf();
    return ParseField(text.str());
}

std::string FieldToJson(const std::vector<Tag>& tags) {
    json doc;
    doc["tags"] = json::array();
    for (const Tag& tag : tags) {
        json blocks = json::array();
        for (size_t b = 0; b < tag.BlockCount(); ++b)
            blocks.push_back({{"data", ToHex(tag.memory.data() + b * tag.blockSize, tag.blockSize)},
                              {"locked", static_cast<bool>(tag.locked[b])}});
        doc["tags"].push_back({{"type", tag.type == TagType::Myd ? "my-d" : "iso15693"},
                               {"uid", tag.UidText()},
                               {"dsfid", tag.dsfid},
                               {"afi", tag.afi},
                               {"icReference", tag.icReference},
                               {"infoFlags", tag.infoFlags},
                               {"blockSize", tag.blockSize},
                               {"afiLocked", tag.afiLocked},
                               {"dsfidLocked", tag.dsfidLocked},
                               {"blocks", blocks}});
    }
    return doc.dump(2) + "\n";
}

void SaveField(const std::string& path, const std::vector<Tag>& tags) {
    std::ofstream out(path, std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << FieldToJson(tags);
}

} // namespace qx4sim
