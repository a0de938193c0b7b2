// qx4 dump, restore and diff: a tag's memory as a dump file, one tag, named by its UID.
#include "command_table.h"

#include "content_json.h"
#include "dump_files.h"
#include "record_json.h"
#include "restore.h"
#include "restore_report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <unistd.h>

namespace qx4cli {
namespace {

// A progress bar on a terminal; nothing when standard error is not one, or with --json.
class Progress {
  public:
    explicit Progress(const Session& s) : shown_(!s.options().json && ::isatty(STDERR_FILENO)) {}
    ~Progress() {
        if (shown_ && drawn_) std::fprintf(stderr, "\n");
    }
    void Step(const char* what, int done, int total) {
        if (!shown_) return;
        drawn_ = true;
        const int width = 30, filled = total ? done * width / total : width;
        std::fprintf(stderr, "\r%-8s [%.*s%*s] %d/%d", what, filled,
                     "##############################", width - filled, "", done, total);
        std::fflush(stderr);
    }

  private:
    bool shown_, drawn_ = false;
};

qx4dump::Format ChosenFormat(Session& s, const std::string& path) {
    if (s.options().format.empty()) return qx4dump::FormatForPath(path);
    const auto named = qx4dump::FormatNamed(s.options().format);
    if (!named) throw UsageError("--format takes qx4, proxmark or flipper");
    return *named;
}

// The dump of the tag to compare with or restore: the one of the target's UID when the
// file holds several, else its only one.
qx4dump::TagDump ChooseDump(const std::vector<qx4dump::TagDump>& dumps,
                            const std::optional<Uid>& target, const std::string& path) {
    if (dumps.size() == 1) return dumps.front();
    for (const auto& dump : dumps)
        if (target && dump.uid == *target) return dump;
    throw Refusal(path + " holds " + std::to_string(dumps.size()) +
                  " tags and none is the one addressed: name it with --uid");
}

// A format without a way to say "not known" gets defaults there: the run says so.
void NoteDefaults(Session& s, const std::vector<qx4dump::TagDump>& tags, qx4dump::Format format) {
    if (format == qx4dump::Format::Qx4) return;
    nlohmann::json all = nlohmann::json::array();
    for (const auto& tag : tags) {
        const auto unknown = qx4dump::UnknownFacts(tag);
        std::string names;
        for (const auto& name : unknown) {
            names += (names.empty() ? "" : ", ") + name;
            all.push_back(name);
        }
        if (!names.empty())
            s.Note("not known, written as 00 / false and named as not known in the file "
                   "(a restore from it leaves them alone): " +
                   names);
    }
    if (!all.empty()) s.result()["writtenAsDefault"] = all;
}

bool ReadWholeTag(Session& s, qx4dump::TagDump& tag) {
    Progress progress(s);
    std::string note;
    OneTag(s, false);
    qx4dump::TagAccess& access = s.Tag(true);
    const bool ok =
        qx4dump::ReadTag(access, s.Overrides(), Given(s, "--probe-locks"), tag, note,
                         [&](int done, int total) { progress.Step("read", done, total); });
    if (!note.empty()) s.Note(note);
    if (!ok) {
        if (qx4dump::TagAccess::interrupted)
            s.Fail("interrupted: the tag was not read to the end");
        else if (access.failure().function.empty())
            s.Fail(note);
        else
            s.Fail(access.failure());
    }
    return ok;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text;
}

// "3 5-9 12": consecutive blocks as one span.
std::string Ranges(const std::vector<int>& blocks) {
    std::vector<int> sorted = blocks;
    std::sort(sorted.begin(), sorted.end());
    std::string text;
    for (size_t i = 0; i < sorted.size();) {
        size_t j = i;
        while (j + 1 < sorted.size() && sorted[j + 1] == sorted[j] + 1)
            ++j;
        text += (text.empty() ? "" : " ") + std::to_string(sorted[i]) +
                (j > i ? "-" + std::to_string(sorted[j]) : std::string());
        i = j + 1;
    }
    return text.empty() ? "none" : text;
}

std::string List(const std::vector<int>& blocks) {
    std::string text;
    for (int b : blocks)
        text += (text.empty() ? "" : " ") + std::to_string(b);
    return text.empty() ? "none" : text;
}

} // namespace

void RunDump(Session& s) {
    const std::string path = s.Arg(0, "FILE");
    const qx4dump::Format format = ChosenFormat(s, path);
    if (path != "-" && !s.options().force && ::access(path.c_str(), F_OK) == 0)
        throw Refusal(path + " exists: --force replaces it");
    qx4dump::CheckWritable(path); // before the tag is read, not after
    if (path == "-") s.ReportOnStderr();
    s.Connect();
    qx4dump::TagDump tag;
    if (!ReadWholeTag(s, tag)) return;
    qx4dump::SaveDump(path, {tag}, format);
    NoteDefaults(s, {tag}, format);
    s.Field("uid", qx4dump::UidText(tag.uid));
    s.Field("type", qx4dump::TypeName(tag.type));
    s.Field("blockCount", tag.blocks.size());
    s.Field("blockSize", tag.blockSize);
    s.Field("fileFormat", qx4dump::FormatName(format));
    s.Field("file", path);
    if (path == "-") s.result()["file"] = "standard output";
}

void RunDiff(Session& s) {
    const std::string path = s.Arg(0, "FILE");
    const auto dumps = LoadDumpFile(path);
    s.Connect();
    const qx4dump::TagDump dump = ChooseDump(dumps, s.Target(true), path);
    qx4dump::TagDump tag;
    if (!ReadWholeTag(s, tag)) return s.FailuresAreTrouble(); // 1 is kept for differences
    const auto differences = qx4dump::Compare(dump, tag);
    const auto unknown = qx4dump::Unknowns(dump, tag);
    for (const auto& what : unknown)
        s.Line("not compared: " + what);
    s.result()["notCompared"] = unknown;
    nlohmann::json list = nlohmann::json::array();
    for (const auto& d : differences) {
        nlohmann::json entry{{"what", d.what}, {"dump", d.dump}, {"tag", d.tag}};
        if (d.block >= 0) entry["block"] = d.block;
        if (d.dumpValue >= 0) entry["dumpValue"] = d.dumpValue;
        if (d.tagValue >= 0) entry["tagValue"] = d.tagValue;
        list.push_back(entry);
        s.Line((d.block >= 0 ? d.what + " " + std::to_string(d.block) : d.what) + ": dump " +
               d.dump + ", tag " + d.tag);
    }
    s.result()["differences"] = list;
    if (differences.empty()) {
        s.Line("no differences");
    } else {
        s.Line(std::to_string(differences.size()) + " difference(s)");
        s.Fail("the tag differs from " + path + " in " + std::to_string(differences.size()) +
               " place(s)");
    }
}

void RunRestore(Session& s) {
    const std::string path = s.Arg(0, "FILE");
    const auto dumps = LoadDumpFile(path);
    s.Connect();
    qx4dump::TagAccess& access = WriteAccess(s);
    const qx4dump::TagDump dump = ChooseDump(dumps, access.uid(), path);
    if (s.options().locks) ConfirmLock(s, "applying the dump's locks to the tag");
    Progress progress(s);
    qx4dump::RestoreOptions options;
    options.force = s.options().force;
    options.all = s.options().all;
    options.locks = s.options().locks;
    options.overrides = s.Overrides();
    const qx4dump::RestoreReport report =
        qx4dump::Restore(access, dump, options, [&](const char* step, int done, int total) {
            progress.Step(step, done, total);
        });
    if (!report.error.empty()) {
        if (report.interrupted) { // while the tag was read: nothing written
            s.result()["interrupted"] = true;
            s.result()["written"] = 0;
            s.result()["writtenBlocks"] = nlohmann::json::array();
            return s.Fail("interrupted before anything was written");
        }
        const qx4dump::CallFailure& cause = access.failure();
        return s.Fail(report.error,
                      cause.NoTag() || cause.kind == qx4dump::CallFailure::Kind::TimedOut
                          ? kExitNoAnswer
                          : kExitFailed);
    }
    if (const std::string refused = qx4dump::RefusalText(report, options.force); !refused.empty()) {
        s.result()["refused"] = report.refused;
        return s.Fail(refused);
    }
    const nlohmann::json summary = qx4dump::ReportJson(report);
    for (const auto& [key, value] : summary.items())
        s.result()[key] = value;
    const auto words = [](std::string outcome) { // "not-done" -> "not done"
        std::replace(outcome.begin(), outcome.end(), '-', ' ');
        return outcome;
    };
    s.Line("written: " + std::to_string(report.written.size()) +
           ", same: " + std::to_string(report.same.size()) +
           ", skipped (locked on the tag): " + std::to_string(report.skippedLocked.size()) +
           (report.tagLeft.empty() ? ", failed: " + std::to_string(report.failed.size())
                                   : ", not written: " + std::to_string(report.notWritten)) +
           (report.notDone.empty() ? "" : ", not done: " + std::to_string(report.notDone.size())) +
           ", verified: " + std::to_string(report.verified.size()));
    s.Line("afi: " + words(report.afi) + ", dsfid: " + words(report.dsfid));
    for (const auto& what : report.unknown)
        s.Line("left alone: " + what);
    s.Line("written blocks: " + List(report.written));
    if (!report.skippedLocked.empty())
        s.Line("skipped, locked on the tag: " + List(report.skippedLocked));
    if (!report.dropped.empty())
        s.Line("dropped, beyond the tag's " + std::to_string(report.dropped.front()) +
               " blocks: " + Ranges(report.dropped));
    if (!report.notInDump.empty())
        s.Line("not in the dump, left as they are: " + Ranges(report.notInDump));
    std::vector<std::string> locked, already, lockNotDone;
    for (int b : report.lockedNow)
        locked.push_back(std::to_string(b));
    for (int b : report.alreadyLocked)
        already.push_back(std::to_string(b));
    for (const auto& [outcome, name] :
         {std::pair{report.afiLock, "AFI"}, {report.dsfidLock, "DSFID"}}) {
        if (outcome == "locked") locked.push_back(name);
        if (outcome == "already-locked") already.push_back(name);
        if (outcome == "not-done") lockNotDone.push_back(name);
    }
    if (!locked.empty()) s.Line("locked now: " + Joined(locked));
    if (!already.empty()) s.Line("already locked: " + Joined(already));
    // After the tag left, one line says how far it came instead of one a block.
    if (!report.tagLeft.empty()) s.Line(report.tagLeft);
    for (const auto& f : report.failed) {
        if (!report.tagLeft.empty() && f.cause.gone) continue;
        if (f.block < 0)
            s.Line(qx4dump::FailureText(f.cause));
        else
            s.Line((f.what == "lock" ? "failed lock of block " : "failed block ") +
                   std::to_string(f.block) + ": " + f.cause.text);
    }
    // What a stop left is one line, not one a block.
    const std::string why = report.stopped ? " (" + report.stopped->text + ")" : std::string();
    if (!report.notDone.empty()) s.Line("not done: blocks " + Ranges(report.notDone) + why);
    if (!lockNotDone.empty()) s.Line("not done: " + Joined(lockNotDone) + " lock" + why);
    if (!report.unverified.empty())
        s.Line("written, not read back: blocks " + Ranges(report.unverified) + why);
    if (report.interrupted)
        s.Fail("interrupted: blocks written so far: " + List(report.written));
    else if (!report.tagLeft.empty())
        s.Fail(report.tagLeft);
    else if (report.stopped)
        s.Fail(qx4dump::FailureText(*report.stopped) + ": " +
               std::to_string(report.notDone.size()) + " block(s) not done, " +
               std::to_string(report.unverified.size()) + " not read back");
    else if (!report.complete)
        s.Fail("the tag does not hold the whole dump: " + std::to_string(report.failed.size()) +
               " failed, " + std::to_string(report.skippedLocked.size()) + " locked on the tag");
}

} // namespace qx4cli

