// System information taken apart by its info flags.
#pragma once

#include "session.h"

#include <optional>

namespace qx4cli {

struct SystemInfo {
    uint8_t flags = 0;
    Uid uid{};
    std::optional<uint8_t> dsfid, afi, icReference;
    std::optional<int> blockCount, blockSize;
};

unsigned char ReadSystemInfo(int requestMode, const unsigned char* uid, SystemInfo& info);
void ShowSystemInfo(Session& s, const SystemInfo& info);

} // namespace qx4cli
