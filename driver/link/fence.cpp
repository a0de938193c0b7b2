#include "link/fence.h"

#include "link/context.h"

namespace qx4 {
namespace {

// Later fences read at most this many words: a fence costs little on a slow line.
constexpr uint8_t kCheapCount = 4;
// Every (address, count) within the fence words: 210, so that a first fence matches
// another program's late fence answer less often than 1 in 200.
constexpr uint32_t kAllRequests = kFenceWords * (kFenceWords + 1) / 2;

uint32_t Next(ReaderContext& context) {
    uint32_t x = context.fenceRandom;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    context.fenceRandom = x;
    return x;
}

bool Owed(const ReaderContext& context, uint8_t address, uint8_t count) {
    const std::array<uint8_t, 2> read{address, count};
    if (read == context.lastCallerRead) return true;
    for (uint32_t i = 0; i < context.owedCount; ++i)
        if (context.owedReads[i] == read) return true;
    return false;
}

// The index-th (address, count) of all requests within the fence words.
void Request(uint32_t index, uint8_t& address, uint8_t& count) {
    for (address = 0; address < kFenceWords; ++address) {
        const uint32_t counts = kFenceWords - address;
        if (index < counts) break;
        index -= counts;
    }
    count = static_cast<uint8_t>(1 + index);
}

} // namespace

void ChooseFence(ReaderContext& context) {
    const uint8_t previousAddress = context.fenceAddress;
    const uint8_t previousCount = context.fenceCount;
    uint8_t address = 0, count = 1;
    for (int attempt = 0; attempt < 64; ++attempt) {
        const uint32_t r = Next(context);
        if (context.fenceFromAll) {
            Request(r % kAllRequests, address, count);
        } else {
            // Another length than the previous fence's, anywhere the words reach.
            count = static_cast<uint8_t>(1 + (previousCount + (r >> 8) % (kCheapCount - 1)) %
                                                 kCheapCount);
            address = static_cast<uint8_t>(r % (kFenceWords + 1u - count));
        }
        if (!Owed(context, address, count) &&
            (address != previousAddress || count != previousCount))
            break;
    }
    context.fenceFromAll = false;
    context.fenceAddress = address;
    context.fenceCount = count;
}

void NoteOwedRead(ReaderContext& context, uint8_t address, uint8_t count) {
    if (Owed(context, address, count)) return;
    // When full, the oldest gives way: it is the least likely still to come.
    if (context.owedCount == context.owedReads.size()) {
        for (uint32_t i = 1; i < context.owedCount; ++i)
            context.owedReads[i - 1] = context.owedReads[i];
        --context.owedCount;
    }
    context.owedReads[context.owedCount++] = {address, count};
}

void SettleOwedReads(ReaderContext& context) {
    context.owedCount = 0;
}

void RestartFences(ReaderContext& context, uint32_t seed) {
    context.fenceRandom = seed ? seed : 0x9E3779B9u;
    context.fenceFromAll = true;
}

} // namespace qx4
