// Facts about the calling process.
#pragma once

#include <cstdint>

namespace qx4::platform {

// Tells a child forked after an open from its parent (always the same where there is
// no fork).
unsigned long ProcessId();
// A byte no other process or earlier open is likely to pick.
uint8_t RandomByte();

} // namespace qx4::platform
