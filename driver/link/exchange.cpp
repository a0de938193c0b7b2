#include "link/exchange.h"

#include "link/serial_link.h"

namespace qx4 {

CommandClaim::CommandClaim(Needs needs) {
    LinkState& link = Link();
    // Scans are no commands: they leave the last command's cause alone.
    const bool command = needs == Needs::Port;
    auto refuse = [&](int cause) {
        if (command) link.failureCause.store(cause, std::memory_order_relaxed);
    };
    bool idle = false;
    if (!link.commandActive.compare_exchange_strong(idle, true)) {
        refuse(QX4_CAUSE_BUSY);
        return;
    }
    // Checked after taking the flag: a close waiting for the flag to fall sees it either way.
    std::shared_ptr<ReaderContext> context = link.context.load();
    const int cause = link.closing.load() != 0                             ? QX4_CAUSE_BUSY
                      : !context                                           ? QX4_CAUSE_NO_PORT
                      : command && (!IsPortOpen() || link.portLost.load()) ? QX4_CAUSE_NO_PORT
                                                                           : QX4_CAUSE_NONE;
    if (cause != QX4_CAUSE_NONE) {
        link.commandActive.store(false);
        refuse(cause);
        return;
    }
    link.commandThread.store(std::this_thread::get_id());
    if (command) link.pendingCause = QX4_CAUSE_NONE;
    context_ = std::move(context);
    command_ = command;
}

CommandClaim::~CommandClaim() {
    if (!context_) return;
    LinkState& link = Link();
    if (command_) link.failureCause.store(link.pendingCause, std::memory_order_relaxed);
    context_.reset();
    link.commandThread.store(std::thread::id{});
    link.commandActive.store(false);
}

Reply Exchange(Command command, std::span<const uint8_t> data, Records records,
               bool (*accepts)(uint8_t), Fencing fencing) {
    CommandClaim claim;
    const bool accepted = claim && SendCommand(*claim, command, data, records, fencing) &&
                          AwaitResponse(*claim, accepts) == WaitOutcome::Accepted;
    if (claim && claim->sentUnfenced) claim->inDoubt = true; // nothing vouched for its answer
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
