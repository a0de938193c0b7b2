// Arbitrary request payloads for any command name, under every write/lock policy: the
// decoder answers each with a run or a refusal and never crashes.
#include "command_table.h"
#include "request.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const auto commands = qx4cli::Commands();
    // The first byte picks the command (past the table: a name that is no command) and policy.
    const uint8_t pick = data[0];
    const size_t index = pick % (commands.size() + 1);
    const std::string_view name = index < commands.size() ? commands[index].name : "no-such";
    const qx4mqtt::Policy policy{(pick & 0x40) != 0, (pick & 0x80) != 0};
    const std::string_view payload(reinterpret_cast<const char*>(data + 1), size - 1);
    const qx4mqtt::Decoded decoded = qx4mqtt::DecodeRequest(name, payload, policy);
    if (decoded.request.has_value() == !decoded.refusal.is_null()) __builtin_trap();
    if (!decoded.refusal.is_null()) (void)decoded.refusal.dump();
    return 0;
}
