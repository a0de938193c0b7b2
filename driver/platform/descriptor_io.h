// Non-blocking reads, bounded writes and the wait of the receive thread, on any descriptor.
#pragma once

#include "platform/port.h"

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace qx4::platform {

// Writes everything, waiting for room up to 10 ms per byte plus 100 ms; bytes written.
// A socket is written without SIGPIPE when its peer has gone.
size_t WriteWithin(int fd, const uint8_t* bytes, size_t count, bool socket = false);
// What is queued, up to capacity: >0 bytes, 0 nothing queued, -1 failure or end of file.
ssize_t ReadQueued(int fd, uint8_t* buffer, size_t capacity);
// Blocks until bytes are queued on fd or wakeFd becomes readable.
PortEvent WaitReadable(int fd, int wakeFd);
// Waits up to timeoutMs for fd to become readable (or hang up); false on time-out.
bool AwaitReadable(int fd, int timeoutMs);

} // namespace qx4::platform
