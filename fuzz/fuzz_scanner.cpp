// Arbitrary byte streams from the serial line through the scanner and dispatch, as
// QX4ReadData sees them between commands (fuzz_wait covers the waits). The stream
// arrives in chunks whose size byte 1 sets.
#include "link/context.h"
#include "link/response.h"
#include "qx4drv.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct Sink : QX4Window {
    Sink() {
        copyData = [](QX4Window*, const QX4CopyData* record) {
            // Touch every byte handed over: ASan catches a count beyond the buffer.
            unsigned sum = 0;
            for (uint32_t i = 0; i < record->count; ++i)
                sum += record->data[i];
            if (record->count > 255 || sum > 255u * 255u) std::abort();
        };
    }
} sink;

void Quiet(const char*, const char*) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        const QX4PlatformHooks hooks{Quiet, nullptr, nullptr};
        QX4SetPlatformHooks(&hooks);
        ::setenv("QX4_COM99", "/nonexistent/qx4-fuzz", 1);
        QX4DllOpen(99, 0); // a context without a port
        QX4SetHandle(&sink);
        QX4SetfDispMessage(1);
        return true;
    }();
    (void)ready;
    if (size < 2) return 0;
    const std::shared_ptr<qx4::ReaderContext> context = qx4::Context();
    const size_t chunk = data[1] % 64 + 1;
    context->lastCommand = data[0]; // picks the acknowledgement's post-processing
    for (size_t at = 2; at < size; at += chunk) {
        qx4::Link().ring.Append(data + at, std::min(chunk, size - at));
        qx4::ScanReceived(*context);
    }
    return 0;
}
