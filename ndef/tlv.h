// The TLV blocks of a Type 5 tag's NDEF area: NULL, lock and memory control, NDEF,
// proprietary, terminator. Lengths take one byte, or FF and two bytes.
#pragma once

#include "ndef_error.h"

#include <optional>

namespace qx4ndef {

inline constexpr uint8_t kNullTlv = 0x00, kLockControlTlv = 0x01, kMemoryControlTlv = 0x02,
                         kNdefTlv = 0x03, kProprietaryTlv = 0xFD, kTerminatorTlv = 0xFE;
// Longest value a TLV carries (three-byte length).
inline constexpr size_t kLongestTlv = 0xFFFE;

struct NdefTlv {
    size_t start = 0;  // offset of its T byte
    size_t value = 0;  // offset of the message
    size_t length = 0; // bytes of the message
    size_t End() const { return value + length; }
};

struct TlvScan {
    enum class Status { Found, NeedMore, NoNdef } status = Status::NoNdef;
    NdefTlv ndef;        // Found: where it is
    size_t needed = 0;   // NeedMore: bytes from offset 0 that the scan needs to go on
    size_t freeFrom = 0; // NoNdef: where a new NDEF TLV goes (the terminator, or the end)
};

// Walks the TLVs of the area [start, end) in `memory`, which may hold only the first part
// of it (then NeedMore says how much more). Control and proprietary TLVs are passed over.
// Throws NdefError for a TLV that runs past the area.
TlvScan ScanTlvs(ByteView memory, size_t start, size_t end);

// An NDEF TLV holding `message`, with a terminator after it when `terminator`.
Bytes BuildNdefTlv(ByteView message, bool terminator);

} // namespace qx4ndef
