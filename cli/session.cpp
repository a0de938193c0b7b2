#include "session.h"

#include "field_file.h"
#include "simulated_reader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace qx4cli {
namespace {

Session* current = nullptr;

void Trace(int direction, const unsigned char* bytes, unsigned count, void*) {
    if (current) current->OnFrame(direction, bytes, count);
}

} // namespace

std::string Hex(const uint8_t* bytes, size_t count, const char* separator) {
    std::string text;
    char digits[3];
    for (size_t i = 0; i < count; ++i) {
        if (i) text += separator;
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        text += digits;
    }
    return text;
}

std::string UidText(const uint8_t* uid) {
    std::string text;
    char digits[3];
    for (int i = 7; i >= 0; --i) {
        std::snprintf(digits, sizeof digits, "%02X", uid[i]);
        text += digits;
    }
    return text;
}

void ShowUidList(Session& s, int count) {
    nlohmann::json uids = nlohmann::json::array();
    for (int index = 1; index <= count; ++index) {
        Uid uid{};
        if (!s.Check(QX4GetUidData(index, uid.data()), "QX4GetUidData")) return;
        uids.push_back(UidText(uid.data()));
        s.Line("uid " + std::to_string(index) + ": " + UidText(uid.data()));
    }
    s.result()["uids"] = uids;
}

Session::Session(Options options, std::vector<std::string> arguments)
    : options_(std::move(options)), args_(std::move(arguments)) {
    current = this;
}

Session::~Session() {
    QX4SetTraceHook(nullptr, nullptr);
    QX4DllClose();
    current = nullptr;
}

std::string Session::Arg(size_t index, const char* what) const {
    if (index >= args_.size()) throw UsageError(std::string("missing ") + what);
    return args_[index];
}

int Session::IntArg(size_t index, const char* what, int low, int high) const {
    const std::string text = Arg(index, what);
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end || value < low || value > high)
        throw UsageError(std::string(what) + " must be a number from " + std::to_string(low) +
                         " to " + std::to_string(high) + ", not \"" + text + "\"");
    return static_cast<int>(value);
}

Bytes Session::HexArg(size_t index, const char* what) const {
    std::string text = Arg(index, what);
    std::erase_if(text, [](char c) { return c == ' ' || c == ':' || c == '-'; });
    try {
        return qx4sim::FromHex(text);
    } catch (const std::exception& error) {
        throw UsageError(std::string(what) + ": " + error.what());
    }
}

Uid Session::UidArg(size_t index, const char* what) const {
    const auto uid = qx4sim::ParseUidText(Arg(index, what));
    if (!uid) throw UsageError(std::string(what) + " must be 16 hexadecimal digits");
    return *uid;
}

void Session::Connect() {
    if (options_.simulate) {
        simulator_ = std::make_unique<qx4sim::SimulatedReader>();
        if (!options_.fieldFile.empty())
            simulator_->SetField(qx4sim::LoadField(options_.fieldFile));
        options_.device = simulator_->DevicePath();
    }
    if (!options_.device.empty())
        ::setenv(("QX4_COM" + std::to_string(options_.port)).c_str(), options_.device.c_str(), 1);
    QX4SetTraceHook(Trace, nullptr);
    if (!QX4DllOpen(options_.port, options_.slow ? 1 : 0))
        throw std::runtime_error("cannot open COM" + std::to_string(options_.port) + " (" +
                                 (options_.device.empty()
                                      ? "set --device or QX4_COM" + std::to_string(options_.port)
                                      : options_.device) +
                                 "): it does not exist, is in use, or is not a serial port");
    QX4SetCmdWaitTime(options_.timeoutMs);
    if (options_.blockSize) QX4SetTagBlockSize(options_.blockSize);
}

int Session::RequestMode() const {
    return (options_.option ? 0x10 : 0) | (options_.addressed || options_.uid ? 0x01 : 0);
}

const unsigned char* Session::TargetUid() {
    if (options_.uid) {
        targetUid_ = *options_.uid;
    } else if (options_.addressed && targetUid_ == Uid{}) {
        unsigned char dsfid;
        if (!QX4Inventory(0x40, &dsfid, targetUid_.data()))
            throw std::runtime_error("--addressed: no tag answered the inventory");
    }
    return targetUid_.data();
}

void Session::OnFrame(int direction, const unsigned char* bytes, unsigned count) {
    if (direction == QX4_TRACE_LOST) {
        std::fprintf(stderr, "qx4: %u received bytes lost: the receive ring was full\n", count);
        return;
    }
    if (direction == QX4_TRACE_RECEIVED) {
        lastReceived_.assign(bytes, bytes + count);
        received_ = true;
    }
    if (!options_.trace) return;
    using namespace std::chrono;
    const auto now = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    std::fprintf(stderr, "%lld.%06lld %s %s\n", static_cast<long long>(now / 1000000),
                 static_cast<long long>(now % 1000000), direction == QX4_TRACE_SENT ? "->" : "<-",
                 Hex(bytes, count).c_str());
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

bool Session::Check(unsigned char result, const char* function) {
    const bool seen = received_;
    received_ = false;
    if (result) return true;
    std::string cause;
    if (!seen) {
        cause = "the reader did not answer within " + std::to_string(options_.timeoutMs) + " ms";
    } else if (lastReceived_.size() > 4 && lastReceived_[2] == 0x31) {
        int code = 0, detail = 0;
        QX4GetErrorCode(&code, &detail);
        char codes[24];
        std::snprintf(codes, sizeof codes, code == 5 ? "%d/0x%02X" : "%d", code, detail);
        cause =
            std::string("the reader answered NACK ") + codes + ": " + QX4ErrorText(code, detail);
        result_["errorCode"] = code;
        result_["errorDetail"] = detail;
        result_["errorText"] = QX4ErrorText(code, detail);
    } else {
        cause = "the reader's answer (" + Hex(lastReceived_) + ") does not fit the request";
    }
    failure_ = std::string(function) + " failed: " + cause;
    return false;
}

int Session::Finish(const std::string& command) {
    if (options_.json) {
        nlohmann::json out = result_;
        out["command"] = command;
        out["ok"] = !failure_;
        if (failure_) out["error"] = *failure_;
        std::cout << out.dump() << "\n";
    } else {
        for (const auto& line : lines_)
            std::cout << line << "\n";
        if (failure_) std::cerr << "qx4: " << *failure_ << "\n";
    }
    return failure_ ? 1 : 0;
}

} // namespace qx4cli
