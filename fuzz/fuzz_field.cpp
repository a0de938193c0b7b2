// Arbitrary field files through the simulator's loader: refused with a message or
// loaded, never a crash; whatever loads answers every block it claims to have.
#include "field_file.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const auto tags =
            qx4sim::ParseField(std::string(reinterpret_cast<const char*>(data), size));
        for (const auto& tag : tags) {
            if (tag.blockSize == 0 || tag.blockSize > 32) std::abort();
            if (tag.memory.size() != tag.BlockCount() * tag.blockSize) std::abort();
            if (tag.locked.size() != tag.BlockCount()) std::abort();
        }
        qx4sim::ParseField(qx4sim::FieldToJson(tags)); // what it saves, it loads
    } catch (const std::runtime_error&) {
    }
    return 0;
}
