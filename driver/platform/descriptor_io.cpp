#include "platform/descriptor_io.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qx4::platform {

size_t WriteWithin(int fd, const uint8_t* bytes, size_t count, bool socket) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(100 + 10 * count);
    size_t written = 0;
    while (written < count) {
        const ssize_t n = socket ? ::send(fd, bytes + written, count - written, MSG_NOSIGNAL)
                                 : ::write(fd, bytes + written, count - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd out{fd, POLLOUT, 0};
        if (::poll(&out, 1, static_cast<int>(left.count())) <= 0) break;
    }
    return written;
}

ssize_t ReadQueued(int fd, uint8_t* buffer, size_t capacity) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, capacity);
        if (n > 0) return n;
        if (n == 0) return -1; // non-blocking: 0 is the end of the line, not an empty queue
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        return -1;
    }
}

PortEvent WaitReadable(int fd, int wakeFd) {
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {fd, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return PortEvent::Failed;
        if (fds[0].revents) return PortEvent::Woken;
        if (fds[1].revents & POLLIN) return PortEvent::Received;
        if (fds[1].revents & POLLHUP) return PortEvent::HungUp;
        return PortEvent::Failed;
    }
}

bool AwaitReadable(int fd, int timeoutMs) {
    pollfd in{fd, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&in, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0;
    }
}

} // namespace qx4::platform
