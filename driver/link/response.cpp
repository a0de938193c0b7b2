#include "link/response.h"

#include "link/context.h"
#include "link/fence.h"
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

// A partial frame that got no byte for this long while a command waits is dropped and its
// bytes are scanned again from the next STX: a stray STX cannot swallow the answer. Far
// beyond the pauses inside one frame of a USB-serial adapter (its 16 ms latency timer)
// or a UART FIFO (14-byte chunks, 15 ms at 9600 baud).
constexpr uint32_t kPartialQuietMs = 200;
// The fence waits at least this long, also with a shorter response time-out (0 included):
// what comes before its answer may be an answer of any lateness.
constexpr uint32_t kFenceAtLeastMs = 1000;
// A reader that refuses this many fences in a row (each another request) refuses them all.
constexpr int kFenceAttempts = 3;

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

// Frames received before a command is sent are not its answer: they are dispatched now,
// as a scan at any other time would. A frame still arriving then goes on being assembled
// (its bytes may come in the bursts of a USB-serial adapter or a UART FIFO) and, whole,
// is dispatched as an earlier frame. False when a handler closed the library.
bool DispatchEarlierFrames(ReaderContext& context) {
    const uint32_t owner = Generation();
    ScanReceived(context);
    return Generation() == owner;
}

// Frames that begin from now on may answer the request about to be written; the one
// being assembled, and what is queued to be scanned again, came before it.
void AnswersBeginNow(ReaderContext& context) {
    context.frameEarlier = context.inFrame != 0;
    context.earlierInFrame = context.inFrame ? static_cast<uint32_t>(context.framePos) : 0;
    context.earlierInRescan = context.rescanCount;
}

bool Fence(ReaderContext& context);

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
                 Records records, Fencing fencing) {
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
    context.sentUnfenced = false;
    if (context.inDoubt && !Fence(context)) {
        if (fencing != Fencing::EvenUnfenced || Link().pendingCause == QX4_CAUSE_NO_PORT)
            return false;
        context.sentUnfenced = true; // taken on trust; the next command fences again
        NoteFailure(QX4_CAUSE_NONE);
    }
    if (command == Command::ReadSetting && data.size() == 3 && data[0] == sub::Eeprom) {
        // Its answer may come late or twice: no fence asks the same until one is answered.
        NoteOwedRead(context, data[1], data[2]);
        context.lastCallerRead = {data[1], data[2]};
    }
    const uint32_t owner = Generation();
    if (records == Records::LastCommand) context.lastCommand = static_cast<uint8_t>(command);
    context.sentCommand = static_cast<uint8_t>(command);
    context.expectedEcho = EchoesFirstByte(command) && !data.empty() ? data[0] : -1;
    context.responseReceived = 0;
    context.requestLength = static_cast<uint32_t>(length);
    std::copy_n(frame.begin(), length, context.request.begin());
    AnswersBeginNow(context);
    SendFrame(context, frame.data(), length); // a failed write shows up as a time-out
    if (Generation() != owner) {              // the trace hook closed or reopened the port
        NoteFailure(QX4_CAUSE_NO_PORT);
        return false;
    }
    return true;
}

