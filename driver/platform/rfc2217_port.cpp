#include "platform/rfc2217_port.h"

#include <algorithm>
#include <chrono>

namespace qx4::platform {
namespace {

using namespace telnet;
using Clock = std::chrono::steady_clock;

constexpr int kAcknowledgementWaitMs = 500;

int MsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long>(0, left.count()));
}

} // namespace

Rfc2217Port::~Rfc2217Port() {
    CloseSocket(socket_);
}

bool Rfc2217Port::Send(const std::vector<uint8_t>& bytes) {
    std::lock_guard lock(sendMutex_);
    return SendWithin(socket_, bytes.data(), bytes.size()) == bytes.size();
}

bool Rfc2217Port::Receive(std::vector<uint8_t>& data, size_t limit) {
    uint8_t raw[1024];
    const ssize_t n = ReceiveQueued(socket_, raw, std::min(limit, sizeof raw));
    if (n < 0) return false;
    codec_.Feed(raw, static_cast<size_t>(n), data);
    const std::vector<uint8_t> replies = codec_.TakeReplies();
    return replies.empty() || Send(replies);
}

bool Rfc2217Port::Negotiate(int timeoutMs, std::string& error) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!Send(codec_.Greeting())) {
        error = "the server closed the connection";
        return false;
    }
    std::vector<uint8_t> early; // line data before the settings are stale, like a flushed queue
    while (!codec_.ComPortAgreed()) {
        if (codec_.ComPortRefused()) {
            error = "the server refused COM-PORT-OPTION (RFC 2217)";
            return false;
        }
        if (!AwaitSocket(socket_, MsUntil(deadline))) {
            error = "the server did not agree to COM-PORT-OPTION (RFC 2217) within " +
                    std::to_string(kConnectTimeoutMs / 1000) + " s";
            return false;
        }
        if (!Receive(early, 1024)) {
            error = "the server closed the connection";
            return false;
        }
        early.clear();
    }
    return true;
}

bool Rfc2217Port::WriteLineSettings(uint32_t baud) {
    const std::vector<uint8_t> rate{uint8_t(baud >> 24), uint8_t(baud >> 16), uint8_t(baud >> 8),
                                    uint8_t(baud)};
    std::vector<uint8_t> settings = TelnetCodec::ComPortCommand(kSetBaudRate, rate);
    for (const auto& [command, value] :
         {std::pair{kSetDataSize, uint8_t{8}}, std::pair{kSetParity, kParityNone},
          std::pair{kSetStopSize, kOneStopBit}, std::pair{kSetControl, kNoFlowControl}}) {
        const std::vector<uint8_t> one = TelnetCodec::ComPortCommand(command, {value});
        settings.insert(settings.end(), one.begin(), one.end());
    }
    if (!Send(settings)) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kAcknowledgementWaitMs);
    std::vector<uint8_t> early;
    auto allAnswered = [&] {
        for (uint8_t command = kSetBaudRate; command <= kSetControl; ++command)
            if (!codec_.Acknowledged(command)) return false;
        return true;
    };
    while (!allAnswered() && AwaitSocket(socket_, MsUntil(deadline))) {
        if (!Receive(early, 1024)) return false;
        early.clear();
    }
    return true;
}

size_t Rfc2217Port::Write(const uint8_t* bytes, size_t count) {
    std::vector<uint8_t> escaped;
    escaped.reserve(count + 8);
    TelnetCodec::AppendEscaped(escaped, bytes, count);
    return Send(escaped) ? count : 0;
}

ssize_t Rfc2217Port::Read(uint8_t* buffer, size_t capacity) {
    std::vector<uint8_t> data;
    if (!Receive(data, capacity)) return -1; // decoded data is never longer than what was read
    std::copy(data.begin(), data.end(), buffer);
    return static_cast<ssize_t>(data.size());
}

PortEvent Rfc2217Port::Wait(WakeSignal& wake) {
    return WaitSocket(socket_, wake);
}

} // namespace qx4::platform
