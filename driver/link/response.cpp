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
// A partial frame that got no byte for this long while a command waits is dropped and its
// bytes are scanned again from the next STX: a stray STX cannot swallow the answer.
constexpr uint32_t kPartialQuietMs = 200;
// The fence waits at least this long, also with a shorter response time-out: what
// comes before its answer may be an answer of any lateness. A time-out of 0 (look once)
// holds for the fence too.
constexpr uint32_t kFenceAtLeastMs = 1000;

uint32_t WaitLimit(const ReaderContext& context) {
    if (!context.fencing || context.cmdWaitTime == 0) return context.cmdWaitTime;
    return std::max(context.cmdWaitTime, kFenceAtLeastMs);
}

// Commands whose ACK echoes data[0] (the ISO 15693 code or the sub-command) at frame[4].
bool EchoesFirstByte(Command command) {
    return command == Command::Iso15693 || command == Command::ReadSetting ||
           command == Command::WriteSetting;
}

void Trace(int direction, const uint8_t* bytes, size_t count) {
    const TraceBinding* trace = Link().trace.load(std::memory_order_acquire);
    if (trace && trace->hook)
        trace->hook(direction, bytes, static_cast<unsigned>(count), trace->user);
}

// Frames received before a command is sent (and a frame still arriving then) are not
// its answer: they are dispatched now, as a scan at any other time would. A frame half-way
// in may finish while its bytes keep coming, within the time the longest frame takes on
// the line; one that stops arriving is dropped. False when a handler closed the library.
bool DispatchEarlierFrames(ReaderContext& context) {
    const uint32_t owner = Generation();
    ScanReceived(context);
    if (Generation() != owner) return false;
    const uint32_t byteMs = context.baudRate == 9600 ? 2 : 1; // 10 bits a byte, rounded up
    const uint32_t limit = kSettleMarginMs + byteMs * kLongestFrame;
    const uint32_t start = platform::TickMs();
    uint32_t lastByte = start;
    while (context.inFrame) {
        const uint32_t now = platform::TickMs();
        if (now - start >= limit || now - lastByte >= kSettleMarginMs) break;
        if (Link().ring.WriteIndex() == static_cast<uint32_t>(context.readIndex)) {
            AwaitReceivedBytes(1);
            continue;
        }
        ScanReceived(context);
        if (Generation() != owner) return false;
        lastByte = platform::TickMs();
    }
    // What is left of a partial frame is scanned again; each pass drops at least one byte.
    for (uint32_t pass = 0; context.inFrame && pass <= kLongestFrame; ++pass) {
        DropPartialFrame(context);
        ScanReceived(context);
        if (Generation() != owner) return false;
    }
    return true;
}

bool SendFence(ReaderContext& context);

} // namespace

void ShowDiagnostic(const ReaderContext& context, const char* text) {
    if (context.dispMessage) platform::ShowMessageBox(text, "Info Message");
}

bool SendFrame(ReaderContext&, const uint8_t* bytes, size_t count) {
    const uint32_t owner = Generation();
    platform::SleepMs(1);
    Trace(QX4_TRACE_SENT, bytes, count);
    if (Generation() != owner) return false; // the trace hook closed or reopened the port
    const size_t written = WritePort(bytes, count);
    platform::SleepMs(1);
    return written == count;
}

bool SendCommand(ReaderContext& context, Command command, std::span<const uint8_t> data,
                 Records records) {
    FrameBuffer frame;
    const size_t length =
        BuildFrame(frame, context.readerAddress, static_cast<uint8_t>(command), data);
    if (length == 0) {
        NoteFailure(QX4_CAUSE_BAD_ARGUMENT);
        return false;
    }
    if (!DispatchEarlierFrames(context)) {
        NoteFailure(QX4_CAUSE_NO_PORT);
        return false;
    }
    // An earlier answer may still come: it must arrive, and be passed by, before ours.
    if (context.inDoubt && !SendFence(context)) return false;
    const uint32_t owner = Generation();
    if (records == Records::LastCommand) context.lastCommand = static_cast<uint8_t>(command);
    context.sentCommand = static_cast<uint8_t>(command);
    context.expectedEcho = EchoesFirstByte(command) && !data.empty() ? data[0] : -1;
    context.responseReceived = 0;
    SendFrame(context, frame.data(), length); // a failed write shows up as a time-out
    if (Generation() != owner) {              // the trace hook closed or reopened the port
        NoteFailure(QX4_CAUSE_NO_PORT);
        return false;
    }
    return true;
}

