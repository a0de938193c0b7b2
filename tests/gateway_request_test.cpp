// qx4-mqtt's request decoder, event queue and field tracker, without a broker.
#include "field.h"
#include "request.h"

#include <gtest/gtest.h>

using namespace qx4mqtt;

namespace {

Decoded Decode(const char* command, const std::string& payload, Policy policy = {}) {
    return DecodeRequest(command, payload, policy);
}

std::string Error(const Decoded& decoded) {
    return decoded.refusal.is_null() ? "" : decoded.refusal.value("error", "");
}

} // namespace

TEST(GatewayRequest, ArgumentsByTheNamesOfTheUsageInItsOrder) {
    EXPECT_EQ(ArgumentKeys("BLOCK [COUNT]"), (std::vector<std::string>{"block", "count"}));
    EXPECT_EQ(ArgumentKeys("[MODE SECOND FLAGS VALUE [eeprom]]"),
              (std::vector<std::string>{"mode", "second", "flags", "value", "eeprom"}));
    EXPECT_EQ(ArgumentKeys("on|off"), (std::vector<std::string>{"value"}));

    const Decoded read = Decode("read", R"({"count":"0x4","block":2,"transaction":{"id":9}})");
    ASSERT_TRUE(read.request) << read.refusal;
    EXPECT_EQ(read.request->arguments, (std::vector<std::string>{"2", "0x4"}));
    EXPECT_EQ(read.request->transaction, nlohmann::json({{"id", 9}}));

    const Decoded mode = Decode("tag-mode", R"({"value":"0x54","eeprom":true})", {true, false});
    ASSERT_TRUE(mode.request) << mode.refusal;
    EXPECT_EQ(mode.request->arguments, (std::vector<std::string>{"0x54", "eeprom"}));
    // 2^64-1 stays itself for the command's range check to quote.
    const Decoded huge = Decode("read", R"({"block":18446744073709551615})");
    ASSERT_TRUE(huge.request) << huge.refusal;
    EXPECT_EQ(huge.request->arguments, (std::vector<std::string>{"18446744073709551615"}));
    const Decoded bare = Decode("version", "{}");
    ASSERT_TRUE(bare.request);
    EXPECT_TRUE(bare.request->transaction.is_null());
    // Clearing a retained request sends an empty message: not a request.
    EXPECT_FALSE(Decode("eeprom-init", "", {true, true}).request);
}

TEST(GatewayRequest, TagStateAndTheGatewaysOwnSettingsAreNotReads) {
    // quiet, select and reset change what auto-scan sees; the mode is the gateway's.
    EXPECT_NE(Error(Decode("quiet", R"({"uid":"E004010012345678"})")).find("allow writes"),
              std::string::npos);
    EXPECT_FALSE(Decode("reset", "{}").request);
    EXPECT_TRUE(Decode("select", R"({"uid":"E004010012345678"})", {true, false}).request);
    EXPECT_NE(Error(Decode("op-mode", R"({"mode":0,"second":0,"flags":0,"value":0})", {true, true}))
                  .find("holds the reader's operation mode"),
              std::string::npos);
    EXPECT_NE(Error(Decode("power-down", "{}", {true, true})).find("not served"),
              std::string::npos);
    // Named and unaddressed at once would reach whichever tag hears it.
    EXPECT_NE(Error(Decode("write",
                           R"({"block":3,"hexbytes":"CAFEBABE","uid":"E007000187654321",
                               "unaddressed":true})",
                           {true, false}))
                  .find("exclude each other"),
              std::string::npos);
}

TEST(GatewayRequest, LocksAreConfirmedInTheRequestAndNeverAsked) {
    const Decoded plain = Decode("lock", R"({"block":3,"uid":"E004010012345678"})", {true, true});
    ASSERT_TRUE(plain.request);
    EXPECT_FALSE(plain.request->options.mayAsk);
    EXPECT_FALSE(plain.request->options.confirmed);
    EXPECT_NE(plain.request->options.confirmWith.find("\"confirm\":true"), std::string::npos);
    const Decoded confirmed =
        Decode("lock", R"({"block":3,"uid":"E004010012345678","confirm":true})", {true, true});
    ASSERT_TRUE(confirmed.request);
    EXPECT_TRUE(confirmed.request->options.confirmed);
    EXPECT_NE(Error(Decode("write", R"({"block":3,"hexbytes":"00","uid":"E004010012345678",
                                        "confirm":true})",
                           {true, true}))
                  .find("unknown key"),
              std::string::npos);
}

TEST(GatewayRequest, PerRequestOptions) {
    const Decoded decoded = Decode(
        "read", R"({"block":0,"uid":"E0:04:01:00:12:34:56:78","option":true,"blockSize":8})");
    ASSERT_TRUE(decoded.request) << decoded.refusal;
    ASSERT_TRUE(decoded.request->options.uid);
    EXPECT_EQ((*decoded.request->options.uid)[0], 0x78); // the reader's byte order
    EXPECT_TRUE(decoded.request->options.option);
    EXPECT_EQ(decoded.request->options.blockSize, 8);
}

