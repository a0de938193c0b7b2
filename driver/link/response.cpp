#include "link/response.h"

#include "link/context.h"
#include "link/frame.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/hooks.h"

#include <algorithm>

namespace qx4 {
namespace {

constexpr unsigned kPollPeriodMs = 10;
constexpr const char* kNackReceived = "NACK 受信";
constexpr const char* kTimedOut = "レスポンス待ち　タイムオーバー";

constexpr uint32_t kSettleMarginMs = 10;
constexpr uint32_t kLongestFrame = 255 + 7;
constexpr uint32_t kOwedAtLeastMs = 1000; // how long a late answer is waited for, at least

uint32_t generation = 0;

// Commands whose ACK echoes data[0] (the ISO 15693 code or the sub-command) at frame[4].
bool EchoesFirstByte(Command command) {
    return command == Command::Iso15693 || command == Command::ReadSetting ||
           command == Command::WriteSetting;
}

void Trace(int direction, const uint8_t* bytes, size_t count) {
    if (auto hook = Link().traceHook.load(std::memory_order_relaxed))
        hook(direction, bytes, static_cast<unsigned>(count), Link().traceUser.load());
}

bool IsOwedAnswer(const ReaderContext& context) {
    return context.owedEcho >= 0 && context.frame[2] == static_cast<uint8_t>(ResponseType::Ack) &&
           context.frame[3] >= 1 && context.frame[4] == context.owedEcho;
}

// Scans what has arrived frame by frame, noting the owed answer when it comes. False
// when a handler closed the library.
bool ScanNotingOwed(ReaderContext& context) {
    const uint32_t owner = generation;
    struct OneFrameAScan { // the scan stops after each frame, so each can be looked at
        bool& flag;
        const bool before;
        explicit OneFrameAScan(bool& f) : flag(f), before(f) { flag = true; }
        ~OneFrameAScan() { flag = before; }
    } oneFrame(Link().responseWait);
    do {
        context.responseReceived = 0;
        ScanReceived(context);
        if (generation != owner) return false;
        if (context.responseReceived && IsOwedAnswer(context)) context.owedEcho = -1;
    } while (context.responseReceived);
    return true;
}

// Frames already received (or still arriving) when a command starts are not its
// answer: they are dispatched now, as a scan at any other time would. A frame
// half-way in may finish while its bytes keep coming, within the time the
// longest frame takes on the line. A command of the kind that last timed out first
// waits (up to one more response time-out) for that late answer, which would otherwise
// pass for its own. False when a handler closed the library.
bool DispatchEarlierFrames(ReaderContext& context, Command command, int echo) {
    const uint32_t owner = generation;
    if (!ScanNotingOwed(context)) return false;
    const uint32_t byteMs = context.baudRate == 9600 ? 2 : 1; // 10 bits a byte, rounded up
    const uint32_t limit = kSettleMarginMs + byteMs * kLongestFrame;
    const uint32_t start = platform::TickMs();
    uint32_t lastByte = start;
    auto owedSameKind = [&] {
        return context.owedEcho == echo && context.owedCommand == static_cast<uint8_t>(command) &&
               static_cast<int32_t>(context.owedUntil - platform::TickMs()) > 0 &&
               !Link().portLost.load(std::memory_order_acquire);
    };
    while (context.inFrame || owedSameKind()) {
        const uint32_t now = platform::TickMs();
        if (!owedSameKind() && (now - start >= limit || now - lastByte >= kSettleMarginMs)) break;
        if (Link().ring.WriteIndex() == static_cast<uint32_t>(context.readIndex)) {
            if (!owedSameKind()) {
                AwaitReceivedBytes(1);
                continue;
            }
            AwaitReceivedBytes(kPollPeriodMs); // as a wait does: messages keep flowing
            platform::PumpMessages();
            if (generation != owner) return false;
            continue;
        }
        if (!ScanNotingOwed(context)) return false;
        lastByte = platform::TickMs();
    }
    if (context.owedEcho == echo && context.owedCommand == static_cast<uint8_t>(command))
        context.owedEcho = -1; // waited for it long enough
    return true;
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
    Trace(QX4_TRACE_SENT, bytes, count);
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
    const int echo = EchoesFirstByte(command) && !data.empty() ? data[0] : -1;
    if (!DispatchEarlierFrames(context, command, echo)) return false;
    if (records == Records::LastCommand) context.lastCommand = static_cast<uint8_t>(command);
    context.sentCommand = static_cast<uint8_t>(command);
    context.expectedEcho = echo;
    context.responseReceived = 0;
    SendFrame(context, frame.data(), length); // a failed write shows up as a time-out
    return true;
}

namespace {

enum class Verdict { Answer, Reject, PassOn };

// Whether the frame just dispatched ends the wait. ACKs of commands whose reply
// echoes what was sent must echo it; notifications pass through the wait.
Verdict Judge(const ReaderContext& context, bool (*accepts)(uint8_t)) {
    const uint8_t type = context.frame[2];
    if (accepts) return accepts(type) ? Verdict::Answer : Verdict::Reject;
    switch (static_cast<ResponseType>(type)) {
    case ResponseType::Ack:
        if (context.expectedEcho < 0) return Verdict::Answer;
        return context.frame[3] >= 1 && context.frame[4] == context.expectedEcho ? Verdict::Answer
                                                                                 : Verdict::PassOn;
    case ResponseType::DataNotification:
    case ResponseType::UidDataNotification:
    case ResponseType::UidReport:
        return Verdict::PassOn;
    default:
        return Verdict::Reject;
    }
}

} // namespace

WaitOutcome AwaitResponse(ReaderContext& context, bool (*accepts)(uint8_t)) {
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
            switch (Judge(context, accepts)) {
            case Verdict::Answer:
                return WaitOutcome::Accepted;
            case Verdict::Reject:
                ShowDiagnostic(context, kNackReceived);
                return WaitOutcome::Rejected;
            case Verdict::PassOn:
                if (IsOwedAnswer(context)) context.owedEcho = -1; // it came, and went by
                context.responseReceived = 0;
                continue; // more frames may already wait in the ring
            }
        }
        if (Link().portLost.load(std::memory_order_acquire)) return WaitOutcome::PortLost;
        if (platform::TickMs() - start >= context.cmdWaitTime) {
            ShowDiagnostic(context, kTimedOut);
            if (context.expectedEcho >= 0) { // its answer may still come
                context.owedCommand = context.sentCommand;
                context.owedEcho = context.expectedEcho;
                context.owedUntil =
                    platform::TickMs() + std::max(context.cmdWaitTime, kOwedAtLeastMs);
            }
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
    if (const uint64_t lost = link.ring.TakeDropped())
        Trace(QX4_TRACE_LOST, nullptr, static_cast<size_t>(lost));
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
                Trace(QX4_TRACE_RECEIVED, context.frame.data(),
                      static_cast<size_t>(context.frameEnd) + 1);
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
    if (generation == owner) {
        context.readIndex = static_cast<int32_t>(read);
        link.ring.Consumed(read);
    }
    link.scanBusy = false;
}

} // namespace qx4
