// The Telnet codec of RFC 2217 lines: what it says, what it answers, what reaches the data.
#include "platform/telnet.h"

#include <gtest/gtest.h>

namespace {

using qx4::platform::TelnetCodec;
using Bytes = std::vector<uint8_t>;

Bytes Feed(TelnetCodec& codec, const Bytes& bytes) {
    Bytes data;
    codec.Feed(bytes.data(), bytes.size(), data);
    return data;
}

TEST(Telnet, GreetingAsksForBinarySuppressGoAheadAndComPort) {
    TelnetCodec codec;
    EXPECT_EQ(codec.Greeting(),
              (Bytes{255, 251, 0, 255, 251, 3, 255, 251, 44, 255, 253, 0, 255, 253, 3}));
    EXPECT_FALSE(codec.ComPortAgreed());
    EXPECT_FALSE(codec.ComPortRefused());
}

TEST(Telnet, AnswersOnlyChangesAndRefusesUnknownOptions) {
    TelnetCodec codec;
    codec.Greeting();
    // Agreement to what we asked for needs no answer.
    EXPECT_TRUE(Feed(codec, {255, 253, 44, 255, 253, 0, 255, 251, 0}).empty());
    EXPECT_TRUE(codec.TakeReplies().empty());
    EXPECT_TRUE(codec.ComPortAgreed());
    // Terminal type (24) and echo (1) are refused; a repeated DO gets no second WILL.
    Feed(codec, {255, 253, 24, 255, 251, 1, 255, 253, 0});
    EXPECT_EQ(codec.TakeReplies(), (Bytes{255, 252, 24, 255, 254, 1}));
    // Withdrawn, then asked again: each change is answered once.
    Feed(codec, {255, 254, 0, 255, 253, 0});
    EXPECT_EQ(codec.TakeReplies(), (Bytes{255, 252, 0, 255, 251, 0}));
}

TEST(Telnet, RefusedComPort) {
    TelnetCodec codec;
    codec.Greeting();
    Feed(codec, {255, 254, 44});
    EXPECT_TRUE(codec.ComPortRefused());
    EXPECT_TRUE(codec.TakeReplies().empty());
}

TEST(Telnet, DataKeepsEscapedFFAndLosesEveryNegotiationByte) {
    TelnetCodec codec;
    codec.Greeting();
    const Bytes stream{
        0x02, 255, 255, 0x30, 255, 250, 44,  107,  0x30, 255, 240, // modem state notification
        0x03, 255, 250, 44,   101, 0,   0,   0x4B, 0,    255, 240, // baud answer
        255,  241,                                                 // NOP
        255,  250, 44,  106,  255, 255, 255, 240,                  // line state holding 0xFF
        0x0D};
    // Byte by byte, as slowly as a line may deliver it, and all at once.
    Bytes slow;
    for (uint8_t b : stream)
        codec.Feed(&b, 1, slow);
    EXPECT_EQ(slow, (Bytes{0x02, 0xFF, 0x30, 0x03, 0x0D}));
    EXPECT_TRUE(codec.Acknowledged(1));
    EXPECT_FALSE(codec.Acknowledged(5));
    TelnetCodec whole;
    EXPECT_EQ(Feed(whole, stream), slow);
}

TEST(Telnet, WritesDoubleEveryFF) {
    Bytes out;
    const Bytes frame{0x02, 0xFF, 0x00, 0xFF, 0xFF};
    TelnetCodec::AppendEscaped(out, frame.data(), frame.size());
    EXPECT_EQ(out, (Bytes{0x02, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(TelnetCodec::ComPortCommand(1, {0, 0, 0x4B, 0xFF}),
              (Bytes{255, 250, 44, 1, 0, 0, 0x4B, 0xFF, 0xFF, 255, 240}));
}

} // namespace
