#include "restore_report.h"

namespace qx4dump {

nlohmann::json ReportJson(const RestoreReport& report) {
    nlohmann::json out{{"written", report.written.size()},
                       {"same", report.same.size()},
                       {"skippedLocked", report.skippedLocked.size()},
                       {"failed", report.failed.size()},
                       {"verified", report.verified.size()},
                       {"afiOutcome", report.afi},
                       {"dsfidOutcome", report.dsfid},
                       {"writtenBlocks", report.written},
                       {"skippedLockedBlocks", report.skippedLocked},
                       {"notDoneBlocks", report.notDone},
                       {"interrupted", report.interrupted},
                       {"complete", report.complete},
                       {"notWritten", report.notWritten},
                       {"retries", report.retries}};
    if (!report.tagLeft.empty()) out["tagLeft"] = report.tagLeft;
    if (report.stopped) out["stoppedBy"] = FailureText(*report.stopped);
    if (!report.lockedNow.empty()) out["lockedBlocks"] = report.lockedNow;
    if (!report.alreadyLocked.empty()) out["alreadyLockedBlocks"] = report.alreadyLocked;
    if (!report.afiLock.empty()) out["afiLockOutcome"] = report.afiLock;
    if (!report.dsfidLock.empty()) out["dsfidLockOutcome"] = report.dsfidLock;
    if (!report.unverified.empty()) out["unverifiedBlocks"] = report.unverified;
    if (!report.dropped.empty()) out["droppedBlocks"] = report.dropped;
    if (!report.notInDump.empty()) out["notInDumpBlocks"] = report.notInDump;
    if (!report.refused.empty()) out["refused"] = report.refused;
    if (!report.unknown.empty()) out["unknown"] = report.unknown;
    nlohmann::json failures = nlohmann::json::array();
    for (const auto& f : report.failed) {
        nlohmann::json entry{
            {"what", f.what}, {"cause", f.cause.text}, {"function", f.cause.function}};
        if (f.block >= 0) entry["block"] = f.block;
        if (f.cause.nack >= 0) entry["nack"] = f.cause.nack;
        if (f.cause.iso >= 0) entry["iso"] = f.cause.iso;
        failures.push_back(entry);
    }
    out["failures"] = failures;
    return out;
}

} // namespace qx4dump
