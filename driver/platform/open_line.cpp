// Picks the transport by the name's scheme: tcp://, rfc2217:// or a device path.
#include "platform/port.h"
#include "platform/rfc2217_port.h"
#include "platform/serial_port.h"
#include "platform/tcp_socket.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace qx4::platform {

std::unique_ptr<Port> OpenLine(const std::string& name, OpenFailure& failure) {
    if (name.find("://") == std::string::npos) {
        const int fd = OpenSerialDevice(name, &failure.systemError);
        if (fd >= 0) return std::make_unique<SerialDevice>(fd);
        failure.reason = failure.systemError == EBUSY ? "in use by another program"
                                                      : std::strerror(failure.systemError);
        return nullptr;
    }
    const auto address = ParseNetworkAddress(name);
    if (!address) {
        failure.reason = "not tcp://HOST:PORT or rfc2217://HOST:PORT";
        failure.text = "Error: " + name + " is not tcp://HOST:PORT or rfc2217://HOST:PORT.";
        return nullptr;
    }
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    const int fd = ConnectTcp(*address, kConnectTimeoutMs, error, &failure.systemError);
    if (fd < 0) {
        failure.reason = "cannot connect: " + error;
        failure.text = "Error: cannot connect to " + name + ": " + error + ".";
        return nullptr;
    }
    if (address->scheme == "tcp") return std::make_unique<TcpPort>(fd);
    auto port = std::make_unique<Rfc2217Port>(fd);
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    if (!port->Negotiate(kConnectTimeoutMs - static_cast<int>(spent.count()), error)) {
        failure.reason = error;
        failure.text = "Error: " + name + ": " + error + ".";
        return nullptr;
    }
    return port;
}

} // namespace qx4::platform
