// Millisecond tick and sleep.
#pragma once

#include <cstdint>

namespace qx4::platform {

uint32_t TickMs(); // wraps modulo 2^32
void SleepMs(unsigned milliseconds);

} // namespace qx4::platform
