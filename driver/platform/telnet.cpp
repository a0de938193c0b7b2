#include "platform/telnet.h"

namespace qx4::platform {
namespace {

using namespace telnet;

constexpr size_t kLongestSubnegotiation = 64; // a COM-PORT-OPTION one is a few bytes

bool WeSupport(uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}
bool HeMaySupport(uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

} // namespace

std::vector<uint8_t> TelnetCodec::Greeting() {
    for (uint8_t option : {kBinary, kSuppressGoAhead, kComPort}) {
        mine_[option] = State::Asked;
        Say(kWill, option);
    }
    for (uint8_t option : {kBinary, kSuppressGoAhead}) {
        his_[option] = State::Asked;
        Say(kDo, option);
    }
    asked_ = true;
    return TakeReplies();
}

void TelnetCodec::Say(uint8_t verb, uint8_t option) {
    replies_.insert(replies_.end(), {kIac, verb, option});
}

std::vector<uint8_t> TelnetCodec::TakeReplies() {
    std::vector<uint8_t> replies;
    replies.swap(replies_);
    return replies;
}

// Each side's state changes once per request and is answered only on a change, so
// two parties never loop (the "Q method" of RFC 1143, without its queue).
void TelnetCodec::Negotiate(uint8_t verb, uint8_t option) {
    switch (verb) {
    case kDo:
        if (!WeSupport(option)) {
            Say(kWont, option);
        } else if (mine_[option] != State::Yes) {
            if (mine_[option] == State::No) Say(kWill, option);
            mine_[option] = State::Yes;
        }
        break;
    case kDont:
        if (mine_[option] == State::Yes) Say(kWont, option);
        mine_[option] = State::No;
        break;
    case kWill:
        if (!HeMaySupport(option)) {
            Say(kDont, option);
        } else if (his_[option] != State::Yes) {
            if (his_[option] == State::No) Say(kDo, option);
            his_[option] = State::Yes;
        }
        break;
    case kWont:
        if (his_[option] == State::Yes) Say(kDont, option);
        his_[option] = State::No;
        break;
    }
}

void TelnetCodec::Subnegotiation() {
    // Answers to our settings and the server's notifications (line and modem state,
    // flow control): noted or dropped, never line data.
    if (sub_.size() >= 2 && sub_[0] == kComPort && sub_[1] > kServerOffset &&
        sub_[1] - kServerOffset < 32)
        acks_ |= 1u << (sub_[1] - kServerOffset);
    sub_.clear();
}

void TelnetCodec::Feed(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (parse_) {
        case Parse::Data:
            if (b == kIac)
                parse_ = Parse::Iac;
            else
                data.push_back(b);
            break;
        case Parse::Iac:
            if (b == kIac) {
                data.push_back(b); // an escaped 0xFF
                parse_ = Parse::Data;
            } else if (b >= kWill) {
                verb_ = b;
                parse_ = Parse::Verb;
            } else if (b == kSb) {
                sub_.clear();
                parse_ = Parse::Sub;
            } else {
                parse_ = Parse::Data; // NOP, GA, SE out of place and the like
            }
            break;
        case Parse::Verb:
            Negotiate(verb_, b);
            parse_ = Parse::Data;
            break;
        case Parse::Sub:
            if (b == kIac)
                parse_ = Parse::SubIac;
            else if (sub_.size() < kLongestSubnegotiation)
                sub_.push_back(b);
            break;
        case Parse::SubIac:
            if (b == kSe) {
                Subnegotiation();
                parse_ = Parse::Data;
            } else {
                if (b == kIac && sub_.size() < kLongestSubnegotiation) sub_.push_back(b);
                parse_ = Parse::Sub; // IAC IAC inside; anything else is malformed and skipped
            }
            break;
        }
    }
}

void TelnetCodec::AppendEscaped(std::vector<uint8_t>& out, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == kIac) out.push_back(kIac);
    }
}

std::vector<uint8_t> TelnetCodec::ComPortCommand(uint8_t command,
                                                 const std::vector<uint8_t>& value) {
    std::vector<uint8_t> out{kIac, kSb, kComPort, command};
    AppendEscaped(out, value.data(), value.size());
    out.insert(out.end(), {kIac, kSe});
    return out;
}

} // namespace qx4::platform
