// One request frame and the reader's answer, shared by every command export.
#pragma once

#include "link/command_table.h"
#include "link/context.h"
#include "link/response.h"

#include <cstdint>
#include <initializer_list>
#include <span>

namespace qx4 {

using Bytes = std::initializer_list<uint8_t>;

// Integer arguments travel as their low byte.
inline uint8_t Low(int value) {
    return static_cast<uint8_t>(value);
}

inline std::span<const uint8_t> AsSpan(Bytes bytes) {
    return {bytes.begin(), bytes.size()};
}

// A command export's hold on the link, from its start until it returns. Only one
// command runs at a time: another one started meanwhile (from the pump hook, a
// window notification or another thread) gets no claim and fails at once without
// touching the context. No claim either without a context or, for a command, without
// an open port; a scan only needs the context (the ring may hold what came before a loss).
class CommandClaim {
  public:
    enum class Needs { Port, Context };
    explicit CommandClaim(Needs needs = Needs::Port);
    ~CommandClaim();
    CommandClaim(CommandClaim&& other) noexcept
        : context_(std::move(other.context_)), command_(other.command_) {}
    CommandClaim(const CommandClaim&) = delete;
    CommandClaim& operator=(const CommandClaim&) = delete;
    CommandClaim& operator=(CommandClaim&&) = delete;

    explicit operator bool() const { return context_ != nullptr; }
    ReaderContext& operator*() const { return *context_; }
    ReaderContext* operator->() const { return context_.get(); }

  private:
    std::shared_ptr<ReaderContext> context_; // kept alive while the command runs
    bool command_ = false;
};

// The claim and, when accepted, the answer in the context's `frame`.
class Reply {
  public:
    Reply(CommandClaim claim, bool accepted)
        : claim_(std::move(claim)), accepted_(accepted && claim_) {}
    explicit operator bool() const { return accepted_; }
    ReaderContext& operator*() const { return *claim_; }
    ReaderContext* operator->() const { return &*claim_; }

  private:
    CommandClaim claim_;
    bool accepted_;
};

// Sends the request and waits. Accepted: an ACK that is this command's answer
// (or, with `accepts`, a frame of a type it takes).
Reply Exchange(Command command, std::span<const uint8_t> data,
               Records records = Records::LastCommand,
               bool (*accepts)(uint8_t responseType) = nullptr,
               Fencing fencing = Fencing::Required);
inline Reply Exchange(Command command, Bytes data) {
    return Exchange(command, AsSpan(data));
}

// Sends without waiting; false without a claim.
bool SendOnly(Command command, Bytes data, Records records = Records::LastCommand);

// Arguments an export refuses before it claims the link: the cause is recorded, false
// returned. (With the claim held, NoteFailure.)
bool Refuse();

// The accepted reply has the shape the export expects; if not, the command fails with
// a bad reply and nothing is copied.
bool ReplyIs(const ReaderContext& context, bool fits);

// The accepted reply carries exactly payloadBytes after its echo byte.
inline bool ReplyCarries(const ReaderContext& context, size_t payloadBytes) {
    return ReplyIs(context, context.frame[3] == 1 + payloadBytes);
}

// An acknowledgement that carries nothing but its echo.
inline unsigned char Acknowledged(const Reply& reply) {
    return reply && ReplyCarries(*reply, 0) ? 1 : 0;
}

// A block number, count or address that one request byte carries.
inline bool FitsByte(int value) {
    return value >= 0 && value <= 255;
}

} // namespace qx4
