// Our own JSON dump (docs/dump-format.md):
// {"format": 2, "tags": [{"type": "iso15693" | "my-d", "uid": "E004010012345678",
//   "dsfid": 0, "dsfidLocked": false, "afi": 0, "afiLocked": false, "icReference": 1,
//   "infoFlags": 15, "blockSize": 4, "blockCount": 28,
//   "blocks": [{"data": "01020304", "locked": false}, ...]}]}
// Dumps without "format" (written before it existed) load the same way. null: not known
// (the AFI and DSFID of a tag without system information, locks that were not probed).
#pragma once

#include "tag_dump.h"

namespace qx4dump {

inline constexpr int kQx4FormatVersion = 2;

// Throws FormatError naming `where` (a file name), the key and what is wrong.
std::vector<TagDump> ParseQx4Json(const std::string& text, const std::string& where);
std::string WriteQx4Json(const std::vector<TagDump>& tags);

} // namespace qx4dump
