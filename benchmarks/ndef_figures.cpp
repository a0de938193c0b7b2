// NDEF against the simulated reader paced at 19200 baud: ndef read of a URI record on a
// tag of 28 blocks of 4 bytes and one of 256 blocks of 32, and ndef write of a 200-byte
// message, each next to the wire time of the fewest exchanges that do the same.
#include "link_observer.h"
#include "machine.h"
#include "ndef_tag.h"
#include "qx4drv.h"
#include "record_types.h"
#include "simulated_reader.h"

#include <chrono>
#include <cstdlib>

using namespace qx4bench_figures;
using Clock = std::chrono::steady_clock;

namespace {

constexpr unsigned kBaud = 19200;
constexpr double kMsPerByte = 10.0 * 1000.0 / kBaud;

struct Wire {
    unsigned frames = 0;
    unsigned long bytes = 0;
};

// Addressed frames: STX, address, command, length, data, ETX, sum, CR.
constexpr unsigned long Frame(unsigned long data) {
    return 4 + data + 3;
}
// System information, request and the answer with every field.
constexpr unsigned long kSystemInfo = Frame(10) + Frame(15);
// Read Multiple of n blocks of k bytes (with status: one more byte a block).
unsigned long Read(int n, int k, bool status) {
    return Frame(12) + Frame(1 + size_t(n) * size_t(k + (status ? 1 : 0)));
}
unsigned long Write(int n, int k) {
    return Frame(12 + size_t(n) * size_t(k)) + Frame(1);
}

void Report(const char* what, double ms, const Wire& wire, unsigned long fewestBytes,
            unsigned fewestFrames) {
    std::printf("  %-40s %7.1f ms  frames %2u  wire %6.1f ms | fewest: frames %u, wire %6.1f ms"
                "  ratio %4.2f\n",
                what, ms, wire.frames, wire.bytes * kMsPerByte, fewestFrames,
                fewestBytes * kMsPerByte, ms / (fewestBytes * kMsPerByte));
}

} // namespace

int main() {
    PrintMachine("ndef");
    qx4sim::SimulatedReader reader;
    using qx4sim::Tag;
    reader.SetField(
        {Tag::Make({1, 2, 3, 4, 5, 6, 0x04, 0xE0}, qx4sim::TagType::Iso15693, 4, 28),
         Tag::Make({7, 8, 9, 10, 11, 12, 0x16, 0xE0}, qx4sim::TagType::Iso15693, 32, 256)});
    reader.Peer().SetBaud(kBaud);
    ::setenv("QX4_COM3", reader.DevicePath().c_str(), 1);
    if (!QX4DllOpen(3, 0) || !QX4Resync()) return 1;
    Wire wire;
    qx4dump::LinkObserver link([&](int direction, const uint8_t*, unsigned count) {
        if (direction == QX4_TRACE_SENT) ++wire.frames;
        if (direction != QX4_TRACE_LOST) wire.bytes += count;
    });
    const qx4ndef::Bytes uri =
        qx4ndef::BuildMessage({qx4ndef::UriRecord("https://example.com/qx4")});
    const qx4ndef::Bytes big = qx4ndef::BuildMessage(
        {qx4ndef::MimeRecord("text/plain", qx4ndef::Bytes(187, 'a'))}); // 200 bytes
    std::printf("\nNDEF (URI message %zu bytes, large message %zu bytes)\n", uri.size(),
                big.size());

    for (const Tag& simulated : reader.Field()) {
        const int k = int(simulated.blockSize), n = int(simulated.BlockCount());
        // Set-up, not measured: formatted, with the URI.
        {
            qx4dump::TagAccess tag(link, simulated.uid, 2000);
            qx4dump::SystemInfo info;
            std::string note;
            tag.ReadGeometry({}, info, note);
            qx4dump::NdefTag ndef(tag, k, n);
            qx4dump::NdefWriteReport report;
            if (!ndef.Format(report) || !ndef.Write(uri, report)) return 1;
        }
        const size_t cc = k * n > 2044 ? 8 : 4;
        const int lastBlock = int((cc + 2 + uri.size() - 1) / size_t(k));
        char name[80];
        std::snprintf(name, sizeof name, "ndef read, URI, %d x %d", n, k);
        wire = {};
        auto start = Clock::now();
        qx4dump::TagAccess tag(link, simulated.uid, 2000);
        qx4dump::SystemInfo info;
        std::string note;
        tag.ReadGeometry({}, info, note);
        qx4dump::NdefTag ndef(tag, k, n);
        qx4ndef::NdefContent content;
        if (!ndef.Read(content) || content.records.size() != 1) return 1;
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        Report(name, ms, wire, kSystemInfo + Read(lastBlock + 1, k, false), 2);

        if (k * n < 256) continue;
        // 200 bytes: whole blocks from 0 to where the TLV and terminator end.
        const int blocks = int((cc + 2 + big.size() + 1 + size_t(k) - 1) / size_t(k));
        std::snprintf(name, sizeof name, "ndef write, 200 bytes, %d x %d", n, k);
        wire = {};
        start = Clock::now();
        qx4dump::TagAccess writer(link, simulated.uid, 2000);
        writer.ReadGeometry({}, info, note);
        qx4dump::NdefTag target(writer, k, n);
        qx4dump::NdefWriteReport report;
        if (!target.Write(big, report)) return 1;
        ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        // Fewest with our rules: geometry, the blocks read once with their locks, one write,
        // one read back. Blind (no comparison, no read-back): geometry and the write.
        Report(name, ms, wire,
               kSystemInfo + Read(blocks, k, true) + Write(blocks, k) + Read(blocks, k, false), 4);
        std::printf("  %-40s %7s     written %zu blocks; blind fewest: frames 2, wire %6.1f ms\n",
                    "", "", report.written.size(), (kSystemInfo + Write(blocks, k)) * kMsPerByte);
    }
    QX4DllClose();
    return 0;
}
