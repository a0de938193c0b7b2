// The library's per-process context and the process-wide link state.
#pragma once

#include "link/rx_ring.h"
#include "qx4drv.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace qx4 {

using Uid = std::array<uint8_t, 8>;

class ReaderContext {
  public:
    explicit ReaderContext(int port) : portNumber(port) {}
    virtual ~ReaderContext() = default;
    ReaderContext(const ReaderContext&) = delete;
    ReaderContext& operator=(const ReaderContext&) = delete;

    uint8_t lastCommand = 0;
    int32_t readIndex = 0;
    int32_t writeSnapshot = 0;
    int32_t inFrame = 0;
    int32_t framePos = 0;
    int32_t frameEnd = 7;
    uint8_t responseReceived = 0;
    uint32_t baudRate = 19200;
    Uid currentUid{};
    uint8_t sysInfoFlags = 0;
    uint8_t blockCount = 0;
    uint8_t blockSizeInfo = 0;
    uint8_t dsfid = 0;
    uint8_t afi = 0;
    uint8_t afiSubstitute = 0;
    int32_t portNumber;
    // Opened by name (QX4DllOpenDevice): port 0 means this device, not "COM0:".
    std::string device;
    uint8_t readerAddress = 0;
    std::array<uint8_t, 16384> frame{};
    int32_t tagBlockSize = 4;
    int32_t tagMydBlockSize = 8;
    uint32_t securityStatusExpected = 0;
    int32_t idleCountdown = 0;
    int32_t rxWaitTime = 100;
    uint32_t cmdWaitTime = 2000;
    uint32_t errorCode = 0;
    uint32_t errorDetail = 0;
    int32_t dispMessage = 0;
    // What the awaited ACK echoes at frame[4] (the ISO code or sub-command sent); -1: no echo.
    int32_t expectedEcho = -1;
    uint8_t sentCommand = 0;
    // An answer may still be on its way or come twice (a time-out, a send-only command, a
    // dropped frame, a NACK, an ACK nobody waited for): the next command first brings the
    // link back in step.
    bool inDoubt = false;
    // The fence being waited for: the EEPROM words it reads (the reply echoes 70 address count).
    bool fencing = false;
    uint8_t fenceAddress = 0;
    uint8_t fenceCount = 0;
    uint32_t fenceSpentMs = 0; // of the wait the fence's attempts share
    // The next fence is the first on this port: drawn from every request a fence may use,
    // so that another program's late fence answer rarely matches it.
    bool fenceFromAll = true;
    uint32_t fenceRandom = 1; // the fence's own generator (xorshift), seeded at every open
    // EEPROM reads (address, count) whose answers may still arrive, the caller's and the
    // fences': no fence asks the same, so such an answer cannot pass for its own.
    std::array<std::array<uint8_t, 2>, 16> owedReads{};
    uint32_t owedCount = 0;
    std::array<uint8_t, 2> lastCallerRead{0xFF, 0xFF}; // may still be repeated by the reader
    // The command went out although its fence failed (the mode write): doubt stays after it.
    bool sentUnfenced = false;
    // The request frame the running command sent, and the last answer taken with the
    // request it answered: an answer byte for byte like the last one, to another request,
    // may be that answer repeated.
    std::array<uint8_t, 262> request{};
    uint32_t requestLength = 0;
    std::array<uint8_t, 262> lastAnswer{};
    uint32_t lastAnswerLength = 0;
    std::array<uint8_t, 262> lastAnswered{};
    uint32_t lastAnsweredLength = 0;
    // The reader has been seen to send an answer twice (an ACK nobody waited for, or
    // taken in place of the next answer, byte for byte the last one taken): from then on a
    // read whose answer the fence could not tell from a repeat is asked again.
    bool repeatsSeen = false;
    // While a fence tells a repeated answer from the command's own: what came before the
    // fence's answer in place of the one held.
    bool resolving = false;
    bool (*resolvingAccepts)(uint8_t) = nullptr;
    std::array<uint8_t, 262> replacement{};
    uint32_t replacementLength = 0;
    // The frame being assembled (or just dispatched) began before the request went out:
    // it answers none of it. Bytes that came before the request: of that frame, and at the
    // head of what is to be scanned again.
    bool frameEarlier = false;
    uint32_t earlierInFrame = 0;
    uint32_t earlierInRescan = 0;
    // When the scanner last took a byte, for dropping a partial frame that stopped arriving.
    uint32_t lastByteTick = 0;
    // Bytes of a dropped frame after its STX, scanned again before the ring.
    std::array<uint8_t, 2 * 262> rescan{};
    uint32_t rescanHead = 0;
    uint32_t rescanCount = 0;

    // Reply data length n of the frame in `frame`.
    uint32_t FrameDataCount() const { return frame[3]; }
};

struct TraceBinding {
    QX4TraceHook hook;
    void* user;
};
struct ReceivedBinding {
    QX4ReceivedHook hook;
    void* user;
};

// Process-wide state shared by the context, the receive thread and the exports.
struct LinkState {
    LinkState() = default;
    ~LinkState();
    LinkState(const LinkState&) = delete;
    LinkState& operator=(const LinkState&) = delete;
    // Replaced only by the lifecycle exports, one at a time; a command keeps its own
    // reference, so a close from one of its callbacks cannot pull the memory away.
    std::atomic<std::shared_ptr<ReaderContext>> context;
    // Counts contexts and reopens: a command whose generation is gone stops touching the link.
    std::atomic<uint32_t> generation{0};
    // Lifecycle exports waiting for the running command to end; no new command starts then.
    std::atomic<int> closing{0};
    std::atomic<bool> portOpen{false};
    RxRing ring;
    std::atomic<QX4Window*> window{nullptr};
    bool scanBusy = false;
    uint32_t waitStart = 0;
    bool responseWait = false; // a command is waiting for its answer
    // Held by one command export (or QX4ReadData) from its start to its return.
    std::atomic<bool> commandActive{false};
    std::atomic<std::thread::id> commandThread{};
    // Set by the receive thread when the port hung up or failed; cleared by a reopen.
    std::atomic<bool> portLost{false};
    // The trace hook and its user pointer, replaced together (never one without the other).
    std::atomic<const TraceBinding*> trace{nullptr};
    // Told on the receive thread that bytes arrived; replaced together with its user pointer.
    std::atomic<const ReceivedBinding*> received{nullptr};
    // Why the last command export failed; written when it returns.
    std::atomic<int> failureCause{QX4_CAUSE_NONE};
    // The running command's cause so far; only its holder touches it.
    int pendingCause = QX4_CAUSE_NONE;
};

LinkState& Link();
inline std::shared_ptr<ReaderContext> Context() {
    return Link().context.load();
}
inline uint32_t Generation() {
    return Link().generation.load();
}
// Notes why the running command fails (the last note wins).
inline void NoteFailure(int cause) {
    Link().pendingCause = cause;
}

} // namespace qx4
