// A tag's NDEF as JSON: its capability container, the TLV and the records.
#pragma once

#include "ndef_memory.h"

#include <nlohmann/json.hpp>

namespace qx4ndef {

nlohmann::json ContainerJson(const CapabilityContainer& cc);
// {"capabilityContainer": {...}, "ndef": true|false, "message": hex, "records": [...]}
nlohmann::json ContentJson(const NdefContent& content);
// "CC E1 v1.0, read always, write always, 112 bytes, Read Multiple Blocks"
std::string ContainerLine(const CapabilityContainer& cc);

} // namespace qx4ndef