namespace {

enum class Verdict { Answer, Reject, PassOn };

// An ACK with the shape of an EEPROM read's answer (a fence's among them).
bool AnswersEepromRead(const ReaderContext& context) {
    const auto& f = context.frame;
    return f[3] >= 3 && f[4] == sub::Eeprom && f[3] == 3 + 2 * f[6];
}

// Whether the frame just dispatched is the command's answer. ACKs of commands whose
// reply echoes what was sent must echo it; the commands that take the first ACK pass
// over answers of EEPROM reads (a late fence answer), which they never get; notifications
// pass through the wait.
Verdict JudgeAnswer(const ReaderContext& context, bool (*accepts)(uint8_t)) {
    const auto& f = context.frame;
    const uint8_t type = f[2];
    if (accepts) return accepts(type) ? Verdict::Answer : Verdict::Reject;
    switch (static_cast<ResponseType>(type)) {
    case ResponseType::Ack:
        if (context.expectedEcho < 0)
            return AnswersEepromRead(context) ? Verdict::PassOn : Verdict::Answer;
        return f[3] >= 1 && f[4] == context.expectedEcho ? Verdict::Answer : Verdict::PassOn;
    case ResponseType::DataNotification:
    case ResponseType::UidDataNotification:
    case ResponseType::UidReport:
        return Verdict::PassOn;
    default:
        return Verdict::Reject;
    }
}

// Whether the frame ends the wait. While the fence is awaited, only its own answer
// counts and everything else passes; a NACK may be the fence's refusal.
Verdict Judge(ReaderContext& context, bool (*accepts)(uint8_t)) {
    const auto& f = context.frame;
    const uint8_t type = f[2];
    if (context.frameEarlier) {
        // It began before the request went out: an earlier answer, nobody's now.
        if (type == static_cast<uint8_t>(ResponseType::Ack) ||
            type == static_cast<uint8_t>(ResponseType::Nack))
            context.inDoubt = true;
        return Verdict::PassOn;
    }
    if (!context.fencing) return JudgeAnswer(context, accepts);
    if (type == static_cast<uint8_t>(ResponseType::Nack))
        return context.resolving ? Verdict::PassOn : Verdict::Reject;
    return type == static_cast<uint8_t>(ResponseType::Ack) && f[3] == 3 + 2 * context.fenceCount &&
                   f[4] == sub::Eeprom && f[5] == context.fenceAddress && f[6] == context.fenceCount
               ? Verdict::Answer
               : Verdict::PassOn;
}

uint32_t FrameLength(const ReaderContext& context) {
    return context.frame[3] + static_cast<uint32_t>(kFrameOverhead);
}

} // namespace

void NoteRepeat(ReaderContext& context) {
    if (context.frame[2] != static_cast<uint8_t>(ResponseType::Ack)) return;
    const uint32_t length = FrameLength(context);
    if (length == context.lastAnswerLength &&
        std::equal(context.frame.begin(), context.frame.begin() + length,
                   context.lastAnswer.begin()))
        context.repeatsSeen = true;
}

