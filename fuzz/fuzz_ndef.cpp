// Arbitrary bytes as an NDEF message and as a tag's memory: refused with an NdefError or
// read; what is read builds back into a message that reads as the same records, and the
// memory is never asked for past what it holds.
#include "content_json.h"
#include "ndef_memory.h"
#include "record_json.h"

#include <cstdlib>

using namespace qx4ndef;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteView bytes(data, size);
    try {
        const Message message = ParseMessage(bytes);
        (void)MessageJson(message).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        for (const Record& record : message)
            (void)RecordLine(record);
        if (ParseMessage(BuildMessage(message)) != message) std::abort();
        // JSON carries types as text: those that are not UTF-8 come back escaped.
        bool textTypes = true;
        for (const Record& record : message)
            textTypes = textTypes && MessageJson({record})[0]["type"] == record.type;
        if (textTypes &&
            BuildMessage(MessageFromJson(MessageJson(message))) != BuildMessage(message))
            std::abort();
    } catch (const NdefError&) {
    }
    // As memory: read step by step as a tag is, then whole (0 bytes: a size nobody knows).
    if (size) try {
            size_t have = std::min(size, kFirstRead);
            for (int steps = 0; steps < 64; ++steps) {
                const size_t needed = BytesNeeded(bytes.first(have), size);
                if (needed <= have) break;
                if (needed > size) std::abort(); // beyond the tag
                have = needed;
            }
            (void)ContentJson(ReadNdef(bytes, size))
                .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            const Placement placement =
                PlaceMessage(bytes, size, bytes.first(std::min<size_t>(size, 40)));
            if (placement.offset + placement.bytes.size() > size) std::abort();
        } catch (const NdefError&) {
        }
    return 0;
}
