// The command round trips both latency benchmarks time, next to their wire time.
#pragma once

#include "qx4drv.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace qx4bench_figures {

struct LatencyCase {
    const char* name;
    size_t requestBytes, replyBytes; // whole frames
    std::function<bool()> run;
};

inline double MedianMs(const std::function<bool()>& run, int repetitions) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = Clock::now();
        if (!run()) std::fprintf(stderr, "a command failed\n");
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

inline double WireMs(const LatencyCase& c, unsigned baud) {
    return (c.requestBytes + c.replyBytes) * 10.0 * 1000.0 / baud;
}

// Reads the UID of the tag in the field first; the cases use it.
class LatencyCases {
  public:
    LatencyCases() {
        QX4Inventory(0x40, &dsfid_, uid_);
        cases_ = {
            {"QX4GetROMVersion", 9, 7 + 1 + 14, [this] { return QX4GetROMVersion(text_) == 1; }},
            {"QX4Inventory", 9, 7 + 10, [this] { return QX4Inventory(0x40, &dsfid_, uid_) == 1; }},
            {"QX4ReadSingleBlock addressed", 18, 7 + 1 + 4,
             [this] { return QX4ReadSingleBlock(0x01, 0, out_, uid_) == 1; }},
            {"QX4ReadMultiBlock 16 blocks", 11, 7 + 1 + 64,
             [this] { return QX4ReadMultiBlock(0x00, 0, 15, out_, uid_) == 1; }},
            // What a command pays once after a doubt: an EEPROM read of 1 to 4 words (the
            // wire column counts one; qx4_link_doubt counts the bytes that went).
            {"QX4Resync (fence, >= 1 word)", 10, 7 + 5, [] { return QX4Resync() == 1; }},
        };
    }
    LatencyCases(const LatencyCases&) = delete;
    LatencyCases& operator=(const LatencyCases&) = delete;
    const std::vector<LatencyCase>& All() const { return cases_; }

  private:
    unsigned char uid_[8] = {}, dsfid_ = 0, out_[300] = {};
    char text_[256] = {};
    std::vector<LatencyCase> cases_;
};

} // namespace qx4bench_figures
