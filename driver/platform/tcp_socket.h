// A reader behind a TCP connection: tcp://HOST:PORT (raw bytes), and the connect that
// rfc2217://HOST:PORT shares.
#pragma once

#include "platform/port.h"

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

// A connected, non-blocking socket with TCP_NODELAY, within timeoutMs; -1 with the
// reason in `error` and the system's error in *code (0 for a name that did not resolve).
int ConnectTcp(const NetworkAddress& address, int timeoutMs, std::string& error,
               int* code = nullptr);

// Reads what is queued, as ReadQueued, then acknowledges at once: a server that holds a
// reply's last segment back until the first is acknowledged (Nagle) would otherwise wait
// for our delayed acknowledgement, some 40 ms.
ssize_t ReceiveQueued(int fd, uint8_t* buffer, size_t capacity);

class TcpPort : public Port {
  public:
    explicit TcpPort(int fd) : fd_(fd) {}
    ~TcpPort() override;
    TcpPort(const TcpPort&) = delete;
    TcpPort& operator=(const TcpPort&) = delete;

    // A raw connection has no line settings of its own: the server's are used.
    bool SetImmediateReads() override { return true; }
    bool ReadLineSettings() override { return true; }
    bool WriteLineSettings(uint32_t) override { return true; }
    size_t Write(const uint8_t* bytes, size_t count) override;
    ssize_t Read(uint8_t* buffer, size_t capacity) override;
    PortEvent Wait(int wakeFd) override;

  private:
    int fd_;
};

} // namespace qx4::platform
