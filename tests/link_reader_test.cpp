// The link on readers that are not our simulator: a small EEPROM, refusals followed by
// the real answer, repeated and unsolicited answers, bytes handed on by a USB-serial
// adapter or a UART FIFO, and an auto-scan that takes nothing but the mode write.
#include "scan_commands.h"
#include "scripted_reader.h"

#include "qx4drv.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace qx4test {
namespace {

// The default field's second tag: 8-byte blocks, block b holding 8b .. 8b+7 below.
const unsigned char kTagTwo[8] = {0x21, 0x43, 0x65, 0x87, 0x01, 0x00, 0x07, 0xE0};

bool IsFence(const Bytes& frame) {
    return frame.size() >= 10 && frame[2] == 0x4F && frame[3] == 3 && frame[4] == 0x70 &&
           frame[5] + frame[6] <= 20 && frame[6] >= 1;
}
bool IsBlockRead(const Bytes& request) {
    return request.size() > 4 && request[2] == 0x78 && request[4] == 0x20;
}
Bytes Nack(uint8_t code) {
    return qx4sim::EncodeFrame(qx4sim::kNack, {code});
}

struct CountingWindow : QX4Window {
    std::atomic<int> received{0};
    CountingWindow() {
        copyData = [](QX4Window* self, const QX4CopyData*) {
            ++static_cast<CountingWindow*>(self)->received;
        };
    }
};

class ReaderTest : public ::testing::Test {
  protected:
    void TearDown() override {
        QX4SetHandle(nullptr);
        QX4DllClose();
        reader.reset();
        ::unsetenv("QX4_COM3");
    }
    void Open(unsigned baud = 0, Delivery delivery = Delivery::Whole, int waitMs = 300) {
        reader = std::make_unique<ScriptedReader>(baud, delivery);
        reader->Content().Modify([](auto&, std::vector<qx4sim::Tag>& field) {
            for (size_t i = 0; i < field[1].memory.size(); ++i)
                field[1].memory[i] = static_cast<uint8_t>(i);
        });
        ::setenv("QX4_COM3", reader->DevicePath().c_str(), 1);
        ASSERT_EQ(QX4DllOpen(3, baud == 9600 ? 1 : 0), 1);
        QX4SetTagBlockSize(8);
        QX4SetCmdWaitTime(waitMs);
    }
    // Reads block b of tag two: 1 only with that block's bytes, -1 with another's.
    static int ReadsBlock(int b) {
        unsigned char out[8] = {};
        if (!QX4ReadSingleBlock(0x01, b, out, kTagTwo)) return 0;
        for (int i = 0; i < 8; ++i)
            if (out[i] != 8 * b + i) return -1;
        return 1;
    }
    size_t Fences() const {
        size_t count = 0;
        for (const Bytes& r : reader->Requests())
            count += IsFence(r) ? 1 : 0;
        return count;
    }
    // The next block read goes unanswered: the link is in doubt after it.
    void OneReadUnanswered() {
        auto once = std::make_shared<std::atomic<bool>>(true);
        reader->SetChange([once](const Bytes& r, Answer usual) {
            if (IsBlockRead(r) && once->exchange(false)) return Answer{};
            return usual;
        });
        EXPECT_EQ(ReadsBlock(0), 0);
        EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_TIMEOUT);
        reader->SetChange(nullptr);
    }
    static std::pair<int, int> ErrorCode() {
        int code = -1, detail = -1;
        QX4GetErrorCode(&code, &detail);
        return {code, detail};
    }

    std::unique_ptr<ScriptedReader> reader;
};

TEST_F(ReaderTest, TheFenceStaysWithinTheWordsOfASmallEeprom) {
    for (int refusal : {0x43, 0x41, ScriptedReader::kSilence}) {
        Open(19200);
        reader->SetEeprom(20, refusal);
        OneReadUnanswered();
        for (int b = 1; b <= 10; ++b)
            EXPECT_EQ(ReadsBlock(b), 1) << "refusal " << refusal << ", block " << b;
        // Every program start fences first (qx4, Python, the gateway).
        for (int start = 0; start < 20; ++start) {
            ASSERT_EQ(QX4DllOpen(3, 0), 1);
            EXPECT_EQ(QX4Resync(), 1) << "refusal " << refusal << ", start " << start;
        }
        for (const Bytes& r : reader->Requests()) {
            if (r[2] == 0x4F && r[4] == 0x70) {
                EXPECT_LE(r[5] + r[6], 20) << "a fence beyond word 19";
            }
        }
        TearDown();
    }
}

