// Answers the link cannot vouch for: late, refused, split, corrupted or stray replies never
// pass for another command's answer, and failures say why.
#include "link_fixture.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qx4test {
namespace {

// The default field's second tag: 8-byte blocks.
const unsigned char kTagTwo[8] = {0x21, 0x43, 0x65, 0x87, 0x01, 0x00, 0x07, 0xE0};

bool IsFence(const Bytes& frame) {
    return frame.size() >= 10 && frame[2] == 0x4F && frame[3] == 3 && frame[4] == 0x70 &&
           frame[6] >= 1 && frame[5] + frame[6] <= 20;
}

class DoubtTest : public LinkTest {
  protected:
    void SetUp() override {
        LinkTest::SetUp();
        // Block b of tag two holds 8b .. 8b+7.
        reader->Modify([](auto&, std::vector<qx4sim::Tag>& field) {
            for (size_t i = 0; i < field[1].memory.size(); ++i)
                field[1].memory[i] = static_cast<uint8_t>(i);
        });
        QX4SetTagBlockSize(8);
        QX4SetCmdWaitTime(100);
    }
    // The reader answers as simulated, except where `change` says otherwise (nullopt).
    void Answer(std::function<std::optional<std::vector<Bytes>>(const Bytes&)> change) {
        // The reader itself, not the fixture's pointer to it, which TearDown resets.
        reader->Peer().SetResponder([sim = reader.get(), change](const Bytes& request) {
            if (auto answer = change(request)) return *answer;
            return sim->Respond(request);
        });
    }
    size_t Fences() {
        size_t count = 0;
        for (const Bytes& frame : reader->Peer().Frames())
            count += IsFence(frame) ? 1 : 0;
        return count;
    }
    // The simulated reader's reply to an addressed read of block b of tag two.
    Bytes ReplyOfBlock(int b) {
        const Bytes data{0x20,       static_cast<uint8_t>(b),
                         0x01,       kTagTwo[0],
                         kTagTwo[1], kTagTwo[2],
                         kTagTwo[3], kTagTwo[4],
                         kTagTwo[5], kTagTwo[6],
                         kTagTwo[7]};
        return reader->Respond(qx4sim::EncodeFrame(0x78, data)).at(0);
    }
    // Reads block b of tag two: 1 only with that block's bytes.
    int ReadsBlock(int b) {
        unsigned char out[8] = {};
        if (!QX4ReadSingleBlock(0x01, b, out, kTagTwo)) return 0;
        for (int i = 0; i < 8; ++i)
            if (out[i] != 8 * b + i) return -1; // success with another block's bytes
        return 1;
    }
};

TEST_F(DoubtTest, LateRepliesOfEveryLatenessNeverAnswerALaterCommand) {
    for (unsigned late : {150u, 250u, 350u}) { // 1.5, 2.5 and 3.5 times the wait
        reader->Peer().SetReplyDelay(late);
        EXPECT_EQ(ReadsBlock(1), 0);
        EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_TIMEOUT);
        reader->Peer().SetReplyDelay(0);
        unsigned char info[255];
        int length = 0;
        for (int i = 0; i < 3; ++i) { // the fence may run out of time; never a wrong answer
            const int read = ReadsBlock(2);
            EXPECT_NE(read, -1) << "late by " << late;
            EXPECT_FALSE(QX4GetSystemInfo(0x01, info, &length, kTagTwo) == 1 && length != 15);
        }
        EXPECT_EQ(ReadsBlock(3), 1);
    }
}

