// qx4 probe: what a user's reader does, for bring-up and bug reports. Sends only reads:
// no mode, EEPROM, register, AFI/DSFID or block write and no lock, so the reader and its
// tags are left as they were found.
#include "command_table.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

namespace qx4cli {
namespace {

constexpr int kTries = 5;          // answered commands are timed this often
constexpr int kEepromWords = 256;  // addresses one byte carries
constexpr int kEepromChunk = 16;   // words a read asks for until one is refused
constexpr int kFrameEnvelope = 7;  // STX, address, command, n, ETX, sum, CR
constexpr int kBitsPerByte = 10;   // 8N1
constexpr int kIsoFlagsAndCrc = 3; // ISO 15693 flags byte and CRC around every frame

using Clock = std::chrono::steady_clock;

// ISO/IEC 15693 at the high data rate, one subcarrier: a request byte takes four 1-out-of-4
// positions of 2 x 512/fc, an answer byte eight bits of 512/fc; SOF and EOF around each,
// and the tag's wait t1 (4320/fc) before it answers. Milliseconds.
double AirMs(int requestBytes, int answerBytes) {
    constexpr double fc = 13.56e3; // cycles per millisecond
    constexpr double pulse = 512 / fc;
    const double request = 2 * pulse + requestBytes * 8 * pulse + pulse;
    const double answer = 4 * pulse + answerBytes * 8 * pulse + 4 * pulse;
    return request + 4320 / fc + answer;
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Rounded(double ms) {
    return static_cast<double>(static_cast<long>(ms * 100 + 0.5)) / 100;
}

std::string MsText(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", ms);
    return text;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

class Probe {
  public:
    explicit Probe(Session& s) : s_(s) {}

    // One call, its failure (nullopt on success) and how long it took.
    std::optional<qx4dump::CallFailure>
    Call(const char* function, const std::function<unsigned char()>& call, double* ms = nullptr) {
        s_.link().Mark();
        const auto start = Clock::now();
        const unsigned char result = call();
        if (ms) *ms = Ms(Clock::now() - start);
        return s_.link().Outcome(result, function, s_.options().timeoutMs);
    }

    // Timed: the median of kTries when the first one is answered.
    nlohmann::json Timed(const char* command, const char* function,
                         const std::function<unsigned char()>& call) {
        nlohmann::json entry{{"command", command}, {"function", function}};
        std::vector<double> times;
        for (int i = 0; i < kTries; ++i) {
            double ms = 0;
            const auto failure = Call(function, call, &ms);
            if (failure) {
                if (i == 0) {
                    entry["answered"] = false;
                    entry["error"] = failure->text;
                    if (failure->nack >= 0) entry["nack"] = failure->nack;
                    s_.Line("command " + std::string(command) + " (" + function +
                            "): not answered: " + failure->text);
                    return entry;
                }
                break; // timed from the answers it gave
            }
            times.push_back(ms);
        }
        const double median = Median(times);
        entry["answered"] = true;
        entry["ms"] = Rounded(median);
        entry["tries"] = times.size();
        s_.Line("command " + std::string(command) + " (" + function + "): answered, median " +
                MsText(median) + " of " + std::to_string(times.size()));
        return entry;
    }

    int Baud() const { return s_.options().slow ? 9600 : 19200; }
    double WireMs(int bytes) const { return 1000.0 * bytes * kBitsPerByte / Baud(); }

  private:
    Session& s_;
};

std::string Byte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

void ProbeFence(Session& s, Probe& probe) {
    double ms = 0;
    const auto failure = probe.Call("QX4Resync", QX4Resync, &ms);
    nlohmann::json fence{{"held", !failure}, {"ms", Rounded(ms)}};
    if (failure) fence["error"] = failure->text;
    s.result()["fence"] = fence;
    s.Line(failure ? "fence: not answered: " + failure->text : "fence: held (" + MsText(ms) + ")");
}

void ProbeEeprom(Session& s, Probe& probe) {
    Bytes words;
    std::optional<qx4dump::CallFailure> refusal;
    int chunk = kEepromChunk;
    for (int address = 0; address < kEepromWords;) {
        const int count = std::min(chunk, kEepromWords - address);
        Bytes data(2 * size_t(count));
        refusal = probe.Call("QX4GetEepromData2",
                             [&] { return QX4GetEepromData2(address, count, data.data()); });
        if (refusal && count > 1) {
            chunk = 1; // find the first word refused
            continue;
        }
        if (refusal) break;
        words.insert(words.end(), data.begin(), data.end());
        address += count;
    }
    const int readable = static_cast<int>(words.size() / 2);
    nlohmann::json eeprom{{"readable", readable}, {"data", Hex(words, "")}};
    if (refusal) {
        eeprom["refusedAt"] = readable;
        eeprom["refusal"] = refusal->text;
    }
    s.result()["eeprom"] = eeprom;
    std::string line = readable ? "eeprom: words 0 to " + std::to_string(readable - 1) + " readable"
                                : std::string("eeprom: no word readable");
    if (refusal) line += "; word " + std::to_string(readable) + " refused: " + refusal->text;
    s.Line(line);
}

nlohmann::json ProbeTag(Session& s, Probe& probe, const Uid& uid) {
    const std::string name = UidText(uid.data());
    nlohmann::json entry{{"uid", name}, {"type", qx4dump::TypeName(qx4dump::TypeOfUid(uid))}};
    qx4dump::TagAccess tag(s.link(), uid, s.options().timeoutMs);
    qx4dump::SystemInfo info;
    std::string line = "tag " + name + ": " + qx4dump::TypeName(qx4dump::TypeOfUid(uid));
    if (tag.ReadSystemInfo(info)) {
        entry["infoFlags"] = info.flags;
        if (info.dsfid) entry["dsfid"] = *info.dsfid;
        if (info.afi) entry["afi"] = *info.afi;
        if (info.icReference) entry["icReference"] = *info.icReference;
        if (info.blockCount) entry["blockCount"] = *info.blockCount;
        if (info.blockSize) entry["blockSize"] = *info.blockSize;
        line += info.blockCount && info.blockSize
                    ? ", " + std::to_string(*info.blockCount) + " blocks of " +
                          std::to_string(*info.blockSize) + " bytes"
                    : ", no memory size given";
        if (info.dsfid) line += ", DSFID " + Byte(*info.dsfid);
        if (info.afi) line += ", AFI " + Byte(*info.afi);
        if (info.icReference) line += ", IC reference " + Byte(*info.icReference);
    } else {
        entry["systemInfoError"] = tag.failure().text;
        line += ", no system information: " + tag.failure().text;
    }
    s.Line(line);
    const int k = info.blockSize.value_or(4);
    tag.UseBlockSize(k);
    Bytes block(size_t(k) + 1);
    std::vector<double> times;
    std::optional<qx4dump::CallFailure> failure;
    for (int i = 0; i < kTries && !failure; ++i) {
        double ms = 0;
        failure = probe.Call(
            "QX4ReadSingleBlock",
            [&] { return QX4ReadSingleBlock(0x01, 0, block.data(), uid.data()); }, &ms);
        if (!failure) times.push_back(ms);
    }
    if (times.empty()) {
        entry["read"] = {{"block", 0}, {"error", failure->text}};
        s.Line("  read block 0: " + failure->text);
        return entry;
    }
    // Request: code, block, mode, UID; reply: code and the block. On the air: flags, code,
    // UID, block, CRC; the answer's flags, the block, CRC.
    const double wire = probe.WireMs(kFrameEnvelope + 11) + probe.WireMs(kFrameEnvelope + 1 + k);
    const double air = AirMs(kIsoFlagsAndCrc + 1 + 8 + 1, kIsoFlagsAndCrc + k);
    const double median = Median(times);
    entry["read"] = {{"block", 0},
                     {"data", Hex(block.data(), size_t(k), "")},
                     {"ms", Rounded(median)},
                     {"tries", times.size()},
                     {"wireMs", Rounded(wire)},
                     {"airMs", Rounded(air)}};
    s.Line("  read block 0: " + MsText(median) + " (median of " + std::to_string(times.size()) +
           "; wire " + MsText(wire) + ", air " + MsText(air) + ", together " + MsText(wire + air) +
           ")");
    return entry;
}

void ProbeTags(Session& s, Probe& probe) {
    unsigned char count = 0;
    nlohmann::json tags = nlohmann::json::array();
    const auto failure = probe.Call("QX4Inventory2", [&] { return QX4Inventory2(0, 0, &count); });
    if (failure) {
        s.result()["tagsError"] = failure->text;
        s.Line("tags: none found: " + failure->text);
    }
    std::vector<Uid> uids;
    for (int index = 1; !failure && index <= count; ++index) {
        Uid uid{};
        if (!probe.Call("QX4GetUidData", [&] { return QX4GetUidData(index, uid.data()); }))
            uids.push_back(uid);
    }
    for (const Uid& uid : uids)
        tags.push_back(ProbeTag(s, probe, uid));
    s.result()["tags"] = tags;
}

std::optional<std::array<unsigned char, 3>> ReadMode(Probe& probe) {
    std::array<unsigned char, 3> mode{};
    if (probe.Call("QX4GetRWMode", [&] { return QX4GetRWMode(&mode[0], &mode[1], &mode[2]); }))
        return std::nullopt;
    return mode;
}

} // namespace

void RunProbe(Session& s) {
    const auto start = Clock::now();
    s.Connect();
    Probe probe(s);
    s.result()["baud"] = probe.Baud();
    char text[256] = {};
    if (!probe.Call("QX4GetROMVersion", [&] { return QX4GetROMVersion(text); }))
        s.Field("version", Printable(text));
    std::fill(std::begin(text), std::end(text), 0);
    if (!probe.Call("QX4GetModelNameComad", [&] { return QX4GetModelNameComad(text); }))
        s.Field("model", Printable(text));
    const auto found = ReadMode(probe);
    if (found) {
        s.result()["modeFound"] = {
            {"mode", (*found)[0]}, {"second", (*found)[1]}, {"flags", (*found)[2]}};
        s.Line("mode found: " + Byte((*found)[0]) + " " + Byte((*found)[1]) + " " +
               Byte((*found)[2]));
    }
    ProbeFence(s, probe);

    unsigned char byte = 0, more = 0, flags = 0;
    char name[256] = {};
    Uid uid{};
    nlohmann::json commands = nlohmann::json::array();
    commands.push_back(
        probe.Timed("version", "QX4GetROMVersion", [&] { return QX4GetROMVersion(name); }));
    commands.push_back(
        probe.Timed("model", "QX4GetModelNameComad", [&] { return QX4GetModelNameComad(name); }));
    commands.push_back(
        probe.Timed("power-state", "QX4GetPowerDown", [&] { return QX4GetPowerDown(&byte); }));
    commands.push_back(
        probe.Timed("error-status", "QX4GetErrorStatus", [&] { return QX4GetErrorStatus(&byte); }));
    commands.push_back(
        probe.Timed("io-read", "QX4ReadIOPort", [&] { return QX4ReadIOPort(&byte); }));
    commands.push_back(
        probe.Timed("op-mode", "QX4GetRWMode", [&] { return QX4GetRWMode(&byte, &more, &flags); }));
    commands.push_back(
        probe.Timed("tag-mode", "QX4GetTagMode", [&] { return QX4GetTagMode(&byte); }));
    commands.push_back(probe.Timed("uid-register", "QX4GetUIDGetCmd",
                                   [&] { return QX4GetUIDGetCmd(uid.data()); }));
    commands.push_back(
        probe.Timed("afi-register", "QX4GetAFIData", [&] { return QX4GetAFIData(&byte); }));
    commands.push_back(
        probe.Timed("uid-list", "QX4GetUidNumber", [&] { return QX4GetUidNumber(&byte); }));
    commands.push_back(probe.Timed("eeprom-read", "QX4GetEepromData2", [&] {
        unsigned char word[2];
        return QX4GetEepromData2(0, 1, word);
    }));
    s.result()["commands"] = commands;

    ProbeEeprom(s, probe);
    ProbeTags(s, probe);

    const auto after = ReadMode(probe);
    s.result()["modeKept"] = found && after && *found == *after;
    if (found && after && *found != *after)
        s.Line("mode: now " + Byte((*after)[0]) + " " + Byte((*after)[1]) + " " +
               Byte((*after)[2]) + ", not as found (the reader changed it itself)");
    const bool echoHeld = s.link().notEchoed() == 0;
    s.result()["echo"] = {{"held", echoHeld},
                          {"answers", s.link().echoed() + s.link().notEchoed()},
                          {"notEchoed", s.link().notEchoed()}};
    s.Line(echoHeld
               ? "echo: every answer echoed its request (" + std::to_string(s.link().echoed()) + ")"
               : "echo: " + std::to_string(s.link().notEchoed()) +
                     " answer(s) did not echo their request");
    const double total = Ms(Clock::now() - start);
    s.result()["ms"] = Rounded(total);
    s.Line("probe took " + MsText(total));
}

} // namespace qx4cli
