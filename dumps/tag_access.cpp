#include "tag_access.h"

#include "qx4drv.h"

#include <cstdio>

namespace qx4dump {
namespace {

constexpr int kFrameData = 255;    // bytes of data one frame carries
constexpr int kReplyPayload = 254; // after the echoed code
constexpr int kOptionFlag = 0x10;  // block reads: security status before each block
constexpr int kAddressedMode = 0x01;

} // namespace

std::atomic<bool> TagAccess::interrupted{false};

TagAccess::TagAccess(LinkObserver& link, std::optional<Uid> uid, int timeoutMs)
    : link_(link), uid_(uid), timeoutMs_(timeoutMs) {}

int TagAccess::Mode(bool option) const {
    return (option ? kOptionFlag : 0) | (uid_ ? kAddressedMode : 0);
}

const unsigned char* TagAccess::UidBytes() const {
    return uid_ ? uid_->data() : none_.data();
}

bool TagAccess::Done(unsigned char result, const char* function) {
    if (auto failure = link_.Outcome(result, function, timeoutMs_)) {
        failure_ = *failure;
        return false;
    }
    return true;
}

namespace {

// "NACK 0x01 (CRC error in the tag's reply)", "NACK 0x05/0x0F (...)".
std::string Cause(const CallFailure& failure) {
    char code[24];
    std::snprintf(code, sizeof code, failure.iso >= 0 ? "NACK 0x%02X/0x%02X" : "NACK 0x%02X",
                  failure.nack, failure.iso);
    return std::string(code) + " (" + EnglishNackText(failure.nack, failure.iso) + ")";
}

// "tag left after block 160: 161 written, 95 not written"
std::string LeftText(int first, int done, int count, const char* what) {
    const std::string verb(what);
    return "tag left after block " + std::to_string(first + done - 1) + ": " +
           std::to_string(done) + " " + verb + ", " + std::to_string(count - done) + " not " + verb;
}

} // namespace

bool TagAccess::Exchange(const char* function, bool multi,
                         const std::function<unsigned char()>& send) {
    int lost = 0, unanswered = 0;
    for (;;) {
        link_.Mark();
        if (Done(send(), function)) return true;
        const bool again = failure_.Transient()         ? lost++ < kRfRetries
                           : failure_.NoTag() && !multi ? unanswered++ < 1
                                                        : false;
        if (!again) {
            // One request and its retry found no tag: it has left (or was never there).
            if (failure_.NoTag() && unanswered > 1) failure_.gone = true;
            return false;
        }
        if (failure_.Transient() && !uid_ && SeveralAnswer()) return false;
        if (interrupted) return Interrupted(function);
        ++retries_;
        ++retried_[Cause(failure_)];
    }
}

bool TagAccess::SeveralAnswer() {
    const CallFailure lost = failure_;
    std::string error;
    bool several = false;
    FindTheTag(link_, timeoutMs_, true, error, several);
    failure_ = lost;
    if (!several) return false;
    failure_.collided = true;
    failure_.text += "; " + error + " answer a request without a UID at once: name one with --uid";
    return true;
}

void TagAccess::ShorterRuns(int run, int& longest, const char* command) {
    longest = failure_.MultiRefused() && failure_.iso == 0x0F ? run / 2 : 1;
    shortened_[command] = "the tag refused " + std::string(command) + " of " + std::to_string(run) +
                          " blocks with " + Cause(failure_) +
                          (longest == 1 ? ": one block a frame"
                                        : ": at most " + std::to_string(longest) + " a frame");
}

std::vector<std::string> TagAccess::Notes() const {
    std::vector<std::string> notes;
    if (retries_) {
        std::string causes;
        for (const auto& [cause, frames] : retried_)
            causes += (causes.empty() ? "" : ", ") + std::to_string(frames) + " after " + cause;
        notes.push_back("retried " + std::to_string(retries_) + " frame(s): " + causes);
    }
    for (const auto& [command, what] : shortened_)
        notes.push_back(what);
    return notes;
}

bool TagAccess::Interrupted(const char* what) {
    failure_ = CallFailure::Of(CallFailure::Kind::NotSent, what, "interrupted");
    return false;
}

void TagAccess::UseBlockSize(int blockSize) {
    blockSize_ = blockSize;
    QX4SetTagBlockSize(blockSize);
}

int TagAccess::LongestRead(bool withStatus) const {
    return std::max(1, std::min(readRun_, kReplyPayload / (blockSize_ + (withStatus ? 1 : 0))));
}

int TagAccess::LongestWrite() const {
    // code, first block, count - 1, data, mode, UID
    const int room = kFrameData - 4 - (uid_ ? 8 : 0);
    return std::max(1, std::min(writeRun_, room / blockSize_));
}

bool TagAccess::ReadSystemInfo(SystemInfo& info) {
    unsigned char out[256] = {};
    int length = 0;
    if (!Exchange("QX4GetSystemInfo", false,
                  [&] { return QX4GetSystemInfo(Mode(false), out, &length, UidBytes()); }))
        return false;
    // out: flags, UID, then the fields the flags announce, then the frame's ETX.
    const int end = length - 1;
    info = SystemInfo{};
    info.flags = out[0];
    std::copy_n(out + 1, 8, info.uid.begin());
    int p = 9;
    auto take = [&](int count) { return p + count <= end ? (p += count, true) : false; };
    if (info.flags & 0x01 && take(1)) info.dsfid = out[p - 1];
    if (info.flags & 0x02 && take(1)) info.afi = out[p - 1];
    if (info.flags & 0x04 && take(2)) {
        info.blockCount = out[p - 2] + 1;
        info.blockSize = (out[p - 1] & 0x1F) + 1;
    }
    if (info.flags & 0x08 && take(1)) info.icReference = out[p - 1];
    return true;
}

Geometry TagAccess::ReadGeometry(const Geometry& overrides, SystemInfo& info, std::string& note) {
    Geometry geometry{4, 0, false};
    const bool answered = ReadSystemInfo(info);
    if (answered && info.blockSize && info.blockCount) {
        geometry = {*info.blockSize, *info.blockCount, true};
    } else if (!answered && (failure_.NoTag() || failure_.EndsRun())) {
        geometry.stop = true; // no tag to read, whatever the overrides say
        return geometry;
    } else {
        note = !answered ? "the tag gives no system information"
                         : "the tag's system information gives no memory size";
    }
    if (overrides.blockSize) geometry.blockSize = overrides.blockSize;
    if (overrides.blockCount) geometry.blockCount = overrides.blockCount;
    UseBlockSize(geometry.blockSize);
    return geometry;
}

bool TagAccess::ReadRun(int first, int count, bool withStatus, std::vector<Block>& out) {
    const int stride = blockSize_ + (withStatus ? 1 : 0);
    Bytes buffer(size_t(count) * size_t(stride) + 1);
    const bool single = count == 1;
    const char* function = single ? "QX4ReadSingleBlock" : "QX4ReadMultiBlock";
    const bool ok = Exchange(function, !single, [&] {
        return single ? QX4ReadSingleBlock(Mode(withStatus), first, buffer.data(), UidBytes())
                      : QX4ReadMultiBlock(Mode(withStatus), first, count - 1, buffer.data(),
                                          UidBytes());
    });
    if (!ok && failure_.kind != CallFailure::Kind::WrongReply) return false;
    // A tag whose blocks are larger (or smaller) than assumed answers with another length.
    const int expected = 1 + count * stride;
    // Only the tag's own answer to this read says anything about the block size.
    const int code = single ? 0x20 : 0x23;
    if (!ok && link_.LastAckEcho() != code) return false;
    if (!ok || link_.LastAckDataCount() != expected) {
        failure_ = CallFailure::Of(CallFailure::Kind::WrongReply, function, "");
        failure_.text = "the reply carries " + std::to_string(link_.LastAckDataCount() - 1) +
                        " bytes where " + std::to_string(count) + " block(s) of " +
                        std::to_string(blockSize_) + " bytes" + (withStatus ? " with status" : "") +
                        " take " + std::to_string(expected - 1) +
                        ": the block size is not what was assumed (--block-size)";
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const uint8_t* at = buffer.data() + i * stride;
        Block block;
        block.locked = withStatus && (at[0] & 0x01);
        block.data.assign(at + (withStatus ? 1 : 0), at + stride);
        out.push_back(std::move(block));
    }
    return true;
}

bool TagAccess::ReadBlocks(int first, int count, bool withStatus, std::vector<Block>& out,
                           const std::function<void(int)>& progress) {
    out.clear();
    for (int done = 0; done < count;) {
        if (interrupted) return Interrupted("read");
        const int run = std::min(count - done, LongestRead(withStatus));
        if (!ReadRun(first + done, run, withStatus, out)) {
            if (run > 1 && failure_.MultiRefused()) {
                ShorterRuns(run, readRun_, "Read Multiple Blocks");
                continue;
            }
            if (failure_.gone && done > 0) failure_.text = LeftText(first, done, count, "read");
            return false;
        }
        done += run;
        if (progress) progress(done);
    }
    return true;
}

bool TagAccess::WriteBlocks(int first, const std::vector<Bytes>& blocks, int& written) {
    written = 0;
    const int count = static_cast<int>(blocks.size());
    // The library sends blockSize_ bytes a block from the run's buffer: any other length
    // would send bytes nobody gave or shift every later block.
    for (const Bytes& block : blocks)
        if (block.size() != size_t(blockSize_)) {
            failure_ = CallFailure::Of(CallFailure::Kind::NotSent, "write",
                                       "a block of " + std::to_string(block.size()) +
                                           " bytes where the tag's blocks hold " +
                                           std::to_string(blockSize_) + ": nothing written");
            return false;
        }
    if (first < 0 || first + count > int(kMostBlocks)) {
        failure_ = CallFailure::Of(CallFailure::Kind::NotSent, "write",
                                   "blocks beyond 0 to 255: nothing written");
        return false;
    }
    while (written < count) {
        if (interrupted) return Interrupted("write");
        const int run = std::min(count - written, LongestWrite());
        Bytes data;
        for (int i = 0; i < run; ++i)
            data.insert(data.end(), blocks[size_t(written + i)].begin(),
                        blocks[size_t(written + i)].end());
        const int block = first + written;
        // A write whose reply was lost is written again with the same data: same result.
        const bool ok =
            Exchange(run == 1 ? "QX4WriteSingleBlock" : "QX4WriteMultiBlock", run > 1, [&] {
                return run == 1 ? QX4WriteSingleBlock(Mode(option_), block, data.data(), UidBytes())
                                : QX4WriteMultiBlock(Mode(option_), block, run - 1, data.data(),
                                                     UidBytes());
            });
        if (!ok) {
            if (run > 1 && failure_.MultiRefused()) {
                ShorterRuns(run, writeRun_, "Write Multiple Blocks");
                continue;
            }
            if (failure_.gone && written > 0)
                failure_.text = LeftText(first, written, count, "written");
            return false;
        }
        written += run;
    }
    return true;
}

// Locks are sent once: a lock whose reply was lost may have been applied, and a second
// one would then be refused as if it had failed.
bool TagAccess::LockBlock(int block) {
    link_.Mark();
    return Done(QX4LockBlock(Mode(option_), block, UidBytes()), "QX4LockBlock");
}

bool TagAccess::WriteAfi(uint8_t value) {
    return Exchange("QX4WriteAFI", false,
                    [&] { return QX4WriteAFI(Mode(option_), value, UidBytes()); });
}

bool TagAccess::WriteDsfid(uint8_t value) {
    return Exchange("QX4WrietDSFID", false,
                    [&] { return QX4WrietDSFID(Mode(option_), value, UidBytes()); });
}

bool TagAccess::LockAfi() {
    link_.Mark();
    return Done(QX4LockAFI(Mode(option_), UidBytes()), "QX4LockAFI");
}

bool TagAccess::LockDsfid() {
    link_.Mark();
    return Done(QX4LockDSFID(Mode(option_), UidBytes()), "QX4LockDSFID");
}

namespace {

// The reader-side inventory (anticollision over slots): how many tags, and their UIDs.
std::optional<CallFailure> ListField(LinkObserver& link, int timeoutMs, std::vector<Uid>& uids) {
    uids.clear();
    unsigned char count = 0;
    link.Mark();
    const unsigned char listed = QX4Inventory2(0, 0, &count);
    if (auto failure = link.Outcome(listed, "QX4Inventory2", timeoutMs)) return failure;
    for (int index = 1; index <= count; ++index) {
        Uid uid{};
        if (QX4GetUidData(index, uid.data())) uids.push_back(uid);
    }
    return std::nullopt;
}

std::string UidList(const std::vector<Uid>& uids) {
    std::string list;
    for (const Uid& uid : uids)
        list += (list.empty() ? "" : " ") + UidText(uid);
    return list;
}

} // namespace

std::optional<Uid> FindTheTag(LinkObserver& link, int timeoutMs, bool only, std::string& error,
                              bool& several, CallFailure* cause) {
    several = false;
    std::vector<Uid> uids;
    auto severalText = [&] {
        several = true;
        error = std::to_string(uids.size()) + " tags in the field (" + UidList(uids) + ")";
    };
    if (only) {
        auto failure = ListField(link, timeoutMs, uids);
        for (int lost = 0; failure && failure->Transient() && lost < TagAccess::kRfRetries; ++lost)
            failure = ListField(link, timeoutMs, uids);
        if (failure && (failure->EndsRun() || failure->Transient())) {
            error = "no tag to address: " + failure->text;
            if (cause) *cause = *failure;
            return std::nullopt;
        }
        if (uids.size() > 1) {
            severalText();
            return std::nullopt;
        }
    }
    for (int lost = 0;; ++lost) {
        unsigned char dsfid = 0;
        Uid uid{};
        link.Mark();
        const unsigned char found = QX4Inventory(0x40, &dsfid, uid.data());
        const auto failure = link.Outcome(found, "QX4Inventory", timeoutMs);
        if (!failure) return uid;
        if (!failure->Transient() || lost >= TagAccess::kRfRetries) {
            error = "no tag to address: " + failure->text;
            if (cause) *cause = *failure;
            return std::nullopt;
        }
        // A garbled reply to a one-slot inventory: several tags answered in it, or one
        // reply was lost. The reader's own inventory tells them apart.
        if (!only && !ListField(link, timeoutMs, uids)) {
            if (uids.size() > 1) {
                severalText();
                return std::nullopt;
            }
            if (uids.size() == 1) return uids.front();
        }
    }
}

bool ReadTag(TagAccess& tag, const Geometry& overrides, bool probeLocks, TagDump& dump,
             std::string& note, const std::function<void(int, int)>& progress) {
    SystemInfo info;
    const Geometry geometry = tag.ReadGeometry(overrides, info, note);
    if (geometry.stop) return false;
    if (!geometry.blockCount) {
        note += note.empty() ? "" : "; ";
        note += "give the number of blocks with --blocks";
        return false;
    }
    dump = TagDump{};
    dump.uid = tag.uid() ? *tag.uid() : info.uid;
    dump.type = TypeOfUid(dump.uid);
    dump.infoFlags = info.flags;
    dump.dsfid = info.dsfid;
    dump.afi = info.afi;
    dump.afiLocked.reset(); // known only when probed
    dump.dsfidLocked.reset();
    dump.icReference = info.icReference.value_or(0);
    dump.blockSize = static_cast<unsigned>(geometry.blockSize);
    if (!tag.ReadBlocks(0, geometry.blockCount, true, dump.blocks, [&](int done) {
            if (progress) progress(done, geometry.blockCount);
        }))
        return false;
    if (probeLocks) {
        // Writing a value back leaves it as it was; only a locked one is refused.
        if (info.afi && !TagAccess::interrupted) {
            dump.afiLocked = !tag.WriteAfi(*info.afi);
            if (*dump.afiLocked && !tag.failure().Locked()) return false;
        }
        if (info.dsfid && !TagAccess::interrupted) {
            dump.dsfidLocked = !tag.WriteDsfid(*info.dsfid);
            if (*dump.dsfidLocked && !tag.failure().Locked()) return false;
        }
        if (TagAccess::interrupted) {
            tag.Interrupted("probe");
            return false;
        }
    }
    return true;
}

} // namespace qx4dump
