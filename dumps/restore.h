// Restoring a dump onto one tag: read it once, write only what differs (in runs), read
// back what was written, lock last and only on request.
#pragma once

#include "restore_plan.h"
#include "tag_access.h"

namespace qx4dump {

struct RestoreOptions {
    bool force = false; // despite a different UID or block count (never another block size)
    bool all = false;   // write equal blocks too
    bool locks = false; // apply the dump's locks after verification
    Geometry overrides;
};

struct BlockFailure {
    int block;
    CallFailure cause;
};

struct RestoreReport {
    std::vector<std::string> refused; // mismatches that stopped it (without --force)
    bool sizeMismatch = false;        // refused whatever --force says
    std::vector<std::string> unknown; // AFI, DSFID or locks left alone: one side lacks them
    std::string error;                // what stopped it before anything was written
    std::vector<int> written, same, skippedLocked, verified, lockedNow;
    std::vector<BlockFailure> failed;
    // "same", "written", "skipped-locked", "failed" or "unknown" (the dump or the tag lacks it)
    std::string afi = "same", dsfid = "same";
    bool interrupted = false;
    bool complete = false; // every block of the dump ends equal on the tag
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
