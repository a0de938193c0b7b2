// Auto-scan with a command about every 50 ms, never in step with the scan: the reader
// answers commands while it scans, and the line is busy about half the time.
#pragma once

#include "qx4drv.h"
#include "scripted_reader.h"

#include <chrono>
#include <thread>

namespace qx4test {

struct ScanRun {
    int commands = 0, failed = 0;
};

// Scans for `seconds`, then takes the reader out of auto-scan and reads what is still on
// the line; notifications go to whatever window is set.
inline ScanRun CommandsDuringScan(ScriptedReader& reader, unsigned baud, int seconds) {
    // A notification every 60 bytes' time: 63 bytes take 33 ms at 19200 baud.
    reader.SetScan(ScriptedReader::kAnswers, 60 * 19200 / baud);
    reader.Content().Modify([](qx4sim::ReaderRegisters& r, auto&) { r.mode = 0x01; });
    ScanRun run;
    unsigned char status = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (int i = 0; std::chrono::steady_clock::now() < end; ++i, ++run.commands) {
        run.failed += QX4GetErrorStatus(&status) != 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(40 + i * 7 % 23));
        QX4ReadData();
    }
    reader.Content().Modify([](qx4sim::ReaderRegisters& r, auto&) { r.mode = 0x00; });
    for (int i = 0; i < 10; ++i) { // what is still on the line
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        QX4ReadData();
    }
    return run;
}

} // namespace qx4test
