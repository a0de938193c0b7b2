// qx4 subcommands for one tag in the reader's field, addressed by its UID.
#include "command_table.h"
#include "manufacturers.h"
#include "system_info.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace qx4cli {

bool Given(const Session& s, const char* name) {
    const auto& used = s.options().used;
    return std::find(used.begin(), used.end(), name) != used.end();
}

std::optional<Uid> OneTag(Session& s, bool name) {
    if (!s.options().unaddressed) {
        const std::optional<Uid> uid = s.Target(true);
        if (name) s.Field("uid", UidText(uid->data()));
        return uid;
    }
    // A request without a UID reaches every tag that hears it.
    std::string error;
    bool several = false;
    const auto only = qx4dump::FindTheTag(s.link(), s.options().timeoutMs, true, error, several);
    if (several) throw Refusal(error + ": --unaddressed writes only with one tag in the field");
    if (!name) {
    } else if (only) {
        s.Field("uid", UidText(only->data()));
    } else { // no "uid" key: it is a UID text wherever it appears
        s.Line("uid: unknown (unaddressed)");
    }
    return s.Target(true);
}

qx4dump::TagAccess& WriteAccess(Session& s) {
    OneTag(s);
    qx4dump::TagAccess& tag = s.Tag(true);
    tag.UseOptionFlag(s.options().option);
    return tag;
}

void ConfirmLock(Session& s, const std::string& what) {
    if (Given(s, "--yes") || s.options().confirmed) return;
    if (!s.options().mayAsk || !::isatty(STDIN_FILENO) || !::isatty(STDERR_FILENO))
        throw Refusal(what + " cannot be undone: confirm with " + s.options().confirmWith);
    std::cerr << "qx4: " << what << " cannot be undone. Go ahead? [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    if (answer != "y" && answer != "yes") throw Refusal(what + ": not confirmed, nothing sent");
}

namespace {

std::string TagName(Session& s) {
    const auto uid = s.result().find("uid");
    return uid != s.result().end() && uid->is_string() ? "tag " + uid->get<std::string>()
                                                       : std::string("the tag");
}

// Data field of a tag request: code, parameters, data, mode byte, the UID when addressed.
int DataRoom(Session& s, int parameters) {
    return 255 - 1 - parameters - 1 - (s.Target(false) ? 8 : 0);
}

void Done(Session& s, unsigned char result, const char* function, const char* line) {
    if (s.Check(result, function)) s.Line(line);
}

// Lines "block N: data" and the JSON list "blocks".
void ShowBlocks(Session& s, int first, const std::vector<qx4dump::Block>& blocks, bool withStatus) {
    nlohmann::json list = nlohmann::json::array();
    for (size_t i = 0; i < blocks.size(); ++i) {
        const int number = first + static_cast<int>(i);
        nlohmann::json entry{{"block", number}, {"data", Hex(blocks[i].data, "")}};
        std::string line = "block " + std::to_string(number) + ": " + Hex(blocks[i].data) + "  " +
                           Printable(blocks[i].data.data(), blocks[i].data.size());
        if (withStatus) {
            entry["locked"] = blocks[i].locked;
            if (blocks[i].locked) line += "  (locked)";
        }
        list.push_back(entry);
        s.Line(line);
    }
    s.result()["blocks"] = list;
}

} // namespace

void RunInventory(Session& s) {
    s.Connect();
    unsigned char dsfid = 0;
    Uid uid{};
    const unsigned char found =
        QX4Inventory(0x40 | (s.options().option ? 0x10 : 0), &dsfid, uid.data());
    const auto failure = s.link().Outcome(found, "QX4Inventory", s.options().timeoutMs);
    if (failure) {
        // A garbled reply to the one-slot inventory: most often several tags answered at
        // once. The reader's own inventory tells them apart.
        unsigned char count = 0;
        if (failure->Transient() && QX4Inventory2(0, 0, &count) && count > 1) {
            s.Field("answered", count, std::to_string(count) + " tags answered at once");
            ShowUidList(s, count);
            s.Fail(std::to_string(count) + " tags in the field answered the inventory at once",
                   kExitRefused);
        } else {
            s.Fail(*failure);
        }
        return;
    }
    s.Field("uid", UidText(uid.data()));
    s.Field("dsfid", dsfid, HexByte(dsfid));
    // One inventory shows one tag: the others in the field are counted, never hidden.
    unsigned char count = 0;
    if (QX4Inventory2(0, 0, &count) && count > 1) {
        s.Field("answered", count, std::to_string(count) + " tags answered");
        ShowUidList(s, count);
    }
}

void RunScan(Session& s) {
    s.Connect();
    unsigned char count = 0;
    if (!s.Check(QX4Inventory2(0, 0, &count), "QX4Inventory2")) return;
    s.Field("count", count);
    ShowUidList(s, count);
}

