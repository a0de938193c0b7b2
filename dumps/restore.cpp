#include "restore.h"

#include <algorithm>

namespace qx4dump {
namespace {

bool Stops(const CallFailure& failure) {
    return TagAccess::interrupted || failure.EndsRun();
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
    const int left = run.count - written;
    for (int b = run.first + written; b < run.first + run.count; ++b) {
        if (Stops(tag.failure())) {
            report.failed.push_back({b, tag.failure()});
            continue;
        }
        int one = 0;
        if (left > 1 && tag.WriteBlocks(b, {dump.blocks[size_t(b)].data}, one)) {
            report.written.push_back(b);
            continue;
        }
        if (tag.failure().Locked())
            report.skippedLocked.push_back(b);
        else
            report.failed.push_back({b, tag.failure()});
    }
}

std::string WriteByte(TagAccess& tag, bool wanted, bool lockedOnTag, uint8_t value, bool afi) {
    if (lockedOnTag) return "skipped-locked";
    if (!wanted) return "same";
    if (afi ? tag.WriteAfi(value) : tag.WriteDsfid(value)) return "written";
    return tag.failure().Locked() ? "skipped-locked" : "failed";
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

    const auto runs = Runs(plan.write, tag.LongestWrite());
    for (const Run& run : runs) {
        if (!report.failed.empty() && Stops(report.failed.back().cause)) {
            for (int b = run.first; b < run.first + run.count; ++b)
                report.failed.push_back({b, tag.failure()});
            continue;
        }
        WriteRun(tag, dump, run, report);
        if (progress) progress("write", int(report.written.size()), int(plan.write.size()));
    }
    bool stopped = !report.failed.empty() && Stops(report.failed.back().cause);
    report.notWritten = int(plan.write.size() - report.written.size());
    const auto gone = [&] {
        return std::any_of(report.failed.begin(), report.failed.end(),
                           [](const BlockFailure& f) { return f.cause.gone; });
    };
    if (gone()) {
        const int count = int(report.written.size());
        report.tagLeft = (count ? "tag left after block " + std::to_string(report.written.back())
                                : "tag left before block " + std::to_string(plan.write.front())) +
                         ": " + std::to_string(count) + " written, " +
                         std::to_string(report.notWritten) + " not written";
    }
    if (stopped) {
        if (plan.writeAfi) report.afi = "failed";
        if (plan.writeDsfid) report.dsfid = "failed";
    }
    if (!TagAccess::interrupted && !stopped) {
        report.afi = plan.afiUnknown ? "unknown"
                                     : WriteByte(tag, plan.writeAfi, plan.afiLockedOnTag,
                                                 dump.afi.value_or(0), true);
        stopped = report.afi == "failed" && tag.failure().EndsRun();
        report.dsfid = stopped             ? "failed"
                       : plan.dsfidUnknown ? "unknown"
                                           : WriteByte(tag, plan.writeDsfid, plan.dsfidLockedOnTag,
                                                       dump.dsfid.value_or(0), false);
        report.unknown = Unknowns(dump, current);
    }

    // Read back what was written, in runs.
    std::vector<int> written = report.written;
    std::sort(written.begin(), written.end());
    bool silent = stopped;
    for (const Run& run : Runs(written, tag.LongestRead(false))) {
        if (TagAccess::interrupted) break;
        std::vector<Block> back;
        if (silent || !tag.ReadBlocks(run.first, run.count, false, back)) {
            silent = silent || tag.failure().EndsRun();
            for (int b = run.first; b < run.first + run.count; ++b)
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
    report.complete = !report.interrupted && report.failed.empty() &&
                      dump.blocks.size() == current.blocks.size() &&
                      report.same.size() + report.verified.size() == blocks &&
                      report.afi != "failed" && report.dsfid != "failed";

    // Locks last, and only once every block is right: a lock cannot be undone.
    if (options.locks && report.complete) {
        for (int b : plan.lockBlocks) {
            if (!report.failed.empty() && Stops(report.failed.back().cause))
                report.failed.push_back({b, report.failed.back().cause});
            else if (tag.LockBlock(b))
                report.lockedNow.push_back(b);
            else
                report.failed.push_back({b, tag.failure()});
        }
        if (plan.lockAfi && !tag.LockAfi()) report.failed.push_back({-1, tag.failure()});
        if (plan.lockDsfid && !tag.LockDsfid()) report.failed.push_back({-1, tag.failure()});
        report.complete = report.failed.empty();
    }
    report.retries = tag.retries();
    return report;
}

} // namespace qx4dump
