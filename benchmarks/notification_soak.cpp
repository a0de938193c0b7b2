// Auto-scan notifications back to back at 19200 baud for a set time, the scanner
// driven as the checker drives it (QX4ReadData every 200 ms): every notification
// sent must reach the window intact; memory must stay flat.
#include "machine.h"
#include "qx4drv.h"
#include "simulated_reader.h"

#include <chrono>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>

namespace {

struct Counter : QX4Window {
    std::set<qx4sim::Bytes> expected;
    long received = 0, corrupted = 0;
    Counter() {
        copyData = [](QX4Window* self, const QX4CopyData* record) {
            auto* counter = static_cast<Counter*>(self);
            ++counter->received;
            if (!counter->expected.count(qx4sim::Bytes(record->data, record->data + record->count)))
                ++counter->corrupted;
        };
    }
};

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    qx4bench_figures::PrintMachine("notification_soak");
    qx4sim::SimOptions options;
    options.baud = 19200;
    options.autoScanPeriodMs = 0; // back to back: only the line's pace limits them
    qx4sim::SimulatedReader reader(options);
    ::setenv("QX4_COM3", reader.DevicePath().c_str(), 1);
    if (!QX4DllOpen(3, 0)) return 1;

    Counter counter;
    for (const qx4sim::Tag& tag : reader.Field()) { // what each tag's notification carries
        qx4sim::Bytes data(tag.uid.begin(), tag.uid.end());
        const qx4sim::Bytes text = tag.TextData(247);
        data.insert(data.end(), text.begin(), text.end());
        counter.expected.insert(data);
    }
    QX4SetHandle(&counter);
    reader.Modify([](qx4sim::ReaderRegisters& r, auto&) { r.mode = 1; }); // auto-scan

    const auto start = std::chrono::steady_clock::now();
    long rssAfterWarmUp = 0;
    int tick = 0;
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(seconds)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        QX4ReadData();
        if (++tick == 25) rssAfterWarmUp = qx4bench_figures::PeakRssKb();
    }
    reader.Modify([](qx4sim::ReaderRegisters& r, auto&) { r.mode = 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    QX4ReadData();
    const unsigned sent = reader.NotificationsSent();
    std::printf("%d s at 19200 baud: sent %u, received %ld, corrupted %ld, lost %ld\n", seconds,
                sent, counter.received, counter.corrupted, long(sent) - counter.received);
    std::printf("peak RSS %ld kB (after 5 s: %ld kB)\n", qx4bench_figures::PeakRssKb(),
                rssAfterWarmUp);
    QX4SetHandle(nullptr);
    QX4DllClose();
    return sent == counter.received && counter.corrupted == 0 ? 0 : 1;
}
