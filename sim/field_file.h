// Tag dumps as JSON: the simulated reader's field file and the command-line tool's dump format.
//
// {"tags": [{"type": "iso15693" | "my-d", "uid": "E004010012345678" (most significant
//   byte first), "dsfid": 0, "afi": 0, "icReference": 1, "infoFlags": 15,
//   "blockSize": 4, "afiLocked": false, "dsfidLocked": false,
//   "blocks": [{"data": "01020304", "locked": false}, ...]}]}
#pragma once

#include "tag.h"

#include <string>
#include <vector>

namespace qx4sim {

// Throws std::runtime_error with a sentence that names what is wrong.
std::vector<Tag> ParseField(const std::string& json);
std::vector<Tag> LoadField(const std::string& path);
std::string FieldToJson(const std::vector<Tag>& tags);
void SaveField(const std::string& path, const std::vector<Tag>& tags);

std::string ToHex(const uint8_t* bytes, size_t count);
Bytes FromHex(const std::string& text); // throws on odd length or a non-hex digit

} // namespace qx4sim
