// What the NDEF code shares: bytes, views of bytes, and the one error it throws.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace qx4ndef {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// Memory or a message that cannot be taken as NDEF, with what is wrong and where.
struct NdefError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// A message larger than the room the tag has for it.
struct NdefTooLong : NdefError {
    using NdefError::NdefError;
};

} // namespace qx4ndef
