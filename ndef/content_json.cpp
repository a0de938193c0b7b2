#include "content_json.h"

#include "record_json.h"

#include <cstdio>

namespace qx4ndef {

nlohmann::json ContainerJson(const CapabilityContainer& cc) {
    char magic[4];
    std::snprintf(magic, sizeof magic, "%02X", cc.magic);
    return {{"size", cc.size},
            {"magic", magic},
            {"version", std::to_string(cc.versionMajor) + "." + std::to_string(cc.versionMinor)},
            {"read", AccessName(cc.read)},
            {"write", AccessName(cc.write)},
            {"memoryLength", cc.memoryLength},
            {"multipleBlockRead", cc.multipleBlockRead},
            {"lockBlock", cc.lockBlock},
            {"specialFrame", cc.specialFrame}};
}

nlohmann::json ContentJson(const NdefContent& content) {
    nlohmann::json out{{"capabilityContainer", ContainerJson(content.cc)},
                       {"ndef", content.tlv.has_value()}};
    if (content.tlv) {
        out["message"] = ToHex(content.message);
        out["records"] = MessageJson(content.records);
    }
    return out;
}

std::string ContainerLine(const CapabilityContainer& cc) {
    char magic[4];
    std::snprintf(magic, sizeof magic, "%02X", cc.magic);
    std::string line = std::string("CC ") + magic + " v" + std::to_string(cc.versionMajor) + "." +
                       std::to_string(cc.versionMinor) + ", read " + AccessName(cc.read) +
                       ", write " + AccessName(cc.write) + ", " + std::to_string(cc.memoryLength) +
                       " bytes";
    if (cc.multipleBlockRead) line += ", Read Multiple Blocks";
    if (cc.lockBlock) line += ", Lock Block";
    if (cc.specialFrame) line += ", special frame";
    return line;
}

} // namespace qx4ndef
