// A scripted session in a loop while the simulated reader injects faults at random
// (fixed seed): dropped, split, corrupted and garbage-prefixed replies, NACKs, replies
// 1.5 to 3 times later than the library waits, NACKs followed by the answer, answers sent
// twice, replies in 14-byte pieces 16 ms apart, flipped data bytes, stray STX bytes
// before replies and on the idle line, commands sent without waiting (buzzer, power
// down, restart), and the device vanishing and coming back, with the reader in
// auto-scan all along so notifications land in the middle of every wait. Commands of
// different kinds share echo values (a block read and parameter 0x20); the reader has 20
// EEPROM words and refuses reads beyond them. Nothing is
// drained between calls. Checks: no crash, no call beyond the documented longest
// block, no call that succeeds with data that is not its own, every call without a
// fault right, every block ending with a value that was written.
// With --field the reader is the simulator's field profile (air time, a USB-serial
// adapter, lost and garbled tag replies, boot time, power-down that takes a request to
// wake) under the same faults; its tag's own NACKs 1 to 4 count as faults of the field.
#include "machine.h"
#include "profile.h"
#include "qx4drv.h"
#include "simulated_reader.h"

#include <algorithm>
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
constexpr int kEepromWords = 20;

constexpr int kLateMinMs = kWaitMs * 3 / 2, kLateMaxMs = kWaitMs * 3;
// The header's longest block: the fence, the command's own wait, a frame still arriving.
constexpr int kLongestMs = std::max(kWaitMs, 1000) + kWaitMs + 600;
// How long after a fault a failure may still be its consequence: the late reply, then
// the fences waiting behind it.
constexpr int kAftermathMs = kLateMaxMs + 2 * std::max(kWaitMs, 1000);
constexpr uint8_t kSharedEcho = 0x20; // ReadSingleBlock's code and a parameter number