namespace {

enum class Verdict { Answer, Reject, PassOn };

// Whether the frame just dispatched ends the wait. ACKs of commands whose reply
// echoes what was sent must echo it; notifications pass through the wait. While the
// fence is awaited, only its own answer counts and everything else passes.
Verdict Judge(const ReaderContext& context, bool (*accepts)(uint8_t)) {
    const auto& f = context.frame;
    const uint8_t type = f[2];
    if (context.fencing)
        return type == static_cast<uint8_t>(ResponseType::Ack) && f[3] == 3 + 2 &&
                       f[4] == sub::Eeprom && f[5] == context.fenceAddress && f[6] == 1
                   ? Verdict::Answer
                   : Verdict::PassOn;
    if (accepts) return accepts(type) ? Verdict::Answer : Verdict::Reject;
    switch (static_cast<ResponseType>(type)) {
    case ResponseType::Ack:
        if (context.expectedEcho < 0) return Verdict::Answer;
        return f[3] >= 1 && f[4] == context.expectedEcho ? Verdict::Answer : Verdict::PassOn;
    case ResponseType::DataNotification:
    case ResponseType::UidDataNotification:
    case ResponseType::UidReport:
        return Verdict::PassOn;
    default:
        return Verdict::Reject;
    }
}

// The limit is read at every pass: a setter called from a hook meanwhile counts.
WaitOutcome Await(ReaderContext& context, bool (*accepts)(uint8_t)) {
    const uint32_t owner = Generation();
    const uint32_t start = platform::TickMs();
    Link().waitStart = start;
    struct WaitFlag { // set while this wait runs, whichever way it ends
        bool& flag;
        explicit WaitFlag(bool& f) : flag(f) { flag = true; }
        ~WaitFlag() { flag = false; }
    } waiting(Link().responseWait);
    for (;;) {
        // Wake as soon as the receive thread publishes; never later than one poll period.
        if (Link().ring.WriteIndex() == static_cast<uint32_t>(context.readIndex) &&
            context.rescanCount == 0)
            AwaitReceivedBytes(kPollPeriodMs);
        platform::PumpMessages();
        if (Generation() != owner) return WaitOutcome::Closed;
        ScanReceived(context);
        if (Generation() != owner) return WaitOutcome::Closed;
        if (context.responseReceived) {
            switch (Judge(context, accepts)) {
            case Verdict::Answer:
                return WaitOutcome::Accepted;
            case Verdict::Reject:
                // Another frame in place of the answer: the answer itself may still come.
                if (context.frame[2] != static_cast<uint8_t>(ResponseType::Nack))
                    context.inDoubt = true;
                ShowDiagnostic(context, kNackReceived);
                return WaitOutcome::Rejected;
            case Verdict::PassOn:
                // More frames may already wait in the ring; a steady stream of them must
                // not hold the wait past its limit, so the checks below still run.
                context.responseReceived = 0;
                break;
            }
        }
        if (Link().portLost.load(std::memory_order_acquire)) return WaitOutcome::PortLost;
        const uint32_t now = platform::TickMs();
        if (context.inFrame && now - context.lastByteTick >= kPartialQuietMs) {
            DropPartialFrame(context);
            continue;
        }
        if (now - start >= WaitLimit(context)) {
            context.inDoubt = true; // the answer may still come
            ShowDiagnostic(context, kTimedOut);
            return WaitOutcome::TimedOut;
        }
    }
}

// Why a wait that did not accept fails the command.
int CauseOf(const ReaderContext& context, WaitOutcome outcome) {
    switch (outcome) {
    case WaitOutcome::Accepted:
        return QX4_CAUSE_NONE;
    case WaitOutcome::Rejected:
        return context.frame[2] == static_cast<uint8_t>(ResponseType::Nack) ? QX4_CAUSE_NACK
                                                                            : QX4_CAUSE_BAD_REPLY;
    case WaitOutcome::TimedOut:
        return QX4_CAUSE_TIMEOUT;
    case WaitOutcome::Closed:
    case WaitOutcome::PortLost:
        break;
    }
    return QX4_CAUSE_NO_PORT;
}

// An EEPROM read of one word: the reader answers in order and the reply echoes the
// address, which changes with every fence, so nothing received before it can pass for it.
bool SendFence(ReaderContext& context) {
    ++context.fenceAddress;
    const uint8_t request[] = {sub::Eeprom, context.fenceAddress, 0x01};
    FrameBuffer frame;
    const size_t length = BuildFrame(frame, context.readerAddress,
                                     static_cast<uint8_t>(Command::ReadSetting), request);
    context.responseReceived = 0;
    const uint32_t owner = Generation();
    SendFrame(context, frame.data(), length);
    if (Generation() != owner) {
        NoteFailure(QX4_CAUSE_NO_PORT);
        return false;
    }
    context.fencing = true;
    const WaitOutcome outcome = Await(context, nullptr);
    if (outcome == WaitOutcome::Closed) {
        NoteFailure(QX4_CAUSE_NO_PORT);
        return false;
    }
    context.fencing = false;
    context.responseReceived = 0;
    if (outcome == WaitOutcome::Accepted) {
        context.inDoubt = false;
        return true;
    }
    NoteFailure(outcome == WaitOutcome::PortLost ? QX4_CAUSE_NO_PORT : QX4_CAUSE_OUT_OF_STEP);
    return false;
}

} // namespace

