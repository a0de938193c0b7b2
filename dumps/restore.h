// Restoring a dump onto one tag: read it once, write only what differs (in runs), read
// back what was written, lock last and only on request.
#pragma once

#include "restore_plan.h"
#include "tag_access.h"

#include <optional>

namespace qx4dump {

struct RestoreOptions {
    bool force = false; // despite a different UID or block count (never another block size)
    bool all = false;   // write equal blocks too
    bool locks = false; // apply the dump's locks after verification
    Geometry overrides;
};

struct BlockFailure {
    int block; // -1 for the AFI and the DSFID
    CallFailure cause;
    std::string what = "block"; // "block", "lock", "AFI", "DSFID", "AFI lock", "DSFID lock"
};

struct RestoreReport {
    std::vector<std::string> refused; // mismatches that stopped it (without --force)
    bool sizeMismatch = false;        // refused whatever --force says
    std::vector<std::string> unknown; // AFI, DSFID or locks left alone: one side lacks them
    std::string error;                // what stopped it before anything was written
    std::vector<int> written, same, skippedLocked, verified;
    std::vector<int> lockedNow;     // blocks this run locked
    std::vector<int> alreadyLocked; // blocks the dump wants locked that the tag had locked
    std::vector<BlockFailure> failed;
    // Blocks to write that were never tried: interrupted, or the link failed for good.
    std::vector<int> notDone;
    std::vector<int> unverified; // written, but the run stopped before they were read back
    // With force: the dump's blocks beyond the tag's end (dropped), and the tag's blocks
    // beyond the dump's end (left as they are).
    std::vector<int> dropped, notInDump;
    // What ended the run early (interruption, silent reader, port gone, tag gone), if so.
    std::optional<CallFailure> stopped;
    // "same", "written", "skipped-locked", "failed", "not-done" or "unknown" (the dump or
    // the tag lacks it)
    std::string afi = "same", dsfid = "same";
    // With locks, when the dump wants it locked: "locked", "already-locked", "failed" or
    // "not-done"; else empty.
    std::string afiLock, dsfidLock;
    bool interrupted = false;
    bool complete = false; // every block both have ends equal on the tag, locks as asked
    int notWritten = 0;    // blocks to write that were not written
    // How far it came before the tag left the field ("tag left after block 160: 161
    // written, 95 not written"); empty when it stayed.
    std::string tagLeft;
    int retries = 0; // frames sent again after RF errors
};

// Why the restore wrote nothing because the dump does not fit the tag ("not restored:
// ..."), or empty when it went ahead.
std::string RefusalText(const RestoreReport& report, bool force);

RestoreReport
Restore(TagAccess& tag, const TagDump& dump, const RestoreOptions& options,
        const std::function<void(const char* step, int done, int total)>& progress = {});

} // namespace qx4dump
