// What the link's doubt costs on a reader that is not our simulator (a scripted reader on a
// pseudo-terminal, paced like the serial line): the fence on a reader of 20 EEPROM words
// that refuses reads beyond them, the fence after each NACK of an inventory in an empty
// field, and auto-scan notifications delivered through a USB-serial adapter and a UART
// FIFO while commands run every 50 ms. Wall time is set against the wire time of the bytes
// that actually went both ways (from the trace hook).
#include "machine.h"
#include "qx4drv.h"
#include "scan_commands.h"
#include "scripted_reader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace qx4bench_figures;
using qx4test::Delivery;
using qx4test::ScriptedReader;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<unsigned long> lineBytes{0}, frames{0};

void CountBytes(int direction, const unsigned char*, unsigned count, void*) {
    if (direction == QX4_TRACE_SENT || direction == QX4_TRACE_RECEIVED) {
        lineBytes += count;
        ++frames;
    }
}

struct Figure {
    double medianMs = 0, wireMs = 0, framesPerCall = 0;
    int failed = 0;
};

// Median wall time of `run`, and the wire time and frames of its median call's bytes.
Figure Measure(const std::function<bool()>& run, int repetitions, unsigned baud) {
    std::vector<std::pair<double, unsigned long>> calls;
    Figure figure;
    unsigned long allFrames = 0;
    for (int i = 0; i < repetitions; ++i) {
        lineBytes = 0;
        frames = 0;
        const auto start = Clock::now();
        figure.failed += !run();
        calls.emplace_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
                           lineBytes.load());
        allFrames += frames;
    }
    std::sort(calls.begin(), calls.end());
    figure.medianMs = calls[calls.size() / 2].first;
    figure.wireMs = calls[calls.size() / 2].second * 10.0 * 1000.0 / baud;
    figure.framesPerCall = double(allFrames) / repetitions;
    return figure;
}

std::unique_ptr<ScriptedReader> Open(unsigned baud, Delivery delivery) {
    auto reader = std::make_unique<ScriptedReader>(baud, delivery);
    QX4DllClose();
    ::setenv("QX4_COM3", reader->DevicePath().c_str(), 1);
    if (!QX4DllOpen(3, 0)) {
        std::fprintf(stderr, "cannot open %s\n", reader->DevicePath().c_str());
        std::exit(1);
    }
    QX4Resync();
    return reader;
}

struct Counter : QX4Window {
    std::atomic<unsigned> received{0};
    Counter() {
        copyData = [](QX4Window* self, const QX4CopyData*) {
            ++static_cast<Counter*>(self)->received;
        };
    }
};

void Notifications(unsigned baud, Delivery delivery, const char* name, int seconds) {
    auto reader = Open(baud, delivery);
    Counter window;
    QX4SetHandle(&window);
    const qx4test::ScanRun run = qx4test::CommandsDuringScan(*reader, baud, seconds);
    const unsigned sent = reader->NotificationsSent();
    std::printf("  %-28s %6u baud: %5u sent, %5u received, %4u lost; %d commands, %d failed\n",
                name, baud, sent, window.received.load(), sent - window.received.load(),
                run.commands, run.failed);
    QX4SetHandle(nullptr);
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 30;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    PrintMachine("link_doubt");
    QX4SetTraceHook(CountBytes, nullptr);
    // Each scripted reader goes away with the port still open: that hang-up is no news.
    static const QX4PlatformHooks quiet{[](const char*, const char*) {}, nullptr, nullptr};
    QX4SetPlatformHooks(&quiet);

    std::printf("\nthe fence (QX4Resync) on a reader of 20 EEPROM words, NACK 0x43 beyond\n");
    std::printf("  %-28s %11s %9s %9s %7s %7s\n", "", "baud", "median", "wire", "ratio", "frames");
    for (unsigned baud : {19200u, 9600u}) {
        auto reader = Open(baud, Delivery::Whole);
        reader->SetEeprom(20, 0x43);
        const Figure f = Measure([] { return QX4Resync() == 1; }, repetitions, baud);
        std::printf("  %-28s %6u baud %6.2f ms %6.2f ms %7.3f %7.2f%s\n", "QX4Resync", baud,
                    f.medianMs, f.wireMs, f.medianMs / f.wireMs, f.framesPerCall,
                    f.failed ? " (some failed)" : "");
    }

    std::printf("\ninventory of an empty field: each NACK 4 puts the link in doubt, so each\n"
                "next call fences first (per call, against one inventory alone)\n");
    for (unsigned baud : {19200u, 9600u}) {
        auto reader = Open(baud, Delivery::Whole);
        reader->SetEeprom(20, 0x43);
        reader->Content().SetField({});
        unsigned char dsfid = 0, uid[8];
        const auto inventory = [&] {
            return QX4Inventory(0x40, &dsfid, uid) == 0 && QX4GetFailureCause() == QX4_CAUSE_NACK;
        };
        const Figure f = Measure(inventory, repetitions, baud);
        const double alone = (9 + 8) * 10.0 * 1000.0 / baud; // the request and its NACK
        std::printf("  %6u baud: median %6.2f ms per call, wire %6.2f ms (%.2f frames), "
                    "inventory alone %5.2f ms on the wire; ratio to wire %.3f%s\n",
                    baud, f.medianMs, f.wireMs, f.framesPerCall, alone, f.medianMs / f.wireMs,
                    f.failed ? " (some did not end in NACK 4)" : "");
    }

    std::printf("\nauto-scan notifications with a command about every 50 ms, %d s each\n", seconds);
    Notifications(19200, Delivery::UsbAdapter, "USB adapter (62 B, 16 ms)", seconds);
    Notifications(9600, Delivery::UsbAdapter, "USB adapter (62 B, 16 ms)", seconds);
    Notifications(9600, Delivery::UartFifo, "UART FIFO (14 B)", seconds);
    Notifications(19200, Delivery::Whole, "whole frames", seconds);
    QX4SetTraceHook(nullptr, nullptr);
    QX4DllClose();
    return 0;
}