namespace qx4cli {

namespace {

// The NDEF a dump's memory holds; nothing for memory without a capability container.
void ShowDumpNdef(Session& s, const qx4dump::TagDump& tag) {
    qx4ndef::Bytes memory;
    for (const qx4dump::Block& block : tag.blocks)
        memory.insert(memory.end(), block.data.begin(), block.data.end());
    if (memory.empty() || (memory[0] != 0xE1 && memory[0] != 0xE2)) return;
    try {
        const qx4ndef::NdefContent content = qx4ndef::ReadNdef(memory, memory.size());
        s.Line("ndef: " + qx4ndef::ContainerLine(content.cc));
        if (!content.tlv) s.Line("ndef: no NDEF message (formatted, empty)");
        if (content.tlv && content.records.empty()) s.Line("ndef: an empty NDEF message");
        for (size_t i = 0; i < content.records.size(); ++i)
            s.Line("ndef record " + std::to_string(i + 1) + ": " +
                   qx4ndef::RecordLine(content.records[i]));
    } catch (const qx4ndef::NdefError& error) {
        s.Line(std::string("ndef: none readable: ") + error.what());
    }
}

} // namespace

void RunView(Session& s) {
    const std::string path = s.Arg(0, "FILE");
    const auto dumps = LoadDumpFile(path);
    if (s.options().json) {
        // Our own JSON, as a dump other commands read.
        std::cout << qx4dump::WriteDump(dumps, qx4dump::Format::Qx4) << std::flush;
        std::exit(std::cout ? 0 : 1);
    }
    for (const qx4dump::TagDump& tag : dumps) {
        auto byte = [](const std::optional<uint8_t>& value, const std::optional<bool>& locked) {
            if (!value) return std::string("unknown");
            return HexByte(*value) + (!locked   ? " (lock unknown)"
                                      : *locked ? " (locked)"
                                                : std::string());
        };
        s.Line("uid: " + qx4dump::UidText(tag.uid));
        s.Line(std::string("type: ") + qx4dump::TypeName(tag.type));
        s.Line("dsfid: " + byte(tag.dsfid, tag.dsfidLocked));
        s.Line("afi: " + byte(tag.afi, tag.afiLocked));
        s.Line("icReference: " + HexByte(tag.icReference));
        s.Line(std::to_string(tag.blocks.size()) + " blocks of " + std::to_string(tag.blockSize) +
               " bytes");
        for (size_t b = 0; b < tag.blocks.size(); ++b) {
            char number[32];
            std::snprintf(number, sizeof number, "%4zu %c ", b, tag.blocks[b].locked ? 'L' : ' ');
            s.Line(number + Hex(tag.blocks[b].data) + "  " +
                   Printable(tag.blocks[b].data.data(), tag.blocks[b].data.size()));
        }
        ShowDumpNdef(s, tag);
    }
}

void RunConvert(Session& s) {
    const std::string in = s.Arg(0, "IN"), out = s.Arg(1, "OUT");
    auto dumps = LoadDumpFile(in);
    if (const auto& uid = s.options().uid) { // the one tag of a file of several
        std::erase_if(dumps, [&](const qx4dump::TagDump& tag) { return tag.uid != *uid; });
        if (dumps.empty()) throw Refusal(in + " holds no tag " + qx4dump::UidText(*uid));
    }
    const qx4dump::Format format = ChosenFormat(s, out);
    if (out == "-") s.ReportOnStderr();
    qx4dump::SaveDump(out, dumps, format);
    NoteDefaults(s, dumps, format);
    s.Field("tagCount", dumps.size());
    s.Field("fileFormat", qx4dump::FormatName(format));
    s.Field("file", out);
}

} // namespace qx4cli
