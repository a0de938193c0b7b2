#include "record_types.h"

#include <array>
#include <cstdio>

namespace qx4ndef {
namespace {

// The URI record's prefix codes 0x00 to 0x23.
constexpr std::array<const char*, 36> kUriPrefixes{
    "",
    "http://www.",
    "https://www.",
    "http://",
    "https://",
    "tel:",
    "mailto:",
    "ftp://anonymous:anonymous@",
    "ftp://ftp.",
    "ftps://",
    "sftp://",
    "smb://",
    "nfs://",
    "ftp://",
    "dav://",
    "news:",
    "telnet://",
    "imap:",
    "rtsp://",
    "urn:",
    "pop:",
    "sip:",
    "sips:",
    "tftp:",
    "btspp://",
    "btl2cap://",
    "btgoep://",
    "tcpobex://",
    "irdaobex://",
    "file://",
    "urn:epc:id:",
    "urn:epc:tag:",
    "urn:epc:pat:",
    "urn:epc:raw:",
    "urn:epc:",
    "urn:nfc:",
};

// Length of the UTF-8 sequence at `at`, 0 when none starts there.
size_t Utf8Sequence(ByteView bytes, size_t at) {
    const uint8_t lead = bytes[at];
    size_t length = 0;
    uint32_t low = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, low = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, low = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, low = 0x10000;
    else
        return 0;
    if (bytes.size() - at < length) return 0;
    uint32_t code = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((bytes[at + i] & 0xC0) != 0x80) return 0;
        code = code << 6 | (bytes[at + i] & 0x3F);
    }
    if (code < low || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string FromUtf16(ByteView bytes) {
    if (bytes.size() % 2) throw NdefError("the UTF-16 text has an odd number of bytes");
    bool big = true; // without a byte order mark
    size_t at = 0;
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        big = false, at = 2;
    else if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        at = 2;
    auto unit = [&](size_t i) -> uint32_t {
        return big ? uint32_t(bytes[i]) << 8 | bytes[i + 1]
                   : uint32_t(bytes[i + 1]) << 8 | bytes[i];
    };
    std::string out;
    for (; at < bytes.size(); at += 2) {
        uint32_t code = unit(at);
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (at + 3 >= bytes.size() || unit(at + 2) < 0xDC00 || unit(at + 2) > 0xDFFF)
                throw NdefError("the UTF-16 text has a lone surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
            at += 2;
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            throw NdefError("the UTF-16 text has a lone surrogate");
        }
        AppendUtf8(out, code);
    }
    return out;
}

Bytes ToUtf16(const std::string& text) {
    const ByteView bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    Bytes out{0xFE, 0xFF}; // big-endian, marked
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = Utf8Sequence(bytes, at);
        if (!length) throw NdefError("the text is not UTF-8");
        uint32_t code = length == 1 ? bytes[at] : bytes[at] & (0x7F >> length);
        for (size_t i = 1; i < length; ++i)
            code = code << 6 | (bytes[at + i] & 0x3F);
        at += length;
        auto put = [&](uint32_t u) {
            out.push_back(static_cast<uint8_t>(u >> 8));
            out.push_back(static_cast<uint8_t>(u));
        };
        if (code >= 0x10000) {
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
    }
    return out;
}

} // namespace

void CheckUtf8(ByteView bytes, const char* what) {
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = Utf8Sequence(bytes, at);
        if (!length)
            throw NdefError(std::string(what) + " is not UTF-8 (byte " + std::to_string(at) + ")");
        at += length;
    }
}

std::string Printable(const std::string& text) {
    const ByteView bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    std::string out;
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = Utf8Sequence(bytes, at);
        const uint8_t b = bytes[at];
        if (length == 1 && b >= 0x20 && b != 0x7F && b != '\\') {
            out += static_cast<char>(b);
        } else if (length > 1 && !(length == 2 && b == 0xC2 && bytes[at + 1] < 0xA0)) {
            out.append(text, at, length); // C1 controls escaped with the rest
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, b == '\\' ? "\\\\" : "\\x%02X", b);
            out += escape;
            at += 1;
            continue;
        }
        at += length;
    }
    return out;
}

std::string DecodeUri(ByteView payload) {
    if (payload.empty()) throw NdefError("the URI record has no payload");
    if (payload[0] >= kUriPrefixes.size()) {
        char text[64];
        std::snprintf(text, sizeof text, "the URI record's prefix code %02X is not defined",
                      payload[0]);
        throw NdefError(text);
    }
    CheckUtf8(payload.subspan(1), "the URI");
    return kUriPrefixes[payload[0]] + std::string(payload.begin() + 1, payload.end());
}

