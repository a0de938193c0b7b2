#define _CRT_RAND_S // rand_s: the system's random source, no seed
#include "platform/process.h"

#include "platform/clock.h"

#include <cstdlib>
#include <windows.h>

namespace qx4::platform {

unsigned long ProcessId() {
    return ::GetCurrentProcessId();
}

uint8_t RandomByte() {
    unsigned int value = 0;
    if (::rand_s(&value) != 0) value = ::GetCurrentProcessId() ^ TickMs();
    return static_cast<uint8_t>(value);
}

} // namespace qx4::platform