bool Resync(ReaderContext& context) {
    if (!DispatchEarlierFrames(context)) {
        NoteFailure(QX4_CAUSE_NO_PORT);
        return false;
    }
    return SendFence(context);
}

WaitOutcome AwaitResponse(ReaderContext& context, bool (*accepts)(uint8_t)) {
    const WaitOutcome outcome = Await(context, accepts);
    if (outcome != WaitOutcome::Accepted) NoteFailure(CauseOf(context, outcome));
    return outcome;
}

int WaitForResponse(ReaderContext& context) {
    return AwaitResponse(context) == WaitOutcome::Accepted ? 1 : 0;
}

void DropPartialFrame(ReaderContext& context) {
    if (!context.inFrame) return;
    context.inFrame = 0;
    context.inDoubt = true;
    const uint32_t count = static_cast<uint32_t>(context.framePos);
    Trace(QX4_TRACE_BAD, context.frame.data(), count);
    // Its bytes after the STX go before what is still queued for another look.
    std::array<uint8_t, sizeof context.rescan> queue;
    const uint32_t capacity = static_cast<uint32_t>(queue.size());
    uint32_t used = 0;
    for (uint32_t i = 1; i < count && used < capacity; ++i)
        queue[used++] = context.frame[i];
    for (uint32_t i = 0; i < context.rescanCount && used < capacity; ++i)
        queue[used++] = context.rescan[(context.rescanHead + i) % capacity];
    context.rescan = queue;
    context.rescanHead = 0;
    context.rescanCount = used;
}

namespace {

enum class Fed { Taken, Dispatched };

// One byte into the frame being assembled. A frame counts only with ETX, sum and CR in
// place; any other is dropped and its bytes are scanned again from the one after its STX.
Fed Feed(ReaderContext& context, uint8_t b) {
    auto& f = context.frame;
    if (!context.inFrame) {
        if (b == kStx) {
            f[0] = b;
            context.framePos = 1;
            context.frameEnd = 7;
            context.inFrame = 1;
        }
        return Fed::Taken;
    }
    f[static_cast<size_t>(context.framePos++)] = b;
    if (context.framePos == 4) context.frameEnd = b + 6;
    if (context.framePos <= context.frameEnd) return Fed::Taken;
    const size_t n = f[3];
    if (f[4 + n] != kEtx || f[5 + n] != FrameSum(f.data(), n) || f[6 + n] != kCr) {
        DropPartialFrame(context);
        return Fed::Taken;
    }
    context.inFrame = 0;
    const uint32_t owner = Generation();
    Trace(QX4_TRACE_RECEIVED, f.data(), n + kFrameOverhead);
    if (Generation() != owner) return Fed::Taken; // the trace hook closed the library
    DispatchFrame(context);
    return Fed::Dispatched;
}

} // namespace

void ScanReceived(ReaderContext& context) {
    LinkState& link = Link();
    if (link.scanBusy) return;
    link.scanBusy = true;
    const uint32_t owner = Generation();
    if (const uint64_t lost = link.ring.TakeDropped()) {
        Trace(QX4_TRACE_LOST, nullptr, static_cast<size_t>(lost));
        // The frame being assembled misses bytes: it can only absorb what follows.
        if (Generation() == owner) {
            context.inDoubt = true;
            DropPartialFrame(context);
        }
    }
    const uint32_t write = link.ring.WriteIndex();
    uint32_t read = static_cast<uint32_t>(context.readIndex) % RxRing::kSize;
    if (Generation() == owner) {
        context.writeSnapshot = static_cast<int32_t>(write);
        if (write == read && context.rescanCount == 0) {
            if (context.idleCountdown != 0)
                --context.idleCountdown;
            else
                DropPartialFrame(context); // a partial frame that stopped growing
        } else if (write != read) {
            context.idleCountdown = context.rxWaitTime;
            context.lastByteTick = platform::TickMs();
        }
    }
    while (Generation() == owner) {
        uint8_t b;
        if (context.rescanCount != 0) {
            b = context.rescan[context.rescanHead];
            context.rescanHead = (context.rescanHead + 1) % context.rescan.size();
            --context.rescanCount;
        } else if (read != write) {
            b = link.ring.At(read);
            read = (read + 1) % RxRing::kSize;
        } else {
            break;
        }
        // The waiting command reads its answer from `frame`: assembling the next frame
        // there in the same pass would overwrite it. The rest waits.
        if (Feed(context, b) == Fed::Dispatched && link.responseWait) break;
    }
    if (Generation() == owner) {
        context.readIndex = static_cast<int32_t>(read);
        link.ring.Consumed(read);
    }
    link.scanBusy = false;
}

} // namespace qx4
