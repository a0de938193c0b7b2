// What every qx4 subcommand shares: the connection options, the open library, and
// how results and failures are reported (text or one JSON object).
#pragma once

#include "qx4drv.h"

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

using Bytes = std::vector<uint8_t>;
using Uid = std::array<uint8_t, 8>;

// Bad usage: exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    int port = 3;
    std::string device;
    bool slow = false;
    int timeoutMs = 2000;
    bool simulate = false;
    std::string fieldFile;
    bool addressed = false;
    std::optional<Uid> uid;
    bool option = false;
    int blockSize = 0; // 0: ask the tag (system information) where it matters, else 4
    bool trace = false;
    bool json = false;
};

class Session {
  public:
    Session(Options options, std::vector<std::string> arguments);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const Options& options() const { return options_; }
    const std::vector<std::string>& args() const { return args_; }
    std::string Arg(size_t index, const char* what) const; // UsageError when missing
    int IntArg(size_t index, const char* what, int low, int high) const;
    Bytes HexArg(size_t index, const char* what) const;
    Uid UidArg(size_t index, const char* what) const;
    bool HasArg(size_t index) const { return index < args_.size(); }

    // Opens the port (and the simulated reader with --simulate); throws on failure.
    void Connect();
    qx4sim::SimulatedReader* simulator() { return simulator_.get(); }

    // Request mode byte from --option and --addressed/--uid, and the UID to pass.
    int RequestMode() const;
    const unsigned char* TargetUid();

    // Result reporting. Check() turns a 0 into a Failure naming the cause.
    nlohmann::json& result() { return result_; }
    void Field(const std::string& name, const nlohmann::json& value, const std::string& text = {});
    void Line(const std::string& text); // text mode only
    bool Check(unsigned char result, const char* function);
    int Finish(const std::string& command); // prints; returns the exit status

    // Frames seen since the last Check (for the failure explanation and --trace).
    void OnFrame(int direction, const unsigned char* bytes, unsigned count);

  private:
    Options options_;
    std::vector<std::string> args_;
    std::unique_ptr<qx4sim::SimulatedReader> simulator_;
    nlohmann::json result_ = nlohmann::json::object();
    std::vector<std::string> lines_;
    std::optional<std::string> failure_;
    Bytes lastReceived_;
    bool received_ = false;
    Uid targetUid_{};
};

std::string Hex(const uint8_t* bytes, size_t count, const char* separator = " ");
inline std::string Hex(const Bytes& bytes, const char* separator = " ") {
    return Hex(bytes.data(), bytes.size(), separator);
}
std::string UidText(const uint8_t* uid); // most significant byte first

// The reader's collected UIDs 1 to count, as lines and as the JSON list "uids".
void ShowUidList(Session& s, int count);

} // namespace qx4cli
