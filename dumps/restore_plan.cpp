#include "restore_plan.h"

#include <algorithm>

namespace qx4dump {

std::vector<std::string> Mismatches(const TagDump& dump, const TagDump& tag) {
    std::vector<std::string> found;
    if (dump.uid != tag.uid)
        found.push_back("the dump is of tag " + UidText(dump.uid) + ", this is " +
                        UidText(tag.uid));
    if (dump.blocks.size() != tag.blocks.size())
        found.push_back("the dump has " + std::to_string(dump.blocks.size()) + " blocks, the tag " +
                        std::to_string(tag.blocks.size()));
    return found;
}

std::string SizeMismatch(const TagDump& dump, const TagDump& tag) {
    if (dump.blockSize == tag.blockSize) return {};
    return "the dump's blocks hold " + std::to_string(dump.blockSize) + " bytes, the tag's " +
           std::to_string(tag.blockSize);
}

RestorePlan PlanRestore(const TagDump& dump, const TagDump& tag, bool all, bool locks) {
    RestorePlan plan;
    const size_t blocks = std::min(dump.blocks.size(), tag.blocks.size());
    for (size_t b = 0; b < blocks; ++b) {
        const int block = static_cast<int>(b);
        const bool equal = dump.blocks[b].data == tag.blocks[b].data;
        if (tag.blocks[b].locked)
            (equal ? plan.same : plan.lockedOnTag).push_back(block);
        else if (equal && !all)
            plan.same.push_back(block);
        else
            plan.write.push_back(block);
        if (locks && dump.blocks[b].locked && !tag.blocks[b].locked)
            plan.lockBlocks.push_back(block);
    }
    // A value the dump does not hold, or the tag does not tell, is left alone.
    plan.afiUnknown = !dump.afi || !tag.afi;
    plan.dsfidUnknown = !dump.dsfid || !tag.dsfid;
    if (!plan.afiUnknown && *dump.afi != *tag.afi)
        (tag.afiLocked == true ? plan.afiLockedOnTag : plan.writeAfi) = true;
    if (!plan.dsfidUnknown && *dump.dsfid != *tag.dsfid)
        (tag.dsfidLocked == true ? plan.dsfidLockedOnTag : plan.writeDsfid) = true;
    plan.lockAfi = locks && dump.afiLocked == true && tag.afiLocked != true;
    plan.lockDsfid = locks && dump.dsfidLocked == true && tag.dsfidLocked != true;
    return plan;
}

std::vector<Run> Runs(const std::vector<int>& blocks, int longest) {
    std::vector<Run> runs;
    for (int block : blocks) {
        if (!runs.empty() && runs.back().first + runs.back().count == block &&
            runs.back().count < longest)
            ++runs.back().count;
        else
            runs.push_back({block, 1});
    }
    return runs;
}

std::vector<Difference> Compare(const TagDump& dump, const TagDump& tag) {
    std::vector<Difference> found;
    auto byte = [](uint8_t value) { return "0x" + ToHex(&value, 1); };
    auto flag = [](bool value) { return std::string(value ? "locked" : "unlocked"); };
    if (dump.uid != tag.uid) found.push_back({"uid", -1, UidText(dump.uid), UidText(tag.uid)});
    if (dump.blocks.size() != tag.blocks.size())
        found.push_back({"blockCount", -1, std::to_string(dump.blocks.size()),
                         std::to_string(tag.blocks.size()), long(dump.blocks.size()),
                         long(tag.blocks.size())});
    const size_t blocks = std::max(dump.blocks.size(), tag.blocks.size());
    for (size_t b = 0; b < blocks; ++b) {
        const Block* d = b < dump.blocks.size() ? &dump.blocks[b] : nullptr;
        const Block* t = b < tag.blocks.size() ? &tag.blocks[b] : nullptr;
        const int block = static_cast<int>(b);
        if (!d || !t || d->data != t->data)
            found.push_back(
                {"block", block, d ? ToHex(d->data) : "(none)", t ? ToHex(t->data) : "(none)"});
        if (d && t && d->locked != t->locked)
            found.push_back({"lock", block, flag(d->locked), flag(t->locked)});
    }
    // Only facts both sides know are compared; Unknowns() lists the others.
    if (dump.afi && tag.afi && *dump.afi != *tag.afi)
        found.push_back({"afi", -1, byte(*dump.afi), byte(*tag.afi), *dump.afi, *tag.afi});
    if (dump.dsfid && tag.dsfid && *dump.dsfid != *tag.dsfid)
        found.push_back(
            {"dsfid", -1, byte(*dump.dsfid), byte(*tag.dsfid), *dump.dsfid, *tag.dsfid});
    if (dump.afiLocked && tag.afiLocked && *dump.afiLocked != *tag.afiLocked)
        found.push_back({"afiLock", -1, flag(*dump.afiLocked), flag(*tag.afiLocked)});
    if (dump.dsfidLocked && tag.dsfidLocked && *dump.dsfidLocked != *tag.dsfidLocked)
        found.push_back({"dsfidLock", -1, flag(*dump.dsfidLocked), flag(*tag.dsfidLocked)});
    return found;
}

std::vector<std::string> Unknowns(const TagDump& dump, const TagDump& tag) {
    std::vector<std::string> found;
    auto check = [&](bool inDump, bool onTag, const char* what) {
        if (!inDump)
            found.push_back(std::string("the dump does not hold the ") + what);
        else if (!onTag)
            found.push_back(std::string("the tag does not tell its ") + what);
    };
    check(dump.afi.has_value(), tag.afi.has_value(), "AFI");
    check(dump.dsfid.has_value(), tag.dsfid.has_value(), "DSFID");
    check(dump.afiLocked.has_value(), tag.afiLocked.has_value(), "AFI lock");
    check(dump.dsfidLocked.has_value(), tag.dsfidLocked.has_value(), "DSFID lock");
    return found;
}

} // namespace qx4dump
