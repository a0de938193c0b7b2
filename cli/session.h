// What every qx4 subcommand shares: the connection options, the open library, the tag
// it addresses, and how results and failures are reported (text or one JSON object).
#pragma once

#include "link_observer.h"
#include "qx4drv.h"
#include "tag_access.h"

#include <atomic>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qx4sim {
class SimulatedReader;
}

namespace qx4cli {

class StateFile;
using Bytes = std::vector<uint8_t>;
using Uid = qx4dump::Uid;

// Bad usage: exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// A refusal that is not the reader's fault, such as several tags where one is needed: exit 2.
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The failure is already recorded in the session (with its exit status): the run ends.
struct RunEnded : std::runtime_error {
    RunEnded() : std::runtime_error("the run ended") {}
};

// Exit statuses of qx4, one meaning each.
enum ExitStatus {
    kExitOk = 0,
    kExitFailed = 1,   // the reader or the tag failed, or the result differs
    kExitRefused = 2,  // bad usage, a refusal (diff: the comparison could not be made)
    kExitNoAnswer = 3, // no tag answered, or the reader did not answer
};
// The signal that interrupted the run (0: none); the status is then 128 + the signal.
extern std::atomic<int> stopSignal;

struct Options {
    int port = 3;
    std::string device;
    bool slow = false;
    int timeoutMs = 2000;
    bool simulate = false;
    std::string fieldFile; // with --simulate: the field
    std::string stateFile; // with --simulate: the field, kept across runs
    bool unaddressed = false;
    std::optional<Uid> uid;
    bool option = false;
    int blockSize = 0;  // 0: from the tag
    int blockCount = 0; // 0: from the tag
    bool trace = false;
    bool json = false;
    // The library is already open (the MQTT gateway): Connect only watches the link,
    // and the session leaves the port open when it ends.
    bool attached = false;
    // Whether a lock may ask on a terminal, and how a caller confirms one instead.
    bool mayAsk = true;
    bool confirmed = false; // as --yes, from a caller that decided already
    std::string confirmWith = "--yes";
    // Options of single commands (checked against the command's list).
    bool all = false, force = false, locks = false, events = false, noProbe = false;
    int leaveAfterMs = 0; // watch --events: unseen this long, a tag has left (0: from the period)
    std::string format;
    // ndef write: the records in order, as qx4ndef::RecordFromJson takes them, plus
    // "dataFile" (--mime) and "messageFile" (--message) read when the command runs.
    nlohmann::json ndefRecords = nlohmann::json::array();
    std::vector<std::string> used; // the command options given, for that check
};

// Numbers: decimal, or hexadecimal with 0x; never octal. nullopt when it is neither.
std::optional<long> ParseNumber(const std::string& text);

class Session {
  public:
    Session(Options options, std::vector<std::string> arguments);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const Options& options() const { return options_; }
    std::string Arg(size_t index, const char* what) const; // UsageError when missing
    int IntArg(size_t index, const char* what, int low, int high) const;
    Bytes HexArg(size_t index, const char* what) const;
    Uid UidArg(size_t index, const char* what) const;
    bool HasArg(size_t index) const { return index < args_.size(); }

    // Opens the port (and the simulated reader with --simulate); throws on failure.
    // ForModeWrite: a failed link check only notes it, for the mode write goes out
    // anyway (a scanning reader may refuse everything else).
    enum class Then { Commands, ModeWrite };
    void Connect(Then then = Then::Commands);
    qx4sim::SimulatedReader* simulator() { return simulator_.get(); }

    // The one tag of this run: --uid, else the UID one inventory finds (several tags in
    // the field refuse an operation of several commands), else unaddressed with
    // --unaddressed. Throws when no tag answers.
    std::optional<Uid> Target(bool severalCommands);
    qx4dump::TagAccess& Tag(bool severalCommands);
    // The mode byte for commands sent with the target: option flag and UID designation.
    int RequestMode();
    const unsigned char* TargetUid();
    qx4dump::Geometry Overrides() const { return {options_.blockSize, options_.blockCount, false}; }
    // Block size (and my-d block size) from the tag unless --block-size; notes what is missing.
    // *blockCount: the tag's block count (or --blocks), 0 when unknown.
    int UseTagBlockSize(int* blockCount = nullptr);

    // Results. Check() turns a 0 into the failure of this run, naming its cause.
    nlohmann::json& result() { return result_; }
    void Field(const std::string& name, const nlohmann::json& value, const std::string& text = {});
    void Line(const std::string& text); // text mode only
    // Standard output carries data (dump -): the report goes to standard error instead.
    void ReportOnStderr() { reportOnStderr_ = true; }
    void Note(const std::string& text); // standard error in text mode, "notes" in JSON
    bool Check(unsigned char result, const char* function);
    void Fail(const qx4dump::CallFailure& failure);
    void Fail(const std::string& text, int status = kExitFailed);
    // The exit status a failure of this run gives (after an interruption: 128 + signal).
    int Status() const;
    // diff keeps 1 for differences: its other failures become kExitRefused.
    void FailuresAreTrouble() { troubleOnly_ = true; }
    int Finish(const std::string& command); // prints; returns the exit status
    // The one JSON object of this run, as --json prints it; false in *ok on failure.
    nlohmann::json Report(const std::string& command, bool* ok = nullptr);

    qx4dump::LinkObserver& link() { return *link_; }

  private:
    void SaveState();
    // How the tag was reached (frames sent again, shorter runs): notes and "retries".
    void TakeTagNotes();

    Options options_;
    std::vector<std::string> args_;
    std::unique_ptr<qx4sim::SimulatedReader> simulator_;
    std::unique_ptr<StateFile> state_; // --state: locked from Connect to the end
    std::unique_ptr<qx4dump::LinkObserver> link_;
    std::unique_ptr<qx4dump::TagAccess> tag_;
    std::optional<std::optional<Uid>> target_;
    nlohmann::json result_ = nlohmann::json::object();
    std::vector<std::string> lines_, notes_;
    std::optional<std::string> failure_;
    int status_ = kExitOk;
    bool troubleOnly_ = false;
    bool reportOnStderr_ = false;
    bool tagNotesTaken_ = false;
    Uid noUid_{};
};

std::string Hex(const uint8_t* bytes, size_t count, const char* separator = " ");
inline std::string Hex(const Bytes& bytes, const char* separator = " ") {
    return Hex(bytes.data(), bytes.size(), separator);
}
std::string UidText(const uint8_t* uid); // most significant byte first
std::string HexByte(unsigned value);     // "0x1C": codes, registers, AFI and DSFID in text
// Bytes as text a terminal shows safely: printable ASCII as it is, the rest as \xNN.
std::string Printable(const uint8_t* bytes, size_t count);
// A line for a terminal: control characters (C0, DEL, C1) escaped as \xNN, the rest
// (UTF-8 texts of the reader included) as it is.
std::string TerminalSafe(const std::string& text);
inline std::string Printable(const std::string& text) {
    return Printable(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// A dump file of any format; one that cannot be used is a Refusal saying why.
std::vector<qx4dump::TagDump> LoadDumpFile(const std::string& path);

// The reader's collected UIDs 1 to count, as lines and as the JSON list "uids".
std::vector<Uid> ShowUidList(Session& s, int count);
// One line a frame for --trace: direction, command or response by name, the bytes.
std::string DescribeFrame(int direction, const uint8_t* bytes, unsigned count, uint8_t lastCommand);

} // namespace qx4cli
