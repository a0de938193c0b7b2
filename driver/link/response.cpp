#include "link/response.h"

#include "link/context.h"
#include "link/frame.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/hooks.h"

namespace qx4 {
namespace {

constexpr unsigned kPollPeriodMs = 10;
constexpr const char* kNackReceived = "NACK 受信";
constexpr const char* kTimedOut = "レスポンス待ち　タイムオーバー";

uint32_t generation = 0;

bool IsAck(uint8_t type) {
    return type == static_cast<uint8_t>(ResponseType::Ack);
}

void Trace(int direction, const uint8_t* bytes, size_t count) {
    if (auto hook = Link().traceHook.load(std::memory_order_relaxed))
        hook(direction, bytes, static_cast<unsigned>(count), Link().traceUser.load());
}

} // namespace

void NextContextGeneration() {
    ++generation;
}

void ShowDiagnostic(const ReaderContext& context, const char* text) {
    if (context.dispMessage) platform::ShowMessageBox(text, "Info Message");
}

bool SendFrame(ReaderContext&, const uint8_t* bytes, size_t count) {
    platform::SleepMs(1);
    Trace(0, bytes, count);
    const size_t written = WritePort(bytes, count);
    platform::SleepMs(1);
    return written == count;
}

bool SendCommand(ReaderContext& context, Command command, std::span<const uint8_t> data,
                 Records records) {
    FrameBuffer frame;
    const size_t length =
        BuildFrame(frame, context.readerAddress, static_cast<uint8_t>(command), data);
    if (length == 0) return false;
    if (records == Records::LastCommand) context.lastCommand = static_cast<uint8_t>(command);
    context.responseReceived = 0;
    SendFrame(context, frame.data(), length); // a failed write shows up as a time-out
    return true;
}

WaitOutcome AwaitResponse(ReaderContext& context, bool (*accepts)(uint8_t)) {
    if (!accepts) accepts = IsAck;
    const uint32_t owner = generation;
    const uint32_t start = platform::TickMs();
    Link().waitStart = start;
    struct WaitFlag { // set while this wait runs, whichever way it ends
        bool& flag;
        explicit WaitFlag(bool& f) : flag(f) { flag = true; }
        ~WaitFlag() { flag = false; }
    } waiting(Link().responseWait);
    for (;;) {
        // Wake as soon as the receive thread publishes; never later than one poll period.
        if (Link().ring.WriteIndex() == static_cast<uint32_t>(context.readIndex))
            AwaitReceivedBytes(kPollPeriodMs);
        platform::PumpMessages();
        if (generation != owner) return WaitOutcome::Closed;
        ScanReceived(context);
        if (generation != owner) return WaitOutcome::Closed;
        if (context.responseReceived) {
            if (accepts(context.frame[2])) return WaitOutcome::Accepted;
            ShowDiagnostic(context, kNackReceived);
            return WaitOutcome::Rejected;
        }
        if (platform::TickMs() - start >= context.cmdWaitTime) {
            ShowDiagnostic(context, kTimedOut);
            return WaitOutcome::TimedOut;
        }
    }
}

int WaitForResponse(ReaderContext& context) {
    return AwaitResponse(context) == WaitOutcome::Accepted ? 1 : 0;
}

void ScanReceived(ReaderContext& context) {
    LinkState& link = Link();
    if (link.scanBusy) return;
    link.scanBusy = true;
    const uint32_t owner = generation;
    const uint32_t write = link.ring.WriteIndex();
    context.writeSnapshot = static_cast<int32_t>(write);
    uint32_t read = static_cast<uint32_t>(context.readIndex) % RxRing::kSize;
    if (write == read) {
        if (context.idleCountdown != 0)
            --context.idleCountdown;
        else
            context.inFrame = 0; // a partial frame that stopped growing is dropped
    } else {
        context.idleCountdown = context.rxWaitTime;
        for (; read != write; read = (read + 1) % RxRing::kSize) {
            const uint8_t b = link.ring.At(read);
            if (!context.inFrame) {
                if (b == kStx) {
                    context.frame[0] = b;
                    context.framePos = 1;
                    context.frameEnd = 7;
                    context.inFrame = 1;
                }
            } else if (context.framePos == 3) {
                context.frame[3] = b;
                context.framePos = 4;
                context.frameEnd = b + 6;
            } else if (context.framePos == context.frameEnd && b == kCr) {
                context.frame[context.framePos] = b;
                context.inFrame = 0;
                Trace(1, context.frame.data(), static_cast<size_t>(context.frameEnd) + 1);
                DispatchFrame(context);
                if (generation != owner) break; // a handler closed the library
                // The waiting command reads its answer from `frame`: assembling the next
                // frame there in the same pass would overwrite it. The rest waits in the ring.
                if (link.responseWait) {
                    read = (read + 1) % RxRing::kSize;
                    break;
                }
            } else if (context.framePos > context.frameEnd) {
                context.inFrame = 0; // overrun: this byte is not examined as an STX
            } else {
                context.frame[context.framePos++] = b;
            }
        }
    }
    if (generation == owner) context.readIndex = static_cast<int32_t>(read);
    link.scanBusy = false;
}

} // namespace qx4
