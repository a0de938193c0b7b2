#include "tlv.h"

#include <algorithm>

namespace qx4ndef {

TlvScan ScanTlvs(ByteView memory, size_t start, size_t end) {
    TlvScan scan;
    size_t p = start;
    auto needMore = [&](size_t bytes) {
        scan.status = TlvScan::Status::NeedMore;
        scan.needed = std::min(bytes, end);
        return scan;
    };
    while (p < end) {
        if (p >= memory.size()) return needMore(p + 1);
        const uint8_t type = memory[p];
        if (type == kNullTlv) {
            ++p;
            continue;
        }
        if (type == kTerminatorTlv) break;
        if (p + 1 >= end)
            throw NdefError("a TLV at byte " + std::to_string(p) + " ends with the memory");
        if (p + 1 >= memory.size()) return needMore(p + 2);
        size_t length = memory[p + 1], header = 2;
        if (length == 0xFF) {
            if (p + 3 >= end)
                throw NdefError("a TLV length at byte " + std::to_string(p) +
                                " runs past the memory");
            if (p + 3 >= memory.size()) return needMore(p + 4);
            length = size_t{memory[p + 2]} << 8 | memory[p + 3];
            header = 4;
        }
        if (length > end - p - header)
            throw NdefError("a TLV of " + std::to_string(length) + " bytes at byte " +
                            std::to_string(p) + " runs past the NDEF area (" + std::to_string(end) +
                            " bytes)");
        if (type == kNdefTlv) {
            scan.status = TlvScan::Status::Found;
            scan.ndef = {p, p + header, length};
            return scan;
        }
        p += header + length; // lock and memory control, proprietary, unknown: passed over
    }
    scan.status = TlvScan::Status::NoNdef;
    scan.freeFrom = std::min(p, end);
    return scan;
}

Bytes BuildNdefTlv(ByteView message, bool terminator) {
    if (message.size() > kLongestTlv)
        throw NdefError("an NDEF message of " + std::to_string(message.size()) +
                        " bytes does not fit a TLV");
    Bytes out;
    out.reserve(message.size() + 5);
    out.push_back(kNdefTlv);
    if (message.size() < 0xFF) {
        out.push_back(static_cast<uint8_t>(message.size()));
    } else {
        out.push_back(0xFF);
        out.push_back(static_cast<uint8_t>(message.size() >> 8));
        out.push_back(static_cast<uint8_t>(message.size()));
    }
    out.insert(out.end(), message.begin(), message.end());
    if (terminator) out.push_back(kTerminatorTlv);
    return out;
}

} // namespace qx4ndef
