#include "restore.h"

#include <algorithm>

namespace qx4dump {
namespace {

bool Stops(const CallFailure& failure) {
    return TagAccess::interrupted || failure.EndsRun();
}

// An interruption stops a call before its frame: that block was never tried.
bool Tried(const CallFailure& failure) {
    return !(TagAccess::interrupted && failure.kind == CallFailure::Kind::NotSent);
}

// The run ends here at block `b` (failed, unless it was never sent); `rest` is not done.
void Stop(RestoreReport& report, const CallFailure& cause, int b, const std::vector<int>& rest) {
    report.stopped = cause;
    if (Tried(cause))
        report.failed.push_back({b, cause});
    else
        report.notDone.push_back(b);
    report.notDone.insert(report.notDone.end(), rest.begin(), rest.end());
}

std::vector<int> Range(int first, int end) {
    std::vector<int> blocks;
    for (int b = first; b < end; ++b)
        blocks.push_back(b);
    return blocks;
}

// Writes one run; on a failure the rest goes block by block, so each block gets its own
// outcome (one locked block does not fail its neighbours).
void WriteRun(TagAccess& tag, const TagDump& dump, const Run& run, RestoreReport& report) {
    std::vector<Bytes> data;
    for (int b = run.first; b < run.first + run.count; ++b)
        data.push_back(dump.blocks[size_t(b)].data);
    int written = 0;
    const bool ok = tag.WriteBlocks(run.first, data, written);
    for (int i = 0; i < written; ++i)
        report.written.push_back(run.first + i);
    if (ok) return;
    const int end = run.first + run.count, left = run.count - written;
    for (int b = run.first + written; b < end; ++b) {
        if (Stops(tag.failure())) return Stop(report, tag.failure(), b, Range(b + 1, end));
        int one = 0;
        if (left > 1 && tag.WriteBlocks(b, {dump.blocks[size_t(b)].data}, one)) {
            report.written.push_back(b);
            continue;
        }
        if (tag.failure().Locked())
            report.skippedLocked.push_back(b);
        else if (Stops(tag.failure()))
            return Stop(report, tag.failure(), b, Range(b + 1, end));
        else
            report.failed.push_back({b, tag.failure()});
    }
}

// The AFI or the DSFID, when the plan wants it written.
void WriteByte(TagAccess& tag, uint8_t value, bool afi, RestoreReport& report) {
    std::string& outcome = afi ? report.afi : report.dsfid;
    if (report.stopped || TagAccess::interrupted) return; // stays "not-done"
    if (afi ? tag.WriteAfi(value) : tag.WriteDsfid(value)) {
        outcome = "written";
    } else if (tag.failure().Locked()) {
        outcome = "skipped-locked";
    } else if (!Tried(tag.failure())) {
        report.stopped = tag.failure();
    } else {
        outcome = "failed";
        report.failed.push_back({-1, tag.failure(), afi ? "AFI" : "DSFID"});
        if (Stops(tag.failure())) report.stopped = tag.failure();
    }
}

// A lock the dump wants: "locked", "already-locked" (as good as one made now), "failed"
// or "not-done".
std::string Lock(TagAccess& tag, const std::function<bool()>& send, RestoreReport& report,
                 BlockFailure what) {
    if (report.stopped || TagAccess::interrupted) return "not-done";
    if (send()) return "locked";
    if (tag.failure().AlreadyLocked()) return "already-locked";
    if (!Tried(tag.failure())) {
        report.stopped = tag.failure();
        return "not-done";
    }
    what.cause = tag.failure();
    report.failed.push_back(what);
    if (Stops(tag.failure())) report.stopped = tag.failure();
    return "failed";
}

} // namespace

std::string RefusalText(const RestoreReport& report, bool force) {
    if (report.refused.empty() || (force && !report.sizeMismatch)) return {};
    std::string why;
    for (const auto& r : report.refused)
        why += (why.empty() ? "" : "; ") + r;
    return "not restored: " + why +
           (report.sizeMismatch ? " (blocks must be the same size, also with force)"
                                : " (force restores anyway)");
}

RestoreReport Restore(TagAccess& tag, const TagDump& dump, const RestoreOptions& options,
                      const std::function<void(const char*, int, int)>& progress) {
    RestoreReport report;
    TagDump current;
    std::string note;
    if (!ReadTag(tag, options.overrides, false, current, note, [&](int done, int total) {
            if (progress) progress("read", done, total);
        })) {
        report.error = note.empty() ? FailureText(tag.failure()) : note;
        report.interrupted = TagAccess::interrupted;
        report.retries = tag.retries();
        return report;
    }
    report.refused = Mismatches(dump, current);
    // The write runs take the tag's block size: other blocks would be cut or overrun.
    if (const std::string size = SizeMismatch(dump, current); !size.empty()) {
        report.refused.push_back(size);
        report.sizeMismatch = true;
        report.retries = tag.retries();
        return report;
    }
    report.retries = tag.retries();
    if (!report.refused.empty() && !options.force) return report;
    const RestorePlan plan = PlanRestore(dump, current, options.all, options.locks);
    report.same = plan.same;
    report.skippedLocked = plan.lockedOnTag;
    const int dumpBlocks = int(dump.blocks.size()), tagBlocks = int(current.blocks.size());
    report.dropped = Range(tagBlocks, dumpBlocks);
    report.notInDump = Range(dumpBlocks, tagBlocks);
    const auto planned = [](bool unknown, bool write, bool lockedOnTag) {
        return unknown ? "unknown" : lockedOnTag ? "skipped-locked" : write ? "not-done" : "same";
    };
    report.afi = planned(plan.afiUnknown, plan.writeAfi, plan.afiLockedOnTag);
    report.dsfid = planned(plan.dsfidUnknown, plan.writeDsfid, plan.dsfidLockedOnTag);

    for (const Run& run : Runs(plan.write, tag.LongestWrite())) {
        if (report.stopped) {
            const auto rest = Range(run.first, run.first + run.count);
            report.notDone.insert(report.notDone.end(), rest.begin(), rest.end());
            continue;
        }
        if (TagAccess::interrupted) {
            tag.Interrupted("write");
            report.stopped = tag.failure();
            const auto rest = Range(run.first, run.first + run.count);
            report.notDone.insert(report.notDone.end(), rest.begin(), rest.end());
            continue;
        }
        WriteRun(tag, dump, run, report);
        if (progress) progress("write", int(report.written.size()), int(plan.write.size()));
    }
    report.notWritten = int(plan.write.size() - report.written.size());
    const auto gone = [&] { return report.stopped && report.stopped->gone; };
    if (gone()) {
        const int count = int(report.written.size());
        report.tagLeft = (count ? "tag left after block " + std::to_string(report.written.back())
                                : "tag left before block " + std::to_string(plan.write.front())) +
                         ": " + std::to_string(count) + " written, " +
                         std::to_string(report.notWritten) + " not written";
    }
    if (plan.writeAfi && !plan.afiUnknown) WriteByte(tag, dump.afi.value_or(0), true, report);
    if (plan.writeDsfid && !plan.dsfidUnknown)
        WriteByte(tag, dump.dsfid.value_or(0), false, report);
    if (!report.stopped) report.unknown = Unknowns(dump, current);

    // Read back what was written, in runs.
    std::vector<int> written = report.written;
    std::sort(written.begin(), written.end());
    for (const Run& run : Runs(written, tag.LongestRead(false))) {
        std::vector<Block> back;
        if (report.stopped || TagAccess::interrupted ||
            !tag.ReadBlocks(run.first, run.count, false, back)) {
            if (!report.stopped && Stops(tag.failure())) report.stopped = tag.failure();
            for (int b = run.first; b < run.first + run.count; ++b)
                if (report.stopped)
                    report.unverified.push_back(b);
                else
                    report.failed.push_back({b, tag.failure()});
            continue;
        }
        for (int i = 0; i < run.count; ++i) {
            const int b = run.first + i;
            if (back[size_t(i)].data == dump.blocks[size_t(b)].data) {
                report.verified.push_back(b);
            } else {
                const CallFailure differs =
                    CallFailure::Of(CallFailure::Kind::WrongReply, "verify",
                                    "read back " + ToHex(back[size_t(i)].data) + ", not " +
                                        ToHex(dump.blocks[size_t(b)].data));
                report.failed.push_back({b, differs});
            }
        }
    }
    if (report.tagLeft.empty() && gone())
        report.tagLeft =
            "tag left before the blocks were read back: " + std::to_string(report.written.size()) +
            " written, " + std::to_string(report.verified.size()) + " read back";
    report.interrupted = TagAccess::interrupted;
    const size_t blocks = std::min(dump.blocks.size(), current.blocks.size());
    const auto settled = [](const std::string& outcome) {
        return outcome != "failed" && outcome != "not-done";
    };
    report.complete = !report.interrupted && !report.stopped && report.failed.empty() &&
                      report.same.size() + report.verified.size() == blocks &&
                      settled(report.afi) && settled(report.dsfid);

    // Locks last, and only once every block is right: a lock cannot be undone.
    if (options.locks && report.complete) {
        for (int b : plan.lockBlocks) {
            const std::string outcome =
                Lock(tag, [&] { return tag.LockBlock(b); }, report, {b, {}, "lock"});
            if (outcome == "locked") report.lockedNow.push_back(b);
            if (outcome == "already-locked") report.alreadyLocked.push_back(b);
            if (outcome == "not-done") report.notDone.push_back(b);
        }
        if (plan.lockAfi)
            report.afiLock = Lock(tag, [&] { return tag.LockAfi(); }, report, {-1, {}, "AFI lock"});
        if (plan.lockDsfid)
            report.dsfidLock =
                Lock(tag, [&] { return tag.LockDsfid(); }, report, {-1, {}, "DSFID lock"});
        report.complete = report.failed.empty() && !report.stopped;
        // A lock applied now is no longer left alone for want of the tag's word on it.
        std::erase_if(report.unknown, [&](const std::string& what) {
            return (!report.afiLock.empty() && what == "the tag does not tell its AFI lock") ||
                   (!report.dsfidLock.empty() && what == "the tag does not tell its DSFID lock");
        });
    }
    report.retries = tag.retries();
    return report;
}

} // namespace qx4dump
