#include "ndef_memory.h"

namespace qx4ndef {
namespace {

struct Located {
    CapabilityContainer cc;
    size_t areaEnd = 0;
    TlvScan scan;
    size_t needed = 0; // 0: enough at hand
};

Located Locate(ByteView prefix, size_t tagBytes) {
    Located at;
    const size_t container = prefix.size() >= 4 && prefix[2] == 0 ? 8 : 4;
    if (tagBytes && container > tagBytes)
        throw NdefError("the memory is too short for a capability container");
    if (prefix.size() < container &&
        (prefix.size() < 4 || prefix[0] == 0xE1 || prefix[0] == 0xE2)) {
        at.needed = container;
        return at;
    }
    at.cc = ParseCapabilityContainer(prefix, tagBytes);
    if (!at.cc.Readable())
        throw NdefError(std::string("the capability container allows reads ") +
                        AccessName(at.cc.read) + ", not always");
    at.areaEnd = AreaEnd(at.cc, tagBytes ? tagBytes : prefix.size());
    at.scan = ScanTlvs(prefix, at.cc.size, at.areaEnd);
    if (at.scan.status == TlvScan::Status::NeedMore) at.needed = at.scan.needed;
    return at;
}

} // namespace

size_t BytesNeeded(ByteView prefix, size_t tagBytes, bool wholeMessage) {
    const Located at = Locate(prefix, tagBytes);
    if (at.needed) return at.needed;
    if (wholeMessage && at.scan.status == TlvScan::Status::Found) return at.scan.ndef.End();
    return prefix.size();
}

NdefContent ReadNdef(ByteView memory, size_t tagBytes) {
    const Located at = Locate(memory, tagBytes);
    if (at.needed) throw NdefError("the memory ends before its NDEF does");
    NdefContent content;
    content.cc = at.cc;
    content.areaEnd = at.areaEnd;
    if (at.scan.status != TlvScan::Status::Found) return content;
    content.tlv = at.scan.ndef;
    if (content.tlv->End() > memory.size()) throw NdefError("the memory ends before its NDEF does");
    const ByteView message = memory.subspan(content.tlv->value, content.tlv->length);
    content.message.assign(message.begin(), message.end());
    content.records = ParseMessage(message);
    return content;
}

Placement PlaceMessage(ByteView prefix, size_t tagBytes, ByteView message) {
    const Located at = Locate(prefix, tagBytes);
    if (at.needed) throw NdefError("the memory ends before its TLVs do");
    Placement placement;
    placement.offset =
        at.scan.status == TlvScan::Status::Found ? at.scan.ndef.start : at.scan.freeFrom;
    const size_t room = at.areaEnd - placement.offset;
    placement.bytes = BuildNdefTlv(message, false);
    if (placement.bytes.size() > room)
        throw NdefTooLong("the message takes " + std::to_string(placement.bytes.size()) +
                          " bytes with its TLV where the tag's NDEF area has " +
                          std::to_string(room));
    if (placement.bytes.size() < room) placement.bytes.push_back(kTerminatorTlv);
    return placement;
}

} // namespace qx4ndef
