// The reader's side of the frame envelope: building replies and cutting requests out of a stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qx4sim {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kAck = 0x30;
inline constexpr uint8_t kNack = 0x31;
inline constexpr uint8_t kDataNotification = 0x44;
inline constexpr uint8_t kUidDataNotification = 0x64;

// NACK codes the reader gives.
inline constexpr uint8_t kNackCrc = 0x01;
inline constexpr uint8_t kNackReceive = 0x03; // what a reader makes of replies on top of each other
inline constexpr uint8_t kNackTagError = 0x05;
inline constexpr uint8_t kNackNoTag = 0x04;
inline constexpr uint8_t kNackDataCount = 0x41;
inline constexpr uint8_t kNackSum = 0x42;
inline constexpr uint8_t kNackIdValue = 0x43;
inline constexpr uint8_t kNackIllegal = 0x44;

// ISO 15693 error codes carried by NACK 5.
inline constexpr uint8_t kIsoNotSupported = 0x01;
inline constexpr uint8_t kIsoOptionNotSupported = 0x03;
inline constexpr uint8_t kIsoNoBlock = 0x10;
inline constexpr uint8_t kIsoAlreadyLocked = 0x11;
inline constexpr uint8_t kIsoLocked = 0x12;
inline constexpr uint8_t kIsoNotProgrammed = 0x13;
inline constexpr uint8_t kIsoNotLocked = 0x14;

uint8_t Sum(const uint8_t* frame, size_t dataCount);
Bytes EncodeFrame(uint8_t type, const Bytes& data, uint8_t address = 0);

// Incremental parser of the library's request frames; skips bytes before an STX
// and drops a frame whose CR is missing.
class FrameSplitter {
  public:
    void Feed(const uint8_t* bytes, size_t count);
    std::optional<Bytes> Next();

  private:
    Bytes pending_;
};

} // namespace qx4sim
