#include "platform/process.h"

#include "platform/clock.h"

#include <sys/random.h>
#include <unistd.h>

namespace qx4::platform {

unsigned long ProcessId() {
    return static_cast<unsigned long>(::getpid());
}

uint8_t RandomByte() {
    uint8_t value = 0;
    if (::getrandom(&value, 1, GRND_NONBLOCK) != 1)
        value = static_cast<uint8_t>(::getpid() ^ TickMs());
    return value;
}

} // namespace qx4::platform