TEST_F(DoubtTest, AnAnswerWithTheSameEchoFromAnotherKindIsNotTaken) {
    // A block read echoes 0x20, as does parameter 0x20; a write of parameter 0x21 echoes
    // what a single-block write does.
    reader->Peer().SetReplyDelay(250);
    EXPECT_EQ(ReadsBlock(0), 0);
    reader->Peer().SetReplyDelay(0);
    unsigned char value = 0xEE;
    ASSERT_EQ(QX4GetParamData(0x20, &value), 1);
    EXPECT_EQ(value, reader->Registers().parameters[0x20]);
    EXPECT_EQ(Fences(), 1u);

    reader->Modify([](auto&, std::vector<qx4sim::Tag>& field) { field[1].locked[3] = true; });
    reader->Peer().SetReplyDelay(250);
    EXPECT_EQ(QX4SetParamData(0x21, 7), 0);
    reader->Peer().SetReplyDelay(0);
    const unsigned char data[8] = {};
    EXPECT_EQ(QX4WriteSingleBlock(0x01, 3, data, kTagTwo), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_NACK);
    EXPECT_EQ(ErrorCode(), std::make_pair(5, 0x12));

    reader->Peer().SetReplyDelay(250);
    unsigned char mode = 0;
    EXPECT_EQ(QX4GetTagMode(&mode), 0);
    reader->Peer().SetReplyDelay(0);
    Answer([](const Bytes& r) -> std::optional<std::vector<Bytes>> {
        if (r[2] == 0x4E && r[4] == 0x09)
            return std::vector<Bytes>{qx4sim::EncodeFrame(0x31, {0x44})};
        return std::nullopt;
    });
    EXPECT_EQ(QX4SetTagMode(0x0C, 0), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_NACK);

    // An EEPROM read and write echo the same sub-command.
    Answer([](const Bytes&) -> std::optional<std::vector<Bytes>> { return std::nullopt; });
    reader->Peer().SetReplyDelay(250);
    unsigned char words[4];
    EXPECT_EQ(QX4GetEepromData2(20, 2, words), 0);
    reader->Peer().SetReplyDelay(0);
    Answer([](const Bytes& r) -> std::optional<std::vector<Bytes>> {
        if (r[2] == 0x4E && r[4] == 0x70)
            return std::vector<Bytes>{qx4sim::EncodeFrame(0x31, {0x41})};
        return std::nullopt;
    });
    EXPECT_EQ(QX4SetEepromData2(20, 2, words), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_NACK);
}

TEST_F(DoubtTest, FirstAckCommandsTakeNoStrayAck) {
    // The reader refuses the tag-data write, the waiting buzzer and the simple read.
    Answer([](const Bytes& r) -> std::optional<std::vector<Bytes>> {
        if (r[2] == 0x4A || r[2] == 0x42 || r[2] == 0x52)
            return std::vector<Bytes>{qx4sim::EncodeFrame(0x31, {0x04})};
        return std::nullopt;
    });
    const unsigned char data[4] = {1, 2, 3, 4};
    unsigned char reply[255];
    int length = 0;
    const unsigned char buzz[2] = {1, 1};
    const std::vector<std::function<int()>> firstAck{
        [&] { return QX4WriteTagData(4, data); },
        [] { return QX4BuzOn(1, 1); },
        [] { return QX4SimpleReadCmd(); },
        [&] { return QX4Transceive(0x42, buzz, 2, reply, sizeof reply, &length); },
    };
    for (const auto& call : firstAck) {
        reader->Peer().SetReplyDelay(250);
        EXPECT_EQ(ReadsBlock(0), 0);
        reader->Peer().SetReplyDelay(0);
        EXPECT_EQ(call(), 0);
        EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_NACK);
        EXPECT_EQ(ErrorCode().first, 4);
    }
}

TEST_F(DoubtTest, SendOnlyCommandsLeaveNoAckForTheNext) {
    // The buzzer goes unanswered; the restart's and power-down's ACKs must not stand in.
    Answer([](const Bytes& r) -> std::optional<std::vector<Bytes>> {
        if (r[2] == 0x42) return std::vector<Bytes>{};
        return std::nullopt;
    });
    EXPECT_EQ(QX4ReStartComand(), 1);
    EXPECT_EQ(QX4BuzOn(1, 1), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_TIMEOUT);
    EXPECT_EQ(QX4SetPowerDown(), 1);
    EXPECT_EQ(QX4BuzOn(1, 1), 0);
    EXPECT_EQ(QX4BuzOn(1, 0), 1);
    unsigned char state = 0xEE;
    ASSERT_EQ(QX4GetPowerDown(&state), 1);
    EXPECT_EQ(state, 1);
}

