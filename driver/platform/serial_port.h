// A serial device opened raw and exclusively (POSIX termios).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

struct termios;

namespace qx4::platform {

// Opens for reading and writing, non-blocking, exclusive (TIOCEXCL and flock).
// -1 when the device does not exist or is in use.
int OpenSerialDevice(const std::string& path);
void CloseSerialDevice(int fd);

// Drops what the device received before we opened it.
void DiscardQueuedInput(int fd);
// Reads return at once with what is queued.
bool SetImmediateReads(int fd);
bool ReadLineSettings(int fd, termios& settings);
// Raw 8N1, no flow control, RTS inactive, at baud (9600 or 19200).
bool WriteLineSettings(int fd, termios settings, uint32_t baud);

// Writes everything, waiting for room up to 10 ms per byte plus 100 ms.
// Returns the number of bytes written.
size_t WriteSerial(int fd, const uint8_t* bytes, size_t count);
// What is queued, up to capacity: >0 bytes, 0 nothing queued, -1 failure or end of file.
ssize_t ReadSerial(int fd, uint8_t* buffer, size_t capacity);

enum class PortEvent { Received, Woken, HungUp, Failed };
// Blocks until bytes are queued on fd or wakeFd becomes readable.
PortEvent WaitPortEvent(int fd, int wakeFd);

} // namespace qx4::platform
