#include "link/exchange.h"

#include "link/serial_link.h"

namespace qx4 {

CommandClaim::CommandClaim(Needs needs) {
    LinkState& link = Link();
    ReaderContext* context = link.context.get();
    // Scans are no commands: they leave the last command's cause alone.
    const bool command = needs == Needs::Port;
    if (!context || (command && (!IsPortOpen() || link.portLost.load(std::memory_order_acquire)))) {
        if (command) link.failureCause.store(QX4_CAUSE_NO_PORT, std::memory_order_relaxed);
        return;
    }
    bool idle = false;
    if (!link.commandActive.compare_exchange_strong(idle, true, std::memory_order_acquire)) {
        if (command) link.failureCause.store(QX4_CAUSE_BUSY, std::memory_order_relaxed);
        return;
    }
    if (command) link.pendingCause = QX4_CAUSE_NONE;
    context_ = context;
    command_ = command;
}

CommandClaim::~CommandClaim() {
    if (!context_) return;
    LinkState& link = Link();
    if (command_) link.failureCause.store(link.pendingCause, std::memory_order_relaxed);
    link.commandActive.store(false, std::memory_order_release);
}

Reply Exchange(Command command, std::span<const uint8_t> data, Records records,
               bool (*accepts)(uint8_t)) {
    CommandClaim claim;
    const bool accepted = claim && SendCommand(*claim, command, data, records) &&
                          AwaitResponse(*claim, accepts) == WaitOutcome::Accepted;
    return Reply(std::move(claim), accepted);
}

bool SendOnly(Command command, Bytes data, Records records) {
    CommandClaim claim;
    if (!claim || !SendCommand(*claim, command, AsSpan(data), records)) return false;
    claim->inDoubt = true; // whether and when an answer comes is the reader's business
    return true;
}

bool Refuse() {
    Link().failureCause.store(QX4_CAUSE_BAD_ARGUMENT, std::memory_order_relaxed);
    return false;
}

bool ReplyIs(const ReaderContext&, bool fits) {
    if (!fits) NoteFailure(QX4_CAUSE_BAD_REPLY);
    return fits;
}

} // namespace qx4