TEST_F(DoubtTest, LateReplyInPiecesAcrossAnyWindow) {
    for (unsigned round = 0; round < 3; ++round) {
        // Block 0's reply comes 90 to 130 ms late, in pieces 15 ms apart.
        const Bytes late = ReplyOfBlock(0);
        reader->Peer().Script(
            {{Bytes(late.begin(), late.begin() + 5), Bytes(late.begin() + 5, late.begin() + 12),
              Bytes(late.begin() + 12, late.end())},
             90 + 20 * round,
             15});
        EXPECT_EQ(ReadsBlock(0), 0);
        EXPECT_NE(ReadsBlock(1), -1);
    }
    EXPECT_EQ(ReadsBlock(1), 1);
}

TEST_F(DoubtTest, CorruptedRepliesAreNoAnswers) {
    QX4SetCmdWaitTime(300);
    const Bytes good = ReplyOfBlock(2);
    for (size_t at : {size_t{6}, good.size() - 3, good.size() - 2, good.size() - 1}) {
        Bytes bad = good;
        bad[at] ^= 0x01; // a data byte, ETX, sum, CR
        QX4Resync();     // the dropped frame put the link in doubt: the fence goes first
        reader->Peer().Script({{bad}});
        EXPECT_EQ(ReadsBlock(2), 0) << "byte " << at;
        EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_TIMEOUT);
    }
    EXPECT_EQ(ReadsBlock(2), 1);
}

TEST_F(DoubtTest, StrayBytesOnTheIdleLineDoNotSpoilTheNextRead) {
    QX4SetCmdWaitTime(1000);
    reader->Peer().Send(Hex("02 00 30 0A 20"));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(ReadsBlock(1), 1);
    for (int i = 0; i < 3; ++i) {
        reader->Peer().Send(Bytes{0x02});
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(ReadsBlock(i), 1);
    }
    // A stray STX just before the answer: the reply still counts.
    Answer([](const Bytes& r) -> std::optional<std::vector<Bytes>> {
        if (r[2] != 0x4F || r[4] != 0x80) return std::nullopt;
        return std::vector<Bytes>{Bytes{0x02}, qx4sim::EncodeFrame(0x30, {0x80, 0x00})};
    });
    unsigned char status = 0xEE;
    EXPECT_EQ(QX4GetErrorStatus(&status), 1);
    EXPECT_EQ(status, 0);
}

TEST_F(DoubtTest, RepliesOfAnotherLengthFailWithOutputsUntouched) {
    QX4SetTagBlockSize(4); // the tag has 8-byte blocks
    unsigned char out[16];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(QX4ReadMultiBlock(0x01, 0, 1, out, kTagTwo), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_BAD_REPLY);
    EXPECT_EQ(out[0], 0xEE);
    AnswerNextWith(0x30, {0x80, 0x01, 0x02}); // one byte too many
    EXPECT_EQ(QX4GetErrorStatus(out), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_BAD_REPLY);
    EXPECT_EQ(out[0], 0xEE);
    AnswerNextWith(0x30, {0x9E, 0x00}); // a write acknowledged with a value
    EXPECT_EQ(QX4SetTxOnOff(1), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_BAD_REPLY);
}

