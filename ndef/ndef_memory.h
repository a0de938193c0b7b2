// NDEF in a Type 5 tag's memory: the capability container, then the NDEF TLV among the
// others, then its message. Works on the whole memory (a dump) or on its first part,
// saying how much more it needs, so that a tag is read no further than its NDEF ends.
#pragma once

#include "capability_container.h"
#include "record.h"
#include "tlv.h"

#include <optional>

namespace qx4ndef {

struct NdefContent {
    CapabilityContainer cc;
    size_t areaEnd = 0;
    std::optional<NdefTlv> tlv; // absent: formatted, without an NDEF TLV
    Bytes message;              // the TLV's value
    Message records;
};

// Bytes from offset 0 that must be at hand before the NDEF can be taken from `prefix`
// (the first bytes of a tag of `tagBytes` bytes): `prefix.size()` or less when they are
// there. wholeMessage false: only up to the NDEF TLV's header (for a write). Throws
// NdefError for memory that holds no NDEF or is malformed.
size_t BytesNeeded(ByteView prefix, size_t tagBytes, bool wholeMessage = true);
// The first read: the four-byte container and an NDEF TLV's type and length after it.
inline constexpr size_t kFirstRead = 6;

// The NDEF of a memory that BytesNeeded has no more to ask of. Throws NdefError.
NdefContent ReadNdef(ByteView memory, size_t tagBytes);

struct Placement {
    size_t offset = 0; // where the bytes go
    Bytes bytes;       // the NDEF TLV and, with room for it, a terminator
};
// What makes `message` the tag's NDEF message: it replaces the NDEF TLV in place, or goes
// where the TLVs end. Throws NdefTooLong when it does not fit in the NDEF area.
Placement PlaceMessage(ByteView prefix, size_t tagBytes, ByteView message);

} // namespace qx4ndef
