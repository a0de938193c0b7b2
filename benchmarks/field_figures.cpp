// Figures against the real limit: the simulator's field profile (air time, a USB-serial
// adapter, lost replies) at 19200 and 9600 baud, each operation's wall time next to its
// serial wire time plus its time on the air; the default profile next to the wire alone.
// Then what retries cost on a field with 1 % CRC errors: a 256 x 32 dump over 20 seeds.
//   qx4_field_figures [table|retries|all]
#include "link_observer.h"
#include "machine.h"
#include "profile.h"
#include "qx4drv.h"
#include "restore.h"
#include "simulated_reader.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using namespace qx4bench_figures;
using Clock = std::chrono::steady_clock;

namespace {

qx4sim::Tag Numbered(uint8_t id, unsigned blockSize, unsigned blocks) {
    // Lowest UID digits spread over the slots, some shared, as UIDs of a real batch are.
    const qx4sim::Uid uid{static_cast<uint8_t>(id * 7 + 3), id, 0x5A, 0x00, 0x00, 0x01, 0x04, 0xE0};
    qx4sim::Tag tag = qx4sim::Tag::Make(uid, qx4sim::TagType::Iso15693, blockSize, blocks);
    for (size_t i = 0; i < tag.memory.size(); ++i)
        tag.memory[i] = static_cast<uint8_t>(i * 13 + id);
    return tag;
}

// A reader of one profile at one rate, opened on COM3, counting wire bytes and air time.
class Bench {
  public:
    Bench(const std::string& profile, bool slow, std::vector<qx4sim::Tag> field,
          double crcErrors = -1, unsigned seed = 1)
        : baud_(slow ? 9600 : 19200) {
        qx4sim::SimOptions options;
        qx4sim::ApplyProfile(options, profile);
        options.paceAtLineRate = true; // the default profile too: the wire is the limit
        options.seed = seed;
        if (crcErrors >= 0) options.crcErrors = crcErrors;
        reader_ = std::make_unique<qx4sim::SimulatedReader>(options);
        reader_->SetField(std::move(field));
        reader_->Peer().SetTimedResponder([this](const qx4sim::Bytes& request) {
            qx4sim::Reply reply = reader_->Answer(request);
            airUs_ += reply.delayUs;
            return reply;
        });
        ::setenv("QX4_COM3", reader_->DevicePath().c_str(), 1);
        opened_ = QX4DllOpen(3, slow ? 1 : 0) == 1;
        link_ = std::make_unique<qx4dump::LinkObserver>(
            [this](int direction, const uint8_t*, unsigned count) {
                if (direction == QX4_TRACE_SENT) ++frames_;
                if (direction != QX4_TRACE_LOST) bytes_ += count;
            });
    }
    ~Bench() {
        link_.reset();
        QX4DllClose();
    }
    bool opened() const { return opened_; }
    qx4dump::LinkObserver& link() { return *link_; }
    qx4sim::SimulatedReader& reader() { return *reader_; }
    void Reset() {
        bytes_ = 0;
        frames_ = 0;
        airUs_ = 0;
    }
    double WireMs() const { return bytes_ * 10.0 * 1000.0 / baud_; }
    double AirMs() const { return airUs_ / 1000.0; }
    unsigned frames() const { return frames_; }

