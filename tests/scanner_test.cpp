// The frame scanner and dispatch, fed straight through the receive ring.
#include "link/context.h"
#include "link/response.h"
#include "link_fixture.h"

#include <algorithm>

namespace qx4test {
namespace {

// A context without a port: the ring is fed by hand.
class ScannerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        HookLog::Install();
        ::setenv("QX4_COM90", "/nonexistent/qx4", 1);
        QX4DllOpen(90, 0);
        context = qx4::Context().get(); // alive until the TearDown's close
        ASSERT_NE(context, nullptr);
        QX4SetHandle(&window);
    }
    void TearDown() override {
        QX4SetHandle(nullptr);
        QX4DllClose();
        QX4SetPlatformHooks(nullptr);
    }
    void Feed(const Bytes& bytes) { qx4::Link().ring.Append(bytes.data(), bytes.size()); }
    void Scan() { qx4::ScanReceived(*context); }

    qx4::ReaderContext* context = nullptr;
    RecordingWindow window;
};

TEST_F(ScannerTest, AssemblesFramesSplitAcrossScansAndSkipsGarbage) {
    const Bytes frame = qx4sim::EncodeFrame(0x44, {'A', 'B'});
    Feed({0xFF, 0x0D, 0x41});
    Feed(Bytes(frame.begin(), frame.begin() + 3));
    Scan();
    EXPECT_TRUE(window.received.empty());
    EXPECT_EQ(context->inFrame, 1);
    Feed(Bytes(frame.begin() + 3, frame.end()));
    Scan();
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_EQ(window.received[0].first, 0u);
    EXPECT_EQ(window.received[0].second, (Bytes{'A', 'B'}));
}

// Every frame the trace hook sees, by direction.
struct TraceLog {
    std::vector<std::pair<int, Bytes>> frames;
    void Install() {
        QX4SetTraceHook(
            [](int direction, const unsigned char* bytes, unsigned count, void* user) {
                static_cast<TraceLog*>(user)->frames.emplace_back(
                    direction, bytes ? Bytes(bytes, bytes + count) : Bytes{});
            },
            this);
    }
    size_t Count(int direction) const {
        return static_cast<size_t>(std::count_if(frames.begin(), frames.end(),
                                                 [&](auto& f) { return f.first == direction; }));
    }
};

TEST_F(ScannerTest, FramesWithoutEtxSumOrCrAreDroppedAndScanningResumesAfterTheirStx) {
    TraceLog trace;
    trace.Install();
    const Bytes good = qx4sim::EncodeFrame(0x44, {'Y'});
    for (size_t at : {5u, 6u, 7u}) { // ETX, sum, CR of a one-byte frame
        Bytes broken = qx4sim::EncodeFrame(0x44, {'X'});
        broken[at] ^= 0x40;
        Feed(broken);
    }
    Bytes flipped = qx4sim::EncodeFrame(0x44, {'X'});
    flipped[4] ^= 0x01; // a data byte: the sum no longer matches
    Feed(flipped);
    Feed(good);
    Scan();
    QX4SetTraceHook(nullptr, nullptr);
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_EQ(window.received[0].second, Bytes{'Y'});
    EXPECT_EQ(trace.Count(QX4_TRACE_BAD), 4u);
    EXPECT_EQ(trace.Count(QX4_TRACE_RECEIVED), 1u);
    EXPECT_TRUE(context->inDoubt);
}

TEST_F(ScannerTest, AFrameInsideADroppedOneIsFound) {
    // A stray STX and length swallow the start of a real frame until the stray one ends.
    const Bytes inner = qx4sim::EncodeFrame(0x44, {'I', 'N'});
    Bytes stream{0x02, 0x00, 0x44, 0x03};
    stream.insert(stream.end(), inner.begin(), inner.end());
    Feed(stream);
    Scan();
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_EQ(window.received[0].second, (Bytes{'I', 'N'}));
}

TEST_F(ScannerTest, StrayStxBeforeAFrameIsDroppedWhenTheLineFallsQuiet) {
    Feed({0x02});
    Feed(qx4sim::EncodeFrame(0x44, {'Q'}));
    Scan();
    EXPECT_TRUE(window.received.empty()); // the stray STX's frame still wants bytes
    for (int i = 0; i <= context->rxWaitTime; ++i)
        Scan();
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_EQ(window.received[0].second, Bytes{'Q'});
}