namespace {

// While a fence tells a repeated answer from the command's own: the first answer (or
// NACK) of the command that comes before the fence's answer replaces the one held.
void KeepReplacement(ReaderContext& context) {
    if (!context.resolving || context.replacementLength != 0) return;
    const bool nack = context.frame[2] == static_cast<uint8_t>(ResponseType::Nack);
    if (!nack && JudgeAnswer(context, context.resolvingAccepts) != Verdict::Answer) return;
    context.replacementLength = FrameLength(context);
    std::copy_n(context.frame.begin(), context.replacementLength, context.replacement.begin());
}

// The response time-out, read at every pass: a setter called from a hook meanwhile counts.
uint32_t CommandLimit(const ReaderContext& context) {
    return context.cmdWaitTime;
}

WaitOutcome Await(ReaderContext& context, bool (*accepts)(uint8_t),
                  uint32_t (*limit)(const ReaderContext&) = CommandLimit) {
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
                // Another frame in place of the answer: the answer itself may still come,
                // and a reader may follow its NACK with the real answer.
                context.inDoubt = true;
                if (!context.fencing) ShowDiagnostic(context, kNackReceived);
                return WaitOutcome::Rejected;
            case Verdict::PassOn:
                KeepReplacement(context);
                NoteRepeat(context);
                // An ACK that is not this one's answer: it may be an answer repeated, or
                // one of several to an earlier request, which others may follow.
                if (!context.fencing && context.frame[2] == static_cast<uint8_t>(ResponseType::Ack))
                    context.inDoubt = true;
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
        if (now - start >= limit(context)) {
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

// The answer in `frame` was taken for this request.
void RememberAnswer(ReaderContext& context, const uint8_t* request, uint32_t requestLength) {
    context.lastAnswerLength = FrameLength(context);
    std::copy_n(context.frame.begin(), context.lastAnswerLength, context.lastAnswer.begin());
    context.lastAnsweredLength = requestLength;
    std::copy_n(request, requestLength, context.lastAnswered.begin());
}

// The fence's attempts share one wait of max(W, 1000) ms.
uint32_t FenceLimit(const ReaderContext& context) {
    const uint32_t budget = std::max(context.cmdWaitTime, kFenceAtLeastMs);
    return budget - std::min(budget, context.fenceSpentMs);
}

// EEPROM reads within the words every reader has: the reader answers in order, and each
// fence's reply differs in echo and length from the previous fence's and from every read
// still owed, so nothing received before it can pass for it. A refused fence is followed
// by another request; NACKs received meanwhile leave the caller's codes alone.
bool Fence(ReaderContext& context) {
    const uint32_t start = platform::TickMs();
    context.fenceSpentMs = 0;
    int refused = 0;
    for (int attempt = 0; attempt < kFenceAttempts; ++attempt) {
        ChooseFence(context);
        NoteOwedRead(context, context.fenceAddress, context.fenceCount);
        const uint8_t request[] = {sub::Eeprom, context.fenceAddress, context.fenceCount};
        FrameBuffer frame;
        const size_t length = BuildFrame(frame, context.readerAddress,
                                         static_cast<uint8_t>(Command::ReadSetting), request);
        context.responseReceived = 0;
        const uint32_t owner = Generation();
        AnswersBeginNow(context);
        SendFrame(context, frame.data(), length);
        if (Generation() != owner) {
            NoteFailure(QX4_CAUSE_NO_PORT);
            return false;
        }
        context.fencing = true;
        const WaitOutcome outcome = Await(context, nullptr, FenceLimit);
        if (outcome == WaitOutcome::Closed) {
            NoteFailure(QX4_CAUSE_NO_PORT);
            return false;
        }
        context.fencing = false;
        context.responseReceived = 0;
        context.fenceSpentMs = platform::TickMs() - start;
        switch (outcome) {
        case WaitOutcome::Accepted:
            context.inDoubt = false;
            SettleOwedReads(context);
            RememberAnswer(context, frame.data(), static_cast<uint32_t>(length));
            return true;
        case WaitOutcome::Rejected:
            ++refused;
            continue;
        case WaitOutcome::PortLost:
            NoteFailure(QX4_CAUSE_NO_PORT);
            return false;
        default:
            break;
        }
        break; // silence until the wait ran out
    }
    NoteFailure(refused == kFenceAttempts ? QX4_CAUSE_FENCE_REFUSED : QX4_CAUSE_OUT_OF_STEP);
    return false;
}

} // namespace

bool Resync(ReaderContext& context) {
    if (!DispatchEarlierFrames(context)) {
        NoteFailure(QX4_CAUSE_NO_PORT);
        return false;
    }
    return Fence(context);
}

namespace {

// An answer byte for byte like the last one taken, to another request, may be that
// answer repeated by the reader. It matters where a repeat would pass for data (once the
// reader has been seen repeating), and where a command that takes the first ACK would
// take another command's ACK.
bool MayBeRepeated(const ReaderContext& c) {
    const uint32_t length = FrameLength(c);
    if (length != c.lastAnswerLength ||
        !std::equal(c.frame.begin(), c.frame.begin() + length, c.lastAnswer.begin()))
        return false;
    if (c.expectedEcho < 0) return c.request[2] != c.lastAnswered[2];
    // Asked the same again, the same answer is right even if it is the repeat. Any reader
    // may repeat without having done so before: two blank blocks read in a row cost a fence.
    const bool sameRequest =
        c.requestLength == c.lastAnsweredLength &&
        std::equal(c.request.begin(), c.request.begin() + c.requestLength, c.lastAnswered.begin());
    return !sameRequest && c.frame[3] >= 2;
}

// Requests that change nothing on the reader or a tag: asking again costs only time.
bool OnlyReads(const ReaderContext& c) {
    const uint8_t command = c.request[2];
    if (command == static_cast<uint8_t>(Command::ReadSetting)) return true;
    if (command != static_cast<uint8_t>(Command::Iso15693) || c.requestLength < 6) return false;
    switch (c.request[4]) {
    case iso::Inventory:
    case iso::ReadSingleBlock:
    case iso::ReadMultiBlock:
    case iso::GetSystemInfo:
    case iso::GetMultiBlockSecurity:
    case iso::ReadBytes:
    case iso::MydRead:
    case iso::ReaderInventory:
        return true;
    default:
        return false;
    }
}

// The request once more, on a line the fence has just brought in step: its answer can
// only be its own.
WaitOutcome AskAgain(ReaderContext& context, bool (*accepts)(uint8_t)) {
    const uint32_t owner = Generation();
    context.responseReceived = 0;
    AnswersBeginNow(context);
    SendFrame(context, context.request.data(), context.requestLength);
    if (Generation() != owner) return WaitOutcome::Closed;
    return Await(context, accepts);
}

enum class Resolution { Held, Replaced, Refused, OutOfStep };

// A fence after the answer held: the reader answers in order, so the command's own
// answer comes before the fence's. If another answer of the command (or a NACK) came
// in between, the one held was a repeat.
Resolution Resolve(ReaderContext& context, bool (*accepts)(uint8_t)) {
    const uint32_t heldLength = FrameLength(context);
    std::array<uint8_t, 262> held;
    std::copy_n(context.frame.begin(), heldLength, held.begin());
    context.resolving = true;
    context.resolvingAccepts = accepts;
    context.replacementLength = 0;
    const bool inStep = Fence(context);
    context.resolving = false;
    if (!inStep) return Resolution::OutOfStep;
    if (context.replacementLength == 0) {
        std::copy_n(held.begin(), heldLength, context.frame.begin());
        return Resolution::Held;
    }
    std::copy_n(context.replacement.begin(), context.replacementLength, context.frame.begin());
    if (context.frame[2] != static_cast<uint8_t>(ResponseType::Nack)) return Resolution::Replaced;
    ShowDiagnostic(context, kNackReceived);
    return Resolution::Refused;
}

} // namespace

WaitOutcome AwaitResponse(ReaderContext& context, bool (*accepts)(uint8_t)) {
    WaitOutcome outcome = Await(context, accepts);
    if (outcome == WaitOutcome::Accepted && MayBeRepeated(context)) {
        switch (Resolve(context, accepts)) {
        case Resolution::Held:
            // Nothing came between the answer and the fence's: it was the command's own,
            // or, from a reader known to repeat, maybe a repeat whose own answer was lost.
            // A read asked again tells (a blank tag read from a reader that never repeated
            // costs only the fence).
            if (context.repeatsSeen && OnlyReads(context)) outcome = AskAgain(context, accepts);
            break;
        case Resolution::Replaced:
            context.repeatsSeen = true; // the one held was a repeat
            break;
        case Resolution::Refused:
            outcome = WaitOutcome::Rejected;
            break;
        case Resolution::OutOfStep:
            return WaitOutcome::Rejected; // the fence noted why
        }
    }
    if (outcome == WaitOutcome::Accepted)
        RememberAnswer(context, context.request.data(), context.requestLength);
    else
        NoteFailure(CauseOf(context, outcome));
    return outcome;
}

int WaitForResponse(ReaderContext& context) {
    return AwaitResponse(context) == WaitOutcome::Accepted ? 1 : 0;
}

void DropPartialFrame(ReaderContext& context) {
    if (!context.inFrame) return;
    context.inFrame = 0;
    context.inDoubt = true;
    // What came before the request stays a prefix of what is scanned again.
    context.earlierInRescan += context.earlierInFrame > 0 ? context.earlierInFrame - 1 : 0;
    context.earlierInFrame = 0;
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
    context.earlierInRescan = std::min(context.earlierInRescan, used);
}

namespace {

enum class Fed { Taken, Dispatched };

// One byte into the frame being assembled. A frame counts only with ETX, sum and CR in
// place; any other is dropped and its bytes are scanned again from the one after its STX.
Fed Feed(ReaderContext& context, uint8_t b, bool earlier) {
    auto& f = context.frame;
    if (!context.inFrame) {
        if (b == kStx) {
            context.frameEarlier = earlier;
            context.earlierInFrame = earlier ? 1 : 0;
            f[0] = b;
            context.framePos = 1;
            context.frameEnd = 7;
            context.inFrame = 1;
        }
        return Fed::Taken;
    }
    if (earlier) ++context.earlierInFrame;
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
        bool earlier = false; // came before the request went out
        if (context.rescanCount != 0) {
            earlier = context.earlierInRescan != 0;
            if (earlier) --context.earlierInRescan;
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
        if (Feed(context, b, earlier) == Fed::Dispatched && link.responseWait) break;
    }
    if (Generation() == owner) {
        context.readIndex = static_cast<int32_t>(read);
        link.ring.Consumed(read);
    }
    link.scanBusy = false;
}

} // namespace qx4
