#include "session.h"

#include "dump_files.h"
#include "field_file.h"
#include "open_cause.h"
#include "simulated_reader.h"
#include "state_file.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace qx4cli {

std::optional<long> ParseNumber(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
            std::string::npos)
        return std::nullopt;
    return std::stol(digits, nullptr, hex ? 16 : 10);
}

std::string Hex(const uint8_t* bytes, size_t count, const char* separator) {
    return qx4dump::ToHex(bytes, count, separator);
}

std::string HexByte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

std::string UidText(const uint8_t* uid) {
    Uid copy;
    std::copy_n(uid, 8, copy.begin());
    return qx4dump::UidText(copy);
}

std::string Printable(const uint8_t* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            text += static_cast<char>(b);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, b == '\\' ? "\\\\" : "\\x%02X", b);
            text += escape;
        }
    }
    return text;
}

std::string TerminalSafe(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c1 ? text[++i] & 0xFF : c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::atomic<int> stopSignal{0};

namespace {

// The library's box texts, from whichever thread shows them.
std::mutex boxMutex;
std::vector<std::string> boxTexts;

void KeepBoxText(const char* text) {
    const std::lock_guard lock(boxMutex);
    if (boxTexts.size() < 16) boxTexts.emplace_back(text);
}

std::vector<std::string> TakeBoxTexts() {
    const std::lock_guard lock(boxMutex);
    return std::exchange(boxTexts, {});
}

} // namespace

std::vector<Uid> ShowUidList(Session& s, int count) {
    std::vector<Uid> found;
    nlohmann::json uids = nlohmann::json::array();
    for (int index = 1; index <= count; ++index) {
        Uid uid{};
        s.link().Mark();
        if (!s.Check(QX4GetUidData(index, uid.data()), "QX4GetUidData")) break;
        found.push_back(uid);
        uids.push_back(UidText(uid.data()));
        s.Line("uid " + std::to_string(index) + ": " + UidText(uid.data()));
    }
    s.result()["uids"] = uids;
    return found;
}

std::vector<qx4dump::TagDump> LoadDumpFile(const std::string& path) {
    try {
        return qx4dump::LoadDump(path);
    } catch (const qx4dump::FormatError& error) {
        throw Refusal(error.what());
    }
}

Session::Session(Options options, std::vector<std::string> arguments)
    : options_(std::move(options)), args_(std::move(arguments)) {}

Session::~Session() {
    tag_.reset();
    if (!options_.attached) QX4DllClose();
    link_.reset();
}

std::string Session::Arg(size_t index, const char* what) const {
    if (index >= args_.size()) throw UsageError(std::string("missing ") + what);
    return args_[index];
}

int Session::IntArg(size_t index, const char* what, int low, int high) const {
    const std::string text = Arg(index, what);
    const auto value = ParseNumber(text);
    if (!value || *value < low || *value > high)
        throw UsageError(std::string(what) + " must be a number from " + std::to_string(low) +
                         " to " + std::to_string(high) + " (decimal, or hex with 0x), not \"" +
                         text + "\"");
    return static_cast<int>(*value);
}

Bytes Session::HexArg(size_t index, const char* what) const {
    std::string text = Arg(index, what);
    std::erase_if(text, [](char c) { return c == ' ' || c == ':'; });
    const auto bytes = qx4dump::FromHex(text);
    if (!bytes) throw UsageError(std::string(what) + " must be pairs of hex digits");
    return *bytes;
}

Uid Session::UidArg(size_t index, const char* what) const {
    const auto uid = qx4dump::ParseUid(Arg(index, what));
    if (!uid) throw UsageError(std::string(what) + " must be 16 hex digits");
    return *uid;
}

void Session::Connect(Then then) {
    link_ = std::make_unique<qx4dump::LinkObserver>(
        [this, lastCommand = uint8_t{0}, started = std::chrono::steady_clock::now()](
            int direction, const uint8_t* bytes, unsigned count) mutable {
            if (direction == QX4_TRACE_LOST) {
                std::fprintf(stderr, "qx4: %u received bytes lost: the receive ring was full\n",
                             count);
                return;
            }
            if (direction == QX4_TRACE_SENT && count > 2) lastCommand = bytes[2];
            if (!options_.trace) return;
            // Seconds since the run began: the gaps between frames are what a trace is read for.
            using namespace std::chrono;
            const auto now = duration_cast<microseconds>(steady_clock::now() - started).count();
            std::fprintf(stderr, "%lld.%06lld %s\n", static_cast<long long>(now / 1000000),
                         static_cast<long long>(now % 1000000),
                         DescribeFrame(direction, bytes, count, lastCommand).c_str());
        });
    if (options_.attached) return;
    if (options_.simulate) {
        simulator_ = std::make_unique<qx4sim::SimulatedReader>();
        if (!options_.stateFile.empty()) {
            state_ = std::make_unique<StateFile>(options_.stateFile);
            if (const auto field = state_->Load())
                simulator_->SetField(*field);
            else if (!options_.fieldFile.empty())
                simulator_->SetField(qx4sim::TagsFromDumps(LoadDumpFile(options_.fieldFile)));
        } else if (!options_.fieldFile.empty()) {
            simulator_->SetField(qx4sim::TagsFromDumps(LoadDumpFile(options_.fieldFile)));
        }
        options_.device = simulator_->DevicePath();
    }
    if (!options_.device.empty())
        ::setenv(("QX4_COM" + std::to_string(options_.port)).c_str(), options_.device.c_str(), 1);
    // The library's boxes are qx4's to report: an open failure's reason goes into the
    // run's own error (text and JSON), nothing is printed beside it.
    const QX4PlatformHooks hooks{[](const char* text, const char*) { KeepBoxText(text); }, nullptr,
                                 nullptr};
    QX4SetPlatformHooks(&hooks);
    TakeBoxTexts();
    if (!QX4DllOpen(options_.port, options_.slow ? 1 : 0)) {
        const std::string device =
            options_.device.empty() ? DevicePathOf(options_.port) : options_.device;
        int code = 0;
        const std::string cause = OpenCause(code);
        TakeBoxTexts(); // the same reason, said by the library's box
        result_["systemError"] = code;
        result_["device"] = device;
        result_["cause"] = cause;
        Fail("cannot open COM" + std::to_string(options_.port) +
             (device.empty() ? std::string() : " (" + device + ")") + ": " + cause);
        throw RunEnded();
    }
    QX4SetCmdWaitTime(options_.timeoutMs);
    if (options_.blockSize) QX4SetTagBlockSize(options_.blockSize);
    // An earlier run's late answer may still be on the line: the fence passes it by, so
    // no command of this run takes it for its own.
    link_->Mark();
    const unsigned char inStep = QX4Resync();
    if (then == Then::ModeWrite && !inStep) {
        if (const auto failure = link_->Outcome(inStep, "QX4Resync", options_.timeoutMs))
            Note("QX4Resync failed: " + failure->text + "; the mode write goes out all the same");
    } else if (!Check(inStep, "QX4Resync")) {
        throw RunEnded();
    }
}

std::optional<Uid> Session::Target(bool severalCommands) {
    if (target_) return *target_;
    if (options_.unaddressed) return *(target_ = std::optional<Uid>{});
    if (options_.uid) return *(target_ = options_.uid);
    std::string error;
    bool several = false;
    qx4dump::CallFailure cause;
    const auto uid =
        qx4dump::FindTheTag(*link_, options_.timeoutMs, severalCommands, error, several, &cause);
    if (several) throw Refusal(error + ": name one with --uid");
    if (!uid) {
        Fail(cause);
        failure_ = error;
        throw RunEnded();
    }
    return *(target_ = uid);
}

qx4dump::TagAccess& Session::Tag(bool severalCommands) {
    if (!tag_)
        tag_ = std::make_unique<qx4dump::TagAccess>(*link_, Target(severalCommands),
                                                    options_.timeoutMs);
    return *tag_;
}

int Session::RequestMode() {
    return (options_.option ? 0x10 : 0) | (Target(false) ? 0x01 : 0);
}

const unsigned char* Session::TargetUid() {
    Target(false);
    return *target_ ? (*target_)->data() : noUid_.data();
}

int Session::UseTagBlockSize(int* blockCount) {
    // A block size given says all these commands need: no system information is asked.
    if (options_.blockSize) {
        if (blockCount) *blockCount = options_.blockCount;
        Tag(false).UseBlockSize(options_.blockSize);
        return options_.blockSize;
    }
    qx4dump::SystemInfo info;
    std::string note;
    qx4dump::TagAccess& tag = Tag(false);
    const qx4dump::Geometry geometry = tag.ReadGeometry(Overrides(), info, note);
    if (geometry.stop) { // no tag, or no reader: that is the cause, not the block size
        Fail(tag.failure());
        throw RunEnded();
    }
    if (!geometry.fromTag && !options_.blockSize)
        Note(note + ": assuming blocks of " + std::to_string(geometry.blockSize) +
             " bytes (--block-size)");
    if (info.blockSize && !options_.blockSize) QX4SetTagMydBlockSize(*info.blockSize);
    if (blockCount) *blockCount = geometry.blockCount;
    return geometry.blockSize;
}

void Session::Field(const std::string& name, const nlohmann::json& value, const std::string& text) {
    result_[name] = value;
    lines_.push_back(
        name + ": " +
        (text.empty() ? (value.is_string() ? value.get<std::string>() : value.dump()) : text));
}

void Session::Line(const std::string& text) {
    lines_.push_back(text);
}

void Session::Note(const std::string& text) {
    notes_.push_back(text);
}

bool Session::Check(unsigned char result, const char* function) {
    const auto failure = link_ ? link_->Outcome(result, function, options_.timeoutMs)
                               : std::optional<qx4dump::CallFailure>();
    if (!failure) return true;
    Fail(*failure);
    return false;
}

void Session::Fail(const qx4dump::CallFailure& failure) {
    failure_ = qx4dump::FailureText(failure);
    status_ = failure.NoTag() || failure.kind == qx4dump::CallFailure::Kind::TimedOut
                  ? kExitNoAnswer
                  : kExitFailed;
    if (failure.kind == qx4dump::CallFailure::Kind::Nack) {
        result_["nack"] = failure.nack;
        result_["nackText"] = qx4dump::EnglishNackText(failure.nack, -1);
        if (failure.iso >= 0) {
            result_["iso"] = failure.iso;
            result_["isoText"] = qx4dump::EnglishNackText(5, failure.iso);
        }
        result_["readerText"] = failure.reader;
    }
}

void Session::Fail(const std::string& text, int status) {
    failure_ = text;
    status_ = status;
}

int Session::Status() const {
    if (!failure_) return kExitOk;
    if (const int signal = stopSignal.load()) return 128 + signal;
    if (troubleOnly_ && status_ == kExitFailed) return kExitRefused;
    return status_;
}

void Session::TakeTagNotes() {
    if (!tag_ || tagNotesTaken_) return;
    tagNotesTaken_ = true;
    for (const std::string& note : tag_->Notes())
        notes_.push_back(note);
    if (tag_->retries()) result_["retries"] = tag_->retries();
}

void Session::SaveState() {
    if (simulator_ && state_) state_->Save(simulator_->Field());
}

int Session::Finish(const std::string& command) {
    try {
        SaveState();
    } catch (const std::exception& error) {
        Fail(error.what());
    }
    TakeTagNotes();
    std::ostream& report = reportOnStderr_ ? std::cerr : std::cout;
    if (options_.json) {
        report << Report(command).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
               << "\n";
    } else {
        for (const auto& line : lines_)
            report << TerminalSafe(line) << "\n";
        for (const auto& note : notes_)
            std::cerr << "qx4: note: " << TerminalSafe(note) << "\n";
        if (failure_) std::cerr << "qx4: " << TerminalSafe(*failure_) << "\n";
    }
    report.flush();
    if (!report) { // a full disk, a closed pipe: the result did not reach its reader
        std::cerr << "qx4: cannot write the result to standard "
                  << (reportOnStderr_ ? "error" : "output") << "\n";
        return 1;
    }
    return Status();
}

nlohmann::json Session::Report(const std::string& command, bool* ok) {
    TakeTagNotes();
    nlohmann::json out = result_;
    out["command"] = command;
    out["ok"] = !failure_;
    if (failure_) out["error"] = *failure_;
    if (!notes_.empty()) out["notes"] = notes_;
    if (ok) *ok = !failure_;
    return out;
}

} // namespace qx4cli
