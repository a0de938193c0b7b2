#include "record_json.h"

#include "record_types.h"

#include <cstdio>

namespace qx4ndef {
namespace {

// Types are bytes; JSON holds text: what is not UTF-8 is shown escaped.
std::string TypeText(const std::string& type) {
    try {
        CheckUtf8(ByteView(reinterpret_cast<const uint8_t*>(type.data()), type.size()), "type");
        return type;
    } catch (const NdefError&) {
        return Printable(type);
    }
}

std::optional<std::string> Utf8Data(ByteView data) {
    try {
        CheckUtf8(data, "data");
    } catch (const NdefError&) {
        return std::nullopt;
    }
    const std::string text(data.begin(), data.end());
    return Printable(text) == text ? std::optional(text) : std::nullopt;
}

const nlohmann::json& Member(const nlohmann::json& entry, const char* key) {
    return entry.at(key);
}

std::string String(const nlohmann::json& entry, const char* key) {
    if (!entry.contains(key) || !Member(entry, key).is_string())
        throw NdefError(std::string("\"") + key + "\" must be a string");
    return Member(entry, key).get<std::string>();
}

Bytes Data(const nlohmann::json& entry, const char* key) {
    if (!entry.contains(key)) return {};
    return FromHex(String(entry, key), key);
}

} // namespace

std::string ToHex(ByteView bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

Bytes FromHex(const std::string& text, const char* what) {
    auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (text.size() % 2)
        throw NdefError(std::string("\"") + what + "\" must be pairs of hex digits");
    Bytes out;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]), low = digit(text[i + 1]);
        if (high < 0 || low < 0)
            throw NdefError(std::string("\"") + what + "\" must be pairs of hex digits");
        out.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return out;
}

nlohmann::json RecordJson(const Record& record, int depth) {
    nlohmann::json out{{"tnf", static_cast<int>(record.tnf)},
                       {"tnfName", TnfName(record.tnf)},
                       {"type", TypeText(record.type)},
                       {"id", ToHex(record.id)},
                       {"payload", ToHex(record.payload)}};
    const std::string kind = KindOf(record);
    out["kind"] = kind;
    try {
        if (kind == "uri") {
            out["uri"] = DecodeUri(record.payload);
        } else if (kind == "text") {
            const Text text = DecodeText(record.payload);
            out["text"] = text.text;
            out["language"] = text.language;
            out["encoding"] = text.utf16 ? "UTF-16" : "UTF-8";
        } else if (kind == "smart-poster") {
            out["records"] = MessageJson(DecodeSmartPoster(record.payload, depth + 1), depth + 1);
        } else if (kind == "absolute-uri") {
            out["uri"] = TypeText(record.type);
        } else if (kind == "mime" || kind == "external" || kind == "other") {
            if (const auto text = Utf8Data(record.payload)) out["data"] = *text;
        }
    } catch (const NdefError& error) {
        out["error"] = error.what();
    }
    return out;
}

nlohmann::json MessageJson(const Message& message, int depth) {
    nlohmann::json out = nlohmann::json::array();
    for (const Record& record : message)
        out.push_back(RecordJson(record, depth));
    return out;
}

std::string RecordLine(const Record& record, int depth) {
    const nlohmann::json decoded = RecordJson(record, depth);
    const std::string kind = decoded["kind"];
    const std::string type = Printable(record.type);
    std::string line;
    if (decoded.contains("error")) {
        line = std::string(TnfName(record.tnf)) + " " + type + " (" +
               std::to_string(record.payload.size()) +
               " bytes, cannot decode: " + decoded["error"].get<std::string>() + ")";
    } else if (kind == "uri") {
        line = "URI " + Printable(decoded["uri"].get<std::string>());
    } else if (kind == "text") {
        line = "Text [" + Printable(decoded["language"].get<std::string>()) + ", " +
               decoded["encoding"].get<std::string>() + "] " +
               Printable(decoded["text"].get<std::string>());
    } else if (kind == "smart-poster") {
        line = "Smart Poster:";
        const Message inner = DecodeSmartPoster(record.payload, depth + 1);
        for (size_t i = 0; i < inner.size(); ++i)
            line += (i ? "; " : " ") + RecordLine(inner[i], depth + 1);
    } else if (kind == "empty") {
        line = "Empty";
    } else {
        const char* head = kind == "mime"           ? "MIME "
                           : kind == "external"     ? "External "
                           : kind == "absolute-uri" ? "Absolute URI "
                                                    : "";
        line = std::string(head) + (*head ? "" : std::string(TnfName(record.tnf)) + " ") + type +
               " (" + std::to_string(record.payload.size()) + " bytes)";
        if (decoded.contains("data")) line += ": " + decoded["data"].get<std::string>();
    }
    if (!record.id.empty())
        line += " [id " + Printable(std::string(record.id.begin(), record.id.end())) + "]";
    return line;
}

Record RecordFromJson(const nlohmann::json& entry, int depth) {
    if (!entry.is_object()) throw NdefError("a record must be a JSON object");
    if (depth > kDeepestNesting)
        throw NdefError("smart posters nested deeper than " + std::to_string(kDeepestNesting));
    Record record;
    if (entry.contains("payload")) { // as read: the bytes themselves, whatever else it says
        const auto& tnf = entry.contains("tnf") ? entry["tnf"] : nlohmann::json();
        if (!tnf.is_number_integer() || tnf.get<int>() < 0 || tnf.get<int>() > 5)
            throw NdefError("\"tnf\" must be a number from 0 to 5");
        record.tnf = static_cast<Tnf>(tnf.get<int>());
        if (entry.contains("type")) record.type = String(entry, "type");
        record.payload = Data(entry, "payload");
    } else if (entry.contains("uri")) {
        record = UriRecord(String(entry, "uri"));
    } else if (entry.contains("text")) {
        const std::string encoding =
            entry.contains("encoding") ? String(entry, "encoding") : "UTF-8";
        if (encoding != "UTF-8" && encoding != "UTF-16")
            throw NdefError("\"encoding\" must be UTF-8 or UTF-16");
        record = TextRecord(String(entry, "text"),
                            entry.contains("language") ? String(entry, "language") : "en",
                            encoding == "UTF-16");
    } else if (entry.contains("mime")) {
        record = MimeRecord(String(entry, "mime"), Data(entry, "data"));
    } else if (entry.contains("external")) {
        record = ExternalRecord(String(entry, "external"), Data(entry, "data"));
    } else if (entry.contains("absoluteUri")) {
        record = AbsoluteUriRecord(String(entry, "absoluteUri"), Data(entry, "data"));
    } else if (entry.contains("smartPoster")) {
        record = SmartPosterRecord(MessageFromJson(entry["smartPoster"], depth + 1));
    } else if (entry.contains("empty")) {
        record = Record{};
    } else {
        throw NdefError("a record needs one of uri, text, mime, external, absoluteUri, "
                        "smartPoster, empty, or tnf with payload");
    }
    record.id = Data(entry, "id");
    return record;
}

Message MessageFromJson(const nlohmann::json& described, int depth) {
    if (!described.is_array()) throw NdefError("records must be a JSON list");
    Message message;
    for (const auto& entry : described)
        message.push_back(RecordFromJson(entry, depth));
    return message;
}

} // namespace qx4ndef
