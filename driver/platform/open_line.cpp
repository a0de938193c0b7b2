// Picks the transport by the name's scheme: tcp://, rfc2217:// or a device path.
#include "platform/port.h"
#include "platform/rfc2217_port.h"
#include "platform/tcp_socket.h"

#include <chrono>

namespace qx4::platform {

std::unique_ptr<Port> OpenLine(const std::string& name, OpenFailure& failure) {
    if (name.find("://") == std::string::npos) return OpenSerialPort(name, failure);
    const auto address = ParseNetworkAddress(name);
    if (!address) {
        failure.reason = "not tcp://HOST:PORT or rfc2217://HOST:PORT";
        failure.text = "Error: " + name + " is not tcp://HOST:PORT or rfc2217://HOST:PORT.";
        return nullptr;
    }
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    const SocketHandle socket =
        ConnectTcp(*address, kConnectTimeoutMs, error, &failure.systemError);
    if (socket == kNoSocket) {
        failure.reason = "cannot connect: " + error;
        failure.text = "Error: cannot connect to " + name + ": " + error + ".";
        return nullptr;
    }
    if (address->scheme == "tcp") return std::make_unique<TcpPort>(socket);
    auto port = std::make_unique<Rfc2217Port>(socket);
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
