#include "open_cause.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace qx4cli {

std::string DevicePathOf(int port) {
    if (const char* named = std::getenv(("QX4_COM" + std::to_string(port)).c_str())) return named;
    if (port >= 1 && port <= 32) return "/dev/ttyS" + std::to_string(port - 1);
    if (port >= 33 && port <= 64) return "/dev/ttyUSB" + std::to_string(port - 33);
    if (port >= 65 && port <= 96) return "/dev/ttyACM" + std::to_string(port - 65);
    return {};
}

std::string OpenCause(const std::string& path) {
    if (path.empty()) return "no device for this COM number (set --device)";
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        std::string cause = std::strerror(error);
        if (error == EACCES || error == EPERM)
            cause += " (is your user in the dialout group? sudo adduser $USER dialout, then "
                     "log in again)";
        if (error == EBUSY) cause += " (another program holds the port)";
        if (error == ENOENT || error == ENODEV || error == ENXIO)
            cause += " (is the reader plugged in?)";
        return cause;
    }
    std::string cause;
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0)
        cause = "not a serial port (" + std::string(std::strerror(errno)) + ")";
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        cause = std::string(std::strerror(errno == EWOULDBLOCK ? EBUSY : errno)) +
                " (another program holds the port)";
    ::close(fd);
    return cause;
}

} // namespace qx4cli