TEST_F(DoubtTest, OutOfRangeBlocksAndCountsAreRefusedBeforeAnyFrame) {
    const size_t before = reader->Peer().Frames().size();
    unsigned char out[4096] = {};
    EXPECT_EQ(QX4ReadSingleBlock(0x01, 256, out, kTagTwo), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_BAD_ARGUMENT);
    EXPECT_EQ(QX4WriteSingleBlock(0x01, -1, out, kTagTwo), 0);
    EXPECT_EQ(QX4WriteSingleBlock(0x01, 0x103, out, kTagTwo), 0); // would write block 3
    EXPECT_EQ(QX4LockBlock(0x01, 300, kTagTwo), 0);
    EXPECT_EQ(QX4ReadMultiBlock(0x01, 0, 256, out, kTagTwo), 0);
    EXPECT_EQ(QX4ReadMultiBlock(0x01, -2, 0, out, kTagTwo), 0);
    EXPECT_EQ(QX4WriteMultiBlock(0x01, 256, 0, out, kTagTwo), 0);
    EXPECT_EQ(QX4GetMBlockSecSt(0x01, 0, -1, out, kTagTwo), 0);
    EXPECT_EQ(QX4Write2Blocks(0x01, 1000, out, kTagTwo), 0);
    EXPECT_EQ(QX4Lock2Blocks(0x01, -5, kTagTwo), 0);
    EXPECT_EQ(QX4ReadBytes(0x01, 0, 256, out, kTagTwo), 0);
    EXPECT_EQ(QX4WriteBytes(0x01, 256, 1, out, kTagTwo), 0);
    EXPECT_EQ(QX4Myd_Read(0x01, 256, out, kTagTwo), 0);
    EXPECT_EQ(QX4MydWrite(0x01, -1, out, kTagTwo), 0);
    EXPECT_EQ(QX4Myd_WriteByte(0x01, 256, 1, 2, kTagTwo), 0);
    EXPECT_EQ(QX4MydWriteReread(0x01, 999, out, kTagTwo), 0);
    EXPECT_EQ(QX4GetEepromData2(256, 1, out), 0);
    EXPECT_EQ(QX4SetEepromData(-1, 0), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_BAD_ARGUMENT);
    EXPECT_EQ(reader->Peer().Frames().size(), before);
}

TEST_F(DoubtTest, LateNackIsNotBlamedOnTheNextCommand) {
    reader->Peer().Script({{qx4sim::EncodeFrame(0x31, {0x05, 0x12})}, 200, 0});
    EXPECT_EQ(ReadsBlock(0), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_TIMEOUT);
    EXPECT_EQ(ReadsBlock(1), 1);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_NONE);
}

TEST_F(DoubtTest, CleanRunSendsNoFenceAndResyncAlwaysDoes) {
    unsigned char status;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ReadsBlock(i), 1);
        EXPECT_EQ(QX4GetErrorStatus(&status), 1);
    }
    EXPECT_EQ(Fences(), 0u);
    EXPECT_EQ(QX4Resync(), 1);
    EXPECT_EQ(QX4Resync(), 1);
    EXPECT_EQ(Fences(), 2u);
    // An answer left on the line by an earlier program is passed by.
    reader->Peer().Send(qx4sim::EncodeFrame(0x30, {0x20, 9, 9, 9, 9, 9, 9, 9, 9}));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(QX4Resync(), 1);
    EXPECT_EQ(ReadsBlock(4), 1);
}

TEST_F(DoubtTest, FenceWithoutAnswerLeavesTheLinkInDoubt) {
    reader->Peer().SetReplyDelay(250);
    EXPECT_EQ(ReadsBlock(0), 0);
    Answer([](const Bytes&) -> std::optional<std::vector<Bytes>> { return std::vector<Bytes>{}; });
    EXPECT_EQ(ReadsBlock(1), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_OUT_OF_STEP);
    EXPECT_EQ(QX4Resync(), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_OUT_OF_STEP);
    Answer([](const Bytes&) -> std::optional<std::vector<Bytes>> { return std::nullopt; });
    reader->Peer().SetReplyDelay(0);
    EXPECT_EQ(ReadsBlock(1), 1); // fenced again first
}

