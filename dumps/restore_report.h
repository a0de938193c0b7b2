// A restore's report as JSON: the same keys for qx4 --json and for the Python package.
#pragma once

#include "restore.h"

#include <nlohmann/json.hpp>

namespace qx4dump {

// written, same, skippedLocked, failed, verified (counts), afiOutcome, dsfidOutcome,
// writtenBlocks, skippedLockedBlocks, notDoneBlocks, failures [{what, block, cause,
// function, nack, iso}], interrupted, complete, notWritten, retries (frames sent again
// after RF errors); only when they apply: lockedBlocks, alreadyLockedBlocks,
// afiLockOutcome, dsfidLockOutcome, unverifiedBlocks, droppedBlocks, notInDumpBlocks,
// stoppedBy, refused, unknown, tagLeft (how far it came before the tag left).
nlohmann::json ReportJson(const RestoreReport& report);

} // namespace qx4dump
