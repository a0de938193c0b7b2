#include "platform/serial_port.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qx4::platform {

int OpenSerialDevice(const std::string& path) {
    if (path.empty()) return -1;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    // Without sharing: a second opener is refused, as a COM port would refuse it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    ::ioctl(fd, TIOCEXCL); // not every device supports it; flock already guards us
    return fd;
}

void CloseSerialDevice(int fd) {
    if (fd < 0) return;
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

void DiscardQueuedInput(int fd) {
    ::tcflush(fd, TCIFLUSH);
}

bool SetImmediateReads(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool ReadLineSettings(int fd, termios& settings) {
    return ::tcgetattr(fd, &settings) == 0;
}

bool WriteLineSettings(int fd, termios settings, uint32_t baud) {
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    const speed_t speed = baud == 9600 ? B9600 : B19200;
    if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0) return false;
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) return false;
    int rts = TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &rts); // a pseudo-terminal has no modem lines
    return true;
}

size_t WriteSerial(int fd, const uint8_t* bytes, size_t count) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(100 + 10 * count);
    size_t written = 0;
    while (written < count) {
        const ssize_t n = ::write(fd, bytes + written, count - written);
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

ssize_t ReadSerial(int fd, uint8_t* buffer, size_t capacity) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, capacity);
        if (n > 0) return n;
        if (n == 0) return -1; // non-blocking: 0 is the end of the line, not an empty queue
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        return -1;
    }
}

PortEvent WaitPortEvent(int fd, int wakeFd) {
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

} // namespace qx4::platform
