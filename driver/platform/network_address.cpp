#include "platform/tcp_socket.h"

namespace qx4::platform {

std::optional<NetworkAddress> ParseNetworkAddress(const std::string& name) {
    const size_t scheme = name.find("://");
    if (scheme == std::string::npos) return std::nullopt;
    NetworkAddress address{name.substr(0, scheme), {}, {}};
    if (address.scheme != "tcp" && address.scheme != "rfc2217") return std::nullopt;
    std::string rest = name.substr(scheme + 3);
    size_t colon;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return std::nullopt;
        address.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) return std::nullopt;
        address.host = rest.substr(0, colon);
        if (address.host.find(':') != std::string::npos) return std::nullopt; // IPv6 needs []
    }
    address.port = rest.substr(colon + 1);
    if (address.host.empty() || address.port.empty() || address.port.size() > 5 ||
        address.port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(address.port) == 0 || std::stoi(address.port) > 65535)
        return std::nullopt;
    return address;
}

} // namespace qx4::platform
