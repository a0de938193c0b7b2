#include "qx4dump_c.h"

#include "c_text.h"
#include "content_json.h"
#include "dump_files.h"
#include "manufacturers.h"
#include "ndef_tag.h"
#include "qx4drv.h"
#include "record_json.h"
#include "restore.h"
#include "restore_report.h"

#include <cstdlib>
#include <cstring>

using namespace qx4dump;
using qx4ndef::Copy;
using qx4ndef::Fail;

namespace {

std::atomic<int> lastRetries{0};

// The tag to address: the caller's UID, else the only one in the field.
bool Target(const unsigned char* uid, LinkObserver& link, int timeoutMs, Uid& target,
            std::string& error) {
    if (uid) {
        std::copy_n(uid, 8, target.begin());
        return true;
    }
    bool several = false;
    const auto found = FindTheTag(link, timeoutMs, true, error, several);
    if (several) error += ": name one by its UID";
    if (found) target = *found;
    return found.has_value();
}

// One NDEF action on the tag; `action` fills `out` and says whether the tag took it.
template <class Action>
int NdefRun(const unsigned char* uid, int option, int timeoutMs, char** json, char** error,
            Action action) {
    nlohmann::json out;
    qx4dump::NdefWriteReport report;
    auto finish = [&](const char* failure, const std::string& text) {
        out["written"] = report.written;
        if (failure) out["failure"] = failure;
        *json = Copy(out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        return failure ? Fail(error, text) : 1;
    };
    try {
        LinkObserver link;
        Uid target;
        std::string why;
        if (!Target(uid, link, timeoutMs, target, why)) return finish("link", why);
        out["uid"] = UidText(target);
        TagAccess tag(link, target, timeoutMs);
        tag.UseOptionFlag(option != 0);
        SystemInfo info;
        std::string note;
        const Geometry geometry = tag.ReadGeometry({}, info, note);
        if (geometry.stop) return finish("link", FailureText(tag.failure()));
        if (!geometry.blockCount) return finish("refused", note);
        NdefTag ndef(tag, geometry.blockSize, geometry.blockCount);
        if (!action(ndef, out, report)) return finish("link", FailureText(tag.failure()));
        return finish(nullptr, "");
    } catch (const NdefRefused& e) {
        return finish("refused", e.what());
    } catch (const qx4ndef::NdefError& e) {
        return finish("ndef", e.what());
    } catch (const std::exception& e) {
        return Fail(error, e.what());
    }
}

} // namespace

extern "C" {

const char* qx4dump_manufacturer(int code) {
    return code >= 0 && code <= 255 ? ManufacturerName(uint8_t(code)) : nullptr;
}

int qx4dump_ndef_read(const unsigned char* uid, int timeoutMs, char** json, char** error) {
    return NdefRun(uid, 0, timeoutMs, json, error, [](NdefTag& ndef, nlohmann::json& out, auto&) {
        qx4ndef::NdefContent content;
        if (!ndef.Read(content)) return false;
        out.update(qx4ndef::ContentJson(content));
        return true;
    });
}

int qx4dump_ndef_write(const unsigned char* uid, const char* messageHex, int option, int timeoutMs,
                       char** json, char** error) {
    qx4ndef::Bytes message;
    try {
        message = qx4ndef::FromHex(messageHex ? messageHex : "", "message");
        qx4ndef::ParseMessage(message); // a message that is not one is never written
    } catch (const std::exception& e) {
        return Fail(error, e.what());
    }
    return NdefRun(
        uid, option, timeoutMs, json, error,
        [&](NdefTag& ndef, nlohmann::json&, auto& report) { return ndef.Write(message, report); });
}

int qx4dump_ndef_format(const unsigned char* uid, int option, int timeoutMs, char** json,
                        char** error) {
    return NdefRun(
        uid, option, timeoutMs, json, error,
        [](NdefTag& ndef, nlohmann::json&, auto& report) { return ndef.Format(report); });
}

int qx4dump_ndef_erase(const unsigned char* uid, int option, int timeoutMs, char** json,
                       char** error) {
    return NdefRun(uid, option, timeoutMs, json, error,
                   [](NdefTag& ndef, nlohmann::json&, auto& report) { return ndef.Erase(report); });
}

void qx4dump_free(char* text) {
    std::free(text);
}

static_assert(std::atomic<bool>::is_always_lock_free, "set from signal handlers");

void qx4dump_interrupt(void) {
    TagAccess::interrupted = true;
}

void qx4dump_clear_interrupt(void) {
    TagAccess::interrupted = false;
}

int qx4dump_retries(void) {
    return lastRetries;
}

const char* qx4dump_nack_text(int code, int iso) {
    static thread_local std::string text;
    text = EnglishNackText(code, iso);
    return text.c_str();
}

int qx4dump_parse(const char* text, char** json, char** error) {
    try {
        *json = Copy(WriteDump(ParseDump(text ? text : "", "the dump"), Format::Qx4));
        return 1;
    } catch (const std::exception& e) {
        return Fail(error, e.what());
    }
}

int qx4dump_write(const char* json, const char* format, char** text, char** error) {
    try {
        const auto named = FormatNamed(format ? format : "qx4");
        if (!named) return Fail(error, "no dump format \"" + std::string(format) + "\"");
        *text = Copy(WriteDump(ParseDump(json ? json : "", "the dump"), *named));
        return 1;
    } catch (const std::exception& e) {
        return Fail(error, e.what());
    }
}

int qx4dump_read_tag(const unsigned char* uid, int blockSize, int blockCount, int probeLocks,
                     int timeoutMs, char** json, char** error) {
    lastRetries = 0;
    try {
        LinkObserver link;
        Uid target;
        std::string why;
        if (!Target(uid, link, timeoutMs, target, why)) return Fail(error, why);
        TagAccess tag(link, target, timeoutMs);
        TagDump dump;
        std::string note;
        const bool read = ReadTag(tag, {blockSize, blockCount, false}, probeLocks != 0, dump, note);
        lastRetries = tag.retries();
        if (!read) return Fail(error, note.empty() ? FailureText(tag.failure()) : note);
        *json = Copy(WriteDump({dump}, Format::Qx4));
        return 1;
    } catch (const std::exception& e) {
        return Fail(error, e.what());
    }
}

int qx4dump_restore(const char* text, const unsigned char* uid, int force, int all, int locks,
                    int timeoutMs, char** report, char** error) {
    return qx4dump_restore_with_option(text, uid, force, all, locks, 0, timeoutMs, report, error);
}

int qx4dump_restore_with_option(const char* text, const unsigned char* uid, int force, int all,
                                int locks, int option, int timeoutMs, char** report, char** error) {
    try {
        lastRetries = 0;
        const auto dumps = ParseDump(text ? text : "", "the dump");
        LinkObserver link;
        Uid target;
        std::string why;
        if (!Target(uid, link, timeoutMs, target, why)) return Fail(error, why);
        const TagDump* dump = &dumps.front();
        for (const auto& d : dumps)
            if (d.uid == target) dump = &d;
        TagAccess tag(link, target, timeoutMs);
        tag.UseOptionFlag(option != 0);
        RestoreOptions options;
        options.force = force != 0;
        options.all = all != 0;
        options.locks = locks != 0;
        const RestoreReport result = Restore(tag, *dump, options);
        lastRetries = result.retries;
        if (report) *report = Copy(ReportJson(result).dump());
        if (!result.error.empty()) return Fail(error, result.error);
        if (const std::string refused = RefusalText(result, options.force); !refused.empty())
            return Fail(error, refused);
        if (!result.tagLeft.empty()) return Fail(error, result.tagLeft);
        if (!result.complete)
            return Fail(error, "the tag does not hold the whole dump: " +
                                   std::to_string(result.failed.size()) + " failed, " +
                                   std::to_string(result.skippedLocked.size()) +
                                   " locked on the tag");
        return 1;
    } catch (const std::exception& e) {
        return Fail(error, e.what());
    }
}

} // extern "C"