Bytes EncodeUri(const std::string& uri) {
    size_t best = 0;
    for (size_t code = 1; code < kUriPrefixes.size(); ++code) {
        const std::string prefix = kUriPrefixes[code];
        if (uri.starts_with(prefix) && prefix.size() > std::string(kUriPrefixes[best]).size())
            best = code;
    }
    Bytes out{static_cast<uint8_t>(best)};
    out.insert(out.end(), uri.begin() + long(std::string(kUriPrefixes[best]).size()), uri.end());
    CheckUtf8(ByteView(out).subspan(1), "the URI");
    return out;
}

Record UriRecord(const std::string& uri) {
    return {Tnf::WellKnown, "U", {}, EncodeUri(uri)};
}

Text DecodeText(ByteView payload) {
    if (payload.empty()) throw NdefError("the text record has no payload");
    const uint8_t status = payload[0];
    const size_t languageLength = status & 0x3F;
    if (status & 0x40) throw NdefError("the text record's status byte has its reserved bit set");
    if (languageLength > payload.size() - 1)
        throw NdefError("the text record's language code runs past its payload");
    Text text;
    text.utf16 = status & 0x80;
    const ByteView language = payload.subspan(1, languageLength);
    CheckUtf8(language, "the language code");
    text.language.assign(language.begin(), language.end());
    const ByteView body = payload.subspan(1 + languageLength);
    if (text.utf16) {
        text.text = FromUtf16(body);
    } else {
        CheckUtf8(body, "the text");
        text.text.assign(body.begin(), body.end());
    }
    return text;
}

Bytes EncodeText(const Text& text) {
    if (text.language.size() > 63) throw NdefError("a language code is at most 63 bytes");
    CheckUtf8(
        ByteView(reinterpret_cast<const uint8_t*>(text.language.data()), text.language.size()),
        "the language code");
    Bytes out{static_cast<uint8_t>((text.utf16 ? 0x80 : 0) | text.language.size())};
    out.insert(out.end(), text.language.begin(), text.language.end());
    if (text.utf16) {
        const Bytes body = ToUtf16(text.text);
        out.insert(out.end(), body.begin(), body.end());
    } else {
        CheckUtf8(ByteView(reinterpret_cast<const uint8_t*>(text.text.data()), text.text.size()),
                  "the text");
        out.insert(out.end(), text.text.begin(), text.text.end());
    }
    return out;
}

Record TextRecord(const std::string& text, const std::string& language, bool utf16) {
    return {Tnf::WellKnown, "T", {}, EncodeText({language, text, utf16})};
}

Message DecodeSmartPoster(ByteView payload, int depth) {
    if (depth > kDeepestNesting)
        throw NdefError("smart posters nested deeper than " + std::to_string(kDeepestNesting));
    return ParseMessage(payload);
}

Record SmartPosterRecord(const Message& records) {
    return {Tnf::WellKnown, "Sp", {}, BuildMessage(records)};
}

Record MimeRecord(const std::string& type, ByteView data) {
    if (type.empty()) throw NdefError("a MIME record needs a media type");
    return {Tnf::Media, type, {}, Bytes(data.begin(), data.end())};
}

Record AbsoluteUriRecord(const std::string& uri, ByteView data) {
    if (uri.empty()) throw NdefError("an absolute-URI record needs a URI");
    return {Tnf::AbsoluteUri, uri, {}, Bytes(data.begin(), data.end())};
}

Record ExternalRecord(const std::string& type, ByteView data) {
    if (type.find(':') == std::string::npos)
        throw NdefError("an external type is \"domain:type\", not \"" + type + "\"");
    return {Tnf::External, type, {}, Bytes(data.begin(), data.end())};
}

bool IsWellKnown(const Record& record, const char* type) {
    return record.tnf == Tnf::WellKnown && record.type == type;
}

std::string KindOf(const Record& record) {
    switch (record.tnf) {
    case Tnf::Empty:
        return "empty";
    case Tnf::WellKnown:
        if (record.type == "U") return "uri";
        if (record.type == "T") return "text";
        if (record.type == "Sp") return "smart-poster";
        return "other";
    case Tnf::Media:
        return "mime";
    case Tnf::AbsoluteUri:
        return "absolute-uri";
    case Tnf::External:
        return "external";
    default:
        return "other";
    }
}

} // namespace qx4ndef
