// qx4 subcommands for the tag in the reader's field.
#include "command_table.h"
#include "system_info.h"

#include <cstdio>

namespace qx4cli {
namespace {

int BlockSize() {
    return QX4GetTagBlockSize();
}

void Done(Session& s, unsigned char result, const char* function, const char* line) {
    if (s.Check(result, function)) s.Line(line);
}

// Lines "block N: data" and the JSON list, from a read that may carry status bytes.
void ShowBlocks(Session& s, int first, const Bytes& out, int count, bool withStatus) {
    const size_t k = static_cast<size_t>(BlockSize()), stride = k + (withStatus ? 1 : 0);
    nlohmann::json blocks = nlohmann::json::array();
    for (int i = 0; i < count; ++i) {
        const uint8_t* block = out.data() + i * stride;
        nlohmann::json entry{{"block", first + i},
                             {"data", Hex(block + (withStatus ? 1 : 0), k, "")}};
        std::string line =
            "block " + std::to_string(first + i) + ": " + Hex(block + (withStatus ? 1 : 0), k);
        if (withStatus) {
            entry["security"] = block[0];
            line += block[0] & 1 ? "  (locked)" : "";
        }
        blocks.push_back(entry);
        s.Line(line);
    }
    s.result()["blocks"] = blocks;
}

} // namespace

void RunInventory(Session& s) {
    s.Connect();
    unsigned char dsfid = 0;
    Uid uid{};
    if (!s.Check(QX4Inventory(0x40 | s.RequestMode(), &dsfid, uid.data()), "QX4Inventory")) return;
    s.Field("uid", UidText(uid.data()));
    s.Field("dsfid", dsfid);
}

void RunScan(Session& s) {
    s.Connect();
    unsigned char count = 0;
    if (!s.Check(QX4Inventory2(0, 0, &count), "QX4Inventory2")) return;
    s.Field("count", count);
    ShowUidList(s, count);
}

void RunQuiet(Session& s) {
    const Uid uid = s.UidArg(0, "UID");
    s.Connect();
    Done(s, QX4StayQuiet(s.RequestMode(), uid.data()), "QX4StayQuiet", "tag is quiet");
}

void RunSelect(Session& s) {
    const Uid uid = s.UidArg(0, "UID");
    s.Connect();
    Done(s, QX4SelectTag(s.RequestMode(), uid.data()), "QX4SelectTag", "tag is selected");
}

void RunReset(Session& s) {
    s.Connect();
    Done(s, QX4ResetToReady(s.RequestMode(), s.TargetUid()), "QX4ResetToReady", "tag is ready");
}

void RunRead(Session& s) {
    const int first = s.IntArg(0, "BLOCK", 0, 255);
    const int count = s.HasArg(1) ? s.IntArg(1, "COUNT", 1, 256) : 1;
    s.Connect();
    const int mode = s.RequestMode();
    Bytes out(size_t(count) * (size_t(BlockSize()) + 1) + 1);
    const unsigned char result =
        count == 1 ? QX4ReadSingleBlock(mode, first, out.data(), s.TargetUid())
                   : QX4ReadMultiBlock(mode, first, count - 1, out.data(), s.TargetUid());
    if (s.Check(result, count == 1 ? "QX4ReadSingleBlock" : "QX4ReadMultiBlock"))
        ShowBlocks(s, first, out, count, mode & 0x10);
}

void RunWrite(Session& s) {
    const int first = s.IntArg(0, "BLOCK", 0, 255);
    const Bytes data = s.HexArg(1, "HEXBYTES");
    s.Connect();
    const size_t k = static_cast<size_t>(BlockSize());
    if (data.empty() || data.size() % k)
        throw UsageError("HEXBYTES must be whole blocks of " + std::to_string(k) + " bytes");
    const int blocks = static_cast<int>(data.size() / k);
    const unsigned char result =
        blocks == 1
            ? QX4WriteSingleBlock(s.RequestMode(), first, data.data(), s.TargetUid())
            : QX4WriteMultiBlock(s.RequestMode(), first, blocks - 1, data.data(), s.TargetUid());
    if (s.Check(result, blocks == 1 ? "QX4WriteSingleBlock" : "QX4WriteMultiBlock"))
        s.Field("written", blocks, std::to_string(blocks) + " block(s)");
}

void RunLock(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255);
    s.Connect();
    Done(s, QX4LockBlock(s.RequestMode(), block, s.TargetUid()), "QX4LockBlock", "block locked");
}

void RunWrite2(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255);
    const Bytes data = s.HexArg(1, "HEXBYTES");
    s.Connect();
    if (data.size() != 2 * size_t(BlockSize()))
        throw UsageError("HEXBYTES must be two blocks: " + std::to_string(2 * BlockSize()) +
                         " bytes");
    Done(s, QX4Write2Blocks(s.RequestMode(), block, data.data(), s.TargetUid()), "QX4Write2Blocks",
         "two blocks written");
}

