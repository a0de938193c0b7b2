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
    // Bytes that would overwrite what the scanner has not read yet are dropped
    // and counted instead: unread bytes are never corrupted.
    void Append(const uint8_t* bytes, size_t count) {
        uint32_t index = writeIndex_.load(std::memory_order_relaxed);
        const uint32_t read = readIndex_.load(std::memory_order_acquire);
        const uint32_t used = (index + kSize - read) % kSize;
        const size_t room = kSize - 1 - used;
        if (count > room) {
            dropped_.fetch_add(count - room, std::memory_order_relaxed);
            count = room;
        }
        for (size_t i = 0; i < count; ++i) {
            bytes_[index].store(bytes[i], std::memory_order_relaxed);
            index = (index + 1) % kSize;
        }
        writeIndex_.store(index, std::memory_order_release);
    }
    uint32_t WriteIndex() const { return writeIndex_.load(std::memory_order_acquire); }
    uint8_t At(uint32_t index) const { return bytes_[index].load(std::memory_order_relaxed); }
    // The scanner hands back what it has read, making room for the writer.
    void Consumed(uint32_t readIndex) { readIndex_.store(readIndex, std::memory_order_release); }
    // Bytes dropped since the last call.
    uint64_t TakeDropped() { return dropped_.exchange(0, std::memory_order_relaxed); }
    // Only while no receive thread runs.
    void Reset() {
        writeIndex_.store(0, std::memory_order_release);
        readIndex_.store(0, std::memory_order_release);
        dropped_.store(0, std::memory_order_relaxed);
    }

  private:
    std::array<std::atomic<uint8_t>, kSize> bytes_{};
    std::atomic<uint32_t> writeIndex_{0};
    std::atomic<uint32_t> readIndex_{0};
    std::atomic<uint64_t> dropped_{0};
};

} // namespace qx4
