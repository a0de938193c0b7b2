// Arbitrary byte streams from the serial line through the scanner, dispatch and the
// exports' reply copies. Byte 0 picks the block size and the command whose answer the
// stream's end is taken for; the rest arrives in chunks whose sizes byte 1 sets.
#include "link/context.h"
#include "link/response.h"
#include "qx4drv.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

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

void RunExport(uint8_t which) {
    unsigned char out[600];
    char text[256];
    int length;
    const unsigned char uid[8] = {};
    switch (which % 12) {
    case 0:
        QX4GetROMVersion(text);
        break;
    case 1:
        QX4GetEepromData2(0, which % 127, out);
        break;
    case 2:
        QX4GetRWMode(out, out + 1, out + 2);
        break;
    case 3:
        QX4GetUidData(1, out);
        break;
    case 4:
        QX4Inventory(0, out, out + 1);
        break;
    case 5:
        QX4ReadMultiBlock(0x10, 0, which, out, uid);
        break;
    case 6:
        QX4GetSystemInfo(0, out, &length, uid);
        break;
    case 7:
        QX4ReadBytes(0, 0, which, out, uid);
        break;
    case 8:
        QX4Myd_Read(0x10, 0, out, uid);
        break;
    case 9:
        QX4SimpleReadCmd();
        break;
    case 10:
        QX4GetMBlockSecSt(0, 0, which, out, uid);
        break;
    default:
        QX4ReadData();
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        const QX4PlatformHooks hooks{Quiet, nullptr, nullptr};
        QX4SetPlatformHooks(&hooks);
        ::setenv("QX4_COM99", "/nonexistent/qx4-fuzz", 1);
        QX4DllOpen(99, 0); // a context without a port
        QX4SetHandle(&sink);
        QX4SetCmdWaitTime(0);
        QX4SetfDispMessage(1);
        return true;
    }();
    (void)ready;
    if (size < 2) return 0;
    qx4::ReaderContext* context = qx4::Context();
    const size_t chunk = data[1] % 64 + 1;
    context->tagBlockSize = data[0] % 9;
    // Every chunk but the last through the scanner; the last one answers an export
    // (each export costs the 2 ms of its send guards, so one per input).
    size_t at = 2;
    for (; size - at > chunk; at += chunk) {
        qx4::Link().ring.Append(data + at, chunk);
        qx4::ScanReceived(*context);
    }
    qx4::Link().ring.Append(data + at, size - at);
    if (data[0] & 0x80)
        RunExport(data[0]);
    else
        qx4::ScanReceived(*context);
    return 0;
}