TEST_F(ReaderTest, ConsecutiveFencesDifferInEchoAndLength) {
    Open();
    Bytes previous;
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(QX4Resync(), 1);
        const Bytes fence = reader->Requests().back();
        ASSERT_TRUE(IsFence(fence));
        if (!previous.empty()) {
            EXPECT_NE(previous[6], fence[6]) << "same length twice";
        }
        previous = fence;
    }
}

TEST_F(ReaderTest, TheCallersOwnLateEepromReadNeverPassesForTheFence) {
    Open(0, Delivery::Whole, 300);
    // The reader refuses the tag-data write and the buzzer; the caller's own one-word
    // read of word `late` comes late.
    auto late = std::make_shared<std::atomic<int>>(-1);
    reader->SetChange([late](const Bytes& r, Answer usual) {
        if (r[2] == 0x4A || r[2] == 0x42) return Answer{{Nack(0x44)}};
        if (r[2] == 0x4F && r[4] == 0x70 && r[6] == 1 && r[5] == *late && !usual.empty()) {
            *late = -1;
            usual[0].afterMs = 600;
        }
        return usual;
    });
    ASSERT_EQ(QX4Resync(), 1);
    const Bytes fence = reader->Requests().back();
    const unsigned char data[4] = {1, 2, 3, 4};
    unsigned char word[2];
    // A program reading words one by one where fences counting up would go next, and
    // then every one of the fence words.
    for (int i = 1; i <= 12; ++i) {
        const int a = i <= 2 ? (fence[5] + i) % 256 : 2 * (i - 3);
        // In step first: the fence the refusal calls for must not be the read made late.
        ASSERT_EQ(QX4Resync(), 1);
        *late = a;
        EXPECT_EQ(QX4GetEepromData(a, word), 0);
        EXPECT_EQ(i % 2 ? QX4BuzOn(1, 1) : QX4WriteTagData(4, data), 0) << "word " << a;
    }
}

TEST_F(ReaderTest, ANackFollowedByTheRealAnswerShiftsNoLaterAnswer) {
    Open();
    reader->SetChange([](const Bytes& r, Answer usual) {
        if (IsBlockRead(r) && r[5] == 10) return Answer{{Nack(0x04)}, {usual[0].frame, 20}};
        return usual;
    });
    EXPECT_EQ(ReadsBlock(10), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_NACK);
    int right = 0;
    for (int b = 11; b < 31; ++b)
        right += ReadsBlock(b) == 1;
    EXPECT_EQ(right, 20);
    EXPECT_EQ(Fences(), 1u); // one fence after the refusal
}

TEST_F(ReaderTest, EveryReadRefusedThenAnsweredNeverGivesAnotherBlock) {
    Open();
    reader->SetChange([](const Bytes& r, Answer usual) {
        if (IsBlockRead(r)) return Answer{{Nack(0x04)}, {usual[0].frame, 20}};
        return usual;
    });
    for (int b = 0; b < 20; ++b)
        EXPECT_EQ(ReadsBlock(b), 0) << "block " << b; // never 1 (or -1) with an earlier answer
}

