// Arbitrary byte streams from the serial line arriving while commands wait, for each
// kind of wait: tag commands (0x78, echo matched), reader reads (0x4F, echo matched),
// the simple read (first frame that is not a NACK) and the fence that brings a link in
// doubt back in step. Output buffers are allocated at exactly their documented size, so
// ASan catches a copy beyond them. Byte 0 picks two commands run one after the other
// (a time-out or a bad frame in the first makes the second fence first), byte 1 the
// chunk size and how EEPROM reads are answered once the bytes have run out (at once,
// twice, after a NACK, or refused beyond 20 words), byte 2 the block size and counts; the
// rest arrives in chunks, one per message pump of the waits. The port is a pseudo-terminal nobody
// writes to: the pump hook is the line.
#include "link/context.h"
#include "link/serial_link.h"
#include "qx4drv.h"
#include "wire.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <pty.h>
#include <unistd.h>
#include <vector>

namespace {

struct Stream {
    const uint8_t* at = nullptr;
    const uint8_t* end = nullptr;
    size_t chunk = 1;
} stream;

int master = -1; // the far end of the port: what the library writes is drained here

// How the reader answers EEPROM reads (the fence's) once the stream has run out: at once,
// twice, a NACK and then the answer, or as a reader of 20 words that refuses beyond them.
enum class Eeprom : uint8_t { Answers, Twice, NackFirst, TwentyWords };
Eeprom eepromReplies = Eeprom::Answers;
qx4sim::FrameSplitter requests;
std::vector<qx4sim::Bytes> owed; // EEPROM reads not answered yet

void Drain() {
    uint8_t sink[4096];
    for (ssize_t n; (n = ::read(master, sink, sizeof sink)) > 0;)
        requests.Feed(sink, size_t(n));
    while (const auto request = requests.Next())
        if (request->size() > 6 && (*request)[2] == 0x4F && (*request)[4] == 0x70)
            owed.push_back(*request);
}

void Put(const qx4sim::Bytes& frame) {
    qx4::Link().ring.Append(frame.data(), frame.size());
}

void AnswerEepromRead(const qx4sim::Bytes& request) {
    const uint8_t address = request[5], count = request[6];
    if (eepromReplies == Eeprom::TwentyWords && address + count > 20) {
        Put(qx4sim::EncodeFrame(0x31, {0x43}));
        return;
    }
    qx4sim::Bytes values{0x70, address, count};
    for (int i = 0; i < 2 * count; ++i)
        values.push_back(uint8_t(address * 2 + i));
    const qx4sim::Bytes answer = qx4sim::EncodeFrame(0x30, values);
    if (eepromReplies == Eeprom::NackFirst) Put(qx4sim::EncodeFrame(0x31, {0x04}));
    Put(answer);
    if (eepromReplies == Eeprom::Twice) Put(answer);
}

// Stands in for the receive thread: each pump of the wait delivers the next chunk.
void Deliver() {
    Drain();
    if (stream.at == stream.end) {
        if (!owed.empty()) { // a fence (or the caller's read) gets a reader's answer
            AnswerEepromRead(owed.front());
            owed.erase(owed.begin());
        } else {
            QX4SetCmdWaitTime(0); // nothing more will come: let the wait end now
        }
    } else {
        const size_t count = std::min(stream.chunk, size_t(stream.end - stream.at));
        qx4::Link().ring.Append(stream.at, count);
        stream.at += count;
    }
    qx4::NotifyReceived();
}

void Quiet(const char*, const char*) {}

struct Sink : QX4Window {
    Sink() {
        copyData = [](QX4Window*, const QX4CopyData* record) {
            unsigned sum = 0; // every byte handed over is read: ASan sees a count too large
            for (uint32_t i = 0; i < record->count; ++i)
                sum += record->data[i];
            if (record->count > 255 || sum > 255u * 255u) std::abort();
        };
    }
} sink;

std::unique_ptr<unsigned char[]> Exact(size_t bytes) {
    return std::unique_ptr<unsigned char[]>(new unsigned char[bytes ? bytes : 1]);
}

void RunCommand(uint8_t which, uint8_t shape) {
    const unsigned char uid[8] = {1, 2, 3, 4, 5, 6, 7, 0xE0};
    const int k = QX4GetTagBlockSize();
    const int kMyd = QX4GetTagMydBlockSize();
    const bool option = shape & 0x80;
    const int mode = option ? 0x11 : 0x01;
    const int count = shape & 0x1F; // blocks minus 1, bytes minus 1, words
    switch (which % 13) {
    case 0: {
        auto out = Exact(size_t(k) + option);
        QX4ReadSingleBlock(mode, 0, out.get(), uid);
        break;
    }
    case 1: {
        auto out = Exact(size_t(count + 1) * (size_t(k) + option));
        QX4ReadMultiBlock(mode, 0, count, out.get(), uid);
        break;
    }
    case 2: {
        auto out = Exact(size_t(count) + 1);
        QX4GetMBlockSecSt(0x01, 0, count, out.get(), uid);
        break;
    }
    case 3: {
        auto out = Exact(size_t(count) + 1);
        QX4ReadBytes(0x01, 0, count, out.get(), uid);
        break;
    }
    case 4: {
        auto out = Exact(255);
        int length = 0;
        QX4GetSystemInfo(0x01, out.get(), &length, uid);
        break;
    }
    case 5: {
        auto dsfid = Exact(1), found = Exact(8);
        QX4Inventory(0x40, dsfid.get(), found.get());
        break;
    }
    case 6: {
        auto out = Exact(size_t(kMyd) + option);
        QX4Myd_Read(mode, 0, out.get(), uid);
        break;
    }
    case 7: {
        auto buf = Exact(size_t(kMyd) + option);
        QX4MydWriteReread(mode, 0, buf.get(), uid);
        break;
    }
    case 8: {
        auto text = Exact(255);
        QX4GetROMVersion(reinterpret_cast<char*>(text.get()));
        break;
    }
    case 9: {
        auto words = Exact(2 * size_t(count));
        QX4GetEepromData2(0, count, words.get());
        break;
    }
    case 10: {
        auto a = Exact(1), b = Exact(1), c = Exact(1), uidOut = Exact(8);
        QX4GetRWMode(a.get(), b.get(), c.get());
        QX4GetUidData(1, uidOut.get());
        break;
    }
    case 11:
        QX4SimpleReadCmd();
        break;
    default:
        QX4Resync();
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        int slave = -1;
        char path[128];
        if (::openpty(&master, &slave, path, nullptr, nullptr) != 0) std::abort();
        ::close(slave);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        const QX4PlatformHooks hooks{Quiet, Deliver, nullptr};
        QX4SetPlatformHooks(&hooks);
        ::setenv("QX4_COM98", path, 1);
        if (QX4DllOpen(98, 0) != 1) std::abort();
        QX4SetHandle(&sink);
        QX4SetfDispMessage(1);
        return true;
    }();
    (void)ready;
    if (size < 3) return 0;
    // Start each input on a quiet line, in step, with the same fence address.
    Drain();
    owed.clear();
    eepromReplies = static_cast<Eeprom>(data[1] >> 6);
    const std::shared_ptr<qx4::ReaderContext> context = qx4::Context();
    context->readIndex = static_cast<int32_t>(qx4::Link().ring.WriteIndex());
    qx4::Link().ring.Consumed(static_cast<uint32_t>(context->readIndex));
    context->inFrame = 0;
    context->rescanCount = 0;
    context->inDoubt = false;
    context->fenceAddress = 0;
    QX4SetTagBlockSize(1 + data[2] % 32);
    QX4SetTagMydBlockSize(1 + data[2] % 16);
    stream = {data + 3, data + size, size_t(data[1] % 64) + 1};
    QX4SetCmdWaitTime(1000);
    RunCommand(data[0] & 0x0F, data[2]);
    QX4SetCmdWaitTime(1000);
    RunCommand(data[0] >> 4, data[2]);
    return 0;
}
