// The capability container of an NFC Forum Type 5 tag: the first 4 or 8 bytes of its
// memory, saying that it holds NDEF, which version, who may read and write, how large the
// NDEF area is and which optional commands the tag answers.
#pragma once

#include "ndef_error.h"

namespace qx4ndef {

// Access conditions, two bits each in byte 1.
enum class Access : uint8_t { Always = 0, Reserved = 1, Proprietary = 2, Never = 3 };

struct CapabilityContainer {
    size_t size = 4; // 4 (one-byte memory length) or 8 (two-byte memory length)
    uint8_t magic = 0xE1;
    uint8_t versionMajor = 1, versionMinor = 0;
    Access read = Access::Always, write = Access::Always;
    size_t memoryLength = 0; // the NDEF area it claims, in bytes (a multiple of 8)
    bool multipleBlockRead = false, lockBlock = false, specialFrame = false;
    uint8_t features = 0; // byte 3 as stored, bits nobody defined included

    bool Writable() const { return write == Access::Always; }
    bool Readable() const { return read == Access::Always; }
};

inline constexpr uint8_t kMultipleBlockRead = 0x01, kLockBlock = 0x08, kSpecialFrame = 0x10;
// Most bytes a four-byte container describes; larger memories take the eight-byte form.
inline constexpr size_t kLargestShortArea = 255 * 8;

// From the first bytes of memory (at least 4, or 8 for the long form) of a tag of
// `tagBytes` bytes. Throws NdefError when they are no container, name a version this code
// does not read, or claim more memory than the tag has.
CapabilityContainer ParseCapabilityContainer(ByteView memory, size_t tagBytes);
Bytes BuildCapabilityContainer(const CapabilityContainer& cc);
// The container a blank tag of `tagBytes` bytes is formatted with: version 1.0, free read
// and write, the whole memory after the container.
CapabilityContainer ContainerFor(size_t tagBytes, bool multipleBlockRead);
// Where the NDEF area ends: after the container's memory length, never past the tag.
// Some makers count the container in the memory length and some do not; both are read.
size_t AreaEnd(const CapabilityContainer& cc, size_t tagBytes);
const char* AccessName(Access access); // "always", "reserved", "proprietary", "never"

} // namespace qx4ndef