TEST_F(ReaderTest, RepeatedAnswersShiftNoLaterAnswer) {
    Open();
    // Every answer comes twice, the copy 3 to 300 ms later.
    auto count = std::make_shared<std::atomic<unsigned>>(0);
    reader->SetChange([count](const Bytes&, Answer usual) {
        if (usual.empty()) return usual;
        const unsigned later = std::array{3u, 10u, 30u, 100u, 300u}[(*count)++ % 5];
        usual.push_back({usual[0].frame, later});
        return usual;
    });
    ASSERT_EQ(QX4Resync(), 1); // as every program starts: the fence's copy shows the repeats
    int right = 0, wrong = 0;
    for (int b = 0; b < 40; ++b) {
        const int read = ReadsBlock(b % 32);
        right += read == 1;
        wrong += read == -1;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GE(right, 30); // some fence may miss its wait behind a late copy
}

// A reader that repeats one answer without having repeated before, right after a clean
// start: the copy is never the next read's answer, of the same tag or another, also
// when that read's own answer is lost.
TEST_F(ReaderTest, ASingleRepeatIsNeverTheNextReadsAnswer) {
    for (unsigned later : {1u, 3u, 5u}) {
        SCOPED_TRACE(later);
        Open();
        ASSERT_EQ(QX4Resync(), 1);
        for (int b = 0; b < 5; ++b)
            ASSERT_EQ(ReadsBlock(b), 1);
        auto once = std::make_shared<std::atomic<bool>>(true);
        reader->SetChange([once, later](const Bytes& r, Answer usual) {
            if (IsBlockRead(r) && r[5] == 5 && once->exchange(false))
                usual.push_back({usual[0].frame, later});
            return usual;
        });
        EXPECT_EQ(ReadsBlock(5), 1);
        EXPECT_EQ(ReadsBlock(6), 1);
        int wrong = 0;
        for (int b = 7; b < 20; ++b)
            wrong += ReadsBlock(b) == -1;
        EXPECT_EQ(wrong, 0);
        TearDown();
    }

    Open(); // tag one's 4-byte block repeated, then tag two's block read as 4 bytes
    ASSERT_EQ(QX4Resync(), 1);
    const unsigned char tagOne[8] = {0x78, 0x56, 0x34, 0x12, 0x00, 0x01, 0x04, 0xE0};
    QX4SetTagBlockSize(4);
    unsigned char one[4], two[4];
    ASSERT_EQ(QX4ReadSingleBlock(0x01, 0, one, tagOne), 1);
    auto once = std::make_shared<std::atomic<bool>>(true);
    reader->SetChange([once](const Bytes& r, Answer usual) {
        if (IsBlockRead(r) && once->exchange(false)) usual.push_back({usual[0].frame, 3});
        return usual;
    });
    ASSERT_EQ(QX4ReadSingleBlock(0x01, 0, one, tagOne), 1);
    // Tag two's own answer carries 8 bytes: refused for its length, never tag one's taken.
    std::memcpy(two, "none", 4);
    EXPECT_EQ(QX4ReadSingleBlock(0x01, 0, two, kTagTwo), 0);
    EXPECT_EQ(std::memcmp(two, "none", 4), 0);
    TearDown();

    Open(); // a reader that repeated once repeats block 5, and block 6 goes unanswered
    QX4SetTagBlockSize(8);
    reader->SetChange([](const Bytes& r, Answer usual) {
        if (IsBlockRead(r) && (r[5] == 1 || r[5] == 5))
            usual.push_back({usual[0].frame, r[5] == 1 ? 100u : 2u});
        if (IsBlockRead(r) && r[5] == 6) return Answer{};
        return usual;
    });
    EXPECT_EQ(ReadsBlock(1), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the copy between commands
    EXPECT_EQ(ReadsBlock(2), 1);
    EXPECT_EQ(ReadsBlock(5), 1);
    EXPECT_EQ(ReadsBlock(6), 0);
}

TEST_F(ReaderTest, FirstAckCommandsTakeNoStrayAck) {
    Open();
    const unsigned char data[4] = {1, 2, 3, 4};
    unsigned char reply[255], mode[1] = {0};
    int length = 0;
    const unsigned char buzz[2] = {1, 1};
    const std::vector<std::function<int()>> firstAck{
        [&] { return QX4WriteTagData(4, data); },
        [] { return QX4BuzOn(1, 1); },
        [&] { return QX4Transceive(0x4A, data, 4, reply, sizeof reply, &length); },
        [&] { return QX4Transceive(0x42, buzz, 2, reply, sizeof reply, &length); },
    };
    // The reader refuses every first-ACK command.
    auto refuse = [](const Bytes& r, Answer usual) {
        if (r[2] == 0x4A || r[2] == 0x42) return Answer{{Nack(0x04)}};
        return usual;
    };
    for (size_t i = 0; i < firstAck.size(); ++i) {
        // A repeated ACK of the command before.
        reader->SetChange([refuse](const Bytes& r, Answer usual) {
            if (r[2] == 0x4F && r[4] == 0x09) usual.push_back({usual[0].frame, 5});
            return refuse(r, usual);
        });
        EXPECT_EQ(QX4GetTagMode(mode), 1);
        EXPECT_EQ(firstAck[i](), 0) << "after a repeated ACK, call " << i;
        // A NACK followed by an ACK.
        reader->SetChange([refuse](const Bytes& r, Answer usual) {
            if (r[2] == 0x4F && r[4] == 0x09) return Answer{{Nack(0x04)}, {usual[0].frame, 5}};
            return refuse(r, usual);
        });
        EXPECT_EQ(QX4GetTagMode(mode), 0);
        EXPECT_EQ(firstAck[i](), 0) << "after a NACK and an ACK, call " << i;
        // An ACK nobody asked for.
        reader->SetChange(refuse);
        reader->Send(qx4sim::EncodeFrame(qx4sim::kAck, {0x4A}));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(firstAck[i](), 0) << "after an unsolicited ACK, call " << i;
        EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_NACK);
    }
}

// Auto-scan with a command every 50 ms: every notification reaches the window.
void NotificationsThrough(std::unique_ptr<ScriptedReader>& reader, unsigned baud) {
    CountingWindow window;
    QX4SetHandle(&window);
    static std::atomic<int> bad{0};
    bad = 0;
    QX4SetTraceHook(
        [](int direction, const unsigned char*, unsigned, void*) {
            if (direction == QX4_TRACE_BAD) ++bad;
        },
        nullptr);
    const ScanRun run = CommandsDuringScan(*reader, baud, 3);
    const unsigned sent = reader->NotificationsSent();
    EXPECT_GT(sent, 20u);
    EXPECT_EQ(window.received.load(), static_cast<int>(sent)) << baud << " baud";
    EXPECT_EQ(run.failed, 0);
    EXPECT_EQ(bad.load(), 0);
    QX4SetTraceHook(nullptr, nullptr);
    QX4SetHandle(nullptr);
}

TEST_F(ReaderTest, NotificationsArriveWholeThroughAUsbAdapter) {
    Open(19200, Delivery::UsbAdapter);
    NotificationsThrough(reader, 19200);
}

TEST_F(ReaderTest, NotificationsArriveWholeThroughAUartFifo) {
    Open(9600, Delivery::UartFifo);
    NotificationsThrough(reader, 9600);
}

TEST_F(ReaderTest, TheModeWriteAlwaysGetsTheReaderOutOfAutoScan) {
    for (int refusal : {0x44, ScriptedReader::kSilence}) {
        Open(0, Delivery::Whole, 200);
        reader->SetScan(refusal, 100);
        reader->Content().Modify([](qx4sim::ReaderRegisters& r, auto&) { r.mode = 0x01; });
        EXPECT_EQ(ReadsBlock(1), 0); // refused or unanswered: the link is in doubt
        EXPECT_EQ(ReadsBlock(2), 0); // its fence is refused too
        if (refusal != ScriptedReader::kSilence) {
            EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_FENCE_REFUSED);
        }
        ASSERT_EQ(QX4ComReOpen(3, 0), 1);
        EXPECT_EQ(QX4SetRWMode(0, 0, 0, 0, 0), 1) << "refusal " << refusal;
        EXPECT_EQ(reader->Content().Registers().mode, 0);
        EXPECT_EQ(ReadsBlock(3), 1);
        TearDown();
    }
}

