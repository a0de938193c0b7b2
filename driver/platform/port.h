// The reader's line, whatever carries it: a serial device, an RFC 2217 server or a
// raw TCP socket. The receive thread and the sender use only this interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

namespace qx4::platform {

class WakeSignal;

enum class PortEvent { Received, Woken, HungUp, Failed };

class Port {
  public:
    virtual ~Port() = default;

    // The set-up steps of an open, each with its own failure.
    virtual bool SetImmediateReads() = 0;
    virtual bool ReadLineSettings() = 0;
    // 8 data bits, no parity, one stop bit, no flow control, at baud (9600 or 19200).
    virtual bool WriteLineSettings(uint32_t baud) = 0;

    // Writes everything within 10 ms per byte plus 100 ms; the number of bytes written.
    // Safe while the receive thread reads.
    virtual size_t Write(const uint8_t* bytes, size_t count) = 0;
    // Line bytes that are queued, up to capacity: >0 bytes, 0 nothing (yet), -1 the line
    // failed or ended. Called by the receive thread only.
    virtual ssize_t Read(uint8_t* buffer, size_t capacity) = 0;
    // Blocks until bytes are queued or wake is raised (Woken). Called by the receive
    // thread only.
    virtual PortEvent Wait(WakeSignal& wake) = 0;
};

// Why an open failed: `text` for the set-up box, empty when it needs no box (a missing
// device); the system's error and its words for the caller (QX4GetOpenError).
struct OpenFailure {
    std::string text;
    int systemError = 0;
    std::string reason;
};

// The serial device at path, opened exclusively, what it received before dropped; null
// when it does not exist or is in use, with the system's reason in `failure`.
std::unique_ptr<Port> OpenSerialPort(const std::string& path, OpenFailure& failure);

// A device path, rfc2217://HOST:PORT or tcp://HOST:PORT. Null on failure.
std::unique_ptr<Port> OpenLine(const std::string& name, OpenFailure& failure);

} // namespace qx4::platform
