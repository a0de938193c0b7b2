// Frame envelope: STX, address, command, length n, n data bytes, ETX, sum, CR.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qx4 {

inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kCr = 0x0D;
inline constexpr size_t kFrameOverhead = 7;
inline constexpr size_t kMaxFrameData = 255;
inline constexpr size_t kMaxFrame = kMaxFrameData + kFrameOverhead; // 262

using FrameBuffer = std::array<uint8_t, kMaxFrame>;

// Low 8 bits of the sum of STX through ETX (the first n + 5 bytes).
uint8_t FrameSum(const uint8_t* frame, size_t dataCount);

// Writes the whole envelope around data into out; returns the frame length,
// or 0 when data does not fit the one-byte length (nothing is written then).
size_t BuildFrame(FrameBuffer& out, uint8_t address, uint8_t command,
                  std::span<const uint8_t> data);

} // namespace qx4
