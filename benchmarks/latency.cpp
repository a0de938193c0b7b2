// Command round trips against the simulated reader, next to the time their frames
// take on the wire: unpaced, then paced at 19200 and 9600 baud.
#include "machine.h"
#include "qx4drv.h"
#include "simulated_reader.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Case {
    const char* name;
    size_t requestBytes, replyBytes; // whole frames
    std::function<bool()> run;
};

double MedianMs(const std::function<bool()>& run, int repetitions) {
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = Clock::now();
        if (!run()) std::fprintf(stderr, "a command failed\n");
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 50;
    qx4bench_figures::PrintMachine("latency");
    qx4sim::SimulatedReader reader;
    ::setenv("QX4_COM3", reader.DevicePath().c_str(), 1);
    if (!QX4DllOpen(3, 0)) return 1;

    unsigned char uid[8], dsfid, out[300];
    char text[256];
    QX4Inventory(0x40, &dsfid, uid);
    const std::vector<Case> cases{
        {"QX4GetROMVersion", 9, 7 + 1 + 14, [&] { return QX4GetROMVersion(text) == 1; }},
        {"QX4Inventory", 9, 7 + 10, [&] { return QX4Inventory(0x40, &dsfid, uid) == 1; }},
        {"QX4ReadSingleBlock addressed", 18, 7 + 1 + 4,
         [&] { return QX4ReadSingleBlock(0x01, 0, out, uid) == 1; }},
        {"QX4ReadMultiBlock 16 blocks", 11, 7 + 1 + 64,
         [&] { return QX4ReadMultiBlock(0x00, 0, 15, out, uid) == 1; }},
    };

    reader.Peer().SetBaud(0);
    std::printf("\nunpaced (target: median <= 3 ms)\n");
    for (const Case& c : cases)
        std::printf("  %-30s median %6.2f ms\n", c.name, MedianMs(c.run, repetitions));

    for (unsigned baud : {19200u, 9600u}) {
        reader.Peer().SetBaud(baud);
        std::printf("\npaced at %u baud (target at 19200: median / wire <= 1.15)\n", baud);
        std::printf("  %-30s %9s %9s %7s\n", "command", "median", "wire", "ratio");
        for (const Case& c : cases) {
            const double wire = (c.requestBytes + c.replyBytes) * 10.0 * 1000.0 / baud;
            const double median = MedianMs(c.run, repetitions / 2 + 1);
            std::printf("  %-30s %6.2f ms %6.2f ms %7.3f\n", c.name, median, wire, median / wire);
        }
    }
    QX4DllClose();
    return 0;
}
