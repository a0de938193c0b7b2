// Arbitrary bytes through the dump format detector and every parser: refused with a
// FormatError or read; what is read is a well-formed tag that each format writes and
// reads back unchanged.
#include "dump_files.h"
#include "flipper_nfc.h"
#include "proxmark_json.h"
#include "qx4_json.h"
#include "restore_plan.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace qx4dump;

namespace {

void RoundTrip(const TagDump& tag) {
    CheckGeometry(tag, "fuzz"); // throws for a malformed tag: a parser let it through
    for (Format format : {Format::Qx4, Format::Proxmark, Format::Flipper}) {
        const auto back = ParseDump(WriteDump({tag}, format), "again");
        if (back.size() != 1 || !Compare(tag, back[0]).empty()) std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        for (const TagDump& tag : ParseDump(text, "fuzz"))
            RoundTrip(tag);
    } catch (const FormatError&) {
    }
    // Each parser on its own, whatever the detector would say.
    for (auto parse : {+[](const std::string& t) { return ParseProxmarkJson(t, "fuzz"); },
                       +[](const std::string& t) { return ParseFlipperNfc(t, "fuzz"); }}) {
        try {
            RoundTrip(parse(text));
        } catch (const FormatError&) {
        }
    }
    return 0;
}
