// Process-wide receive ring: one writer (the receive thread), one reader (the scanner).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace qx4 {

class RxRing {
  public:
    static constexpr uint32_t kSize = 16384;

    // Bytes go in first; the new write index is published afterwards (release),
    // so a reader that loads the index (acquire) sees every byte before it.
    void Append(const uint8_t* bytes, size_t count) {
        uint32_t index = writeIndex_.load(std::memory_order_relaxed);
        for (size_t i = 0; i < count; ++i) {
            bytes_[index].store(bytes[i], std::memory_order_relaxed);
            index = (index + 1) % kSize;
        }
        writeIndex_.store(index, std::memory_order_release);
    }
    uint32_t WriteIndex() const { return writeIndex_.load(std::memory_order_acquire); }
    uint8_t At(uint32_t index) const { return bytes_[index].load(std::memory_order_relaxed); }
    // Only while no receive thread runs.
    void Reset() { writeIndex_.store(0, std::memory_order_release); }

  private:
    // Relaxed atomics: an overrun may rewrite a byte while the scanner reads it.
    std::array<std::atomic<uint8_t>, kSize> bytes_{};
    std::atomic<uint32_t> writeIndex_{0};
};

} // namespace qx4
