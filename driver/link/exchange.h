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

// Sends the request and waits. The context whose `frame` holds the accepted
// answer, or null (no context, frame too long, another answer, time-out).
ReaderContext* Exchange(Command command, std::span<const uint8_t> data,
                        Records records = Records::LastCommand,
                        bool (*accepts)(uint8_t responseType) = nullptr);
inline ReaderContext* Exchange(Command command, Bytes data) {
    return Exchange(command, AsSpan(data));
}

// Sends without waiting; false without a context.
bool SendOnly(Command command, Bytes data, Records records = Records::LastCommand);

// The accepted reply carries at least payloadBytes after its echo byte.
inline bool ReplyCarries(const ReaderContext& context, size_t payloadBytes) {
    return context.frame[3] >= 1 + payloadBytes;
}

} // namespace qx4
