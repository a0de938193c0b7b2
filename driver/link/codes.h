// Reader NACK codes and the ISO 15693 error codes a NACK 5 passes on.
#pragma once

#include <cstdint>

namespace qx4 {

inline constexpr uint32_t kNackTagError = 0x05; // detail holds the ISO 15693 code
inline constexpr uint32_t kNackNoCode = 0x100;  // a NACK without data: no byte holds this

// UTF-8 texts; never null.
const char* NackText(uint32_t code);
const char* IsoErrorText(uint32_t isoCode);
// The text for a recorded (code, detail) pair: the ISO text for code 5.
const char* ErrorText(uint32_t code, uint32_t detail);

} // namespace qx4
