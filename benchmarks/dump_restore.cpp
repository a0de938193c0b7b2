// Dump and restore against the simulated reader paced at 19200 baud: the time taken
// next to the wire time of the frames exchanged, and how many frames that took next to
// the fewest that carry the data. Also with the single-block fallbacks of a tag that
// has no multi-block commands. And the start-up fence every qx4 run sends.
#include "link_observer.h"
#include "machine.h"
#include "qx4drv.h"
#include "restore.h"
#include "simulated_reader.h"

#include <chrono>
#include <cstdlib>

using namespace qx4bench_figures;
using Clock = std::chrono::steady_clock;

namespace {

constexpr unsigned kBaud = 19200;

struct Wire {
    unsigned frames = 0; // requests sent
    unsigned long bytes = 0;
    double Ms() const { return bytes * 10.0 * 1000.0 / kBaud; }
};

void Report(const char* what, double ms, const Wire& wire, unsigned fewest) {
    std::printf("  %-44s %8.1f ms  wire %7.1f ms  ratio %5.2f  frames %2u (fewest %u)\n", what, ms,
                wire.Ms(), ms / wire.Ms(), wire.frames, fewest);
}

// Frames of the fewest-frame plan: system information, then reads of `perRead` blocks.
unsigned FewestReads(int blocks, int perRead) {
    return 1 + static_cast<unsigned>((blocks + perRead - 1) / perRead);
}

} // namespace

int main() {
    PrintMachine("dump_restore");
    qx4sim::SimulatedReader reader;
    reader.Peer().SetBaud(kBaud);
    ::setenv("QX4_COM3", reader.DevicePath().c_str(), 1);
    if (!QX4DllOpen(3, 0)) return 1;
    Wire wire;
    qx4dump::LinkObserver link([&](int direction, const uint8_t*, unsigned count) {
        if (direction == QX4_TRACE_SENT) ++wire.frames;
        if (direction != QX4_TRACE_LOST) wire.bytes += count;
    });

    // What every qx4 run pays at its start: the fence that passes an earlier run's late
    // answer by. One request and its answer on the paced line.
    {
        constexpr int kFences = 20;
        wire = {};
        const auto start = Clock::now();
        for (int i = 0; i < kFences; ++i)
            if (!QX4Resync()) {
                std::printf("  fence failed\n");
                return 1;
            }
        const double ms =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count() / kFences;
        wire.bytes /= kFences;
        wire.frames /= kFences;
        std::printf("\nstart-up fence of a qx4 run (QX4Resync, mean of %d)\n", kFences);
        Report("fence", ms, wire, 1);
    }

    for (bool multiBlock : {true, false}) {
        reader.Modify([&](auto&, std::vector<qx4sim::Tag>& field) {
            for (auto& tag : field)
                tag.answersMultiBlock = multiBlock;
        });
        std::printf("\n%s\n", multiBlock
                                  ? "multi-block commands (target: ratio <= 1.3)"
                                  : "single-block fallbacks (tag without multi-block commands)");
        for (const qx4sim::Tag& simulated : {reader.Field()[0], reader.Field()[1]}) {
            const int blocks = static_cast<int>(simulated.BlockCount());
            const int k = static_cast<int>(simulated.blockSize);
            char name[64];
            std::snprintf(name, sizeof name, "dump %d x %d", blocks, k);
            qx4dump::TagAccess tag(link, simulated.uid, 2000);
            qx4dump::TagDump dump;
            std::string note;
            wire = {};
            auto start = Clock::now();
            if (!qx4dump::ReadTag(tag, {}, false, dump, note)) {
                std::printf("  %s failed: %s %s: %s\n", name, note.c_str(),
                            tag.failure().function.c_str(), tag.failure().text.c_str());
                return 1;
            }
            double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            const int perRead = multiBlock ? tag.LongestRead(true) : 1;
            Report(name, ms, wire, FewestReads(blocks, perRead));

            // Five blocks differ, in three runs: 1-3, 7, 9.
            qx4dump::TagDump wanted = dump;
            for (int b : {1, 2, 3, 7, 9})
                for (auto& byte : wanted.blocks[size_t(b)].data)
                    byte ^= 0x5A;
            qx4dump::TagAccess again(link, simulated.uid, 2000);
            wire = {};
            start = Clock::now();
            const qx4dump::RestoreReport report = qx4dump::Restore(again, wanted, {});
            ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            if (!report.complete || report.written.size() != 5) {
                std::printf("  restore failed: %s (%zu written, %zu failed)\n",
                            report.error.c_str(), report.written.size(), report.failed.size());
                return 1;
            }
            const unsigned writes = multiBlock ? 3 : 5, verifies = multiBlock ? 3 : 5;
            std::snprintf(name, sizeof name, "restore %d x %d, 5 blocks differ", blocks, k);
            Report(name, ms, wire, FewestReads(blocks, perRead) + writes + verifies);

            qx4dump::TagAccess same(link, simulated.uid, 2000);
            const qx4dump::RestoreReport nothing = qx4dump::Restore(same, wanted, {});
            std::printf("  %-44s written %zu\n", "restore onto an identical tag",
                        nothing.written.size());
        }
    }
    QX4DllClose();
    return 0;
}
