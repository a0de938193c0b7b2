// Records as JSON and as lines of text, the way qx4, the gateway and Python show them,
// and records from JSON, the way callers ask for them.
#pragma once

#include "record.h"

#include <nlohmann/json.hpp>

namespace qx4ndef {

// {"tnf": 1, "tnfName": "well-known", "type": "U", "id": "", "payload": hex, "kind": "uri",
//  "uri": ...}; text: "text", "language", "encoding"; smart poster: "records"; media and
// external: "data" as text when it is printable UTF-8. A payload its type cannot carry
// keeps its bytes and gets "error".
nlohmann::json RecordJson(const Record& record, int depth = 0);
nlohmann::json MessageJson(const Message& message, int depth = 0);
// One line a record: "URI https://example.com", "Text [en] hello", ...
std::string RecordLine(const Record& record, int depth = 0);

// One record from {"uri": ...}, {"text": ..., "language": ..., "encoding": "UTF-16"},
// {"mime": TYPE, "data": hex}, {"external": TYPE, "data": hex}, {"absoluteUri": URI},
// {"smartPoster": [records]}, {"empty": true}, or {"tnf": N, "type": T, "payload": hex} (a
// record as RecordJson shows it comes back byte for byte), any with "id" (hex). Throws
// NdefError naming what is wrong.
Record RecordFromJson(const nlohmann::json& entry, int depth = 0);
Message MessageFromJson(const nlohmann::json& described, int depth = 0);

std::string ToHex(ByteView bytes);
Bytes FromHex(const std::string& text, const char* what); // throws NdefError

} // namespace qx4ndef
