// A scripted session in a loop while the simulated reader injects faults at random
// (fixed seed): dropped, split, corrupted and garbage-prefixed replies, NACKs, replies
// later than the library waits, and the device vanishing and coming back, with the
// reader in auto-scan all along so notifications land in the middle of every wait.
// Nothing is drained between calls. Checks: no crash, no call beyond cmdWaitTime plus
// a margin, no call that succeeds with data that is not its own, every call without a
// fault right, every block ending with a value that was written.
#include "machine.h"
#include "qx4drv.h"
#include "simulated_reader.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWaitMs = 150;
constexpr int kBlocks = 8;

// A late reply must not outlast the waits of the other kinds of command that follow
// it: a reply later than that could answer a command of its own kind, which nothing
// in the reply tells apart.
constexpr int kLateMs = kWaitMs * 3 / 2;

struct Outcomes {
    long calls = 0, ok = 0, failedWithFault = 0, failedWithoutFault = 0, wrongData = 0;
    long byNack = 0, byTimeOut = 0, byLostPort = 0;
    double slowestMs = 0;
};

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 15693;
    // As a test under sanitizers the slowest call is reported, not judged.
    const bool judgeTiming = !(argc > 3 && std::strcmp(argv[3], "--report-timing") == 0);
    qx4bench_figures::PrintMachine("fault_soak");
    qx4sim::SimulatedReader reader;
    ::setenv("QX4_COM3", reader.DevicePath().c_str(), 1);
    if (!QX4DllOpen(3, 0)) return 1;
    QX4SetCmdWaitTime(kWaitMs);
    static std::atomic<long> boxes{0}; // the lost-port box, one a vanish
    static const QX4PlatformHooks hooks{[](const char*, const char*) { ++boxes; }, nullptr,
                                        nullptr};
    QX4SetPlatformHooks(&hooks);
    static long notifications = 0;
    QX4Window sink{[](QX4Window*, const QX4CopyData*) { ++notifications; }};
    QX4SetHandle(&sink);
    reader.Peer().SetLateDelay(kLateMs);
    reader.Peer().SetFaultRate(10, seed);
    reader.SetAutoScanPeriod(25);
    reader.Modify([](qx4sim::ReaderRegisters& registers, auto&) { registers.mode = 0x01; });
    std::mt19937 random(seed);

    const auto tag = reader.Field()[0];
    const unsigned char* uid = tag.uid.data();
    std::map<int, std::set<uint32_t>> candidates; // values a block may hold
    for (int b = 0; b < kBlocks; ++b) {
        uint32_t value;
        std::memcpy(&value, tag.memory.data() + 4 * b, 4);
        candidates[b] = {value};
    }
    Outcomes outcomes;
    static std::vector<std::string> wire; // the last frames both ways, shown with wrong data
    static bool nackSeen = false;         // during the current call
    QX4SetTraceHook(
        [](int direction, const unsigned char* bytes, unsigned count, void*) {
            if (direction == QX4_TRACE_LOST) {
                std::printf("  %u received bytes lost\n", count);
                return;
            }
            if (direction == QX4_TRACE_RECEIVED && count > 2 && bytes[2] == 0x31) nackSeen = true;
            // Auto-scan frames would crowd the requests and answers out of the record.
            if (direction == QX4_TRACE_RECEIVED && count > 2 &&
                (bytes[2] == 0x44 || bytes[2] == 0x64))
                return;
            const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 Clock::now().time_since_epoch())
                                 .count() %
                             100000;
            std::string line = std::to_string(now) + (direction ? " <-" : " ->");
            for (unsigned i = 0; i < count; ++i)
                line += " " + std::to_string(bytes[i]);
            wire.push_back(line);
            if (wire.size() > 12) wire.erase(wire.begin());
        },
        nullptr);
    long vanishes = 0, unsolicited = 0, unexplained = 0;
    Clock::time_point lateShadowUntil{};
    auto faultsSoFar = [&] {
        unsigned total = 0;
        for (int f = 0; f < static_cast<int>(qx4sim::Fault::Count); ++f)
            total += reader.Peer().FaultCount(static_cast<qx4sim::Fault>(f));
        return total;
    };
    // Runs one call; `check` says whether its data is right.
    auto call = [&](const char* name, auto&& run, auto&& check) {
        const unsigned before = faultsSoFar();
        const unsigned lateBefore = reader.Peer().FaultCount(qx4sim::Fault::Late);
        // The reader answers in turn: while it still owes a late reply, this call's answer
        // waits behind it and may miss its own time-out.
        bool interfered = Clock::now() < lateShadowUntil;
        std::thread noise;
        if (random() % 50 == 0) { // an unsolicited frame lands in the middle of the wait
            interfered = true;
            ++unsolicited;
            noise = std::thread([&] {
                reader.Peer().Send(qx4sim::EncodeFrame(0x44, {'N', 'O', 'I', 'S', 'E'}));
            });
        }
        nackSeen = false;
        const auto start = Clock::now();
        const bool ok = run();
        outcomes.slowestMs =
            std::max(outcomes.slowestMs,
                     std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (noise.joinable()) noise.join();
        const bool faulted = interfered || faultsSoFar() != before;
        if (reader.Peer().FaultCount(qx4sim::Fault::Late) != lateBefore)
            lateShadowUntil = Clock::now() + std::chrono::milliseconds(kLateMs);
        ++outcomes.calls;
        if (ok) {
            ++outcomes.ok;
            if (!check() && ++outcomes.wrongData <= 5) {
                std::printf("  wrong data from %s (%s)\n", name,
                            faulted ? "after a fault" : "no fault");
                for (const auto& line : wire)
                    std::printf("    %s\n", line.c_str());
            }
        } else {
            ++(faulted ? outcomes.failedWithFault : outcomes.failedWithoutFault);
            const char* cause = nackSeen ? "NACK" : !QX4IsOK() ? "port lost" : "time-out";
            ++(nackSeen ? outcomes.byNack : !QX4IsOK() ? outcomes.byLostPort : outcomes.byTimeOut);
            if (!faulted && QX4IsOK() && ++unexplained <= 5) {
                std::printf(
                    "  %s failed without a fault (%s) after %.1f ms\n", name, cause,
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                for (const auto& line : wire)
                    std::printf("    %s\n", line.c_str());
            }
        }
        return ok;
    };

    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        unsigned char dsfid, found[8];
        call(
            "QX4Inventory", [&] { return QX4Inventory(0x40, &dsfid, found); },
            [&] { return std::memcmp(found, uid, 8) == 0; });
        unsigned char info[256];
        int length = 0;
        call(
            "QX4GetSystemInfo", [&] { return QX4GetSystemInfo(0x01, info, &length, uid); },
            [&] { return length == 15 && std::memcmp(info + 1, uid, 8) == 0; });
        const int block = static_cast<int>(random() % kBlocks);
        const uint32_t value = random();
        unsigned char data[4];
        std::memcpy(data, &value, 4);
        // A write whose answer was lost may still have reached the tag.
        candidates[block].insert(value);
        if (call(
                "QX4WriteSingleBlock", [&] { return QX4WriteSingleBlock(0x01, block, data, uid); },
                [] { return true; }))
            candidates[block] = {value};
        unsigned char back[4];
        call(
            "QX4ReadSingleBlock", [&] { return QX4ReadSingleBlock(0x01, block, back, uid); },
            [&] {
                uint32_t v;
                std::memcpy(&v, back, 4);
                if (!candidates[block].count(v)) {
                    std::printf("  block %d read %08X, expected one of", block, v);
                    for (uint32_t c : candidates[block])
                        std::printf(" %08X", c);
                    std::printf("\n");
                }
                return candidates[block].count(v) > 0;
            });
        char text[256];
        call(
            "QX4GetROMVersion", [&] { return QX4GetROMVersion(text); },
            [&] { return std::strcmp(text, "QX4SIM Ver1.00") == 0; });
        if (random() % 200 == 0) { // the device vanishes and comes back
            ++vanishes;
            reader.Peer().Vanish();
            call(
                "QX4SetTxOnOff", [&] { return QX4SetTxOnOff(1); },
                [] { return true; }); // fails at once: the port is gone
            reader.Peer().Reappear();
            ::setenv("QX4_COM3", reader.DevicePath().c_str(), 1);
            if (!QX4ComReOpen(3, 0)) std::printf("reopen failed\n");
        }
    }

    // Every block ends with a value that was written (or its first value).
    reader.Peer().SetFaultRate(0, seed);
    int blocksLost = 0;
    const auto final = reader.Field()[0];
    for (int b = 0; b < kBlocks; ++b) {
        uint32_t value;
        std::memcpy(&value, final.memory.data() + 4 * b, 4);
        if (!candidates[b].count(value)) ++blocksLost;
    }
    std::printf("\n%d s, seed %u, cmdWaitTime %d ms, late replies after %d ms\n", seconds, seed,
                kWaitMs, kLateMs);
    std::printf("  faults injected:");
    for (int f = 0; f < static_cast<int>(qx4sim::Fault::Count); ++f)
        std::printf(" %s %u,", qx4sim::kFaultNames[f],
                    reader.Peer().FaultCount(static_cast<qx4sim::Fault>(f)));
    std::printf(" unsolicited %ld, vanished %ld (boxes %ld); auto-scan notifications %ld\n",
                unsolicited, vanishes, boxes.load(), notifications);
    std::printf("  calls %ld: ok %ld, failed after a fault %ld, failed without a fault %ld\n",
                outcomes.calls, outcomes.ok, outcomes.failedWithFault, outcomes.failedWithoutFault);
    std::printf("  failures by cause: NACK %ld, time-out %ld, port lost %ld\n", outcomes.byNack,
                outcomes.byTimeOut, outcomes.byLostPort);
    std::printf("  ok but wrong data %ld; blocks not holding a written value %d\n",
                outcomes.wrongData, blocksLost);
    std::printf("  slowest call %.1f ms (limit %d ms + margin)\n", outcomes.slowestMs, kWaitMs);
    QX4SetHandle(nullptr);
    QX4DllClose();
    const bool good = outcomes.wrongData == 0 && blocksLost == 0 &&
                      outcomes.failedWithoutFault <= vanishes &&
                      (!judgeTiming || outcomes.slowestMs < kWaitMs + 100);
    std::printf("  %s\n", good ? "PASS" : "FAIL");
    return good ? 0 : 1;
}