struct Outcomes {
    long calls = 0, ok = 0, failedWithFault = 0, failedWithoutFault = 0, wrongData = 0;
    long byNack = 0, byTimeOut = 0, byLostPort = 0, byOutOfStep = 0;
    double slowestMs = 0;
};

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool field = std::erase(args, "--field") > 0;
    const int seconds = args.size() > 0 ? std::atoi(args[0].c_str()) : 60;
    const unsigned seed =
        args.size() > 1 ? static_cast<unsigned>(std::atoi(args[1].c_str())) : 15693;
    // As a test under sanitizers the slowest call is reported, not judged.
    const bool judgeTiming = !(args.size() > 2 && args[2] == "--report-timing");
    qx4bench_figures::PrintMachine(field ? "fault_soak --field" : "fault_soak");
    qx4sim::SimOptions options;
    qx4sim::ApplyProfile(options, field ? "field" : "default");
    options.eepromWords = kEepromWords;
    options.seed = seed;
    qx4sim::SimulatedReader reader(options);
    if (field) reader.SetField({reader.Field()[0]}); // one tag: an inventory must find it
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
    reader.Peer().SetLateDelay(kLateMinMs);
    reader.Peer().SetFaultRate(10, seed);
    // Faults of the line itself, on top of the reader's: a flipped data byte, a stray STX
    // in front of the reply. Drawn on the reader's thread with their own generator.
    static std::atomic<unsigned> flipped{0}, strayBefore{0};
    reader.Peer().SetTimedResponder(
        [&reader, line = std::mt19937(seed + 1)](const qx4sim::Bytes& request) mutable {
            // A reader of 20 EEPROM words, refusing reads beyond them.
            if (request.size() > 6 && request[2] == 0x4F && request[4] == 0x70 &&
                request[5] + request[6] > kEepromWords)
                return qx4sim::Reply{{qx4sim::EncodeFrame(0x31, {0x43})}};
            qx4sim::Reply reply = reader.Answer(request);
            std::vector<qx4sim::Bytes>& answer = reply.pieces;
            if (answer.empty() || answer[0].size() < 8) return reply;
            const unsigned roll = line() % 100;
            if (roll < 2) {
                answer[0][4 + line() % (answer[0].size() - 7)] ^= 0x10;
                ++flipped;
            } else if (roll < 4) {
                answer.insert(answer.begin(), qx4sim::Bytes{0x02});
                ++strayBefore;
            }
            return reply;
        });
    reader.SetAutoScanPeriod(25);
    reader.Modify([](qx4sim::ReaderRegisters& registers, auto&) { registers.mode = 0x01; });
    std::mt19937 random(seed);

    const uint8_t sharedParameter = reader.Registers().parameters[kSharedEcho];
    unsigned char eeprom19[2];
    std::memcpy(eeprom19, reader.Registers().eeprom.data() + 2 * 19, 2);
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
    QX4SetTraceHook(
        [](int direction, const unsigned char* bytes, unsigned count, void*) {
            if (direction == QX4_TRACE_LOST) {
                std::printf("  %u received bytes lost\n", count);
                return;
            }
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
    long vanishes = 0, unsolicited = 0, unexplained = 0, sentOnly = 0, strayIdle = 0;
    long fieldLosses = 0;
    Clock::time_point lastFault{};
    auto faultsSoFar = [&] {
        unsigned total = flipped + strayBefore;
        for (int f = 0; f < static_cast<int>(qx4sim::Fault::Count); ++f)
            total += reader.Peer().FaultCount(static_cast<qx4sim::Fault>(f));
        return total;
    };
    // Runs one call; `check` says whether its data is right.
    auto call = [&](const char* name, auto&& run, auto&& check) {
        const unsigned before = faultsSoFar();
        reader.Peer().SetLateDelay(kLateMinMs + random() % (kLateMaxMs - kLateMinMs + 1));
        // The reader answers in turn: while it still owes a late reply, this call's answer
        // (or the fence before it) waits behind it and may miss its own time-out.
        bool interfered = Clock::now() < lastFault + std::chrono::milliseconds(kAftermathMs);
        std::thread noise;
        if (random() % 50 == 0) { // an unsolicited frame lands in the middle of the wait
            interfered = true;
            ++unsolicited;
            noise = std::thread([&] {
                reader.Peer().Send(qx4sim::EncodeFrame(0x44, {'N', 'O', 'I', 'S', 'E'}));
            });
        }
        const auto start = Clock::now();
        const bool ok = run();
        outcomes.slowestMs =
            std::max(outcomes.slowestMs,
                     std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (noise.joinable()) noise.join();
        if (faultsSoFar() != before) lastFault = Clock::now();
        int nack = 0, detail = 0;
        QX4GetErrorCode(&nack, &detail);
        // The field's own losses: a garbled, colliding or unheard tag reply.
        const bool fieldLoss =
            field && !ok && QX4GetFailureCause() == QX4_CAUSE_NACK && nack >= 1 && nack <= 4;
        if (fieldLoss) ++fieldLosses;
        const bool faulted = interfered || fieldLoss || faultsSoFar() != before;
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
            const int why = QX4GetFailureCause();
            const char* cause = why == QX4_CAUSE_NACK          ? "NACK"
                                : why == QX4_CAUSE_NO_PORT     ? "port lost"
                                : why == QX4_CAUSE_OUT_OF_STEP ? "out of step"
                                : why == QX4_CAUSE_BAD_REPLY   ? "bad reply"
                                                               : "time-out";
            ++(why == QX4_CAUSE_NACK          ? outcomes.byNack
               : why == QX4_CAUSE_NO_PORT     ? outcomes.byLostPort
               : why == QX4_CAUSE_OUT_OF_STEP ? outcomes.byOutOfStep
                                              : outcomes.byTimeOut);
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
        unsigned char parameter = 0;
        call(
            "QX4GetParamData", [&] { return QX4GetParamData(kSharedEcho, &parameter); },
            [&] { return parameter == sharedParameter; });
        // Word 19, the last the reader has, and a word beyond its end.
        unsigned char word[2];
        call(
            "QX4GetEepromData(19)", [&] { return QX4GetEepromData(19, word); },
            [&] { return std::memcmp(word, eeprom19, 2) == 0; });
        // Counted as ok when refused with the reader's own code; an answer is another's.
        bool answered = false;
        int nack = 0, detail = 0;
        call(
            "QX4GetEepromData(30)",
            [&] {
                answered = QX4GetEepromData(30, word);
                QX4GetErrorCode(&nack, &detail);
                return answered || (QX4GetFailureCause() == QX4_CAUSE_NACK && nack == 0x43);
            },
            [&] { return !answered; });
        switch (random() % 40) { // now and then a command nobody waits for
        case 0:
            ++sentOnly;
            QX4BuzOn(1, 0);
            break;
        case 1:
            ++sentOnly;
            QX4SetPowerDown();
            if (field) lastFault = Clock::now(); // the next request only wakes the reader
            break;
        case 2:
            ++sentOnly;
            QX4ReStartComand();                  // back to the stored modes: auto-scan again below
            if (field) lastFault = Clock::now(); // it is away for its boot time
            reader.Modify([](qx4sim::ReaderRegisters& registers, auto&) { registers.mode = 0x01; });
            break;
        case 3:
            ++strayIdle;
            reader.Peer().Send(qx4sim::Bytes{0x02});
            break;
        default:
            break;
        }
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
    std::printf("\n%d s, seed %u, cmdWaitTime %d ms, late replies after %d to %d ms\n", seconds,
                seed, kWaitMs, kLateMinMs, kLateMaxMs);
    std::printf("  faults injected:");
    for (int f = 0; f < static_cast<int>(qx4sim::Fault::Count); ++f)
        std::printf(" %s %u,", qx4sim::kFaultNames[f],
                    reader.Peer().FaultCount(static_cast<qx4sim::Fault>(f)));
    std::printf(" flipped byte %u, stray STX before a reply %u, stray STX on the idle line %ld,"
                " sent without waiting %ld,",
                flipped.load(), strayBefore.load(), strayIdle, sentOnly);
    std::printf(" unsolicited %ld, vanished %ld (boxes %ld); auto-scan notifications %ld\n",
                unsolicited, vanishes, boxes.load(), notifications);
    std::printf("  calls %ld: ok %ld, failed after a fault %ld, failed without a fault %ld\n",
                outcomes.calls, outcomes.ok, outcomes.failedWithFault, outcomes.failedWithoutFault);
    if (field) std::printf("  lost by the field (NACK 1 to 4 of the tag) %ld\n", fieldLosses);
    std::printf("  failures by cause: NACK %ld, time-out %ld, out of step %ld, port lost %ld\n",
                outcomes.byNack, outcomes.byTimeOut, outcomes.byOutOfStep, outcomes.byLostPort);
    std::printf("  ok but wrong data %ld; blocks not holding a written value %d\n",
                outcomes.wrongData, blocksLost);
    std::printf("  slowest call %.1f ms (longest block %d ms + 100 ms margin)\n",
                outcomes.slowestMs, kLongestMs);
    QX4SetHandle(nullptr);
    QX4DllClose();
    const bool good = outcomes.wrongData == 0 && blocksLost == 0 &&
                      outcomes.failedWithoutFault <= vanishes &&
                      (!judgeTiming || outcomes.slowestMs < kLongestMs + 100);
    std::printf("  %s\n", good ? "PASS" : "FAIL");
    return good ? 0 : 1;
}
