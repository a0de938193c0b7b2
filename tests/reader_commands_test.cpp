// Reader configuration commands against the simulated reader.
#include "link_fixture.h"

#include <array>
#include <cstring>
#include <thread>

namespace qx4test {
namespace {

class ReaderCommands : public LinkTest {};

TEST_F(ReaderCommands, IdentityTexts) {
    char text[255];
    ASSERT_EQ(QX4GetROMVersion(text), 1);
    EXPECT_STREQ(text, "QX4SIM Ver1.00");
    EXPECT_EQ(LastSent(), Hex("02 00 4F 02 90 00 03 E6 0D"));
    ASSERT_EQ(QX4GetModelNameComad(text), 1);
    EXPECT_STREQ(text, "QX4-SIM");

    AnswerNextWith(0x30, {0x90}); // the echo alone: an empty text
    ASSERT_EQ(QX4GetROMVersion(text), 1);
    EXPECT_STREQ(text, "");

    Bytes longest(255, 'x');
    longest[0] = 0x90;
    AnswerNextWith(0x30, longest);
    ASSERT_EQ(QX4GetROMVersion(text), 1);
    EXPECT_EQ(std::strlen(text), 254u);

    std::strcpy(text, "kept");
    AnswerNextWith(0x31, {0x44});
    EXPECT_EQ(QX4GetModelNameComad(text), 0);
    EXPECT_STREQ(text, "kept"); // nothing copied from a NACK
}

TEST_F(ReaderCommands, ControlAndIoFrames) {
    EXPECT_EQ(QX4SetTxOnOff(0), 1);
    EXPECT_FALSE(reader->Registers().carrier);
    EXPECT_EQ(LastSent(), qx4sim::EncodeFrame(0x4E, {0x9E, 0x00}));
    EXPECT_EQ(QX4SetLEDCont(1, 0x102, 3), 1);
    EXPECT_EQ(reader->Registers().led, (std::array<uint8_t, 3>{1, 2, 3}));

    EXPECT_EQ(QX4BuzOn(5, 1), 1);
    EXPECT_EQ(LastSent(), qx4sim::EncodeFrame(0x42, {0x01, 0x05}));
    EXPECT_EQ(QX4BuzOn(5, 0), 1); // no wait; its answer is left in the ring
    ASSERT_TRUE(reader->Peer().WaitForFrames(4, 500));
    EXPECT_EQ(LastSent(), qx4sim::EncodeFrame(0x42, {0x00, 0x05}));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));

    unsigned char value = 0;
    EXPECT_EQ(QX4ReadIOPort(&value), 1); // the buzzer's stale answer was dropped first
    EXPECT_EQ(value, 0x5A);
    AnswerNextWith(0x30, {0x52, 0x77});
    value = 0;
    QX4SetCmdWaitTime(100);
    EXPECT_EQ(QX4ReadIOPort(&value), 0); // another echo is no port value
    EXPECT_EQ(value, 0);
    EXPECT_EQ(QX4WriteIOPort(0x11, 0x22), 1);
    EXPECT_EQ(reader->Registers().ioOutput, (std::array<uint8_t, 2>{0x11, 0x22}));