TEST_F(DoubtTest, WithoutAPortEveryCommandFailsAtOnce) {
    ::setenv("QX4_COM5", "/nonexistent/reader", 1);
    ASSERT_EQ(QX4DllOpen(5, 0), 0);
    unsigned char out[8];
    EXPECT_EQ(ReadsBlock(0), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_NO_PORT);
    EXPECT_EQ(QX4GetErrorStatus(out), 0);
    EXPECT_EQ(QX4Resync(), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_NO_PORT);
    EXPECT_EQ(QX4ComReOpen(5, 0), 0);
    EXPECT_EQ(QX4BuzOn(1, 1), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_NO_PORT);
    ::unsetenv("QX4_COM5");
    ASSERT_EQ(QX4ComReOpen(3, 0), 1);
    QX4SetTagBlockSize(8);
    QX4SetCmdWaitTime(100);
    reader->Peer().SetReplyDelay(250);
    EXPECT_EQ(ReadsBlock(0), 0);
    reader->Peer().SetReplyDelay(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(QX4ComReOpen(3, 0), 1);
    EXPECT_EQ(ReadsBlock(1), 1);
}

TEST_F(DoubtTest, ADeviceOpenedByNameNeedsNoEnvironment) {
    ::unsetenv("QX4_COM3");
    ASSERT_EQ(QX4DllOpenDevice(reader->DevicePath().c_str(), 0), 1);
    QX4SetTagBlockSize(8);
    EXPECT_EQ(QX4GetPortNum(), 0);
    EXPECT_EQ(ReadsBlock(1), 1);
    ASSERT_EQ(QX4ComReOpen(0, 0), 1); // the same device again
    EXPECT_EQ(ReadsBlock(2), 1);
    EXPECT_EQ(QX4DllOpenDevice("/nonexistent/reader", 0), 0);
    EXPECT_EQ(QX4DllOpenDevice(nullptr, 0), 0);
}

TEST_F(DoubtTest, AReopenKeepsTheDoubtOfAnAnswerStillOnItsWay) {
    reader->Peer().SetReplyDelay(250);
    EXPECT_EQ(ReadsBlock(5), 0);
    reader->Peer().SetReplyDelay(0);
    ASSERT_EQ(QX4ComReOpen(3, 0), 1); // block 5's answer comes after the reopen
    const size_t fences = Fences();
    EXPECT_EQ(ReadsBlock(6), 1);
    EXPECT_EQ(Fences(), fences + 1);
}

TEST_F(DoubtTest, AStreamOfNotificationsDoesNotHoldAWaitPastItsLimit) {
    reader->Peer().ScriptSilence();
    std::atomic<bool> stop{false}, floodEnded{false};
    std::thread flood([&] {
        // Far longer than the wait: the read must end while the stream still runs.
        for (int i = 0; i < 5000 && !stop; ++i) {
            reader->Peer().Send(qx4sim::EncodeFrame(0x44, {0x01, 0x02}));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        floodEnded = true;
    });
    EXPECT_EQ(ReadsBlock(0), 0);
    const bool endedFirst = floodEnded;
    stop = true;
    flood.join();
    EXPECT_FALSE(endedFirst);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_TIMEOUT);
}

TEST_F(DoubtTest, TagDataLengthsOutsideOneByteAreRefused) {
    const unsigned char data[4] = {1, 2, 3, 4};
    const size_t frames = reader->Peer().Frames().size();
    for (int length : {-1, -256, 256, 1000}) {
        EXPECT_EQ(QX4WriteTagData(length, data), 0) << length;
        EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_BAD_ARGUMENT);
    }
    EXPECT_EQ(reader->Peer().Frames().size(), frames);
}

TEST_F(DoubtTest, AChildForkedAfterTheOpenLeavesTheParentsPortAlone) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "fork of a threaded process under ThreadSanitizer";
#endif
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        unsigned char status;
        const bool refused = QX4IsOK() == 0 && QX4GetErrorStatus(&status) == 0 &&
                             QX4GetFailureCause() == QX4_CAUSE_NO_PORT;
        QX4DllClose(); // what the child's exit would do
        ::_exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(QX4IsOK(), 1);
    EXPECT_EQ(ReadsBlock(0), 1);
}

} // namespace
} // namespace qx4test
