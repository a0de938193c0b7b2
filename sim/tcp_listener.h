// Serves the simulated reader on a TCP port as raw bytes, as a serial device server in
// raw mode would: one client at a time, relayed to and from the reader's pseudo-terminal.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace qx4sim {

class TcpListener {
  public:
    // "PORT" or "HOST:PORT" ("[::1]:PORT" for IPv6); throws std::runtime_error when it
    // cannot listen there.
    TcpListener(const std::string& where, const std::string& devicePath);
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    std::string Address() const { return address_; } // tcp://HOST:PORT for the library

  private:
    void Serve();
    void Relay(int client);

    std::string devicePath_;
    std::string address_;
    int listener_ = -1;
    int wake_ = -1;
    std::thread server_;
};

} // namespace qx4sim
