// Lifecycle, serial port and response wait, end to end over a pseudo-terminal.
#include "link_fixture.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <dirent.h>
#include <thread>

namespace qx4test {
namespace {

int ThreadCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        ::closedir(dir);
    }
    return count;
}

// Threads end a moment after their last statement; give them that moment.
int SettledThreadCount(int expected) {
    for (int i = 0; i < 100 && ThreadCount() != expected; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ThreadCount();
}

TEST(PortNames, EnvironmentFirstThenDefaultRanges) {
    ::unsetenv("QX4_COM7");
    EXPECT_EQ(qx4::platform::ResolvePortName("COM1:"), "/dev/ttyS0");
    EXPECT_EQ(qx4::platform::ResolvePortName("COM33:"), "/dev/ttyUSB0");
    EXPECT_EQ(qx4::platform::ResolvePortName("COM96:"), "/dev/ttyACM31");
    EXPECT_EQ(qx4::platform::ResolvePortName("COM97:"), "");
    EXPECT_EQ(qx4::platform::ResolvePortName("COM0:"), "");
    ::setenv("QX4_COM7", "/dev/ttyUSB3", 1);
    EXPECT_EQ(qx4::platform::ResolvePortName("COM7:"), "/dev/ttyUSB3");
    ::unsetenv("QX4_COM7");
}

TEST(Lifecycle, WithoutContext) {
    QX4DllClose();
    EXPECT_EQ(QX4IsOK(), 0);
    EXPECT_EQ(QX4GetPortNum(), 0);
    EXPECT_EQ(QX4GetfDispMessage(), 0);
    EXPECT_EQ(QX4ComReOpen(3, 0), 0);
    QX4SetfDispMessage(1);
    QX4SetCmdWaitTime(5);
    int code = 77, detail = 78;
    QX4GetErrorCode(&code, &detail); // left untouched
    EXPECT_EQ(code, 77);
    EXPECT_EQ(detail, 78);
    char text[255] = "unchanged";
    unsigned char uid[8] = {};
    EXPECT_EQ(QX4GetROMVersion(text), 0);
    EXPECT_STREQ(text, "unchanged");
    EXPECT_EQ(QX4ReStartComand(), 0);
    EXPECT_EQ(QX4GetEepromData(12, uid), 0);
    EXPECT_EQ(QX4BuzOn(1, 0), 0);
    EXPECT_EQ(QX4ReadSingleBlock(0, 0, uid, uid), 0);
    EXPECT_EQ(fnQX4DRV(), 42);
    EXPECT_EQ(nQX4DRV, 0);
    EXPECT_EQ(QX4GetTimerInterval(), 0);
}

TEST(Lifecycle, MissingDeviceKeepsContextAndReopenRecovers) {
    HookLog::Install();
    ::setenv("QX4_COM5", "/nonexistent/reader", 1);
    EXPECT_EQ(QX4DllOpen(5, 1), 0);
    EXPECT_EQ(QX4IsOK(), 0);
    EXPECT_EQ(QX4GetPortNum(), 5);
    EXPECT_TRUE(HookLog::Get().boxes.empty());
    EXPECT_EQ(HookLog::Get().sounds, std::vector<std::string>{"Windows\\Alarm2.wav"});
    EXPECT_EQ(QX4GetfDispMessage(), 0);

    qx4sim::SimulatedReader reader;
    ::setenv("QX4_COM3", reader.DevicePath().c_str(), 1);
    EXPECT_EQ(QX4ComReOpen(3, 0), 1);
    EXPECT_EQ(QX4IsOK(), 1);
    EXPECT_EQ(HookLog::Get().sounds.back(), "Windows\\Alarm1.wav");
    char text[255];
    EXPECT_EQ(QX4GetROMVersion(text), 1);
    QX4DllClose();
    QX4SetPlatformHooks(nullptr);
}

TEST(Lifecycle, DeviceThatIsNoSerialPortShowsSetupBox) {
    HookLog::Install();
    ::setenv("QX4_COM6", "/dev/null", 1);
    EXPECT_EQ(QX4DllOpen(6, 0), 0);
    EXPECT_EQ(HookLog::Get().boxes,
              std::vector<std::string>{"Info Error Info: Error: Getting Comms. State."});
    EXPECT_EQ(QX4IsOK(), 0);
    QX4DllClose();
    QX4SetPlatformHooks(nullptr);
}

TEST(Lifecycle, OpenIsExclusive) {
    qx4sim::PtyPeer peer;
    const int first = qx4::platform::OpenSerialDevice(peer.DevicePath());
    ASSERT_GE(first, 0);
    EXPECT_EQ(qx4::platform::OpenSerialDevice(peer.DevicePath()), -1);
    qx4::platform::CloseSerialDevice(first);
    const int again = qx4::platform::OpenSerialDevice(peer.DevicePath());
    EXPECT_GE(again, 0);
    qx4::platform::CloseSerialDevice(again);
}

TEST(Lifecycle, CloseAndReopenLeaveExactlyOneReceiveThread) {
    qx4sim::SimulatedReader reader;
    ::setenv("QX4_COM3", reader.DevicePath().c_str(), 1);
    const int before = ThreadCount();
    ASSERT_EQ(QX4DllOpen(3, 0), 1);
    EXPECT_EQ(SettledThreadCount(before + 1), before + 1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(QX4ComReOpen(3, i % 2), 1);
    EXPECT_EQ(SettledThreadCount(before + 1), before + 1);
    ASSERT_EQ(QX4DllOpen(3, 0), 1); // a second open replaces the first context
    EXPECT_EQ(SettledThreadCount(before + 1), before + 1);
    QX4DllClose();
    EXPECT_EQ(ThreadCount(), before); // joined before QX4DllClose returned
}

class WaitTest : public LinkTest {};

TEST_F(WaitTest, ReopenKeepsSettingsAndEmptiesTheRing) {
    QX4SetCmdWaitTime(345);
    QX4SetTagBlockSize(8);
    QX4SetTagMydBlockSize(4);
    QX4SetfDispMessage(1);
    // An unsolicited frame arrives but is never scanned before the reopen.
    RecordingWindow counter;
    QX4SetHandle(&counter);
    reader->Peer().Send(qx4sim::EncodeFrame(0x44, {'A'}));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(QX4ComReOpen(3, 0), 1);
    QX4ReadData();
    EXPECT_TRUE(counter.received.empty());
    EXPECT_EQ(QX4GetCmdWaitTime(), 345);
    EXPECT_EQ(QX4GetTagBlockSize(), 8);
    EXPECT_EQ(QX4GetTagMydBlockSize(), 4);
    EXPECT_EQ(QX4GetfDispMessage(), 1);
}

TEST_F(WaitTest, NackRecordsCodesAndTimeOutLeavesThem) {
    AnswerNextWith(0x31, {0x05, 0x12});
    EXPECT_EQ(QX4SetTxOnOff(1), 0);
    EXPECT_EQ(ErrorCode(), std::make_pair(5, 0x12));
    reader->Peer().ScriptSilence();
    QX4SetCmdWaitTime(100);
    EXPECT_EQ(QX4SetTxOnOff(1), 0);
    EXPECT_EQ(ErrorCode(), std::make_pair(5, 0x12));
    EXPECT_EQ(QX4SetTxOnOff(1), 1); // a success leaves them too
    EXPECT_EQ(ErrorCode(), std::make_pair(5, 0x12));
}

TEST_F(WaitTest, DiagnosticsOfNackAndTimeOut) {
    QX4SetfDispMessage(1);
    AnswerNextWith(0x31, {0x44});
    EXPECT_EQ(QX4SetTxOnOff(1), 0);
    reader->Peer().ScriptSilence();
    QX4SetCmdWaitTime(50);
    EXPECT_EQ(QX4SetTxOnOff(1), 0);
    EXPECT_EQ(HookLog::Get().boxes,
              (std::vector<std::string>{"Info Message: 不正なコマンド", "Info Message: NACK 受信",
                                        "Info Message: レスポンス待ち　タイムオーバー"}));
}

TEST_F(WaitTest, ReplySplitDelayedAndAfterGarbage) {
    const Bytes ack = qx4sim::EncodeFrame(0x30, {0x9E});
    reader->Peer().Script(
        {{Bytes{0xFF, 0x31, 0x0D}, Bytes(ack.begin(), ack.begin() + 2),
          Bytes(ack.begin() + 2, ack.begin() + 5), Bytes(ack.begin() + 5, ack.end())},
         30,
         40});
    EXPECT_EQ(QX4SetTxOnOff(1), 1);
    EXPECT_GT(HookLog::Get().pumps, 3); // messages kept flowing while it waited
}

TEST_F(WaitTest, ZeroWaitTimeReturnsAfterOneScan) {
    reader->Peer().Script({{qx4sim::EncodeFrame(0x30, {0x9E})}, 200, 0});
    QX4SetCmdWaitTime(0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QX4SetTxOnOff(1), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
}

TEST_F(WaitTest, EarlierAnswersAreDroppedBeforeTheCommandIsSent) {
    // The restart is not awaited; its acknowledgement arrives before the next command.
    reader->Peer().Script({{qx4sim::EncodeFrame(0x30, {0x9D})}});
    EXPECT_EQ(QX4ReStartComand(), 1);
    ASSERT_TRUE(reader->Peer().WaitForFrames(1, 500));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(QX4SetLEDCont(1, 2, 3), 1);
    EXPECT_EQ(reader->Registers().led, (std::array<uint8_t, 3>{1, 2, 3})); // answered itself
    unsigned char status = 0xEE;
    reader->Peer().Script({{qx4sim::EncodeFrame(0x30, {0x9D})}});
    EXPECT_EQ(QX4ReStartComand(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(QX4GetErrorStatus(&status), 1);
    EXPECT_EQ(status, 0x00);
}

TEST_F(WaitTest, LateReplyDoesNotAnswerADifferentCommand) {
    QX4SetCmdWaitTime(60);
    reader->Peer().SetReplyDelay(150);
    char text[255] = "unchanged";
    EXPECT_EQ(QX4GetROMVersion(text), 0);
    EXPECT_STREQ(text, "unchanged");
    reader->Peer().SetReplyDelay(0);
    QX4SetCmdWaitTime(1000);
    unsigned char dsfid = 0xEE, uid[8] = {};
    ASSERT_EQ(QX4Inventory(0x40, &dsfid, uid), 1); // the version text arrives meanwhile
    EXPECT_EQ(uid[7], 0xE0);
    EXPECT_EQ(uid[0], 0x78);
    ASSERT_EQ(QX4GetROMVersion(text), 1);
    EXPECT_STREQ(text, "QX4SIM Ver1.00");
}

TEST_F(WaitTest, LateReplyDoesNotAnswerTheNextCommandOfTheSameKind) {
    const qx4sim::Tag tag = reader->Field()[1]; // 8-byte blocks
    reader->Modify([](auto&, std::vector<qx4sim::Tag>& field) {
        for (size_t i = 0; i < field[1].memory.size(); ++i)
            field[1].memory[i] = static_cast<uint8_t>(i);
    });
    QX4SetTagBlockSize(8);
    QX4SetCmdWaitTime(100);
    reader->Peer().SetReplyDelay(250);
    unsigned char out[8] = {};
    EXPECT_EQ(QX4ReadSingleBlock(0x01, 0, out, tag.uid.data()), 0);
    reader->Peer().SetReplyDelay(0);
    ASSERT_EQ(QX4ReadSingleBlock(0x01, 1, out, tag.uid.data()), 1);
    EXPECT_EQ(out[0], 8); // block 1, not block 0's late answer
    EXPECT_EQ(out[7], 15);
}

TEST_F(WaitTest, ShortAckForAValueIsAFailureWithOutputsUntouched) {
    AnswerNextWith(0x30, {0x80}); // the echo, but no status byte
    unsigned char status = 0xEE;
    EXPECT_EQ(QX4GetErrorStatus(&status), 0);
    EXPECT_EQ(status, 0xEE);
}

TEST_F(WaitTest, BytesQueuedBeforeTheOpenAreDiscarded) {
    QX4DllClose();
    reader->Peer().Send(qx4sim::EncodeFrame(0x44, {'O', 'L', 'D'}));
    reader->Peer().Send(qx4sim::EncodeFrame(0x30, {0x9E}));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(QX4DllOpen(3, 0), 1);
    RecordingWindow counter;
    QX4SetHandle(&counter);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    QX4ReadData();
    EXPECT_TRUE(counter.received.empty());
    reader->Peer().ScriptSilence();
    QX4SetCmdWaitTime(100);
    EXPECT_EQ(QX4SetTxOnOff(1), 0); // the stale ACK does not answer it
}

TEST_F(WaitTest, AnswerFollowedByThePartOfAnotherFrameStaysIntact) {
    RecordingWindow counter;
    QX4SetHandle(&counter);
    Bytes bytes = qx4sim::EncodeFrame(0x30, {0x90, 'V', '1'});
    const Bytes next = qx4sim::EncodeFrame(0x44, {'N', 'O', 'I', 'S', 'E'});
    bytes.insert(bytes.end(), next.begin(), next.begin() + 6); // arrives in the same read
    AnswerNextWith(bytes);
    char text[255] = {};
    ASSERT_EQ(QX4GetROMVersion(text), 1);
    EXPECT_STREQ(text, "V1");
    reader->Peer().Send(Bytes(next.begin() + 6, next.end()));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    QX4ReadData();
    EXPECT_EQ(counter.received.size(), 1u); // the other frame is delivered, not lost
}

TEST_F(WaitTest, NotificationsDuringAWaitAreDeliveredAndDoNotEndIt) {
    RecordingWindow counter;
    QX4SetHandle(&counter);
    Bytes bytes = qx4sim::EncodeFrame(0x64, {1, 2, 3, 4, 5, 6, 7, 8, 'T'});
    for (const Bytes& frame :
         {qx4sim::EncodeFrame(0x44, {'N'}), qx4sim::EncodeFrame(0x49, {0, 9, 9, 9, 9, 9, 9, 9, 9}),
          qx4sim::EncodeFrame(0x30, {0x9E})})
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    AnswerNextWith(bytes);
    EXPECT_EQ(QX4SetTxOnOff(1), 1);
    ASSERT_EQ(counter.received.size(), 2u);
    EXPECT_EQ(counter.received[0].first, 1u);
    EXPECT_EQ(counter.received[1].first, 0u);
    // A simple read takes the notification as its answer.
    AnswerNextWith(0x44, {'S'});
    EXPECT_EQ(QX4SimpleReadCmd(), 1);
    EXPECT_EQ(counter.received.size(), 3u);
}

TEST_F(WaitTest, BlockReadsDuringAutoScanEachGetTheirOwnBlock) {
    const qx4sim::Tag tag = reader->Field()[1]; // 32 blocks of 8 bytes
    reader->Modify([](qx4sim::ReaderRegisters& registers, std::vector<qx4sim::Tag>& field) {
        registers.mode = 0x01; // auto-scan
        for (qx4sim::Tag& t : field)
            for (size_t i = 0; i < t.memory.size(); ++i)
                t.memory[i] = static_cast<uint8_t>(i * 7 + t.uid[0]);
    });
    reader->SetAutoScanPeriod(1);
    const qx4sim::Tag filled = reader->Field()[1];
    RecordingWindow counter;
    QX4SetHandle(&counter);
    QX4SetTagBlockSize(8);
    int wrong = 0, failed = 0;
    for (int i = 0; i < 300; ++i) {
        const int block = i % 32;
        unsigned char out[8] = {};
        if (!QX4ReadSingleBlock(0x01, block, out, tag.uid.data())) {
            ++failed;
            continue;
        }
        if (!std::equal(out, out + 8, filled.memory.begin() + block * 8)) ++wrong;
    }
    reader->SetAutoScanPeriod(200);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(failed, 0);
    EXPECT_GT(counter.received.size(), 100u); // the notifications kept flowing meanwhile
}

TEST_F(WaitTest, CommandDuringAWaitFailsAtOnceAndTheWaitGetsItsAnswer) {
    // From the pump hook, as a GUI timer or button would.
    static int nested = -1;
    static std::chrono::milliseconds nestedTook{};
    static const QX4PlatformHooks pumping{
        nullptr,
        [] {
            if (nested != -1) return;
            const auto start = std::chrono::steady_clock::now();
            char text[255];
            nested = QX4GetROMVersion(text);
            nestedTook = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
        },
        nullptr};
    QX4SetPlatformHooks(&pumping);
    reader->Peer().Script({{qx4sim::EncodeFrame(0x30, {0x90, 'O', 'W', 'N'})}, 50});
    char text[255] = {};
    ASSERT_EQ(QX4GetROMVersion(text), 1);
    EXPECT_STREQ(text, "OWN");
    EXPECT_EQ(nested, 0);
    EXPECT_LT(nestedTook, std::chrono::milliseconds(100)); // not a time-out of 500 ms
    EXPECT_EQ(reader->Peer().Frames().size(), 1u);         // the nested one sent nothing
    HookLog::Install();
}

TEST_F(WaitTest, TwoThreadsNeverGetEachOthersAnswers) {
    const qx4sim::Tag one = reader->Field()[0], two = reader->Field()[1];
    QX4SetTagBlockSize(4);
    std::atomic<int> wrong{0}, done{0};
    auto reads = [&](const qx4sim::Tag& tag) {
        for (int i = 0; i < 150; ++i) {
            unsigned char out[4] = {};
            const int block = i % 8;
            if (QX4ReadSingleBlock(0x01, block, out, tag.uid.data()) &&
                !std::equal(out, out + 4, tag.memory.begin() + block * tag.blockSize))
                ++wrong;
            else
                ++done;
        }
    };
    std::thread other(reads, std::cref(two));
    reads(one);
    other.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(done, 300);
}

TEST_F(WaitTest, HangUpDuringAWaitFailsItAtOnceUntilReopened) {
    QX4SetCmdWaitTime(5000);
    reader->Peer().ScriptSilence();
    std::thread unplug([&] {
        reader->Peer().WaitForFrames(1, 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        reader->Peer().Vanish();
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QX4SetTxOnOff(1), 0);
    unplug.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_EQ(QX4IsOK(), 0);
    const auto boxes = HookLog::BoxesWithin(std::chrono::milliseconds(1000));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0] == "Error Info1: WaitCommEvent." ||
                boxes[0] == "Error Info1: Reading comms port.")
        << boxes[0];
    start = std::chrono::steady_clock::now();
    char text[255];
    EXPECT_EQ(QX4GetROMVersion(text), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));

    reader->Peer().Reappear();
    ::setenv("QX4_COM3", reader->DevicePath().c_str(), 1);
    ASSERT_EQ(QX4ComReOpen(3, 0), 1);
    EXPECT_EQ(QX4IsOK(), 1);
    EXPECT_EQ(QX4GetROMVersion(text), 1);
}

TEST_F(WaitTest, DeviceVanishingEndsTheThreadAndReopenRecovers) {
    QX4SetCmdWaitTime(100);
    const int withReceiver = ThreadCount();
    reader->Peer().Vanish();
    EXPECT_EQ(SettledThreadCount(withReceiver - 2), withReceiver - 2); // receiver and peer
    EXPECT_EQ(QX4SetTxOnOff(1), 0);
    reader->Peer().Reappear();
    ::setenv("QX4_COM3", reader->DevicePath().c_str(), 1);
    EXPECT_EQ(QX4ComReOpen(3, 0), 1);
    EXPECT_EQ(QX4SetTxOnOff(1), 1);
}

TEST_F(WaitTest, SlowRateOpensAt9600) {
    ASSERT_EQ(QX4ComReOpen(3, 1), 1);
    char text[255];
    EXPECT_EQ(QX4GetROMVersion(text), 1);
}

} // namespace
} // namespace qx4test
