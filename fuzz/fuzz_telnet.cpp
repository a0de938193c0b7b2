// Arbitrary bytes from an RFC 2217 server through the Telnet codec. The input is read as
// a script of line data, option negotiations and subnegotiations (arbitrary contents),
// encoded as a server would send them and fed in chunks: the decoded data must be
// exactly the script's line data, so no byte of negotiation ever reaches the ring.
// The raw input is also fed as it stands, for whatever no script produces.
#include "platform/telnet.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

using qx4::platform::TelnetCodec;
namespace telnet = qx4::platform::telnet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        TelnetCodec codec;
        codec.Greeting();
        std::vector<uint8_t> ignored;
        codec.Feed(data, size, ignored);
        if (ignored.size() > size) std::abort();
    }
    if (size < 1) return 0;
    std::vector<uint8_t> stream, expected;
    size_t at = 1;
    while (at < size) {
        const uint8_t op = data[at++];
        const size_t length = std::min<size_t>(op >> 2, size - at);
        switch (op & 3) {
        case 0: // line data
            expected.insert(expected.end(), data + at, data + at + length);
            TelnetCodec::AppendEscaped(stream, data + at, length);
            break;
        case 1: // a negotiation: verb and option from the next two bytes
            if (size - at >= 2) {
                stream.insert(stream.end(),
                              {telnet::kIac, uint8_t(telnet::kWill + data[at] % 4), data[at + 1]});
            }
            at += 2;
            continue;
        case 2: { // a subnegotiation with arbitrary contents, escaped
            stream.insert(stream.end(), {telnet::kIac, telnet::kSb});
            TelnetCodec::AppendEscaped(stream, data + at, length);
            stream.insert(stream.end(), {telnet::kIac, telnet::kSe});
            break;
        }
        default: // a command without an option (NOP, GA and the like)
            if (length > 0 && data[at] != telnet::kIac && data[at] < telnet::kSb)
                stream.insert(stream.end(), {telnet::kIac, data[at]});
            break;
        }
        at += length;
    }
    TelnetCodec codec;
    codec.Greeting();
    std::vector<uint8_t> decoded;
    const size_t chunk = data[0] % 16 + 1;
    for (size_t i = 0; i < stream.size(); i += chunk) {
        codec.Feed(stream.data() + i, std::min(chunk, stream.size() - i), decoded);
        codec.TakeReplies();
    }
    if (decoded != expected) std::abort();
    return 0;
}
