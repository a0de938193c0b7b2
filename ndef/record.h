// NDEF records and messages as bytes: the header flags (MB, ME, CF, SR, IL), the type
// name format, type, id and payload. Chunked records come out whole.
#pragma once

#include "ndef_error.h"

namespace qx4ndef {

enum class Tnf : uint8_t {
    Empty = 0,
    WellKnown = 1,
    Media = 2,
    AbsoluteUri = 3,
    External = 4,
    Unknown = 5,
    Unchanged = 6,
    Reserved = 7,
};

struct Record {
    Tnf tnf = Tnf::Empty;
    std::string type; // bytes as stored: "U", "text/plain", "example.com:kind"
    Bytes id;
    Bytes payload;
    bool operator==(const Record&) const = default;
};
using Message = std::vector<Record>;

// Smart posters nest messages; deeper nesting than this is refused.
inline constexpr int kDeepestNesting = 4;

// Throws NdefError for a message that is not well formed: a length past its end, flags
// out of place, a chunk that does not continue a chunked record, bytes after the last
// record. An empty view is a message without records.
Message ParseMessage(ByteView bytes);
// MB, ME, SR and IL are set from the records; throws NdefError for what no record holds
// (a type or id over 255 bytes, an empty record with content, a chunk's TNF).
Bytes BuildMessage(const Message& records);

const char* TnfName(Tnf tnf); // "empty", "well-known", "media", "absolute-uri", ...

} // namespace qx4ndef