    EXPECT_EQ(QX4SetPowerDown(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    QX4ReadData(); // consume its answer
    unsigned char state = 0;
    EXPECT_EQ(QX4GetPowerDown(&state), 1);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(QX4GetErrorStatus(&state), 1);
    EXPECT_EQ(state, 0);
}

TEST_F(ReaderCommands, RestartIsSentWithoutWaiting) {
    EXPECT_EQ(QX4ReStartComand(), 1);
    ASSERT_TRUE(reader->Peer().WaitForFrames(1, 500));
    EXPECT_EQ(LastSent(), qx4sim::EncodeFrame(0x4E, {0x9D}));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(reader->Registers().restarts, 1u);
}

TEST_F(ReaderCommands, SimpleReadAcceptsANotification) {
    EXPECT_EQ(QX4SimpleReadCmd(), 1);
    EXPECT_EQ(LastSent(), Hex("02 00 52 00 03 57 0D"));
    QX4SetTxOnOff(0);
    EXPECT_EQ(QX4SimpleReadCmd(), 0);
    EXPECT_EQ(ErrorCode().first, 4);
}

TEST_F(ReaderCommands, EepromWordsAndParameters) {
    EXPECT_EQ(QX4SetEepromData(12, 0x1205), 1);
    EXPECT_EQ(LastSent(), qx4sim::EncodeFrame(0x4E, {0x70, 0x0C, 0x01, 0x05, 0x12}));
    unsigned char word[2] = {};
    ASSERT_EQ(QX4GetEepromData(12, word), 1);
    EXPECT_EQ(word[0] | word[1] << 8, 0x1205);

    const unsigned char words[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(QX4SetEepromData2(40, 3, words), 1);
    unsigned char back[6] = {};
    ASSERT_EQ(QX4GetEepromData2(40, 3, back), 1);
    EXPECT_EQ(0, std::memcmp(back, words, 6));

    AnswerNextWith(0x30, {0x70, 0x13, 0x01, 0xAA, 0xBB});
    ASSERT_EQ(QX4GetEepromData(19, word), 1);
    EXPECT_EQ(word[0], 0xAA);
    EXPECT_EQ(word[1], 0xBB);
    AnswerNextWith(0x30, {0x70, 0x14, 0x01, 0xCC, 0xDD});
    QX4SetCmdWaitTime(100);
    EXPECT_EQ(QX4GetEepromData(19, word), 0); // echoed address differs
    EXPECT_EQ(word[0], 0xAA);

    EXPECT_EQ(QX4InitEEPROM(), 1);
    ASSERT_EQ(QX4GetEepromData2(40, 3, back), 1);
    EXPECT_EQ(back[0], 0);

    EXPECT_EQ(QX4SetParamData(3, 7), 1);
    unsigned char value = 0;
    EXPECT_EQ(QX4GetParamData(3, &value), 1);
    EXPECT_EQ(value, 7);
    AnswerNextWith(0x30, {0x04, 0x07});
    EXPECT_EQ(QX4GetParamData(3, &value), 0); // another echo: passed over until the time-out
}

TEST_F(ReaderCommands, WordCountsThatCannotBeFramedSendNothing) {
    unsigned char big[2 * 200] = {};
    const size_t before = reader->Peer().Frames().size();
    EXPECT_EQ(QX4GetEepromData2(0, 127, big), 0);
    EXPECT_EQ(QX4SetEepromData2(0, 127, big), 0);
    EXPECT_EQ(QX4SetEepromData2(0, -1, big), 0);
    EXPECT_EQ(QX4WriteTagData(252, big), 0);
    EXPECT_EQ(QX4WriteTagData(254, big), 0);
    EXPECT_EQ(reader->Peer().Frames().size(), before);
    EXPECT_EQ(QX4SetEepromData2(0, 126, big), 1);
}

TEST_F(ReaderCommands, OperationAndTagModes) {
    EXPECT_EQ(QX4SetRWMode(0x50, 2, 0x3C, 10, 0), 1);
    EXPECT_EQ(LastSent(), qx4sim::EncodeFrame(0x4E, {0x00, 0x50, 0x02, 0x3C, 0x01, 0x00, 0x0A}));
    EXPECT_EQ(QX4SetRWMode(0x51, 2, 0x3C, 10, 1), 1);
    EXPECT_EQ(LastSent(), qx4sim::EncodeFrame(0x4E, {0x10, 0x51, 0x02, 0x3C, 0x01, 0x00, 0x00}));
    unsigned char mode = 0, second = 0, flags = 0;
    ASSERT_EQ(QX4GetRWMode(&mode, &second, &flags), 1);
    EXPECT_EQ(mode, 0x51);
    EXPECT_EQ(second, 2);
    EXPECT_EQ(flags, 0x3C);
    ASSERT_EQ(QX4DllRxModeSetCmd(&mode, &second, &flags), 1);

    EXPECT_EQ(QX4SetTagMode(0x0C, 1), 1);
    EXPECT_EQ(LastSent(), qx4sim::EncodeFrame(0x4E, {0x19, 0x0C}));
    EXPECT_EQ(QX4SetTagMode(0x0C, 0), 1);
    EXPECT_EQ(LastSent(), qx4sim::EncodeFrame(0x4E, {0x09, 0x0C}));
    unsigned char tagMode = 0;
    ASSERT_EQ(QX4GetTagMode(&tagMode), 1);
    EXPECT_EQ(tagMode, 0x0C);
    reader->Peer().ScriptSilence();
    QX4SetCmdWaitTime(50);
    EXPECT_EQ(QX4GetTagMode(&tagMode), 0);
    EXPECT_EQ(tagMode, 0); // callers read 0 after a failure
}

TEST_F(ReaderCommands, EepromBackedModesSurviveARestart) {
    EXPECT_EQ(QX4SetRWMode(0x03, 0, 0x40, 10, 1), 1);
    EXPECT_EQ(QX4SetRWMode(0x00, 0, 0x40, 10, 0), 1);
    QX4ReStartComand();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QX4ReadData();
    EXPECT_EQ(reader->Registers().mode, 0x03);
}

TEST_F(ReaderCommands, UidRegisterListAndAfi) {
    const unsigned char uid[8] = {0xE0, 0x04, 0x01, 0x00, 0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(QX4SetUIDSetCmd(uid), 1);
    EXPECT_EQ(LastSent(),
              qx4sim::EncodeFrame(0x4E, {0x50, 0xE0, 0x04, 0x01, 0x00, 0x12, 0x34, 0x56, 0x78}));
    unsigned char back[8] = {};
    ASSERT_EQ(QX4GetUIDGetCmd(back), 1);
    EXPECT_EQ(0, std::memcmp(back, uid, 8));

    // The reader-side inventory fills the list; reading an entry updates currentUid,
    // which the next addressed command carries.
    unsigned char count = 0;
    ASSERT_EQ(QX4Inventory2(0, 0, &count), 1);
    EXPECT_EQ(count, 3);
    ASSERT_EQ(QX4GetUidNumber(&count), 1);
    EXPECT_EQ(count, 3);
    ASSERT_EQ(QX4GetUidData(2, back), 1);
    EXPECT_EQ(back[0], 0x21);
    QX4ResetToReady(0x01, back);
    const Bytes sent = LastSent();
    EXPECT_EQ(Bytes(sent.begin() + 6, sent.begin() + 14), Bytes(back, back + 8));

    count = 0x55;
    AnswerNextWith(0x31, {0x04});
    EXPECT_EQ(QX4GetUidNumber(&count), 0);
    EXPECT_EQ(count, 0x55); // written only on success

    EXPECT_EQ(QX4SetAFIData(0x42), 1);
    unsigned char afi = 0;
    ASSERT_EQ(QX4GetAFIData(&afi), 1);
    EXPECT_EQ(afi, 0x42);
    AnswerNextWith(0x30, {0x09, 0x11});
    QX4SetCmdWaitTime(100);
    afi = 0;
    EXPECT_EQ(QX4GetAFIData(&afi), 0);
    EXPECT_EQ(afi, 0);
}

TEST_F(ReaderCommands, TagDataWriteLengths) {
    const unsigned char abc[3] = {0x61, 0x62, 0x63};
    EXPECT_EQ(QX4WriteTagData(3, abc), 1);
    EXPECT_EQ(LastSent(), qx4sim::EncodeFrame(0x4A, {0, 0, 0, 0, 0x61, 0x62, 0x63}));
    EXPECT_EQ(QX4WriteTagData(0, abc), 1);
    EXPECT_EQ(LastSent(), qx4sim::EncodeFrame(0x4A, {0, 0, 0, 0}));
    unsigned char many[255];
    std::memset(many, 'z', sizeof many);
    EXPECT_EQ(QX4WriteTagData(255, many), 1);
    EXPECT_EQ(LastSent()[3], 254);
    EXPECT_EQ(reader->Registers().tagData.size(), 250u);
}

} // namespace
} // namespace qx4test
