#include "link/frame.h"

#include <algorithm>

namespace qx4 {

uint8_t FrameSum(const uint8_t* frame, size_t dataCount) {
    unsigned sum = 0;
    for (size_t i = 0; i < dataCount + 5; ++i)
        sum += frame[i];
    return static_cast<uint8_t>(sum);
}

size_t BuildFrame(FrameBuffer& out, uint8_t address, uint8_t command,
                  std::span<const uint8_t> data) {
    if (data.size() > kMaxFrameData) return 0;
    const size_t n = data.size();
    out[0] = kStx;
    out[1] = address;
    out[2] = command;
    out[3] = static_cast<uint8_t>(n);
    std::copy(data.begin(), data.end(), out.begin() + 4);
    out[4 + n] = kEtx;
    out[5 + n] = FrameSum(out.data(), n);
    out[6 + n] = kCr;
    return n + kFrameOverhead;
}

} // namespace qx4