  private:
    unsigned baud_;
    std::unique_ptr<qx4sim::SimulatedReader> reader_;
    std::unique_ptr<qx4dump::LinkObserver> link_;
    std::atomic<unsigned long> bytes_{0}, airUs_{0};
    std::atomic<unsigned> frames_{0};
    bool opened_ = false;
};

double Since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Row(const char* what, double ms, const Bench& bench, int runs, int retries, bool ok) {
    const double wire = bench.WireMs() / runs, air = bench.AirMs() / runs;
    std::printf("  %-30s %9.1f ms  wire %8.1f  air %8.1f  limit %8.1f  ratio %5.2f  frames "
                "%4u  retries %d%s\n",
                what, ms / runs, wire, air, wire + air, ms / runs / (wire + air),
                bench.frames() / runs, retries, ok ? "" : "  FAILED");
}

bool Dump(Bench& bench, const qx4sim::Tag& tag, qx4dump::TagDump& dump, int& retries) {
    qx4dump::TagAccess access(bench.link(), tag.uid, 2000);
    std::string note;
    const bool ok = qx4dump::ReadTag(access, {}, false, dump, note);
    retries += access.retries();
    return ok;
}

// Every block of the dump holds what the simulated tag holds.
bool Matches(const qx4dump::TagDump& dump, const qx4sim::Tag& tag) {
    if (dump.blocks.size() != tag.BlockCount()) return false;
    for (size_t b = 0; b < dump.blocks.size(); ++b)
        if (!std::equal(dump.blocks[b].data.begin(), dump.blocks[b].data.end(),
                        tag.memory.begin() + static_cast<long>(b * tag.blockSize)))
            return false;
    return true;
}

void Table(const std::string& profile, bool slow) {
    std::printf("\n%s profile at %u baud (limit: wire%s)\n", profile.c_str(), slow ? 9600 : 19200,
                profile == "field" ? " + air" : "; air not modelled");
    for (unsigned count : {1u, 8u, 16u}) {
        std::vector<qx4sim::Tag> field;
        for (unsigned i = 0; i < count; ++i)
            field.push_back(Numbered(static_cast<uint8_t>(i + 1), 4, 28));
        Bench bench(profile, slow, field);
        if (!bench.opened()) return;
        QX4Resync();
        constexpr int kRuns = 5;
        bench.Reset();
        bool ok = true;
        const auto start = Clock::now();
        for (int r = 0; r < kRuns; ++r) {
            unsigned char found = 0;
            ok = QX4Inventory2(0, 0, &found) && found == count && ok;
            for (int i = 1; i <= found; ++i) {
                unsigned char uid[8];
                ok = QX4GetUidData(i, uid) && ok;
            }
        }
        char name[64];
        std::snprintf(name, sizeof name, "inventory, %u tag%s (mean of %d)", count,
                      count == 1 ? "" : "s", kRuns);
        Row(name, Since(start), bench, kRuns, 0, ok);
    }
    {
        const qx4sim::Tag tag = Numbered(1, 4, 28);
        Bench bench(profile, slow, {tag});
        QX4Resync();
        constexpr int kRuns = 20;
        QX4SetTagBlockSize(4);
        bench.Reset();
        bool ok = true;
        const auto start = Clock::now();
        for (int r = 0; r < kRuns; ++r) {
            unsigned char out[4];
            ok = QX4ReadSingleBlock(0x01, 5, out, tag.uid.data()) && ok;
        }
        Row("read 1 block (mean of 20)", Since(start), bench, kRuns, 0, ok);
    }
    struct Shape {
        unsigned blockSize, blocks;
        bool restore;
    };
    for (const Shape shape : {Shape{4, 28, true}, Shape{8, 32, false}, Shape{32, 256, true}}) {
        const qx4sim::Tag tag = Numbered(1, shape.blockSize, shape.blocks);
        Bench bench(profile, slow, {tag});
        QX4Resync();
        char name[64];
        std::snprintf(name, sizeof name, "dump %u x %u", shape.blocks, shape.blockSize);
        qx4dump::TagDump dump;
        int retries = 0;
        bench.Reset();
        auto start = Clock::now();
        bool ok = Dump(bench, tag, dump, retries) && Matches(dump, tag);
        Row(name, Since(start), bench, 1, retries, ok);
        if (!shape.restore || !ok) continue;
        qx4dump::TagDump wanted = dump;
        for (auto& block : wanted.blocks)
            for (auto& byte : block.data)
                byte ^= 0x5A;
        qx4dump::TagAccess access(bench.link(), tag.uid, 2000);
        bench.Reset();
        start = Clock::now();
        const qx4dump::RestoreReport report = qx4dump::Restore(access, wanted, {});
        const double ms = Since(start);
        ok = report.complete && report.written.size() == shape.blocks &&
             Matches(wanted, bench.reader().Field()[0]);
        std::snprintf(name, sizeof name, "restore %u x %u, all changed", shape.blocks,
                      shape.blockSize);
        Row(name, ms, bench, 1, access.retries(), ok);
    }
}

void Retries() {
    std::printf("\nfield profile at 19200 baud with 1 %% CRC errors: dump 256 x 32, 20 seeds\n");
    const qx4sim::Tag tag = Numbered(1, 32, 256);
    double total = 0, slowest = 0, fastest = 1e12;
    int succeeded = 0, wrong = 0, retries = 0;
    for (unsigned seed = 1; seed <= 20; ++seed) {
        Bench bench("field", false, {tag}, 0.01, seed);
        QX4Resync();
        qx4dump::TagDump dump;
        int these = 0;
        bench.Reset();
        const auto start = Clock::now();
        const bool ok = Dump(bench, tag, dump, these);
        const double ms = Since(start);
        total += ms;
        slowest = std::max(slowest, ms);
        fastest = std::min(fastest, ms);
        retries += these;
        succeeded += ok;
        wrong += ok && !Matches(dump, tag);
        std::printf("  seed %2u: %s in %7.1f ms, %d retr%s, limit %7.1f ms\n", seed,
                    ok ? "ok" : "FAILED", ms, these, these == 1 ? "y" : "ies",
                    bench.WireMs() + bench.AirMs());
    }
    std::printf("  %d of 20 ok, %d ok but wrong; mean %.1f ms (fastest %.1f, slowest %.1f); "
                "%d retries in all\n",
                succeeded, wrong, total / 20, fastest, slowest, retries);
}

} // namespace

int main(int argc, char** argv) {
    const std::string part = argc > 1 ? argv[1] : "all";
    PrintMachine("field_figures");
    if (part == "table" || part == "all") {
        for (bool slow : {false, true})
            Table("field", slow);
        for (bool slow : {false, true})
            Table("default", slow);
    }
    if (part == "retries" || part == "all") Retries();
    return 0;
}
