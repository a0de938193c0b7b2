// The simulated reader as a real reader and field: air time, collisions, tags at the edge
// of the field, power, EEPROM limits and the field profile.
#include "air_time.h"
#include "field_file.h"
#include "profile.h"
#include "simulated_reader.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace qx4test {
namespace {

using qx4sim::Bytes;
using qx4sim::SimOptions;
using qx4sim::Tag;
using qx4sim::Uid;

const Uid kFirst{0x05, 0x00, 0x00, 0x00, 0x00, 0x01, 0x04, 0xE0};
const Uid kSecond{0x15, 0x00, 0x00, 0x00, 0x00, 0x01, 0x04, 0xE0}; // same lowest digit
const Uid kThird{0x0A, 0x00, 0x00, 0x00, 0x00, 0x01, 0x04, 0xE0};

SimOptions Plain() {
    SimOptions options;
    options.profile = "default";
    return options;
}

Bytes Nack(uint8_t code) {
    return qx4sim::EncodeFrame(0x31, {code});
}
Bytes IsoError(uint8_t iso) {
    return qx4sim::EncodeFrame(0x31, {0x05, iso});
}
Bytes TagRequest(Bytes data) {
    return qx4sim::EncodeFrame(0x78, data);
}
// An addressed request: code, parameters and data, mode (designation 1), UID.
Bytes Addressed(const Uid& uid, Bytes data, uint8_t mode = 0x01) {
    data.push_back(mode);
    data.insert(data.end(), uid.begin(), uid.end());
    return TagRequest(data);
}
Bytes First(qx4sim::SimulatedReader& reader, const Bytes& request) {
    const auto frames = reader.Respond(request);
    return frames.empty() ? Bytes{} : frames.front();
}
bool IsAck(const Bytes& frame) {
    return frame.size() > 2 && frame[2] == 0x30;
}
Bytes StayQuiet(const Uid& uid) {
    Bytes quiet{0x02, 0x00};
    quiet.insert(quiet.end(), uid.begin(), uid.end());
    return TagRequest(quiet);
}

Tag Numbered(const Uid& uid, unsigned blocks = 8) {
    Tag tag = Tag::Make(uid, qx4sim::TagType::Iso15693, 4, blocks);
    for (size_t i = 0; i < tag.memory.size(); ++i)
        tag.memory[i] = static_cast<uint8_t>(i / 4);
    return tag;
}
Bytes BlockOf(qx4sim::SimulatedReader& reader, const Uid& uid, size_t block) {
    for (const Tag& tag : reader.Field())
        if (tag.uid == uid)
            return Bytes(tag.memory.begin() + static_cast<long>(block * 4),
                         tag.memory.begin() + static_cast<long>(block * 4 + 4));
    return {};
}

TEST(AirTime, FollowsTheStandardsTimingAtTheHighDataRate) {
    // Read Single Block, not addressed, 4-byte block: 5 request bytes, 7 reply bytes.
    // (1024 + 5*8*512 + 512) + 4352 + (2048 + 7*8*512 + 2048) + 4192 cycles at 13.56 MHz.
    EXPECT_EQ(qx4sim::air::Exchange(5, 7), 4670u);
    // The one-slot inventory that nobody answers: request, then t1max and a SOF's time.
    EXPECT_EQ(qx4sim::air::Inventory(1, 0), 2098u); // (22016 + 4384 + 2048) / 13.56
    EXPECT_GT(qx4sim::air::Inventory(16, 1), qx4sim::air::Inventory(1, 1));

    SimOptions options = Plain();
    options.airTime = true;
    qx4sim::SimulatedReader reader(options);
    reader.SetField({Numbered(kFirst)});
    const auto read = reader.Answer(TagRequest({0x20, 0x00, 0x00}));
    EXPECT_EQ(read.delayUs, 4670u);
    // A write programs its block; an addressed one carries 8 more bytes on the air.
    const auto write = reader.Answer(Addressed(kFirst, {0x21, 0x01, 1, 2, 3, 4}));
    ASSERT_TRUE(IsAck(write.pieces.at(0)));
    EXPECT_EQ(write.delayUs, qx4sim::air::Exchange(2 + 8 + 5 + 2, 3) + 5000);
    // Reader commands stay off the air.
    EXPECT_EQ(reader.Answer(qx4sim::EncodeFrame(0x4F, {0x90, 0x00})).delayUs, 0u);

    qx4sim::SimulatedReader immediate(Plain());
    EXPECT_EQ(immediate.Answer(TagRequest({0x20, 0x00, 0x00})).delayUs, 0u);
}

TEST(Eeprom, RefusesBeyondItsWordsAndTakesItsTime) {
    SimOptions options = Plain();
    options.eepromWords = 32;
    options.eepromRefusal = 0x43;
    options.eepromReadMs = 3;
    options.eepromWriteMs = 7;
    qx4sim::SimulatedReader reader(options);
    EXPECT_TRUE(IsAck(First(reader, qx4sim::EncodeFrame(0x4F, {0x70, 0, 20}))));
    EXPECT_TRUE(IsAck(First(reader, qx4sim::EncodeFrame(0x4F, {0x70, 31, 1}))));
    EXPECT_EQ(First(reader, qx4sim::EncodeFrame(0x4F, {0x70, 31, 2})), Nack(0x43));
    EXPECT_EQ(First(reader, qx4sim::EncodeFrame(0x4E, {0x70, 32, 1, 0xAA, 0xBB})), Nack(0x43));
    EXPECT_EQ(reader.Registers().eeprom[64], 0x00); // the refused write changed nothing
    EXPECT_EQ(reader.Answer(qx4sim::EncodeFrame(0x4F, {0x70, 0, 4})).delayMs, 3u);
    EXPECT_EQ(reader.Answer(qx4sim::EncodeFrame(0x4E, {0x70, 20, 2, 1, 2, 3, 4})).delayMs, 14u);

    options.eepromRefusal = -1; // a smaller EEPROM refuses as a wrong value by default
    qx4sim::SimulatedReader plain(options);
    EXPECT_EQ(First(plain, qx4sim::EncodeFrame(0x4F, {0x70, 40, 1})), Nack(0x43));
    options.eepromRefusal = 0;
    qx4sim::SimulatedReader silent(options);
    EXPECT_TRUE(silent.Respond(qx4sim::EncodeFrame(0x4F, {0x70, 40, 1})).empty());
}

TEST(Collisions, RepliesAtOnceAreGarbledAndAnticollisionFindsEveryTag) {
    SimOptions options = Plain();
    options.collisions = true;
    qx4sim::SimulatedReader reader(options);
    reader.SetField({Numbered(kFirst), Numbered(kSecond), Numbered(kThird)});
    // One slot: all three answer in it.
    EXPECT_EQ(First(reader, TagRequest({0x01, 0x40})), Nack(0x03));
    // 16 slots: the first two share slot 5, the third is alone in slot 10.
    const Bytes found = First(reader, TagRequest({0x01, 0x00}));
    ASSERT_TRUE(IsAck(found));
    EXPECT_EQ(found[6], 0x0A);
    // The reader's own anticollision asks slot 5 again by the next digit.
    const Bytes listed = First(reader, TagRequest({0xF0, 0x00, 0x00}));
    ASSERT_TRUE(IsAck(listed));
    EXPECT_EQ(listed[5], 3);
    // An unaddressed read: every tag answers; an unaddressed write: every tag writes it.
    EXPECT_EQ(First(reader, TagRequest({0x20, 0x01, 0x00})), Nack(0x03));
    EXPECT_EQ(First(reader, TagRequest({0x21, 0x01, 9, 9, 9, 9, 0x00})), Nack(0x03));
    for (const Uid& uid : {kFirst, kSecond, kThird})
        EXPECT_EQ(BlockOf(reader, uid, 1), (Bytes{9, 9, 9, 9}));
    // Quiet tags stay out of it; the one left answers alone.
    EXPECT_TRUE(IsAck(First(reader, StayQuiet(kFirst))));
    EXPECT_TRUE(IsAck(First(reader, StayQuiet(kSecond))));
    EXPECT_TRUE(IsAck(First(reader, TagRequest({0x20, 0x01, 0x00}))));

    // Without collisions the first tag answers alone, as before.
    qx4sim::SimulatedReader perfect(Plain());
    perfect.SetField({Numbered(kFirst), Numbered(kSecond)});
    EXPECT_TRUE(IsAck(First(perfect, TagRequest({0x01, 0x40}))));
    EXPECT_TRUE(IsAck(First(perfect, TagRequest({0x20, 0x01, 0x00}))));
}

TEST(EdgeOfTheField, GarbledRepliesFollowACarriedOutCommandUnheardOnesDoNot) {
    SimOptions options = Plain();
    options.crcErrors = 1;
    qx4sim::SimulatedReader reader(options);
    Tag steady = Numbered(kThird);
    steady.behaviour.crcErrors = 0; // its own chance wins over the reader's
    reader.SetField({Numbered(kFirst), steady});
    EXPECT_EQ(First(reader, Addressed(kFirst, {0x21, 0x02, 7, 7, 7, 7})), Nack(0x01));
    EXPECT_EQ(BlockOf(reader, kFirst, 2), (Bytes{7, 7, 7, 7})); // written all the same
    EXPECT_TRUE(IsAck(First(reader, Addressed(kThird, {0x20, 0x02}))));

    options.crcErrors = 0;
    options.noAnswer = 1;
    qx4sim::SimulatedReader deaf(options);
    deaf.SetField({Numbered(kFirst)});
    EXPECT_EQ(First(deaf, Addressed(kFirst, {0x21, 0x02, 7, 7, 7, 7})), Nack(0x04));
    EXPECT_EQ(BlockOf(deaf, kFirst, 2), (Bytes{2, 2, 2, 2}));

    options.noAnswer = 0;
    options.programErrors = 1;
    qx4sim::SimulatedReader weak(options);
    weak.SetField({Numbered(kFirst)});
    EXPECT_EQ(First(weak, Addressed(kFirst, {0x21, 0x02, 7, 7, 7, 7})), IsoError(0x13));
    EXPECT_EQ(First(weak, Addressed(kFirst, {0x22, 0x02})), IsoError(0x14));
    EXPECT_EQ(BlockOf(weak, kFirst, 2), (Bytes{2, 2, 2, 2}));
    EXPECT_FALSE(weak.Field()[0].locked[2]);
}

TEST(EdgeOfTheField, SeededChancesRepeat) {
    SimOptions options = Plain();
    options.crcErrors = 0.3;
    options.seed = 7;
    auto outcomes = [&] {
        qx4sim::SimulatedReader reader(options);
        reader.SetField({Numbered(kFirst)});
        std::string seen;
        for (int i = 0; i < 40; ++i)
            seen += IsAck(First(reader, Addressed(kFirst, {0x20, 0x01}))) ? '+' : '-';
        return seen;
    };
    const std::string first = outcomes();
    EXPECT_EQ(outcomes(), first);
    EXPECT_NE(first.find('-'), std::string::npos);
    EXPECT_NE(first.find('+'), std::string::npos);
}

TEST(TagBehaviour, MultiBlockRefusalsOfEachKind) {
    qx4sim::SimulatedReader reader(Plain());
    for (const auto& [kind, iso, expected] :
         {std::tuple{qx4sim::TagBehaviour::MultiBlock::Refuses, uint8_t{0x02}, IsoError(0x02)},
          std::tuple{qx4sim::TagBehaviour::MultiBlock::Refuses, uint8_t{0x0F}, IsoError(0x0F)},
          std::tuple{qx4sim::TagBehaviour::MultiBlock::Silent, uint8_t{0x01}, Nack(0x04)}}) {
        Tag tag = Numbered(kFirst);
        tag.behaviour.multiBlock = kind;
        tag.behaviour.multiBlockError = iso;
        reader.SetField({tag});
        EXPECT_EQ(First(reader, Addressed(kFirst, {0x23, 0x00, 0x03})), expected);
        EXPECT_EQ(First(reader, Addressed(kFirst, {0x24, 0x00, 0x00, 1, 1, 1, 1})), expected);
        EXPECT_EQ(BlockOf(reader, kFirst, 0), (Bytes{0, 0, 0, 0}));
        EXPECT_TRUE(IsAck(First(reader, Addressed(kFirst, {0x20, 0x03}))));
    }
}

TEST(TagBehaviour, OptionFlagRequiredOrRefusedAndPartialWrites) {
    qx4sim::SimulatedReader reader(Plain());
    Tag needy = Numbered(kFirst);
    needy.behaviour.optionFlag = qx4sim::TagBehaviour::OptionFlag::Required;
    Tag plain = Numbered(kThird);
    plain.behaviour.optionFlag = qx4sim::TagBehaviour::OptionFlag::Refused;
    reader.SetField({needy, plain});
    // Without the flag it programs, then waits for an EOF: the reader hears nothing.
    EXPECT_EQ(First(reader, Addressed(kFirst, {0x21, 0x01, 5, 5, 5, 5})), Nack(0x04));
    EXPECT_EQ(BlockOf(reader, kFirst, 1), (Bytes{5, 5, 5, 5}));
    EXPECT_TRUE(IsAck(First(reader, Addressed(kFirst, {0x21, 0x01, 6, 6, 6, 6}, 0x11))));
    EXPECT_EQ(First(reader, Addressed(kThird, {0x21, 0x01, 5, 5, 5, 5}, 0x11)), IsoError(0x03));
    EXPECT_EQ(BlockOf(reader, kThird, 1), (Bytes{1, 1, 1, 1}));
    EXPECT_TRUE(IsAck(First(reader, Addressed(kThird, {0x21, 0x01, 5, 5, 5, 5}))));

    // A multi-block write that meets block 3 locked: 1 and 2 written, 4 not.
    Tag partial = Numbered(kFirst);
    partial.behaviour.partialWrites = true;
    partial.locked[3] = true;
    Tag whole = partial;
    whole.uid = kThird;
    whole.behaviour.partialWrites = false;
    reader.SetField({partial, whole});
    const Bytes data{9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    for (const Uid& uid : {kFirst, kThird}) {
        Bytes write{0x24, 0x01, 0x03};
        write.insert(write.end(), data.begin(), data.end());
        EXPECT_EQ(First(reader, Addressed(uid, write)), IsoError(0x12));
    }
    EXPECT_EQ(BlockOf(reader, kFirst, 2), (Bytes{9, 9, 9, 9}));
    EXPECT_EQ(BlockOf(reader, kFirst, 4), (Bytes{4, 4, 4, 4}));
    EXPECT_EQ(BlockOf(reader, kThird, 1), (Bytes{1, 1, 1, 1}));
}

TEST(Power, QuietEndsWithTheCarrierAndLeavingOnlyWhenTagsLosePower) {
    for (const bool tagPower : {false, true}) {
        SimOptions options = Plain();
        options.tagPower = tagPower;
        qx4sim::SimulatedReader reader(options);
        reader.SetField({Numbered(kFirst)});
        ASSERT_TRUE(IsAck(First(reader, StayQuiet(kFirst))));
        EXPECT_EQ(First(reader, TagRequest({0x01, 0x40})), Nack(0x04));
        First(reader, qx4sim::EncodeFrame(0x4E, {0x9E, 0x00}));
        First(reader, qx4sim::EncodeFrame(0x4E, {0x9E, 0x01}));
        EXPECT_EQ(IsAck(First(reader, TagRequest({0x01, 0x40}))), tagPower);

        ASSERT_TRUE(IsAck(First(reader, StayQuiet(kFirst))));
        Tag away = reader.Field()[0];
        reader.RemoveTag(kFirst);
        reader.AddTag(away);
        EXPECT_EQ(IsAck(First(reader, TagRequest({0x01, 0x40}))), tagPower);
    }
}

TEST(Power, PowerDownWakesOnTheFirstRequestAndARestartTakesTheReaderAway) {
    SimOptions options = Plain();
    options.wakeFromPowerDown = true;
    options.bootMs = 600'000; // longer than this test: only its start is seen
    qx4sim::SimulatedReader reader(options);
    const Bytes version = qx4sim::EncodeFrame(0x4F, {0x90, 0x00});
    ASSERT_TRUE(IsAck(First(reader, qx4sim::EncodeFrame(0x4E, {0x52}))));
    EXPECT_TRUE(reader.Respond(version).empty());
    EXPECT_TRUE(IsAck(First(reader, version)));
    ASSERT_TRUE(IsAck(First(reader, qx4sim::EncodeFrame(0x4E, {0x9D}))));
    EXPECT_TRUE(reader.Respond(version).empty());
    EXPECT_TRUE(reader.Respond(TagRequest({0x01, 0x40})).empty());

    qx4sim::SimulatedReader plain(Plain());
    ASSERT_TRUE(IsAck(First(plain, qx4sim::EncodeFrame(0x4E, {0x52}))));
    EXPECT_TRUE(IsAck(First(plain, version)));
}

TEST(StrictValues, OutOfRangeIsRefusedAsTheReaderDoes) {
    SimOptions options = Plain();
    options.strictValues = true;
    qx4sim::SimulatedReader reader(options);
    EXPECT_EQ(First(reader, qx4sim::EncodeFrame(0x4E, {0x00, 0x07, 0, 0x78, 0, 0, 10})),
              Nack(0x43));
    EXPECT_EQ(reader.Registers().mode, 0);
    EXPECT_EQ(First(reader, qx4sim::EncodeFrame(0x4E, {0x9E, 0x02})), Nack(0x43));
    EXPECT_EQ(First(reader, qx4sim::EncodeFrame(0x4F, {0x70, 0x00, 0x00})), Nack(0x41));
    EXPECT_EQ(First(reader, qx4sim::EncodeFrame(0x4F, {0x54, 0x05})), Nack(0x43));
    EXPECT_EQ(First(reader, qx4sim::EncodeFrame(0x4F, {0xEE})), Nack(0x44));
    EXPECT_TRUE(IsAck(First(reader, qx4sim::EncodeFrame(0x4E, {0x00, 0x01, 0, 0x78, 0, 0, 10}))));

    qx4sim::SimulatedReader lenient(Plain());
    EXPECT_TRUE(IsAck(First(lenient, qx4sim::EncodeFrame(0x4E, {0x9E, 0x02}))));
}

TEST(Profile, FieldTurnsOnARealReaderAndTheEnvironmentNamesIt) {
    SimOptions options;
    ASSERT_TRUE(qx4sim::ApplyProfile(options, "field"));
    EXPECT_GE(options.eepromWords, 20u);
    EXPECT_LE(options.eepromWords, 64u);
    EXPECT_TRUE(options.airTime && options.collisions && options.usb && options.tagPower);
    EXPECT_FALSE(qx4sim::ApplyProfile(options, "fast"));
    ASSERT_TRUE(qx4sim::ApplyProfile(options, "default"));
    EXPECT_FALSE(options.airTime || options.collisions || options.usb);

    ::setenv(qx4sim::kProfileVariable, "field", 1);
    {
        qx4sim::SimulatedReader reader;
        EXPECT_TRUE(reader.Options().collisions);
        EXPECT_EQ(First(reader, TagRequest({0x01, 0x40})), Nack(0x03)); // the default 3 tags
        qx4sim::SimulatedReader told(Plain());
        EXPECT_FALSE(told.Options().collisions);
    }
    ::setenv(qx4sim::kProfileVariable, "nonsense", 1);
    EXPECT_THROW(qx4sim::SimulatedReader{}, std::invalid_argument);
    ::unsetenv(qx4sim::kProfileVariable);
}

TEST(FieldFile, GivesEachTagItsBehaviour) {
    const auto tags = qx4sim::ParseField(R"({"tags":[
        {"uid":"E004010000000005","blocks":[{"data":"00000000"}],
         "simulation":{"multiBlock":true,"multiBlockRefusal":"0x0F","crcErrors":0.25,
                       "optionFlag":"required","partialWrites":true}},
        {"uid":"E00401000000000A","blocks":[{"data":"00000000"}],
         "simulation":{"multiBlockRefusal":"silent"}}]})");
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags[0].behaviour.multiBlock, qx4sim::TagBehaviour::MultiBlock::Refuses);
    EXPECT_EQ(tags[0].behaviour.multiBlockError, 0x0F);
    EXPECT_EQ(tags[0].behaviour.crcErrors, 0.25);
    EXPECT_EQ(tags[0].behaviour.optionFlag, qx4sim::TagBehaviour::OptionFlag::Required);
    EXPECT_TRUE(tags[0].behaviour.partialWrites);
    EXPECT_EQ(tags[1].behaviour.multiBlock, qx4sim::TagBehaviour::MultiBlock::Silent);
    EXPECT_FALSE(tags[1].behaviour.crcErrors);
    for (const char* wrong : {R"("crcErrors":2)", R"("optionFlag":"sometimes")",
                              R"("multiBlockRefusal":"0x100")", R"("colour":"red")"})
        EXPECT_THROW(qx4sim::ParseField(std::string(R"({"tags":[{"uid":"E004010000000005",)") +
                                        R"("blocks":[{"data":"00000000"}],"simulation":{)" + wrong +
                                        "}}]}"),
                     std::runtime_error)
            << wrong;
}

} // namespace
} // namespace qx4test
