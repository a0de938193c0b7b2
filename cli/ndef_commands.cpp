// qx4 ndef read|write|format|erase|protect: NDEF on one tag, over its blocks.
#include "command_table.h"

#include "content_json.h"
#include "ndef_tag.h"
#include "record_json.h"

#include <fstream>
#include <iterator>

namespace qx4cli {
namespace {

// The tag's geometry from its system information (or --block-size and --blocks).
qx4dump::NdefTag NdefOn(Session& s, qx4dump::TagAccess& tag) {
    qx4dump::SystemInfo info;
    std::string note;
    const qx4dump::Geometry geometry = tag.ReadGeometry(s.Overrides(), info, note);
    if (geometry.stop) throw std::runtime_error(qx4dump::FailureText(tag.failure()));
    if (!geometry.blockCount)
        throw Refusal(note + ": give the tag's memory with --block-size and --blocks");
    if (!note.empty()) s.Note(note);
    return qx4dump::NdefTag(tag, geometry.blockSize, geometry.blockCount);
}

void ShowContent(Session& s, const qx4ndef::NdefContent& content) {
    const nlohmann::json json = qx4ndef::ContentJson(content);
    for (const auto& [key, value] : json.items())
        s.result()[key] = value;
    s.Line(qx4ndef::ContainerLine(content.cc));
    if (!content.tlv) return s.Line("no NDEF message (formatted, empty)");
    if (content.records.empty()) s.Line("an empty NDEF message");
    for (size_t i = 0; i < content.records.size(); ++i)
        s.Line("record " + std::to_string(i + 1) + ": " + qx4ndef::RecordLine(content.records[i]));
}

void ShowReport(Session& s, const qx4dump::NdefWriteReport& report) {
    auto list = [](const std::vector<int>& blocks) {
        std::string text;
        for (int block : blocks)
            text += (text.empty() ? "" : " ") + std::to_string(block);
        return text.empty() ? std::string("none") : text;
    };
    s.Field("written", report.written, list(report.written));
    if (!report.locked.empty()) s.Field("lockedBlocks", report.locked, list(report.locked));
    if (!report.lockedNow.empty()) s.Field("lockedNow", report.lockedNow, list(report.lockedNow));
}

// Runs a write of the NDEF code, reporting its blocks also when it fails or is refused.
template <class Action> bool NdefWrite(Session& s, qx4dump::TagAccess& tag, Action action) {
    qx4dump::NdefWriteReport report;
    bool ok = false;
    try {
        ok = action(report);
    } catch (const qx4dump::NdefRefused& error) {
        ShowReport(s, report);
        throw Refusal(error.what());
    } catch (const qx4ndef::NdefError&) {
        ShowReport(s, report);
        throw;
    }
    ShowReport(s, report);
    if (!ok) s.Fail(tag.failure());
    return ok;
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Refusal("cannot read " + path);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() > qx4ndef::kLongestTlv)
        throw Refusal(path + " is larger than any NDEF message");
    return bytes;
}

// The records of ndef write, in the order given; files are read here.
qx4ndef::Message RecordsOf(const nlohmann::json& described) {
    qx4ndef::Message message;
    for (nlohmann::json entry : described) {
        if (entry.contains("dataFile")) {
            const std::string data = FileBytes(entry["dataFile"]);
            entry.erase("dataFile");
            entry["data"] =
                qx4ndef::ToHex({reinterpret_cast<const uint8_t*>(data.data()), data.size()});
        }
        if (entry.contains("messageFile") || entry.contains("message")) {
            std::string bytes;
            if (entry.contains("messageFile")) {
                bytes = FileBytes(entry["messageFile"]);
            } else {
                if (!entry["message"].is_string()) throw Refusal("\"message\" must be hex");
                const auto raw = qx4ndef::FromHex(entry["message"].get<std::string>(), "message");
                bytes.assign(raw.begin(), raw.end());
            }
            const auto records = qx4ndef::ParseMessage(
                {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
            message.insert(message.end(), records.begin(), records.end());
            continue;
        }
        message.push_back(qx4ndef::RecordFromJson(entry));
    }
    return message;
}

} // namespace

void RunNdefRead(Session& s) {
    s.Connect();
    qx4dump::TagAccess& tag = s.Tag(false);
    if (tag.uid()) s.Field("uid", UidText(tag.uid()->data()));
    qx4dump::NdefTag ndef = NdefOn(s, tag);
    qx4ndef::NdefContent content;
    if (!ndef.Read(content)) return s.Fail(tag.failure());
    ShowContent(s, content);
}

void RunNdefWrite(Session& s) {
    const auto& described = s.options().ndefRecords;
    if (described.empty())
        throw UsageError("ndef write needs records: --uri, --text, --mime or --message");
    qx4ndef::Message message;
    try {
        message = RecordsOf(described);
    } catch (const qx4ndef::NdefError& error) {
        throw UsageError(error.what());
    }
    if (message.empty()) throw UsageError("the message holds no record");
    qx4ndef::Bytes bytes;
    try {
        bytes = qx4ndef::BuildMessage(message);
    } catch (const qx4ndef::NdefError& error) {
        throw UsageError(error.what());
    }
    s.Connect();
    qx4dump::TagAccess& tag = WriteAccess(s);
    qx4dump::NdefTag ndef = NdefOn(s, tag);
    s.Field("messageBytes", bytes.size());
    if (NdefWrite(s, tag, [&](auto& report) { return ndef.Write(bytes, report); }))
        s.Line(std::to_string(message.size()) + " record(s) on the tag, read back");
}

namespace {

void SimpleWrite(Session& s, const char* what, const char* done,
                 bool (qx4dump::NdefTag::*action)(qx4dump::NdefWriteReport&), bool confirm) {
    s.Connect();
    qx4dump::TagAccess& tag = WriteAccess(s);
    qx4dump::NdefTag ndef = NdefOn(s, tag);
    if (confirm) {
        const auto uid = s.result().find("uid");
        ConfirmLock(s, std::string(what) + " of " +
                           (uid != s.result().end() ? "tag " + uid->get<std::string>()
                                                    : std::string("the tag")));
    }
    if (NdefWrite(s, tag, [&](auto& report) { return (ndef.*action)(report); })) s.Line(done);
}

} // namespace

void RunNdefFormat(Session& s) {
    SimpleWrite(s, "formatting the memory for NDEF", "formatted for NDEF, with an empty message",
                &qx4dump::NdefTag::Format, true);
}

void RunNdefErase(Session& s) {
    SimpleWrite(s, "erasing the NDEF message", "NDEF message erased", &qx4dump::NdefTag::Erase,
                false);
}

void RunNdefProtect(Session& s) {
    SimpleWrite(s, "making the NDEF read-only and locking its blocks",
                "NDEF made read-only and its blocks locked", &qx4dump::NdefTag::Protect, true);
}

} // namespace qx4cli
