// A reader behind an RFC 2217 server (ser2net, a serial device server): Telnet with
// COM-PORT-OPTION, so the line settings reach the real serial port.
#pragma once

#include "platform/tcp_socket.h"
#include "platform/telnet.h"

#include <mutex>
#include <string>

namespace qx4::platform {

class Rfc2217Port : public Port {
  public:
    // Takes a connected socket; Negotiate before anything else.
    explicit Rfc2217Port(SocketHandle socket) : socket_(socket) {}
    ~Rfc2217Port() override;
    Rfc2217Port(const Rfc2217Port&) = delete;
    Rfc2217Port& operator=(const Rfc2217Port&) = delete;

    // The server agrees to COM-PORT-OPTION within timeoutMs, or the open fails.
    bool Negotiate(int timeoutMs, std::string& error);

    bool SetImmediateReads() override { return true; }
    bool ReadLineSettings() override { return true; }
    // Sends the settings and waits a bounded time for their acknowledgements, which
    // some servers leave out (ser2net does not answer SET-CONTROL on a pty).
    bool WriteLineSettings(uint32_t baud) override;
    size_t Write(const uint8_t* bytes, size_t count) override;
    ssize_t Read(uint8_t* buffer, size_t capacity) override;
    PortEvent Wait(WakeSignal& wake) override;

  private:
    bool Send(const std::vector<uint8_t>& bytes);
    // Reads and decodes what is queued; line data goes to `data`. False when the
    // connection failed or ended.
    bool Receive(std::vector<uint8_t>& data, size_t limit);

    SocketHandle socket_;
    TelnetCodec codec_;    // used by one thread at a time: the opener, then the receiver
    std::mutex sendMutex_; // the sender and the receive thread's answers share the socket
};

} // namespace qx4::platform
