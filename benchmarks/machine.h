// What the figures were measured on, printed at the top of every benchmark.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <thread>

namespace qx4bench_figures {

inline void PrintMachine(const char* program) {
    utsname name{};
    ::uname(&name);
    std::string cpu = "unknown CPU";
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);)
        if (line.rfind("model name", 0) == 0) {
            cpu = line.substr(line.find(':') + 2);
            break;
        }
    std::printf("# %s on %s %s, %s, %u cores\n", program, name.sysname, name.release, cpu.c_str(),
                std::thread::hardware_concurrency());
}

inline long PeakRssKb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

inline double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace qx4bench_figures