void RunFindAfi(Session& s) {
    s.Connect();
    unsigned char previous = 0;
    s.link().Mark();
    if (!s.Check(QX4GetAFIData(&previous), "QX4GetAFIData")) return;
    nlohmann::json found = nlohmann::json::array();
    for (int afi = 1; afi <= 255 && !qx4dump::TagAccess::interrupted; ++afi) {
        s.link().Mark();
        if (!s.Check(QX4SetAFIData(afi), "QX4SetAFIData")) break;
        // One inventory finds one tag of the AFI: each found stays quiet while the next is
        // looked for, and is made ready again before the next AFI.
        std::vector<Uid> quiet;
        for (;;) {
            unsigned char dsfid = 0;
            Uid uid{};
            s.link().Mark();
            // With the AFI flag only tags of the reader's AFI answer; "no tag" is no failure.
            if (!QX4Inventory(0x40 | 0x20, &dsfid, uid.data())) break;
            if (std::find(quiet.begin(), quiet.end(), uid) != quiet.end()) break; // not quiet
            found.push_back({{"afi", afi}, {"uid", UidText(uid.data())}});
            char line[64];
            std::snprintf(line, sizeof line, "AFI 0x%02X: %s", afi, UidText(uid.data()).c_str());
            s.Line(line);
            s.link().Mark();
            if (!QX4StayQuiet(0, uid.data())) break;
            quiet.push_back(uid);
        }
        for (const Uid& uid : quiet) {
            s.link().Mark();
            if (!QX4ResetToReady(0x01, uid.data()))
                s.Note("tag " + UidText(uid.data()) +
                       " did not confirm reset to ready: it may stay quiet until it leaves the "
                       "field");
        }
    }
    s.link().Mark();
    s.Check(QX4SetAFIData(previous), "QX4SetAFIData");
    s.result()["answered"] = found;
    if (qx4dump::TagAccess::interrupted)
        return s.Fail("interrupted: the list of AFI values is not complete");
    if (found.empty()) s.Line("no tag answered an inventory with an AFI of 0x01 to 0xFF");
}

void RunQuiet(Session& s) {
    const Uid uid = s.UidArg(0, "UID");
    s.Connect();
    Done(s, QX4StayQuiet(s.options().option ? 0x10 : 0, uid.data()), "QX4StayQuiet",
         "tag is quiet");
}

void RunSelect(Session& s) {
    const Uid uid = s.UidArg(0, "UID");
    s.Connect();
    // No other command sends in selected mode: this is for raw requests that do.
    Done(s, QX4SelectTag(0x01 | (s.options().option ? 0x10 : 0), uid.data()), "QX4SelectTag",
         "tag is selected: raw requests in selected mode (UID designation 3 in the mode byte, "
         "e.g. qx4 raw 2B03) reach it alone until it is reset, another is selected or it "
         "leaves the field");
}

namespace {

// Reads pick the one an inventory finds when none is named: the result says which.
void NameTarget(Session& s) {
    if (const std::optional<Uid> uid = s.Target(false)) s.Field("uid", UidText(uid->data()));
}

} // namespace

void RunReset(Session& s) {
    s.Connect();
    NameTarget(s);
    const int mode = s.RequestMode();
    Done(s, QX4ResetToReady(mode, s.TargetUid()), "QX4ResetToReady", "tag is ready");
}

void RunRead(Session& s) {
    const int first = s.IntArg(0, "BLOCK", 0, 255);
    const int count = s.HasArg(1) ? s.IntArg(1, "COUNT", 1, 256 - first) : 1;
    s.Connect();
    qx4dump::TagAccess& tag = s.Tag(false);
    NameTarget(s);
    s.UseTagBlockSize();
    std::vector<qx4dump::Block> blocks;
    if (!tag.ReadBlocks(first, count, s.options().option, blocks)) return s.Fail(tag.failure());
    ShowBlocks(s, first, blocks, s.options().option);
}

void RunWrite(Session& s) {
    const int first = s.IntArg(0, "BLOCK", 0, 255);
    const Bytes data = s.HexArg(1, "HEXBYTES");
    s.Connect();
    qx4dump::TagAccess& tag = WriteAccess(s);
    int tagBlocks = 0;
    const size_t k = static_cast<size_t>(s.UseTagBlockSize(&tagBlocks));
    if (data.empty() || data.size() % k)
        throw UsageError("HEXBYTES must be whole blocks of " + std::to_string(k) + " bytes");
    std::vector<Bytes> blocks;
    for (size_t at = 0; at < data.size(); at += k)
        blocks.emplace_back(data.begin() + long(at), data.begin() + long(at + k));
    if (first + blocks.size() > 256) throw UsageError("the blocks end beyond block 255");
    // Refused before the first frame: running off the end would leave half the data written.
    if (tagBlocks && first + blocks.size() > size_t(tagBlocks))
        throw Refusal("blocks " + std::to_string(first) + " to " +
                      std::to_string(first + blocks.size() - 1) + " do not fit: the tag has " +
                      std::to_string(tagBlocks) + " blocks (0 to " + std::to_string(tagBlocks - 1) +
                      "), nothing written");
    int written = 0;
    const bool ok = tag.WriteBlocks(first, blocks, written);
    s.Field("written", written, std::to_string(written) + " block(s)");
    if (!ok) s.Fail(tag.failure());
}

