// The rules of a restore and a comparison, given what the dump holds and what the tag
// holds (both as dumps): nothing here talks to a reader.
#pragma once

#include "tag_dump.h"

#include <string>
#include <vector>

namespace qx4dump {

// What keeps a dump from being restored onto a tag without --force: a different UID or
// block count. Empty when it fits.
std::vector<std::string> Mismatches(const TagDump& dump, const TagDump& tag);
// Blocks of another size cannot be restored at all (no --force): the text, or empty.
std::string SizeMismatch(const TagDump& dump, const TagDump& tag);

struct RestorePlan {
    std::vector<int> write;       // blocks to write
    std::vector<int> same;        // already equal (locked or not)
    std::vector<int> lockedOnTag; // differ, but the tag's block is locked
    bool writeAfi = false, writeDsfid = false;
    bool afiLockedOnTag = false, dsfidLockedOnTag = false; // differ, locked on the tag
    bool afiUnknown = false, dsfidUnknown = false;         // the dump or the tag does not hold it
    // With --locks, applied last: the dump's locks the tag does not have yet.
    std::vector<int> lockBlocks;
    bool lockAfi = false, lockDsfid = false;
};

// `all`: write every writable block, equal or not. Blocks beyond either's count are left.
RestorePlan PlanRestore(const TagDump& dump, const TagDump& tag, bool all, bool locks);

struct Run {
    int first, count;
};
// Consecutive blocks in runs of at most `longest`.
std::vector<Run> Runs(const std::vector<int>& blocks, int longest);

struct Difference {
    std::string
        what;       // "block", "lock", "afi", "dsfid", "afiLock", "dsfidLock", "blockCount", "uid"
    int block = -1; // for "block" and "lock"
    std::string dump, tag;              // as text: hex data, "0x10", "locked", a count
    long dumpValue = -1, tagValue = -1; // the number, for "blockCount", "afi" and "dsfid"
};
std::vector<Difference> Compare(const TagDump& dump, const TagDump& tag);
// The AFI, DSFID and their locks that one side does not know, so neither compared nor written.
std::vector<std::string> Unknowns(const TagDump& dump, const TagDump& tag);

} // namespace qx4dump
