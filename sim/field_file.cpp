#include "field_file.h"

#include "dump_files.h"
#include "tag_behaviour.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace qx4sim {
namespace {

// Our own JSON may give each tag a "simulation" object; other formats have none.
void ReadBehaviours(const std::string& text, std::vector<Tag>& tags) {
    const auto json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded() || !json.is_object() || !json.contains("tags") ||
        !json["tags"].is_array())
        return;
    const auto& entries = json["tags"];
    for (size_t i = 0; i < entries.size() && i < tags.size(); ++i) {
        const auto simulation = entries[i].find("simulation");
        if (simulation == entries[i].end() || !simulation->is_object()) continue;
        for (const auto& [key, value] : simulation->items()) {
            if (key == "systemInfo" || key == "multiBlock") continue; // the dump's own
            const std::string text = value.is_string() ? value.get<std::string>() : value.dump();
            const std::string wrong = SetBehaviour(tags[i].behaviour, key, text);
            if (!wrong.empty())
                throw qx4dump::FormatError("tag " + std::to_string(i + 1) + ": " + wrong);
        }
    }
}

} // namespace

std::vector<Tag> TagsFromDumps(const std::vector<qx4dump::TagDump>& dumps) {
    std::vector<Tag> tags;
    for (const qx4dump::TagDump& dump : dumps) {
        Tag tag = Tag::Make(dump.uid,
                            dump.type == qx4dump::TagType::Myd ? TagType::Myd : TagType::Iso15693,
                            dump.blockSize, static_cast<unsigned>(dump.blocks.size()));
        tag.dsfid = dump.dsfid.value_or(0);
        tag.afi = dump.afi.value_or(0);
        tag.dsfidLocked = dump.dsfidLocked.value_or(false);
        tag.afiLocked = dump.afiLocked.value_or(false);
        tag.icReference = dump.icReference;
        tag.infoFlags = dump.infoFlags;
        tag.answersSystemInfo = dump.answersSystemInfo;
        tag.answersMultiBlock = dump.answersMultiBlock;
        for (size_t b = 0; b < dump.blocks.size(); ++b) {
            std::copy(dump.blocks[b].data.begin(), dump.blocks[b].data.end(),
                      tag.memory.begin() + static_cast<long>(b * dump.blockSize));
            tag.locked[b] = dump.blocks[b].locked;
        }
        tags.push_back(std::move(tag));
    }
    return tags;
}

std::vector<qx4dump::TagDump> DumpsFromTags(const std::vector<Tag>& tags) {
    std::vector<qx4dump::TagDump> dumps;
    for (const Tag& tag : tags) {
        qx4dump::TagDump dump;
        dump.uid = tag.uid;
        dump.type = tag.type == TagType::Myd ? qx4dump::TagType::Myd : qx4dump::TagType::Iso15693;
        dump.dsfid = tag.dsfid;
        dump.afi = tag.afi;
        dump.dsfidLocked = tag.dsfidLocked;
        dump.afiLocked = tag.afiLocked;
        dump.icReference = tag.icReference;
        dump.infoFlags = tag.infoFlags;
        dump.blockSize = tag.blockSize;
        dump.answersSystemInfo = tag.answersSystemInfo;
        dump.answersMultiBlock = tag.answersMultiBlock;
        for (size_t b = 0; b < tag.BlockCount(); ++b) {
            const auto at = tag.memory.begin() + static_cast<long>(b * tag.blockSize);
            dump.blocks.push_back({qx4dump::Bytes(at, at + tag.blockSize), tag.locked[b]});
        }
        dumps.push_back(std::move(dump));
    }
    return dumps;
}

std::vector<Tag> ParseField(const std::string& text) {
    std::vector<Tag> tags = TagsFromDumps(qx4dump::ParseDump(text, "the field file"));
    ReadBehaviours(text, tags);
    return tags;
}

std::vector<Tag> LoadField(const std::string& path) {
    std::vector<Tag> tags = TagsFromDumps(qx4dump::LoadDump(path));
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    ReadBehaviours(text.str(), tags);
    return tags;
}

std::string FieldToJson(const std::vector<Tag>& tags) {
    return qx4dump::WriteDump(DumpsFromTags(tags), qx4dump::Format::Qx4);
}

void SaveField(const std::string& path, const std::vector<Tag>& tags) {
    qx4dump::SaveDump(path, DumpsFromTags(tags), qx4dump::Format::Qx4);
}

} // namespace qx4sim