void RunLock(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255);
    s.Connect();
    qx4dump::TagAccess& tag = WriteAccess(s);
    ConfirmLock(s, "locking block " + std::to_string(block) + " of " + TagName(s));
    if (tag.LockBlock(block))
        s.Line("block locked");
    else
        s.Fail(tag.failure());
}

void RunWrite2(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 254);
    const Bytes data = s.HexArg(1, "HEXBYTES");
    s.Connect();
    OneTag(s);
    const int k = s.UseTagBlockSize();
    if (data.size() != 2 * size_t(k))
        throw UsageError("HEXBYTES must be two blocks: " + std::to_string(2 * k) + " bytes");
    const int mode = s.RequestMode();
    Done(s, QX4Write2Blocks(mode, block, data.data(), s.TargetUid()), "QX4Write2Blocks",
         "two blocks written");
}

void RunLock2(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 254);
    s.Connect();
    OneTag(s);
    ConfirmLock(s, "locking blocks " + std::to_string(block) + " and " + std::to_string(block + 1) +
                       " of " + TagName(s));
    const int mode = s.RequestMode();
    Done(s, QX4Lock2Blocks(mode, block, s.TargetUid()), "QX4Lock2Blocks", "two blocks locked");
}

void RunReadBytes(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255), count = s.IntArg(1, "COUNT", 1, 254);
    s.Connect();
    NameTarget(s);
    const int mode = s.RequestMode();
    Bytes out(static_cast<size_t>(count));
    if (!s.Check(QX4ReadBytes(mode, block, count - 1, out.data(), s.TargetUid()), "QX4ReadBytes"))
        return;
    s.Field("data", Hex(out, ""), Hex(out) + "  " + Printable(out.data(), out.size()));
}

void RunWriteBytes(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255);
    const Bytes data = s.HexArg(1, "HEXBYTES");
    s.Connect();
    OneTag(s);
    const int room = DataRoom(s, 2);
    if (data.empty() || static_cast<int>(data.size()) > room)
        throw UsageError("HEXBYTES holds 1 to " + std::to_string(room) + " bytes in one frame");
    const int mode = s.RequestMode();
    Done(s, QX4WriteBytes(mode, block, static_cast<int>(data.size()), data.data(), s.TargetUid()),
         "QX4WriteBytes", "bytes written");
}

void RunSecurity(Session& s) {
    const int first = s.IntArg(0, "BLOCK", 0, 255);
    const int count = s.IntArg(1, "COUNT", 1, std::min(254, 256 - first));
    s.Connect();
    NameTarget(s);
    const int mode = s.RequestMode();
    Bytes out(static_cast<size_t>(count));
    if (s.Check(QX4GetMBlockSecSt(mode, first, count - 1, out.data(), s.TargetUid()),
                "QX4GetMBlockSecSt"))
        s.Field("security", nlohmann::json(out), Hex(out)); // a status byte a block: numbers
}

namespace {

void TagByte(Session& s, bool (qx4dump::TagAccess::*write)(uint8_t), const char* line) {
    const int value = s.IntArg(0, "VALUE", 0, 255);
    s.Connect();
    qx4dump::TagAccess& tag = WriteAccess(s);
    if ((tag.*write)(static_cast<uint8_t>(value)))
        s.Line(line);
    else
        s.Fail(tag.failure());
}

void TagLock(Session& s, bool (qx4dump::TagAccess::*lock)(), const char* what, const char* line) {
    s.Connect();
    qx4dump::TagAccess& tag = WriteAccess(s);
    ConfirmLock(s, std::string("locking the ") + what + " of " + TagName(s));
    if ((tag.*lock)())
        s.Line(line);
    else
        s.Fail(tag.failure());
}

} // namespace

void RunWriteAfi(Session& s) {
    TagByte(s, &qx4dump::TagAccess::WriteAfi, "AFI written");
}
void RunLockAfi(Session& s) {
    TagLock(s, &qx4dump::TagAccess::LockAfi, "AFI", "AFI locked");
}
void RunWriteDsfid(Session& s) {
    TagByte(s, &qx4dump::TagAccess::WriteDsfid, "DSFID written");
}
void RunLockDsfid(Session& s) {
    TagLock(s, &qx4dump::TagAccess::LockDsfid, "DSFID", "DSFID locked");
}

