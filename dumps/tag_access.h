// One tag, through the library's exports: its geometry, its blocks in as few frames as
// the tag allows, writes in runs, AFI/DSFID and locks. Every request is addressed to the
// tag's UID unless the tag is used unaddressed. A real field loses replies now and then:
// a frame whose reply was lost on the air is sent again a few times, a request no tag
// answered once more; refused multi-block commands give way to shorter runs.
#pragma once

#include "link_observer.h"
#include "tag_dump.h"

#include <atomic>
#include <functional>
#include <map>
#include <optional>

namespace qx4dump {

struct SystemInfo {
    uint8_t flags = 0;
    Uid uid{};
    std::optional<uint8_t> dsfid, afi, icReference;
    std::optional<int> blockCount, blockSize;
};

struct Geometry {
    int blockSize = 0;    // 0: unknown (as an override: the tag's)
    int blockCount = 0;   // 0: unknown (as an override: the tag's)
    bool fromTag = false; // the tag's system information gave both
    bool stop = false;    // nothing answered (no tag, silent reader): failure() says why
};

class TagAccess {
  public:
    // uid: the tag to address; nullopt sends every request unaddressed.
    TagAccess(LinkObserver& link, std::optional<Uid> uid, int timeoutMs);

    const std::optional<Uid>& uid() const { return uid_; }
    // The failure of the last call that failed.
    const CallFailure& failure() const { return failure_; }
    // Set from a signal handler: long operations stop between frames.
    static std::atomic<bool> interrupted;

    bool ReadSystemInfo(SystemInfo& info);
    // Size and count from the system information, else `overrides`, else 4 bytes and
    // unknown count; `note` says what the tag did not give.
    Geometry ReadGeometry(const Geometry& overrides, SystemInfo& info, std::string& note);
    void UseBlockSize(int blockSize); // for the exports that read it from the library
    // The ISO 15693 option flag on writes and locks (tags that want it there).
    void UseOptionFlag(bool option) { option_ = option; }
    // Records an interruption as the failure; false.
    bool Interrupted(const char* what);

    // Blocks first..first+count-1 with their lock state (security status) when
    // withStatus. Multi-block reads in runs that fit one frame; single reads when the tag
    // does not support them. A reply of the wrong length is a failure, never data.
    bool ReadBlocks(int first, int count, bool withStatus, std::vector<Block>& out,
                    const std::function<void(int done)>& progress = {});
    // Writes consecutive blocks from `first`, in runs (Write Multiple Blocks) where the
    // tag supports it. `written` counts the blocks that the tag acknowledged. Refused
    // before any frame unless every block holds exactly the block size in use.
    bool WriteBlocks(int first, const std::vector<Bytes>& blocks, int& written);
    bool LockBlock(int block);
    bool WriteAfi(uint8_t value);
    bool WriteDsfid(uint8_t value);
    bool LockAfi();
    bool LockDsfid();
    // Most blocks one frame carries (and the tag takes), reading (with status) and writing.
    int LongestRead(bool withStatus) const;
    // False once the tag has refused Read Multiple Blocks (reads go one block a command).
    bool ReadsMultipleBlocks() const { return readRun_ > 1; }
    int LongestWrite() const;

    // Frames sent again after an RF error or an unanswered request, all calls so far.
    int retries() const { return retries_; }
    // What a person should know about how the tag was reached: the retries by cause, the
    // shorter runs a refusal forced. Empty when every frame went through at once.
    std::vector<std::string> Notes() const;

    // Retries a frame gets after a lost reply; an unanswered request gets one.
    static constexpr int kRfRetries = 3;

  private:
    int Mode(bool option) const;
    const unsigned char* UidBytes() const;
    bool Done(unsigned char result, const char* function);
    // Sends one frame (`send` calls the export) until it goes through or fails for good.
    // `multi`: a Read/Write Multiple Blocks, whose silence is left to the caller.
    bool Exchange(const char* function, bool multi, const std::function<unsigned char()>& send);
    // Unaddressed, several tags answering at once garble every reply: say so instead.
    bool SeveralAnswer();
    // After a refused run of `run` blocks: half as long after an unknown error (the tag
    // may limit runs), else single blocks.
    void ShorterRuns(int run, int& longest, const char* command);
    bool ReadRun(int first, int count, bool withStatus, std::vector<Block>& out);

    LinkObserver& link_;
    std::optional<Uid> uid_;
    Uid none_{};
    int timeoutMs_;
    int blockSize_ = 4;
    int readRun_ = 256, writeRun_ = 256; // most blocks the tag took in one command
    bool option_ = false;
    CallFailure failure_;
    int retries_ = 0;
    std::map<std::string, int> retried_;           // cause -> frames
    std::map<std::string, std::string> shortened_; // command -> what its refusal made of it
};

// The tag to address when none is named: the one an inventory finds. With `only`, the
// reader-side inventory makes sure first that it is the only one in the field. nullopt
// with the reason in `error`; `several` is set when there were more ("3 tags in the
// field (UID UID UID)" in `error`).
// `cause`, when given, receives the failure behind a nullopt that is not `several`.
std::optional<Uid> FindTheTag(LinkObserver& link, int timeoutMs, bool only, std::string& error,
                              bool& several, CallFailure* cause = nullptr);

// The whole tag as a dump. probeLocks: find the AFI and DSFID lock states by writing
// their current values back (ISO 15693 has no other way to read them); without it they
// stay unknown and nothing is written.
bool ReadTag(TagAccess& tag, const Geometry& overrides, bool probeLocks, TagDump& dump,
             std::string& note, const std::function<void(int done, int total)>& progress = {});

} // namespace qx4dump
