// The payloads of the record types people meet: URI and Text (well-known "U" and "T"),
// Smart Poster ("Sp", a message inside a record), MIME media, absolute URI and NFC Forum
// external types. Decoders throw NdefError for a payload their type cannot carry.
#pragma once

#include "record.h"

namespace qx4ndef {

// URI: a prefix code (0x00 to 0x23) and the rest of the URI in UTF-8.
std::string DecodeUri(ByteView payload);
Bytes EncodeUri(const std::string& uri); // with the longest prefix that fits
Record UriRecord(const std::string& uri);

struct Text {
    std::string language; // IANA language code, "en"
    std::string text;     // UTF-8, whatever the record's encoding
    bool utf16 = false;
};
Text DecodeText(ByteView payload);
Bytes EncodeText(const Text& text);
Record TextRecord(const std::string& text, const std::string& language = "en", bool utf16 = false);

// Smart poster: its payload is a message (a URI record, titles, an action...).
Message DecodeSmartPoster(ByteView payload, int depth = 1);
Record SmartPosterRecord(const Message& records);

Record MimeRecord(const std::string& type, ByteView data);
Record AbsoluteUriRecord(const std::string& uri, ByteView data = {});
Record ExternalRecord(const std::string& type, ByteView data); // "domain.com:type"

// What a record is, in the words of its type: "uri", "text", "smart-poster", "mime",
// "absolute-uri", "external", "empty", else "other".
std::string KindOf(const Record& record);
bool IsWellKnown(const Record& record, const char* type);

// UTF-8 checked: throws NdefError naming `what` for bytes that are not.
void CheckUtf8(ByteView bytes, const char* what);
// Text safe on a terminal: valid UTF-8 stays, control characters and bad bytes as \xNN.
std::string Printable(const std::string& text);

} // namespace qx4ndef
