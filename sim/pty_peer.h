// The far end of a pseudo-terminal: stands where the reader's serial line would be.
// Records every frame the library writes, answers through a responder or a script,
// paces its output like a serial line and injects faults on request.
#pragma once

#include "wire.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <thread>

namespace qx4sim {

// An answer as it travels: pieces written one after another.
struct Reply {
    std::vector<Bytes> pieces;
    unsigned delayMs = 0; // before the first piece
    unsigned gapMs = 0;   // between pieces
    unsigned delayUs = 0; // on top of delayMs (the reader's time on the air)
};

// Late: the reply comes after the late delay, beyond what the library waits.
// NackThenAnswer: a NACK, then the real answer 20 ms later. Duplicate: the answer again,
// a few to some hundred ms later. Chunked: 14-byte pieces 16 ms apart, as a UART FIFO
// behind a USB adapter's latency timer hands them on.
enum class Fault {
    Drop,
    Split,
    CorruptSum,
    Garbage,
    Nack,
    Late,
    NackThenAnswer,
    Duplicate,
    Chunked,
    Count
};
inline constexpr const char* kFaultNames[] = {"drop",   "split", "corrupt-sum",      "garbage",
                                              "nack",   "late",  "nack-then-answer", "duplicate",
                                              "chunked"};
static_assert(std::size(kFaultNames) == static_cast<size_t>(Fault::Count));

class PtyPeer {
  public:
    using Responder = std::function<std::vector<Bytes>(const Bytes& request)>;
    // One that also says how long the reader takes before it answers.
    using TimedResponder = std::function<Reply(const Bytes& request)>;

    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    std::string DevicePath() const;
    // The baud rate the line is set to (by whoever opened the device: the library, ser2net).
    unsigned LineBaud() const;
    void SetResponder(Responder responder);
    void SetTimedResponder(TimedResponder responder);
    // The next request gets this answer instead of the responder's.
    void Script(Reply reply);
    void ScriptSilence() { Script(Reply{}); }

    void SetBaud(unsigned baud) { baud_ = baud; } // 0: no pacing
    // Pace at the rate the line is set to, when no baud rate is given.
    void SetPaceAtLineRate(bool on) { paceAtLineRate_ = on; }
    // Deliver as a USB-serial adapter does: what came in on the wire goes out in packets
    // of 62 bytes, the rest when its 16 ms latency timer runs out.
    void SetUsbDelivery(bool on) { usb_ = on; }
    void SetReplyDelay(unsigned ms) { replyDelayMs_ = ms; }
    void SetLog(std::FILE* log) { log_ = log; }

    // Unsolicited bytes, paced like replies.
    void Send(const Reply& reply);
    void Send(const Bytes& frame) { Send(Reply{{frame}}); }

    // Frames received from the library, oldest first.
    std::vector<Bytes> Frames() const;
    bool WaitForFrames(size_t count, unsigned timeoutMs) const;
    void ClearFrames();

    // Faults: one-shot for the next reply, or at random with a fixed seed.
    void InjectOnce(Fault fault, uint8_t nackCode = kNackIllegal);
    void SetFaultRate(unsigned percent, unsigned seed);
    void SetLateDelay(unsigned ms) { lateDelayMs_ = ms; }
    unsigned FaultCount(Fault fault) const;

    // The device disappears (the library sees a hang-up) and comes back under a new path.
    void Vanish();
    void Reappear();

  private:
    void Open();
    void Close();
    void Serve();
    void Answer(const Bytes& request);
    Reply ApplyFaults(Reply reply);
    void Write(const Reply& reply);
    unsigned PacingBaud() const;
    bool WriteAll(const uint8_t* bytes, size_t count);

    std::atomic<int> master_{-1};
    int slave_ = -1; // held open so the line stays up between the library's opens
    int wake_ = -1;
    std::string path_;
    std::thread server_;

    mutable std::mutex mutex_;
    mutable std::condition_variable framesChanged_;
    std::vector<Bytes> frames_;
    std::deque<Reply> script_;
    Responder responder_;
    TimedResponder timedResponder_;
    std::deque<std::pair<Fault, uint8_t>> pendingFaults_;
    unsigned faultPercent_ = 0;
    std::mt19937 random_;
    unsigned faultCounts_[static_cast<int>(Fault::Count)] = {};

    std::mutex writeMutex_;
    std::atomic<unsigned> baud_{0};
    std::atomic<bool> paceAtLineRate_{false};
    std::atomic<bool> usb_{false};
    std::atomic<unsigned> replyDelayMs_{0};
    std::atomic<unsigned> lateDelayMs_{300};
    std::atomic<std::FILE*> log_{nullptr};
};

} // namespace qx4sim
