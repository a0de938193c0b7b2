// A reader behind a TCP connection: tcp://HOST:PORT (raw bytes), and the socket calls
// that rfc2217://HOST:PORT shares. The socket calls have a POSIX and a Winsock side.
#pragma once

#include "platform/port.h"

#include <cstdint>
#include <optional>
#include <string>

namespace qx4::platform {

inline constexpr int kConnectTimeoutMs = 3000;

struct NetworkAddress {
    std::string scheme; // "tcp" or "rfc2217"
    std::string host;   // without the brackets of an IPv6 address
    std::string port;
};
// "tcp://host:port", "rfc2217://[::1]:2000"; nullopt for anything else.
std::optional<NetworkAddress> ParseNetworkAddress(const std::string& name);

// A descriptor, or a Winsock SOCKET; kNoSocket for none.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// A connected, non-blocking socket with TCP_NODELAY, within timeoutMs; kNoSocket with
// the reason in `error` and the system's error in *code (0 for a name that did not
// resolve).
SocketHandle ConnectTcp(const NetworkAddress& address, int timeoutMs, std::string& error,
                        int* code = nullptr);
void CloseSocket(SocketHandle socket);
// Sends everything within 10 ms per byte plus 100 ms, without SIGPIPE when the peer has
// gone; the number of bytes sent.
size_t SendWithin(SocketHandle socket, const uint8_t* bytes, size_t count);
// Reads what is queued, as a port's Read, then acknowledges at once: a server that holds
// a reply's last segment back until the first is acknowledged (Nagle) would otherwise
// wait for our delayed acknowledgement.
ssize_t ReceiveQueued(SocketHandle socket, uint8_t* buffer, size_t capacity);
// Up to timeoutMs for bytes (or the end of the connection); false on time-out.
bool AwaitSocket(SocketHandle socket, int timeoutMs);
// Until bytes are queued, the connection ends, or wake is raised.
PortEvent WaitSocket(SocketHandle socket, WakeSignal& wake);

class TcpPort : public Port {
  public:
    explicit TcpPort(SocketHandle socket) : socket_(socket) {}
    ~TcpPort() override { CloseSocket(socket_); }
    TcpPort(const TcpPort&) = delete;
    TcpPort& operator=(const TcpPort&) = delete;

    // A raw connection has no line settings of its own: the server's are used.
    bool SetImmediateReads() override { return true; }
    bool ReadLineSettings() override { return true; }
    bool WriteLineSettings(uint32_t) override { return true; }
    size_t Write(const uint8_t* bytes, size_t count) override {
        return SendWithin(socket_, bytes, count);
    }
    ssize_t Read(uint8_t* buffer, size_t capacity) override {
        return ReceiveQueued(socket_, buffer, capacity);
    }
    PortEvent Wait(WakeSignal& wake) override { return WaitSocket(socket_, wake); }

  private:
    SocketHandle socket_;
};

} // namespace qx4::platform
