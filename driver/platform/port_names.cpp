#include "platform/port_names.h"

#include <array>
#include <cstdlib>
#include <string_view>

namespace qx4::platform {
namespace {

struct DeviceRange {
    int firstPort;
    const char* prefix;
};
constexpr std::array kDefaultRanges{
    DeviceRange{1, "/dev/ttyS"},
    DeviceRange{33, "/dev/ttyUSB"},
    DeviceRange{65, "/dev/ttyACM"},
};
constexpr int kPortsPerRange = 32;

} // namespace

std::string ResolvePortName(const std::string& comName) {
    std::string_view name = comName;
    if (!name.starts_with("COM")) return {};
    name.remove_prefix(3);
    if (name.ends_with(':')) name.remove_suffix(1);
    const std::string number(name);
    if (const char* path = std::getenv(("QX4_COM" + number).c_str()); path && *path) return path;
    char* end = nullptr;
    const long port = std::strtol(number.c_str(), &end, 10);
    if (number.empty() || *end != '\0') return {};
    for (const auto& range : kDefaultRanges)
        if (port >= range.firstPort && port < range.firstPort + kPortsPerRange)
            return range.prefix + std::to_string(port - range.firstPort);
    return {};
}

} // namespace qx4::platform
