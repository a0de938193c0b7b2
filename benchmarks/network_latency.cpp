// The latency cases through ser2net on localhost (rfc2217:// and tcp://) and, in the
// same run, over the local pseudo-terminal, unpaced and with the simulated reader
// paced at 19200 baud. ser2net is started here with its own configuration.
#include "latency_cases.h"
#include "machine.h"
#include "simulated_reader.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace qx4bench_figures;

namespace {

// ser2net holds serial bytes back for a pause in the line before it sends them on;
// a reader's reply is one burst, so that only adds its delay.
constexpr const char* kOptions = "    options:\n      chardelay: false\n";

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Opens COM3 on `line`, retrying while ser2net still holds the device for an earlier client.
bool Open(const std::string& line) {
    ::setenv("QX4_COM3", line.c_str(), 1);
    for (int attempt = 0; attempt < 30; ++attempt) {
        if (QX4DllOpen(3, 0)) {
            QX4SetCmdWaitTime(300);
            char text[256];
            const bool answers = QX4GetROMVersion(text);
            QX4SetCmdWaitTime(2000);
            if (answers) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 50;
    PrintMachine("network_latency");
    // The connections ser2net turns away while it still holds the device say so in a box.
    const QX4PlatformHooks quiet{[](const char*, const char*) {}, nullptr, nullptr};
    QX4SetPlatformHooks(&quiet);
    qx4sim::SimulatedReader reader;
    const int telnetPort = FreePort(), rawPort = FreePort();
    const std::string config = "/tmp/qx4_network_latency_" + std::to_string(::getpid()) + ".yaml";
    std::ofstream(config) << "connection: &rfc2217\n    accepter: telnet(rfc2217),tcp,127.0.0.1,"
                          << telnetPort << "\n    connector: serialdev," << reader.DevicePath()
                          << ",19200n81,local\n"
                          << kOptions << "connection: &raw\n    accepter: tcp,127.0.0.1," << rawPort
                          << "\n    connector: serialdev," << reader.DevicePath()
                          << ",19200n81,local\n"
                          << kOptions;
    std::string program = "/usr/sbin/ser2net", n = "-n", u = "-u", c = "-c";
    char* args[] = {program.data(), n.data(), u.data(), c.data(), const_cast<char*>(config.c_str()),
                    nullptr};
    pid_t server = -1;
    if (::posix_spawn(&server, program.c_str(), nullptr, nullptr, args, environ) != 0) {
        std::printf("ser2net cannot be started (apt-get install ser2net)\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    const std::pair<const char*, std::string> lines[] = {
        {"pty", reader.DevicePath()},
        {"rfc2217", "rfc2217://127.0.0.1:" + std::to_string(telnetPort)},
        {"tcp", "tcp://127.0.0.1:" + std::to_string(rawPort)},
    };
    int failures = 0;
    for (unsigned baud : {0u, 19200u}) {
        reader.Peer().SetBaud(baud);
        if (baud)
            std::printf("\npaced at %u baud (target through ser2net: median / wire <= 1.2)\n",
                        baud);
        else
            std::printf("\nunpaced\n");
        std::printf("  %-8s %-30s %9s %9s %7s\n", "line", "command", "median", "wire", "ratio");
        for (const auto& [kind, line] : lines) {
            if (!Open(line)) {
                std::printf("  %-8s cannot open %s\n", kind, line.c_str());
                ++failures;
                continue;
            }
            const LatencyCases cases;
            for (const LatencyCase& c : cases.All()) {
                const double median = MedianMs(c.run, baud ? repetitions / 2 + 1 : repetitions);
                if (baud)
                    std::printf("  %-8s %-30s %6.2f ms %6.2f ms %7.3f\n", kind, c.name, median,
                                WireMs(c, baud), median / WireMs(c, baud));
                else
                    std::printf("  %-8s %-30s %6.2f ms\n", kind, c.name, median);
            }
            QX4DllClose();
        }
    }
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    std::remove(config.c_str());
    return failures ? 1 : 0;
}