void RunLock2(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255);
    s.Connect();
    Done(s, QX4Lock2Blocks(s.RequestMode(), block, s.TargetUid()), "QX4Lock2Blocks",
         "two blocks locked");
}

void RunReadBytes(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255), count = s.IntArg(1, "COUNT", 1, 254);
    s.Connect();
    Bytes out(static_cast<size_t>(count));
    if (s.Check(QX4ReadBytes(s.RequestMode(), block, count - 1, out.data(), s.TargetUid()),
                "QX4ReadBytes"))
        s.Field("data", Hex(out, ""), Hex(out));
}

void RunWriteBytes(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255);
    const Bytes data = s.HexArg(1, "HEXBYTES");
    if (data.size() > 243) throw UsageError("HEXBYTES holds at most 243 bytes");
    s.Connect();
    Done(s,
         QX4WriteBytes(s.RequestMode(), block, static_cast<int>(data.size()), data.data(),
                       s.TargetUid()),
         "QX4WriteBytes", "bytes written");
}

void RunSecurity(Session& s) {
    const int first = s.IntArg(0, "BLOCK", 0, 255), count = s.IntArg(1, "COUNT", 1, 254);
    s.Connect();
    Bytes out(static_cast<size_t>(count));
    if (s.Check(QX4GetMBlockSecSt(s.RequestMode(), first, count - 1, out.data(), s.TargetUid()),
                "QX4GetMBlockSecSt"))
        s.Field("security", Hex(out, ""), Hex(out));
}

void RunWriteAfi(Session& s) {
    const int value = s.IntArg(0, "VALUE", 0, 255);
    s.Connect();
    Done(s, QX4WriteAFI(s.RequestMode(), value, s.TargetUid()), "QX4WriteAFI", "AFI written");
}

void RunLockAfi(Session& s) {
    s.Connect();
    Done(s, QX4LockAFI(s.RequestMode(), s.TargetUid()), "QX4LockAFI", "AFI locked");
}

void RunWriteDsfid(Session& s) {
    const int value = s.IntArg(0, "VALUE", 0, 255);
    s.Connect();
    Done(s, QX4WrietDSFID(s.RequestMode(), value, s.TargetUid()), "QX4WrietDSFID", "DSFID written");
}

void RunLockDsfid(Session& s) {
    s.Connect();
    Done(s, QX4LockDSFID(s.RequestMode(), s.TargetUid()), "QX4LockDSFID", "DSFID locked");
}

void RunInfo(Session& s) {
    s.Connect();
    SystemInfo info;
    if (!s.Check(ReadSystemInfo(s.RequestMode() & 0x03, s.TargetUid(), info), "QX4GetSystemInfo"))
        return;
    ShowSystemInfo(s, info);
}

void RunMydRead(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255);
    s.Connect();
    Bytes out(size_t(QX4GetTagMydBlockSize()) + 1);
    const int mode = s.RequestMode();
    if (!s.Check(QX4Myd_Read(mode, block, out.data(), s.TargetUid()), "QX4Myd_Read")) return;
    if (!(mode & 0x10)) out.pop_back();
    s.Field("data", Hex(out, ""), Hex(out));
}

void RunMydWrite(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255);
    Bytes data = s.HexArg(1, "HEXBYTES");
    s.Connect();
    const size_t k = static_cast<size_t>(QX4GetTagMydBlockSize());
    if (data.size() > k) throw UsageError("a my-d block holds " + std::to_string(k) + " bytes");
    data.resize(k, 0);
    Done(s, QX4MydWrite(s.RequestMode(), block, data.data(), s.TargetUid()), "QX4MydWrite",
         "my-d block written");
}

void RunMydWriteByte(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255), first = s.IntArg(1, "BYTE1", 0, 255),
              second = s.IntArg(2, "BYTE2", 0, 255);
    s.Connect();
    Done(s, QX4Myd_WriteByte(s.RequestMode(), block, first, second, s.TargetUid()),
         "QX4Myd_WriteByte", "my-d byte written");
}

void RunMydWriteReread(Session& s) {
    const int block = s.IntArg(0, "BLOCK", 0, 255);
    Bytes data = s.HexArg(1, "HEXBYTES");
    s.Connect();
    const size_t k = static_cast<size_t>(QX4GetTagMydBlockSize());
    if (data.size() > k) throw UsageError("a my-d block holds " + std::to_string(k) + " bytes");
    data.resize(k + 1, 0);
    const Bytes written(data.begin(), data.begin() + static_cast<long>(k));
    const int mode = s.RequestMode();
    if (!s.Check(QX4MydWriteReread(mode, block, data.data(), s.TargetUid()), "QX4MydWriteReread"))
        return;
    const Bytes back(data.begin() + (mode & 0x10 ? 1 : 0),
                     data.begin() + static_cast<long>(k) + (mode & 0x10 ? 1 : 0));
    s.Field("readBack", Hex(back, ""), Hex(back));
    s.Field("matches", back == written);
}

} // namespace qx4cli