TEST_F(ScannerTest, RingOverrunDropsThePartialFrameBeforeItAbsorbsMore) {
    TraceLog trace;
    trace.Install();
    Feed({0x02, 0x00, 0x44, 0x03, 'a'});
    Scan();
    ASSERT_EQ(context->inFrame, 1);
    Feed(Bytes(qx4::RxRing::kSize, 0xEE)); // the rest of it is lost
    Scan();
    QX4SetTraceHook(nullptr, nullptr);
    ASSERT_GE(trace.frames.size(), 2u);
    EXPECT_EQ(trace.frames[0].first, QX4_TRACE_LOST);
    EXPECT_EQ(trace.frames[1],
              std::make_pair(int{QX4_TRACE_BAD}, Bytes{0x02, 0x00, 0x44, 0x03, 'a'}));
    EXPECT_TRUE(context->inDoubt);
    Feed(qx4sim::EncodeFrame(0x44, {'O', 'K'}));
    Scan();
    ASSERT_EQ(window.received.size(), 1u);
}

TEST_F(ScannerTest, FramesTooShortForAUidLeaveTheCurrentUidAlone) {
    const qx4::Uid before{1, 2, 3, 4, 5, 6, 7, 8};
    context->currentUid = before;
    Feed(qx4sim::EncodeFrame(0x49, {0x00, 9, 9}));
    Feed(qx4sim::EncodeFrame(0x64, {5, 5, 5}));
    Scan();
    EXPECT_EQ(context->currentUid, before);
    ASSERT_EQ(window.received.size(), 1u); // the notification itself still goes out
    EXPECT_EQ(window.received[0].second, (Bytes{5, 5, 5}));
}

TEST_F(ScannerTest, NackWithoutDataRecordsNoCode) {
    Feed(qx4sim::EncodeFrame(0x31, {0x05, 0x12}));
    Feed(qx4sim::EncodeFrame(0x31, {}));
    Scan();
    int code, detail;
    QX4GetErrorCode(&code, &detail);
    EXPECT_EQ(code, 0x100);
    EXPECT_EQ(detail, 0);
    Feed(qx4sim::EncodeFrame(0x31, {0x05}));
    Scan();
    QX4GetErrorCode(&code, &detail);
    EXPECT_EQ(code, 5);
    EXPECT_EQ(detail, 0); // no ISO code came with it
}

TEST_F(ScannerTest, PartialFrameDroppedAfterIdleScans) {
    const Bytes frame = qx4sim::EncodeFrame(0x44, {'Z'});
    Feed(Bytes(frame.begin(), frame.begin() + 4));
    Scan();
    for (int i = 0; i < 100; ++i)
        Scan();
    EXPECT_EQ(context->inFrame, 1); // 100 empty scans only count down
    Scan();
    EXPECT_EQ(context->inFrame, 0); // the 101st drops it
    Feed(Bytes(frame.begin() + 4, frame.end()));
    Scan();
    EXPECT_TRUE(window.received.empty());
}

