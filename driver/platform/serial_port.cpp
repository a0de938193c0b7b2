#include "platform/serial_port.h"

#include "platform/descriptor_io.h"
#include "platform/wake_signal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qx4::platform {

int OpenSerialDevice(const std::string& path, int* error) {
    int ignored;
    int& reason = error ? *error : ignored;
    reason = ENOENT;
    if (path.empty()) return -1;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        reason = errno;
        return -1;
    }
    // Without sharing: a second opener is refused, as a COM port would refuse it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        reason = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return -1;
    }
    reason = 0;
    ::ioctl(fd, TIOCEXCL);   // not every device supports it; flock already guards us
    ::tcflush(fd, TCIFLUSH); // what the device held from before is stale
    return fd;
}

void CloseSerialDevice(int fd) {
    if (fd < 0) return;
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

bool SerialDevice::SetImmediateReads() {
    const int flags = ::fcntl(fd_, F_GETFL);
    return flags >= 0 && ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool SerialDevice::ReadLineSettings() {
    return ::tcgetattr(fd_, &settings_) == 0;
}

bool SerialDevice::WriteLineSettings(uint32_t baud) {
    termios settings = settings_;
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    const speed_t speed = baud == 9600 ? B9600 : B19200;
    if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0) return false;
    if (::tcsetattr(fd_, TCSANOW, &settings) != 0) return false;
    int rts = TIOCM_RTS;
    ::ioctl(fd_, TIOCMBIC, &rts); // a pseudo-terminal has no modem lines
    return true;
}

size_t SerialDevice::Write(const uint8_t* bytes, size_t count) {
    return WriteWithin(fd_, bytes, count);
}

ssize_t SerialDevice::Read(uint8_t* buffer, size_t capacity) {
    return ReadQueued(fd_, buffer, capacity);
}

PortEvent SerialDevice::Wait(WakeSignal& wake) {
    return WaitReadable(fd_, static_cast<int>(wake.Native()));
}

std::unique_ptr<Port> OpenSerialPort(const std::string& path, OpenFailure& failure) {
    const int fd = OpenSerialDevice(path, &failure.systemError);
    if (fd >= 0) return std::make_unique<SerialDevice>(fd);
    failure.reason = failure.systemError == EBUSY ? "in use by another program"
                                                  : std::strerror(failure.systemError);
    return nullptr;
}

} // namespace qx4::platform