void RunInfo(Session& s) {
    s.Connect();
    qx4dump::TagAccess& tag = s.Tag(false);
    qx4dump::SystemInfo info;
    if (!tag.ReadSystemInfo(info)) return s.Fail(tag.failure());
    ShowSystemInfo(s, info);
}

namespace {

// my-d commands mean nothing to another maker's chip: say so before the tag refuses them.
void NoteMydMaker(Session& s) {
    const std::optional<Uid> uid = s.Target(false);
    if (!uid || qx4dump::Manufacturer(*uid) == qx4dump::kMydManufacturer) return;
    s.Note("tag " + UidText(uid->data()) + " is by " + qx4dump::ManufacturerText(*uid) +
           ", not a my-d tag (manufacturer code 0x05): its chip may not know my-d commands");
}

} // namespace

void RunMydRead(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255);
    s.Connect();
    NameTarget(s);
    NoteMydMaker(s);
    s.UseTagBlockSize();
    const int mode = s.RequestMode();
    Bytes out(size_t(QX4GetTagMydBlockSize()) + 1);
    if (!s.Check(QX4Myd_Read(mode, block, out.data(), s.TargetUid()), "QX4Myd_Read")) return;
    if (mode & 0x10) {
        s.Field("locked", (out[0] & 1) != 0);
        out.erase(out.begin());
    } else {
        out.pop_back();
    }
    s.Field("data", Hex(out, ""), Hex(out) + "  " + Printable(out.data(), out.size()));
}

namespace {

// The my-d block size; data that is not exactly one block is refused before any write.
size_t MydBlock(Session& s, const Bytes& data) {
    s.UseTagBlockSize();
    const size_t k = static_cast<size_t>(QX4GetTagMydBlockSize());
    if (data.size() != k)
        throw UsageError("HEXBYTES must be one whole my-d block: " + std::to_string(k) +
                         " bytes, not " + std::to_string(data.size()));
    return k;
}

} // namespace

void RunMydWrite(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255);
    const Bytes data = s.HexArg(1, "HEXBYTES");
    s.Connect();
    OneTag(s);
    NoteMydMaker(s);
    MydBlock(s, data);
    const int mode = s.RequestMode();
    Done(s, QX4MydWrite(mode, block, data.data(), s.TargetUid()), "QX4MydWrite",
         "my-d block written");
}

void RunMydWriteByte(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255), first = s.IntArg(1, "BYTE1", 0, 255),
              second = s.IntArg(2, "BYTE2", 0, 255);
    s.Connect();
    OneTag(s);
    NoteMydMaker(s);
    const int mode = s.RequestMode();
    Done(s, QX4Myd_WriteByte(mode, block, first, second, s.TargetUid()), "QX4Myd_WriteByte",
         "my-d byte written");
}

void RunMydWriteReread(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255);
    Bytes data = s.HexArg(1, "HEXBYTES");
    s.Connect();
    OneTag(s);
    NoteMydMaker(s);
    const size_t k = MydBlock(s, data);
    data.resize(k + 1, 0); // room for the status byte read back
    const Bytes written(data.begin(), data.begin() + static_cast<long>(k));
    const int mode = s.RequestMode();
    if (!s.Check(QX4MydWriteReread(mode, block, data.data(), s.TargetUid()), "QX4MydWriteReread"))
        return;
    const Bytes back(data.begin() + (mode & 0x10 ? 1 : 0),
                     data.begin() + static_cast<long>(k) + (mode & 0x10 ? 1 : 0));
    s.Field("readBack", Hex(back, ""), Hex(back));
    s.Field("matches", back == written);
}

void RunRaw(Session& s) {
    Bytes data = s.HexArg(0, "HEXBYTES");
    if (const auto& uid = s.options().uid; uid && data.size() >= 2) {
        // --uid addresses the request: the mode byte (the last given) says so, the UID follows.
        data.back() |= 0x01;
        data.insert(data.end(), uid->begin(), uid->end());
    }
    if (data.empty() || data.size() > 255)
        throw UsageError("HEXBYTES holds 1 to 255 bytes: ISO 15693 code, parameters, mode byte");
    s.Connect();
    unsigned char reply[255];
    int length = 0;
    if (!s.Check(QX4Transceive(0x78, data.data(), static_cast<int>(data.size()), reply,
                               sizeof reply, &length),
                 "QX4Transceive"))
        return;
    s.Field("reply", Hex(reply, size_t(length), ""), Hex(reply, size_t(length)));
}

} // namespace qx4cli