TEST(GatewayRequest, WritesAndLocksOnlyWhenAllowedAndAddressed) {
    const std::string write = R"({"block":3,"hexbytes":"11223344","uid":"E004010012345678"})";
    EXPECT_NE(Error(Decode("write", write)).find("does not allow writes"), std::string::npos);
    EXPECT_TRUE(Decode("write", write, {true, false}).request);
    EXPECT_NE(Error(Decode("write", R"({"block":3,"hexbytes":"11"})", {true, true})).find("uid"),
              std::string::npos);
    const std::string lock = R"({"block":3,"uid":"E004010012345678"})";
    EXPECT_NE(Error(Decode("lock", lock, {true, false})).find("does not allow locks"),
              std::string::npos);
    EXPECT_TRUE(Decode("lock", lock, {true, true}).request);
    // Registers are read freely, set only with writes allowed.
    EXPECT_TRUE(Decode("afi-register", "{}").request);
    EXPECT_FALSE(Decode("afi-register", R"({"value":"0x42"})").request);
    EXPECT_FALSE(Decode("eeprom-init", "{}").request);
    EXPECT_FALSE(Decode("raw", R"({"hexbytes":"2B00"})", {true, false}).request);
    // A raw frame may write or lock: only to the tag it names.
    EXPECT_NE(Error(Decode("raw", R"({"hexbytes":"2106CAFEBABE00","confirm":true})", {true, true}))
                  .find("uid"),
              std::string::npos);
    EXPECT_TRUE(Decode("raw", R"({"hexbytes":"2B00","uid":"E004010012345678","confirm":true})",
                       {true, true})
                    .request);
    // The simple read's answer means nothing while the reader scans.
    EXPECT_TRUE(Decode("simple-read", "{}").request);
    EXPECT_NE(Error(Decode("simple-read", "{}", {false, false, true})).find("scans"),
              std::string::npos);
    // NDEF: read freely; write with writes allowed and a uid; protect is a lock.
    const std::string records = R"({"uid":"E004010012345678","records":[{"uri":"http://a"}]})";
    EXPECT_TRUE(Decode("ndef-read", "{}").request);
    EXPECT_NE(Error(Decode("ndef-write", records)).find("does not allow writes"),
              std::string::npos);
    const Decoded ndefWrite = Decode("ndef-write", records, {true, false});
    ASSERT_TRUE(ndefWrite.request);
    EXPECT_EQ(ndefWrite.request->options.ndefRecords[0]["uri"], "http://a");
    EXPECT_FALSE(Decode("ndef-read", records).request); // "records" belong to writes
    EXPECT_FALSE(Decode("ndef-protect", R"({"uid":"E004010012345678"})", {true, false}).request);
}

TEST(GatewayRequest, FaultyPayloadsAreRefusedWithTheirTransaction) {
    struct Case {
        const char* command;
        std::string payload;
        const char* error;
    };
    const Case cases[] = {
        {"read", "{", "not valid JSON"},
        {"read", "42", "JSON object"},
        {"read", R"({"block":true})", "number or a string"},
        {"read", R"({"block":-1.5})", "number or a string"},
        {"read", R"({"block":0,"size":4})", "unknown key"},
        {"read", R"({"count":4})", "without \"block\""},
        {"read", R"({"block":0,"uid":42})", "uid"},
        {"read", R"({"block":0,"blocks":1000})", "blocks"},
        {"read", std::string(70000, ' '), "larger than 65536"},
        {"read", std::string(100000, '['), "larger"},
        {"read", std::string(1000, '[') + std::string(1000, ']'), "nested"},
        {"watch", "{}", "not served"},
        {"no-such", "{}", "no command"},
        {"version", R"({"extra":1})", "unknown key"},
        {"read", R"({"block":0,"blocks":18446744073709551615})", "from 1 to 256"},
    };
    for (const Case& c : cases) {
        const Decoded decoded = Decode(c.command, c.payload, {true, true});
        EXPECT_FALSE(decoded.request) << c.payload.substr(0, 40);
        EXPECT_NE(Error(decoded).find(c.error), std::string::npos)
            << c.payload.substr(0, 40) << " -> " << Error(decoded);
        EXPECT_EQ(decoded.refusal["ok"], false);
    }
    const Decoded refused = Decode("write", R"({"transaction":"abc","block":1})");
    EXPECT_EQ(refused.refusal["transaction"], "abc");
}

TEST(GatewayEvents, QueueKeepsOrderAndCountsWhatFallsOut) {
    EventQueue queue(3);
    for (int i = 1; i <= 5; ++i)
        queue.Push(std::to_string(i));
    EXPECT_EQ(queue.dropped(), 2u);
    std::string order;
    for (; !queue.Empty(); queue.Pop())
        order += queue.Front();
    EXPECT_EQ(order, "345");
}

TEST(GatewayEvents, TagsEnterOnceAndLeaveWhenUnseen) {
    using namespace std::chrono_literals;
    FieldTracker field;
    const SteadyTime start{};
    const WallTime wall{};
    EXPECT_TRUE(field.Seen("E004010012345678", start, wall));
    EXPECT_FALSE(field.Seen("E004010012345678", start + 500ms, wall));
    EXPECT_TRUE(field.Seen("E007000187654321", start + 900ms, wall));
    EXPECT_EQ(field.Leaves(start + 1600ms, 1000ms), (std::vector<std::string>{"E004010012345678"}));
    EXPECT_EQ(field.ToJson()[0]["reads"], 1);
    EXPECT_EQ(IsoTime(WallTime{} + 1234ms), "1970-01-01T00:00:01.234Z");
}

TEST(GatewayEvents, NotificationsNameTheirTag) {
    const uint8_t uidData[] = {0x78, 0x56, 0x34, 0x12, 0x00, 0x01, 0x04, 0xE0, 0xAB};
    const Notification withData = ReadNotification(1, uidData, sizeof uidData);
    EXPECT_EQ(withData.uid, "E004010012345678");
    EXPECT_EQ(withData.data, "AB");
    const std::string text = "E004010012345678";
    const Notification asText =
        ReadNotification(0, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    EXPECT_EQ(asText.uid, "E004010012345678");
    EXPECT_TRUE(asText.data.empty());
    const Notification other = ReadNotification(0, uidData, 3);
    EXPECT_TRUE(other.uid.empty());
    EXPECT_EQ(other.data, "785634");
}
