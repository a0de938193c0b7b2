#include "link/exchange.h"

namespace qx4 {

CommandClaim::CommandClaim() {
    LinkState& link = Link();
    ReaderContext* context = link.context.get();
    if (!context || link.portLost.load(std::memory_order_acquire)) return;
    bool idle = false;
    if (!link.commandActive.compare_exchange_strong(idle, true, std::memory_order_acquire)) return;
    context_ = context;
}

CommandClaim::~CommandClaim() {
    if (context_) Link().commandActive.store(false, std::memory_order_release);
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
    return claim && SendCommand(*claim, command, AsSpan(data), records);
}

} // namespace qx4