TEST_F(ReaderTest, ARefusedFenceLeavesTheCallersCodes) {
    Open(0, Delivery::Whole, 200);
    reader->Content().Modify(
        [](auto&, std::vector<qx4sim::Tag>& field) { field[1].locked[3] = true; });
    const unsigned char data[8] = {};
    EXPECT_EQ(QX4WriteSingleBlock(0x01, 3, data, kTagTwo), 0);
    EXPECT_EQ(ErrorCode(), std::make_pair(5, 0x12));
    reader->SetChange([](const Bytes& r, Answer usual) {
        if (r[2] == 0x4F && r[4] == 0x70) return Answer{{Nack(0x41)}};
        return usual;
    });
    EXPECT_EQ(ReadsBlock(1), 0); // the write's NACK left a doubt; every fence is refused
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_FENCE_REFUSED);
    EXPECT_EQ(ErrorCode(), std::make_pair(5, 0x12));
    EXPECT_EQ(QX4Resync(), 0);
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_FENCE_REFUSED);
    // Each refused fence was followed by another request.
    std::vector<Bytes> fences;
    for (const Bytes& r : reader->Requests())
        if (IsFence(r)) fences.push_back(r);
    ASSERT_GE(fences.size(), 6u);
    for (size_t i = 1; i < fences.size(); ++i)
        EXPECT_NE(fences[i], fences[i - 1]);
}

TEST_F(ReaderTest, AZeroWaitTimeStillRecovers) {
    Open(19200);
    OneReadUnanswered();
    QX4SetCmdWaitTime(0);
    EXPECT_EQ(QX4Resync(), 1); // the fence waits for its answer on a paced line
    QX4SetCmdWaitTime(300);
    EXPECT_EQ(ReadsBlock(4), 1);
}

TEST_F(ReaderTest, ACleanRunThroughAUsbAdapterSendsNoFence) {
    Open(19200, Delivery::UsbAdapter);
    unsigned char status = 0, out[255];
    for (int b = 0; b < 8; ++b) {
        EXPECT_EQ(ReadsBlock(b), 1);
        EXPECT_EQ(QX4GetErrorStatus(&status), 1);
    }
    EXPECT_EQ(QX4ReadMultiBlock(0x01, 0, 30, out, kTagTwo), 1); // 255 bytes: five packets
    EXPECT_EQ(Fences(), 0u);
}

} // namespace
} // namespace qx4test
