// The Telnet side of an RFC 2217 connection: option negotiation, IAC escaping, and the
// COM-PORT-OPTION subnegotiations. Pure bytes in, bytes out; no descriptor.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qx4::platform {

namespace telnet {
inline constexpr uint8_t kSe = 240, kSb = 250, kWill = 251, kWont = 252, kDo = 253, kDont = 254,
                         kIac = 255;
inline constexpr uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
// COM-PORT-OPTION commands, client to server; the server answers with command + 100.
inline constexpr uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                         kSetControl = 5, kServerOffset = 100;
inline constexpr uint8_t kParityNone = 1, kOneStopBit = 1, kNoFlowControl = 1;
} // namespace telnet

class TelnetCodec {
  public:
    // What the client says first: BINARY both ways, SUPPRESS-GO-AHEAD both ways, and that
    // it will use COM-PORT-OPTION.
    std::vector<uint8_t> Greeting();
    // Bytes from the server: line data is appended to `data`; negotiation and
    // subnegotiations are consumed here and never reach it.
    void Feed(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data);
    // Answers owed to the server's requests, to be written as they are.
    std::vector<uint8_t> TakeReplies();

    // Line data for the wire: every 0xFF doubled.
    static void AppendEscaped(std::vector<uint8_t>& out, const uint8_t* bytes, size_t count);
    // IAC SB COM-PORT-OPTION command value IAC SE, the value escaped.
    static std::vector<uint8_t> ComPortCommand(uint8_t command, const std::vector<uint8_t>& value);

    bool ComPortAgreed() const { return mine_[telnet::kComPort] == State::Yes; }
    bool ComPortRefused() const { return mine_[telnet::kComPort] == State::No && asked_; }
    // The server answered this COM-PORT-OPTION command (1 to 12).
    bool Acknowledged(uint8_t command) const { return command < 32 && (acks_ >> command) & 1; }

  private:
    enum class State : uint8_t { No, Asked, Yes };
    enum class Parse : uint8_t { Data, Iac, Verb, Sub, SubIac };
    void Negotiate(uint8_t verb, uint8_t option);
    void Subnegotiation();
    void Say(uint8_t verb, uint8_t option);

    Parse parse_ = Parse::Data;
    uint8_t verb_ = 0;
    std::vector<uint8_t> sub_;
    std::vector<uint8_t> replies_;
    std::array<State, 256> mine_{}; // options we perform (WILL)
    std::array<State, 256> his_{};  // options the server performs (DO)
    bool asked_ = false;
    uint32_t acks_ = 0;
};

} // namespace qx4::platform