TEST_F(ScannerTest, RingWrapsAroundItsEnd) {
    // Leave the read and write positions 3 bytes before the end of the ring.
    const Bytes filler(qx4::RxRing::kSize - 3, 0xEE);
    Feed(filler);
    Scan();
    Feed(qx4sim::EncodeFrame(0x44, {1, 2, 3, 4}));
    Scan();
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_EQ(window.received[0].second, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(context->readIndex, 8); // 11 bytes, 3 before the end and 8 after
}

TEST_F(ScannerTest, FullRingDropsNewBytesAndTellsTheTrace) {
    static std::vector<std::pair<int, unsigned>> traced;
    traced.clear();
    QX4SetTraceHook([](int direction, const unsigned char*, unsigned count,
                       void*) { traced.emplace_back(direction, count); },
                    nullptr);
    Feed(qx4sim::EncodeFrame(0x44, {'K', 'E', 'P', 'T'}));
    const Bytes filler(qx4::RxRing::kSize, 0xEE); // room for 16383 bytes, 11 taken
    Feed(filler);
    Scan();
    QX4SetTraceHook(nullptr, nullptr);
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_EQ(window.received[0].second, (Bytes{'K', 'E', 'P', 'T'}));
    ASSERT_FALSE(traced.empty());
    EXPECT_EQ(traced[0], std::make_pair(QX4_TRACE_LOST, 12u));
    // With the ring read, there is room again.
    Feed(qx4sim::EncodeFrame(0x44, {'N'}));
    Scan();
    EXPECT_EQ(window.received.size(), 2u);
}

TEST_F(ScannerTest, NotificationsUidDataAndEmpty) {
    Feed(qx4sim::EncodeFrame(0x64, {1, 2, 3, 4, 5, 6, 7, 8, 'A', 'B', 'C'}));
    Feed(qx4sim::EncodeFrame(0x44, {}));
    Feed(qx4sim::EncodeFrame(0x49, {0x00, 9, 9, 9, 9, 9, 9, 9, 9}));
    Scan();
    ASSERT_EQ(window.received.size(), 2u);
    EXPECT_EQ(window.received[0].first, 1u);
    EXPECT_EQ(window.received[0].second.size(), 11u);
    EXPECT_EQ(window.received[1].first, 0u);
    EXPECT_TRUE(window.received[1].second.empty());
    EXPECT_EQ(context->currentUid, (qx4::Uid{9, 9, 9, 9, 9, 9, 9, 9}));
}

TEST_F(ScannerTest, NackCodesAndDetails) {
    Feed(qx4sim::EncodeFrame(0x31, {0x05, 0x10}));
    Scan();
    int code, detail;
    QX4GetErrorCode(&code, &detail);
    EXPECT_EQ(code, 5);
    EXPECT_EQ(detail, 0x10);
    Feed(qx4sim::EncodeFrame(0x31, {0x01, 0x77}));
    Scan();
    QX4GetErrorCode(&code, &detail);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(detail, 0);
}

TEST_F(ScannerTest, DiagnosticsOnlyWithDisplayFlag) {
    Feed(qx4sim::EncodeFrame(0x31, {0x05, 0x12}));
    Feed(qx4sim::EncodeFrame(0x7A, {}));
    Scan();
    EXPECT_TRUE(HookLog::Get().boxes.empty());
    QX4SetfDispMessage(1);
    Feed(qx4sim::EncodeFrame(0x31, {0x05, 0x12}));
    Feed(qx4sim::EncodeFrame(0x7A, {}));
    Scan();
    EXPECT_EQ(HookLog::Get().boxes,
              (std::vector<std::string>{
                  "Info Message: The specified block is locked and its content cannot be changed.",
                  "Info Message: レスポンスフォーマットエラー"}));
}

TEST_F(ScannerTest, BusyFlagKeepsScansFromNesting) {
    // A window that calls QX4ReadData while a notification is dispatched.
    struct Reentrant : QX4Window {
        int calls = 0;
    } reentrant;
    reentrant.copyData = [](QX4Window* self, const QX4CopyData*) {
        ++static_cast<Reentrant*>(self)->calls;
        QX4ReadData();
    };
    QX4SetHandle(&reentrant);
    Feed(qx4sim::EncodeFrame(0x44, {'1'}));
    Feed(qx4sim::EncodeFrame(0x44, {'2'}));
    QX4ReadData();
    EXPECT_EQ(reentrant.calls, 2);
}

TEST_F(ScannerTest, HandlerClosingTheLibraryEndsTheScanSafely) {
    struct Closer : QX4Window {
    } closer;
    closer.copyData = [](QX4Window*, const QX4CopyData*) { QX4DllClose(); };
    QX4SetHandle(&closer);
    Feed(qx4sim::EncodeFrame(0x44, {'1'}));
    Feed(qx4sim::EncodeFrame(0x44, {'2'}));
    QX4ReadData();
    EXPECT_EQ(QX4IsOK(), 0);
    EXPECT_EQ(QX4GetPortNum(), 0);
}

} // namespace
} // namespace qx4test
