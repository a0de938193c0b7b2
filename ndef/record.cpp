#include "record.h"

#include <array>

namespace qx4ndef {
namespace {

constexpr uint8_t kMb = 0x80, kMe = 0x40, kCf = 0x20, kSr = 0x10, kIl = 0x08, kTnfMask = 0x07;

// Reads forward through the message, refusing any step past its end.
struct Cursor {
    ByteView bytes;
    size_t at = 0;

    size_t Left() const { return bytes.size() - at; }
    ByteView Take(uint64_t count, const char* what) {
        if (count > Left())
            throw NdefError(std::string("the record's ") + what + " (" + std::to_string(count) +
                            " bytes) runs past the message at byte " + std::to_string(at));
        const ByteView out = bytes.subspan(at, size_t(count));
        at += size_t(count);
        return out;
    }
    uint8_t Byte(const char* what) { return Take(1, what)[0]; }
};

} // namespace

const char* TnfName(Tnf tnf) {
    static constexpr std::array kNames{"empty",    "well-known", "media",     "absolute-uri",
                                       "external", "unknown",    "unchanged", "reserved"};
    return kNames[static_cast<size_t>(tnf) & 7];
}

Message ParseMessage(ByteView bytes) {
    Message message;
    Cursor in{bytes};
    bool chunking = false, ended = false;
    while (in.Left()) {
        if (ended)
            throw NdefError("bytes after the last record, from byte " + std::to_string(in.at));
        const size_t start = in.at;
        const uint8_t header = in.Byte("header");
        const Tnf tnf = static_cast<Tnf>(header & kTnfMask);
        const size_t typeLength = in.Byte("type length");
        uint64_t payloadLength = in.Byte("payload length");
        if (!(header & kSr)) {
            const ByteView more = in.Take(3, "payload length");
            payloadLength = payloadLength << 24 | uint64_t{more[0]} << 16 | more[1] << 8 | more[2];
        }
        const size_t idLength = header & kIl ? in.Byte("id length") : 0;
        const ByteView type = in.Take(typeLength, "type");
        const ByteView id = in.Take(idLength, "id");
        const ByteView payload = in.Take(payloadLength, "payload");
        const bool first = message.empty() && !chunking;
        if (first != bool(header & kMb))
            throw NdefError(first ? "the first record lacks the message-begin flag"
                                  : "a record at byte " + std::to_string(start) +
                                        " has the message-begin flag inside the message");
        if (tnf == Tnf::Reserved)
            throw NdefError("a record at byte " + std::to_string(start) + " has TNF 7 (reserved)");
        if (chunking) {
            // A middle or last chunk: no type, no id, TNF unchanged.
            if (tnf != Tnf::Unchanged || typeLength || idLength)
                throw NdefError("a chunk at byte " + std::to_string(start) +
                                " does not continue the chunked record");
            Bytes& whole = message.back().payload;
            whole.insert(whole.end(), payload.begin(), payload.end());
            chunking = header & kCf;
        } else {
            if (tnf == Tnf::Unchanged)
                throw NdefError("a record at byte " + std::to_string(start) +
                                " has TNF 6 (unchanged) outside a chunked record");
            if (tnf == Tnf::Empty && (typeLength || idLength || payloadLength))
                throw NdefError("an empty record at byte " + std::to_string(start) +
                                " carries a type, id or payload");
            if ((tnf == Tnf::Unknown) && typeLength)
                throw NdefError("an unknown-type record at byte " + std::to_string(start) +
                                " carries a type");
            Record record;
            record.tnf = tnf;
            record.type.assign(type.begin(), type.end());
            record.id.assign(id.begin(), id.end());
            record.payload.assign(payload.begin(), payload.end());
            message.push_back(std::move(record));
            chunking = header & kCf;
        }
        if (header & kMe) {
            if (chunking) throw NdefError("the last record is a chunk that is never finished");
            ended = true;
        }
    }
    if (!message.empty() && !ended) throw NdefError("the message ends without its last record");
    return message;
}

Bytes BuildMessage(const Message& records) {
    Bytes out;
    for (size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        if (r.tnf == Tnf::Unchanged || r.tnf == Tnf::Reserved)
            throw NdefError(std::string("a record cannot have TNF ") + TnfName(r.tnf));
        if (r.tnf == Tnf::Empty && (!r.type.empty() || !r.id.empty() || !r.payload.empty()))
            throw NdefError("an empty record carries no type, id or payload");
        if (r.type.size() > 255) throw NdefError("a record type is at most 255 bytes");
        if (r.id.size() > 255) throw NdefError("a record id is at most 255 bytes");
        if (r.payload.size() > 0xFFFFFFFFu) throw NdefError("a record payload is too long");
        const bool shortRecord = r.payload.size() < 256;
        out.push_back(static_cast<uint8_t>(
            (i == 0 ? kMb : 0) | (i + 1 == records.size() ? kMe : 0) | (shortRecord ? kSr : 0) |
            (r.id.empty() ? 0 : kIl) | static_cast<uint8_t>(r.tnf)));
        out.push_back(static_cast<uint8_t>(r.type.size()));
        const uint64_t length = r.payload.size();
        if (shortRecord)
            out.push_back(static_cast<uint8_t>(length));
        else
            for (int shift = 24; shift >= 0; shift -= 8)
                out.push_back(static_cast<uint8_t>(length >> shift));
        if (!r.id.empty()) out.push_back(static_cast<uint8_t>(r.id.size()));
        out.insert(out.end(), r.type.begin(), r.type.end());
        out.insert(out.end(), r.id.begin(), r.id.end());
        out.insert(out.end(), r.payload.begin(), r.payload.end());
    }
    return out;
}

} // namespace qx4ndef
