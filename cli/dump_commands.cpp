// qx4 dump, restore and diff: a tag's memory as a JSON tag dump.
#include "command_table.h"
#include "field_file.h"
#include "system_info.h"

#include <cstdio>
#include <unistd.h>

namespace qx4cli {
namespace {

// A progress bar on a terminal; nothing when standard error is not one, or with --json.
class Progress {
  public:
    Progress(const Session& s, const char* what, int total)
        : what_(what), total_(total), shown_(!s.options().json && ::isatty(STDERR_FILENO)) {}
    ~Progress() {
        if (shown_) std::fprintf(stderr, "\n");
    }
    void Step(int done) {
        if (!shown_) return;
        const int width = 30, filled = total_ ? done * width / total_ : width;
        std::fprintf(stderr, "\r%s [%.*s%*s] %d/%d", what_, filled,
                     "##############################", width - filled, "", done, total_);
        std::fflush(stderr);
    }

  private:
    const char* what_;
    int total_;
    bool shown_;
};

struct Layout {
    int blockCount;
    int blockSize;
};

// Block count and size from the system information, --block-size overriding the size.
Layout TagLayout(Session& s, SystemInfo& info) {
    if (!s.Check(ReadSystemInfo(s.RequestMode() & 0x03, s.TargetUid(), info), "QX4GetSystemInfo"))
        throw std::runtime_error(
            s.result().value("errorText", std::string("no system information")));
    Layout layout{info.blockCount.value_or(0), info.blockSize.value_or(4)};
    if (s.options().blockSize) layout.blockSize = s.options().blockSize;
    if (!layout.blockCount)
        throw std::runtime_error("the tag's system information gives no memory size");
    QX4SetTagBlockSize(layout.blockSize);
    return layout;
}

// One block with its security status byte first.
bool ReadBlock(Session& s, int block, int blockSize, Bytes& out) {
    out.assign(size_t(blockSize) + 1, 0);
    return s.Check(
        QX4ReadSingleBlock(0x10 | (s.RequestMode() & 0x03), block, out.data(), s.TargetUid()),
        "QX4ReadSingleBlock");
}

qx4sim::Tag LoadDump(Session& s, size_t argument) {
    const auto tags = qx4sim::LoadField(s.Arg(argument, "FILE"));
    if (tags.empty()) throw std::runtime_error("the dump holds no tag");
    return tags.front();
}

} // namespace

void RunDump(Session& s) {
    const std::string path = s.Arg(0, "FILE");
    s.Connect();
    SystemInfo info;
    const Layout layout = TagLayout(s, info);
    qx4sim::Tag tag = qx4sim::Tag::Make(info.uid, qx4sim::TagType::Iso15693,
                                        static_cast<unsigned>(layout.blockSize),
                                        static_cast<unsigned>(layout.blockCount));
    tag.infoFlags = info.flags;
    tag.dsfid = info.dsfid.value_or(0);
    tag.afi = info.afi.value_or(0);
    tag.icReference = info.icReference.value_or(0);
    Progress progress(s, "dump", layout.blockCount);
    Bytes block;
    for (int b = 0; b < layout.blockCount; ++b) {
        if (!ReadBlock(s, b, layout.blockSize, block)) return;
        tag.locked[size_t(b)] = block[0] & 0x01;
        std::copy(block.begin() + 1, block.end(), tag.memory.begin() + b * layout.blockSize);
        progress.Step(b + 1);
    }
    qx4sim::SaveField(path, {tag});
    s.Field("uid", tag.UidText());
    s.Field("blocks", layout.blockCount);
    s.Field("file", path);
}

void RunRestore(Session& s) {
    const qx4sim::Tag dump = LoadDump(s, 0);
    const bool skipSame = s.HasArg(1) && s.Arg(1, "--skip-same") == "--skip-same";
    s.Connect();
    SystemInfo info;
    const Layout layout = TagLayout(s, info);
    if (static_cast<unsigned>(layout.blockSize) != dump.blockSize)
        throw std::runtime_error("the dump's blocks hold " + std::to_string(dump.blockSize) +
                                 " bytes, the tag's " + std::to_string(layout.blockSize));
    const int blocks = std::min<int>(layout.blockCount, static_cast<int>(dump.BlockCount()));
    int written = 0, same = 0, locked = 0, failed = 0;
    Progress progress(s, "restore", blocks);
    Bytes current;
    for (int b = 0; b < blocks; ++b) {
        progress.Step(b);
        const uint8_t* want = dump.memory.data() + b * layout.blockSize;
        if (dump.locked[size_t(b)]) {
            ++locked;
            continue;
        }
        if (!ReadBlock(s, b, layout.blockSize, current)) {
            ++failed;
            continue;
        }
        if (current[0] & 0x01) {
            ++locked;
            continue;
        }
        if (skipSame && std::equal(want, want + layout.blockSize, current.begin() + 1)) {
            ++same;
            continue;
        }
        if (s.Check(QX4WriteSingleBlock(s.RequestMode() & 0x03, b, want, s.TargetUid()),
                    "QX4WriteSingleBlock"))
            ++written;
        else
            ++failed;
    }
    progress.Step(blocks);
    s.Field("written", written);
    s.Field("skippedSame", same);
    s.Field("skippedLocked", locked);
    s.Field("failed", failed);
    if (failed) s.Check(0, "restore"); // report the last failure's cause
}

void RunDiff(Session& s) {
    const qx4sim::Tag dump = LoadDump(s, 0);
    s.Connect();
    SystemInfo info;
    const Layout layout = TagLayout(s, info);
    const int blocks = std::max<int>(layout.blockCount, static_cast<int>(dump.BlockCount()));
    nlohmann::json differences = nlohmann::json::array();
    Bytes current;
    for (int b = 0; b < blocks; ++b) {
        std::string tagText = "(none)", dumpText = "(none)";
        if (b < layout.blockCount) {
            if (!ReadBlock(s, b, layout.blockSize, current)) return;
            tagText = Hex(current.data() + 1, size_t(layout.blockSize), "");
        }
        if (b < static_cast<int>(dump.BlockCount()))
            dumpText = Hex(dump.memory.data() + b * dump.blockSize, dump.blockSize, "");
        if (tagText != dumpText) {
            differences.push_back({{"block", b}, {"dump", dumpText}, {"tag", tagText}});
            s.Line("block " + std::to_string(b) + ": dump " + dumpText + ", tag " + tagText);
        }
    }
    if (UidText(info.uid.data()) != dump.UidText())
        s.Line("note: the dump is of tag " + dump.UidText() + ", this is " +
               UidText(info.uid.data()));
    s.result()["differences"] = differences;
    s.Line(differences.empty() ? "no differences"
                               : std::to_string(differences.size()) + " block(s) differ");
}

} // namespace qx4cli
