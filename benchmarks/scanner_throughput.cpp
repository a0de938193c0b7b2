// Bytes per second through the frame scanner and dispatch, on a recorded stream of
// acknowledgements and notifications (Google Benchmark). No target: it shows the
// parser is never the bottleneck next to a 1920 bytes/s serial line.
#include "link/context.h"
#include "link/response.h"
#include "qx4drv.h"
#include "simulated_reader.h"

#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

qx4sim::Bytes RecordedStream() {
    qx4sim::Bytes stream;
    auto add = [&](const qx4sim::Bytes& frame) {
        stream.insert(stream.end(), frame.begin(), frame.end());
    };
    for (int i = 0; i < 20; ++i) {
        add(qx4sim::EncodeFrame(0x64, {1, 2, 3, 4, 5, 6, 7, 8, 'Q', 'X', '4', ' ', 't', 'a', 'g'}));
        add(qx4sim::EncodeFrame(0x44, {'E', '0', '0', '4', '0', '1', '0', '0', '1', '2', '3', '4',
                                       '5', '6', '7', '8'}));
        add(qx4sim::EncodeFrame(0x30, qx4sim::Bytes(65, 0x23)));
        add({0xFF, 0x00}); // line noise
    }
    return stream;
}

void ScanRecordedStream(benchmark::State& state) {
    ::setenv("QX4_COM97", "/nonexistent/qx4-bench", 1);
    QX4DllOpen(97, 0);
    static QX4Window sink{
        [](QX4Window*, const QX4CopyData* record) { benchmark::DoNotOptimize(record->data[0]); }};
    QX4SetHandle(&sink);
    qx4::ReaderContext& context = *qx4::Context();
    context.lastCommand = 0x78;
    const qx4sim::Bytes stream = RecordedStream();
    for (auto _ : state) {
        qx4::Link().ring.Append(stream.data(), stream.size());
        qx4::ScanReceived(context);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    QX4SetHandle(nullptr);
    QX4DllClose();
}
BENCHMARK(ScanRecordedStream);

} // namespace

BENCHMARK_MAIN();
