// What the library's wire trace shows about each call: whether a frame went out, the
// NACK or ACK that came back. Turns a result of 0 into a cause a person can act on.
#pragma once

#include "tag_dump.h"

#include <functional>
#include <optional>
#include <string>

namespace qx4dump {

// Why a call failed.
struct CallFailure {
    enum class Kind { Nack, TimedOut, NotSent, PortLost, WrongReply };
    Kind kind = Kind::TimedOut;
    std::string function;
    int nack = -1;         // NACK code
    int iso = -1;          // ISO 15693 error code with NACK 5
    std::string text;      // the cause, in English; the reader's own text follows for a NACK
    std::string reader;    // the reader's own (Japanese) text of a NACK
    bool gone = false;     // no tag answered a request nor its retry: the tag left the field
    bool collided = false; // several tags answered a request without a UID at once
    static CallFailure Of(Kind kind, std::string function, std::string text) {
        CallFailure failure;
        failure.kind = kind;
        failure.function = std::move(function);
        failure.text = std::move(text);
        return failure;
    }
    bool NotSupported() const {
        return kind == Kind::Nack && nack == 5 && (iso == 0x01 || iso == 0x02);
    }
    // A refusal of Read/Write Multiple Blocks that single blocks may not meet: not
    // supported, unknown error (some tags limit the run), or no answer at all.
    bool MultiRefused() const {
        return NotSupported() || (kind == Kind::Nack && nack == 5 && iso == 0x0F) || NoTag();
    }
    // The tag's reply was lost on the air (CRC error, receive error, the reader's own
    // time-over, tags answering at once): the same frame may well go through next time.
    bool Transient() const { return kind == Kind::Nack && nack >= 1 && nack <= 3; }
    bool Locked() const { return kind == Kind::Nack && nack == 5 && iso == 0x12; }
    // A lock refused because it is in place already.
    bool AlreadyLocked() const { return kind == Kind::Nack && nack == 5 && iso == 0x11; }
    bool NoTag() const { return kind == Kind::Nack && nack == 4; }
    // The reader went silent, out of step or away, or the tag left: every further frame
    // would only wait out its own time-out or find no tag, so a run of commands ends here.
    bool EndsRun() const {
        return kind == Kind::TimedOut || kind == Kind::PortLost || gone || collided;
    }
};

// English text of a NACK code (of the ISO 15693 error code with code 5).
std::string EnglishNackText(int nack, int iso);
// English text of a link that could not be brought back in step (QX4_CAUSE_OUT_OF_STEP
// or QX4_CAUSE_FENCE_REFUSED); empty for any other cause.
std::string LinkCheckText(int cause);
// What a library function does, in words ("reading the system information"); the name
// itself for one without an entry.
std::string ActionOf(const std::string& function);
// The failure as a sentence: what was done, then why ("writing the DSFID failed: ...").
std::string FailureText(const CallFailure& failure);

class LinkObserver {
  public:
    // Every frame is handed on to `trace` as well (for --trace); direction as the library's.
    using Trace = std::function<void(int direction, const uint8_t* bytes, unsigned count)>;
    explicit LinkObserver(Trace trace = {});
    ~LinkObserver();
    LinkObserver(const LinkObserver&) = delete;
    LinkObserver& operator=(const LinkObserver&) = delete;

    // Forgets what was seen so far: before a call that follows unchecked ones.
    void Mark();
    // nullopt for a non-zero result; else what went wrong since the last Mark or Outcome.
    // Starts afresh for the next call either way.
    std::optional<CallFailure> Outcome(unsigned char result, const std::string& function,
                                       int timeoutMs);
    // The data count n of the last ACK the last Outcome saw, or -1.
    int LastAckDataCount() const;
    // The echo (first data byte) of that ACK, or -1.
    int LastAckEcho() const;
    // The data bytes of that ACK after the echo (empty without one).
    Bytes LastAckData() const;
    unsigned long acksReceived() const { return acks_; } // all along
    // Acknowledgements of reader settings and tag requests (0x4E, 0x4F, 0x78) whose first
    // data byte echoed the request's sub-command or code, and those that did not.
    unsigned long echoed() const { return echoed_; }
    unsigned long notEchoed() const { return notEchoed_; }

    void OnFrame(int direction, const uint8_t* bytes, unsigned count);

  private:
    Trace trace_;
    bool sent_ = false, received_ = false;
    Bytes lastReceived_, lastAck_, lastNack_, checkedAck_, lastSent_;
    unsigned long acks_ = 0, echoed_ = 0, notEchoed_ = 0;
};

} // namespace qx4dump
