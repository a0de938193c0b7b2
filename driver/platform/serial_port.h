// A serial device opened raw and exclusively (POSIX termios).
#pragma once

#include "platform/port.h"

#include <memory>
#include <string>
#include <termios.h>

namespace qx4::platform {

// Opens for reading and writing, non-blocking, exclusive (TIOCEXCL and flock), and
// drops what the device received before. -1 when it does not exist or is in use, with
// the system's error in *error (EBUSY when another program holds it).
int OpenSerialDevice(const std::string& path, int* error = nullptr);
void CloseSerialDevice(int fd);

class SerialDevice : public Port {
  public:
    explicit SerialDevice(int fd) : fd_(fd) {}
    ~SerialDevice() override { CloseSerialDevice(fd_); }
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    bool SetImmediateReads() override;
    bool ReadLineSettings() override;
    bool WriteLineSettings(uint32_t baud) override; // raw 8N1, no flow control, RTS inactive
    size_t Write(const uint8_t* bytes, size_t count) override;
    ssize_t Read(uint8_t* buffer, size_t capacity) override;
    PortEvent Wait(WakeSignal& wake) override;

  private:
    int fd_;
    termios settings_{};
};

} // namespace qx4::platform
