// CPU time of a process with the port open and no traffic (target below 0.5 % of a core).
#include "machine.h"
#include "qx4drv.h"
#include "simulated_reader.h"

#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    qx4bench_figures::PrintMachine("idle_cost");
    qx4sim::PtyPeer line; // a line that stays silent: no simulator threads to count
    ::setenv("QX4_COM3", line.DevicePath().c_str(), 1);
    if (!QX4DllOpen(3, 0)) return 1;
    const double before = qx4bench_figures::CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double used = qx4bench_figures::CpuSeconds() - before;
    std::printf("port open, no traffic, %d s: %.4f s CPU = %.3f %% of one core\n", seconds, used,
                100.0 * used / seconds);
    QX4DllClose();
    return 0;
}
