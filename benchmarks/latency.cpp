// Command round trips against the simulated reader, next to the time their frames
// take on the wire: unpaced, then paced at 19200 and 9600 baud.
#include "latency_cases.h"
#include "machine.h"
#include "simulated_reader.h"

#include <cstdlib>

using namespace qx4bench_figures;

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 50;
    PrintMachine("latency");
    qx4sim::SimulatedReader reader;
    ::setenv("QX4_COM3", reader.DevicePath().c_str(), 1);
    if (!QX4DllOpen(3, 0)) return 1;
    const LatencyCases cases;

    reader.Peer().SetBaud(0);
    std::printf("\nunpaced (target: median <= 3 ms)\n");
    for (const LatencyCase& c : cases.All())
        std::printf("  %-30s median %6.2f ms\n", c.name, MedianMs(c.run, repetitions));

    for (unsigned baud : {19200u, 9600u}) {
        reader.Peer().SetBaud(baud);
        std::printf("\npaced at %u baud (target at 19200: median / wire <= 1.15)\n", baud);
        std::printf("  %-30s %9s %9s %7s\n", "command", "median", "wire", "ratio");
        for (const LatencyCase& c : cases.All()) {
            const double median = MedianMs(c.run, repetitions / 2 + 1);
            std::printf("  %-30s %6.2f ms %6.2f ms %7.3f\n", c.name, median, WireMs(c, baud),
                        median / WireMs(c, baud));
        }
    }
    QX4DllClose();
    return 0;
}
