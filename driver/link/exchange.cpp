#include "link/exchange.h"

namespace qx4 {

ReaderContext* Exchange(Command command, std::span<const uint8_t> data, Records records,
                        bool (*accepts)(uint8_t)) {
    ReaderContext* context = Context();
    if (!context || !SendCommand(*context, command, data, records)) return nullptr;
    return AwaitResponse(*context, accepts) == WaitOutcome::Accepted ? context : nullptr;
}

bool SendOnly(Command command, Bytes data, Records records) {
    ReaderContext* context = Context();
    return context && SendCommand(*context, command, AsSpan(data), records);
}

} // namespace qx4
