#include "open_cause.h"

#include "qx4drv.h"

#include <cerrno>
#include <cstdlib>

namespace qx4cli {

std::string DevicePathOf(int port) {
    if (const char* named = std::getenv(("QX4_COM" + std::to_string(port)).c_str())) return named;
    if (port >= 1 && port <= 32) return "/dev/ttyS" + std::to_string(port - 1);
    if (port >= 33 && port <= 64) return "/dev/ttyUSB" + std::to_string(port - 33);
    if (port >= 65 && port <= 96) return "/dev/ttyACM" + std::to_string(port - 65);
    return {};
}

std::string OpenCause(int& code) {
    char reason[256] = "";
    code = QX4GetOpenError(reason, sizeof reason);
    std::string cause = *reason ? reason : "it does not answer as a serial port";
    if (code == EACCES || code == EPERM)
        cause += " (is your user in the dialout group? sudo adduser $USER dialout, then log in "
                 "again)";
    else if (code == ENOTTY)
        cause = "not a serial port (its line settings cannot be read)";
    else if (code == EBUSY)
        cause += " (another program holds the port)";
    else if (code == ENOENT || code == ENODEV || code == ENXIO)
        cause += " (is the reader plugged in?)";
    return cause;
}

} // namespace qx4cli
