#include "wire.h"

#include <algorithm>

namespace qx4sim {

uint8_t Sum(const uint8_t* frame, size_t dataCount) {
    unsigned sum = 0;
    for (size_t i = 0; i < dataCount + 5; ++i)
        sum += frame[i];
    return static_cast<uint8_t>(sum);
}

Bytes EncodeFrame(uint8_t type, const Bytes& data, uint8_t address) {
    Bytes frame(data.size() + 7);
    frame[0] = 0x02;
    frame[1] = address;
    frame[2] = type;
    frame[3] = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), frame.begin() + 4);
    frame[data.size() + 4] = 0x03;
    frame.resize(data.size() + 5);
    frame.push_back(Sum(frame.data(), data.size()));
    frame.push_back(0x0D);
    return frame;
}

void FrameSplitter::Feed(const uint8_t* bytes, size_t count) {
    pending_.insert(pending_.end(), bytes, bytes + count);
}

std::optional<Bytes> FrameSplitter::Next() {
    for (;;) {
        size_t start = 0;
        while (start < pending_.size() && pending_[start] != 0x02)
            ++start;
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(start));
        if (pending_.size() < 4) return std::nullopt;
        const size_t length = pending_[3] + 7u;
        if (pending_.size() < length) return std::nullopt;
        Bytes frame(pending_.begin(), pending_.begin() + static_cast<long>(length));
        if (frame.back() == 0x0D) {
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(length));
            return frame;
        }
        pending_.erase(pending_.begin()); // not a frame: hunt for the next STX
    }
}

} // namespace qx4sim
