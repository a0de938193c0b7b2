#include "ndef_tag.h"

#include <algorithm>

namespace qx4dump {

using namespace qx4ndef;

NdefTag::NdefTag(TagAccess& tag, int blockSize, int blockCount)
    : tag_(tag), blockSize_(size_t(std::max(blockSize, 1))),
      blockCount_(size_t(std::clamp(blockCount, 0, int(kMostBlocks)))) {}

bool NdefTag::Extend(size_t bytes) {
    const size_t have = image_.size() / blockSize_;
    const size_t want = std::min(blockCount_, (bytes + blockSize_ - 1) / blockSize_);
    if (want <= have) return true;
    std::vector<Block> blocks;
    if (!tag_.ReadBlocks(int(have), int(want - have), withStatus_, blocks)) return false;
    for (const Block& block : blocks) {
        image_.insert(image_.end(), block.data.begin(), block.data.end());
        locked_.push_back(block.locked);
    }
    return true;
}

bool NdefTag::ReadUpTo(bool wholeMessage) {
    for (size_t want = kFirstRead;;) {
        if (!Extend(want)) return false;
        const size_t needed = BytesNeeded(image_, TagBytes(), wholeMessage);
        if (needed <= image_.size()) return true;
        if (needed <= want) throw NdefError("the tag's memory ends before its NDEF does");
        want = needed;
    }
}

bool NdefTag::Read(NdefContent& content) {
    if (!ReadUpTo(true)) return false;
    content = ReadNdef(image_, TagBytes());
    return true;
}

CapabilityContainer NdefTag::WritableContainer() {
    const CapabilityContainer cc = ParseCapabilityContainer(image_, TagBytes());
    if (!cc.Writable())
        throw NdefRefused(std::string("the tag's NDEF is read-only (its capability container "
                                      "allows writes ") +
                          AccessName(cc.write) + "): nothing written");
    return cc;
}

bool NdefTag::Write(ByteView message, NdefWriteReport& report) {
    withStatus_ = true;
    if (!ReadUpTo(false)) return false;
    WritableContainer();
    Placement placement;
    try {
        placement = PlaceMessage(image_, TagBytes(), message);
    } catch (const NdefTooLong& error) {
        throw NdefRefused(std::string(error.what()) + ": nothing written");
    }
    return WriteBytes(placement.offset, placement.bytes, report);
}

bool NdefTag::Erase(NdefWriteReport& report) {
    withStatus_ = true;
    if (!ReadUpTo(false)) return false;
    WritableContainer();
    const Placement placement = PlaceMessage(image_, TagBytes(), {});
    return WriteBytes(placement.offset, placement.bytes, report);
}

bool NdefTag::Format(NdefWriteReport& report) {
    withStatus_ = true;
    // Two blocks in one request tell whether the tag answers Read Multiple Blocks.
    if (!Extend(std::max(kFirstRead, 2 * blockSize_))) return false;
    try {
        WritableContainer();
    } catch (const NdefError&) { // no container yet, or one that is no use: replaced
    }
    const CapabilityContainer cc = ContainerFor(TagBytes(), tag_.ReadsMultipleBlocks());
    Bytes bytes = BuildCapabilityContainer(cc);
    for (const uint8_t byte : {kNdefTlv, uint8_t{0}, kTerminatorTlv})
        bytes.push_back(byte);
    return WriteBytes(0, bytes, report);
}

bool NdefTag::Protect(NdefWriteReport& report) {
    withStatus_ = true;
    if (!ReadUpTo(false)) return false;
    CapabilityContainer cc = ParseCapabilityContainer(image_, TagBytes());
    const size_t areaEnd = AreaEnd(cc, TagBytes());
    cc.write = Access::Never;
    if (!WriteBytes(0, BuildCapabilityContainer(cc), report)) return false;
    if (!Extend(areaEnd)) return false;
    for (size_t block = 0; block * blockSize_ < areaEnd; ++block) {
        if (locked_[block]) continue;
        if (TagAccess::interrupted) return tag_.Interrupted("protect");
        if (!tag_.LockBlock(int(block))) return false;
        locked_[block] = true;
        report.lockedNow.push_back(int(block));
    }
    return true;
}

bool NdefTag::WriteBytes(size_t offset, const Bytes& bytes, NdefWriteReport& report) {
    const size_t end = offset + bytes.size();
    if (end > TagBytes())
        throw NdefRefused("the write would end past the tag's last block: nothing written");
    if (!Extend(end)) return false;
    Bytes wanted = image_;
    std::copy(bytes.begin(), bytes.end(), wanted.begin() + long(offset));
    std::vector<int> changed;
    for (size_t block = offset / blockSize_; block * blockSize_ < end; ++block)
        if (!std::equal(wanted.begin() + long(block * blockSize_),
                        wanted.begin() + long((block + 1) * blockSize_),
                        image_.begin() + long(block * blockSize_))) {
            changed.push_back(int(block));
            if (locked_[block]) report.locked.push_back(int(block));
        }
    if (!report.locked.empty()) {
        std::string list;
        for (int block : report.locked)
            list += (list.empty() ? "" : ", ") + std::to_string(block);
        throw NdefRefused("block(s) " + list + " must change but are locked: nothing written");
    }
    // Consecutive changed blocks go in runs, then come back in runs.
    for (size_t i = 0; i < changed.size();) {
        size_t j = i + 1;
        while (j < changed.size() && changed[j] == changed[j - 1] + 1)
            ++j;
        std::vector<Bytes> run;
        for (size_t k = i; k < j; ++k) {
            const auto at = wanted.begin() + long(size_t(changed[k]) * blockSize_);
            run.emplace_back(at, at + long(blockSize_));
        }
        int written = 0;
        const bool ok = tag_.WriteBlocks(changed[i], run, written);
        for (int k = 0; k < written; ++k)
            report.written.push_back(changed[i] + k);
        if (!ok) return false;
        std::vector<Block> back;
        if (!tag_.ReadBlocks(changed[i], int(j - i), false, back)) return false;
        for (size_t k = 0; k < back.size(); ++k)
            if (back[k].data != run[k])
                throw NdefError("block " + std::to_string(changed[i + k]) +
                                " reads back other than written");
        i = j;
    }
    image_ = std::move(wanted);
    return true;
}

} // namespace qx4dump
