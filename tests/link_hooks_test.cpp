// Hooks and other threads that close, reopen or call the library at awkward moments.
#include "link_fixture.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace qx4test {
namespace {

using namespace std::chrono_literals;

// What the hooks under test do; plain function pointers reach it through this.
struct HookPlan {
    std::atomic<int> boxes{0};
    std::atomic<int> lifecycleResult{-1};
    std::function<void(int direction)> onTrace;
    static HookPlan& Get() {
        static HookPlan plan;
        return plan;
    }
    // The box may come from the receive thread while the test sets the next action.
    void OnBox(std::function<void()> action) {
        const std::lock_guard lock(mutex);
        onBox = std::move(action);
    }
    void Box() {
        std::function<void()> action;
        {
            const std::lock_guard lock(mutex);
            action = onBox;
        }
        if (action) action();
        ++boxes;
    }

  private:
    std::mutex mutex;
    std::function<void()> onBox;
};

class HookTest : public LinkTest {
  protected:
    void SetUp() override {
        LinkTest::SetUp();
        HookPlan::Get().boxes = 0;
        HookPlan::Get().lifecycleResult = -1;
        HookPlan::Get().OnBox(nullptr);
        HookPlan::Get().onTrace = nullptr;
        static const QX4PlatformHooks hooks{
            [](const char*, const char*) { HookPlan::Get().Box(); },
            nullptr,
            nullptr,
        };
        QX4SetPlatformHooks(&hooks);
    }
    void TearDown() override {
        QX4SetTraceHook(nullptr, nullptr);
        LinkTest::TearDown();
    }
    void TraceThroughPlan() {
        QX4SetTraceHook(
            [](int direction, const unsigned char*, unsigned, void*) {
                if (HookPlan::Get().onTrace) HookPlan::Get().onTrace(direction);
            },
            nullptr);
    }
};

TEST_F(HookTest, LifecycleCallsFromTheReceiveThreadAreRefused) {
    for (int reopen = 0; reopen < 2; ++reopen) {
        HookPlan::Get().OnBox([reopen] {
            HookPlan::Get().lifecycleResult = reopen ? QX4ComReOpen(3, 0) : (QX4DllClose(), 0);
            unsigned char status;
            EXPECT_EQ(QX4GetErrorStatus(&status), 0); // the port is lost: at once
            EXPECT_EQ(QX4IsOK(), 0);
        });
        const int boxesBefore = HookPlan::Get().boxes;
        reader->Peer().Vanish();
        // Counted when the hook has returned: only then is onBox free to change.
        for (int i = 0; i < 400 && HookPlan::Get().boxes == boxesBefore; ++i)
            std::this_thread::sleep_for(5ms);
        EXPECT_EQ(HookPlan::Get().lifecycleResult, 0);
        EXPECT_EQ(QX4GetPortNum(), 3); // the close was refused: the context is still there
        HookPlan::Get().OnBox(nullptr);
        HookPlan::Get().lifecycleResult = -1;
        reader->Peer().Reappear();
        ::setenv("QX4_COM3", reader->DevicePath().c_str(), 1);
        ASSERT_EQ(QX4ComReOpen(3, 0), 1);
        unsigned char status;
        EXPECT_EQ(QX4GetErrorStatus(&status), 1);
    }
}

TEST_F(HookTest, BoxOnTheCommandThreadMayCloseOrReopen) {
    const auto close = [] { QX4DllClose(); };
    const auto reopen = [] {
        HookPlan::Get().OnBox(nullptr);
        EXPECT_EQ(QX4ComReOpen(3, 0), 1);
        QX4SetfDispMessage(1);
    };
    const auto closeAndOpen = [this] {
        HookPlan::Get().OnBox(nullptr);
        EXPECT_EQ(QX4DllOpen(3, 0), 1);
        char text[255];
        EXPECT_EQ(QX4GetROMVersion(text), 0); // the command that showed the box still runs
        EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_BUSY);
    };
    const std::function<void()> actions[] = {close, reopen, closeAndOpen};
    // Each command shows a box: the time-out's, the NACK's, the ACK's.
    const std::function<int()> triggers[] = {
        [this] {
            reader->Peer().ScriptSilence();
            char text[255] = "unchanged";
            const int result = QX4GetROMVersion(text);
            EXPECT_STREQ(text, "unchanged");
            return result;
        },
        [this] {
            AnswerNextWith(0x31, {0x05, 0x12});
            return int{QX4SetTxOnOff(1)};
        },
        [this] {
            AnswerNextWith(0x30, {0x90, 'V'});
            char text[255];
            const int result = QX4GetROMVersion(text);
            EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_NO_PORT);
            return result;
        },
    };
    for (const auto& action : actions) {
        for (const auto& trigger : triggers) {
            HookPlan::Get().OnBox(nullptr);
            if (!QX4GetPortNum()) {
                ASSERT_EQ(QX4DllOpen(3, 0), 1);
            }
            QX4SetCmdWaitTime(100);
            ASSERT_EQ(QX4Resync(), 1); // what an earlier round left on the line goes by
            QX4SetfDispMessage(1);
            HookPlan::Get().OnBox(action);
            EXPECT_EQ(trigger(), 0);
        }
    }
    HookPlan::Get().OnBox(nullptr);
    if (!QX4GetPortNum()) {
        ASSERT_EQ(QX4DllOpen(3, 0), 1);
    }
    char text[255];
    EXPECT_EQ(QX4GetROMVersion(text), 1);
}

TEST_F(HookTest, TraceHookMayCloseTheLibrary) {
    TraceThroughPlan();
    for (int direction : {QX4_TRACE_SENT, QX4_TRACE_RECEIVED}) {
        if (!QX4GetPortNum()) {
            ASSERT_EQ(QX4DllOpen(3, 0), 1);
        }
        const size_t before = reader->Peer().Frames().size();
        HookPlan::Get().onTrace = [direction](int d) {
            if (d == direction) QX4DllClose();
        };
        unsigned char status = 0xEE;
        EXPECT_EQ(QX4GetErrorStatus(&status), 0);
        EXPECT_EQ(status, 0xEE);
        EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_NO_PORT);
        EXPECT_EQ(QX4GetPortNum(), 0);
        // Closed from the trace of its own frame, the command sent nothing.
        if (direction == QX4_TRACE_SENT) {
            EXPECT_EQ(reader->Peer().Frames().size(), before);
        }
        HookPlan::Get().onTrace = nullptr;
    }
}

TEST_F(HookTest, EveryExportFromThePumpHookDuringAWait) {
    static std::atomic<int> pumped{0};
    pumped = 0;
    static const QX4PlatformHooks pumping{nullptr,
                                          [] {
                                              if (pumped++ != 2) return;
                                              unsigned char b[255];
                                              char text[255];
                                              int length;
                                              EXPECT_EQ(QX4GetROMVersion(text), 0);
                                              EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_BUSY);
                                              EXPECT_EQ(QX4ReadSingleBlock(0, 0, b, b), 0);
                                              EXPECT_EQ(QX4Resync(), 0);
                                              EXPECT_EQ(QX4Transceive(0x52, b, 0, b, 255, &length),
                                                        0);
                                              QX4ReadData();
                                              EXPECT_EQ(QX4IsOK(), 1);
                                              EXPECT_EQ(QX4GetCmdWaitTime(), 300);
                                              QX4SetTagBlockSize(8);
                                          },
                                          nullptr};
    QX4SetPlatformHooks(&pumping);
    QX4SetCmdWaitTime(300);
    reader->Peer().SetReplyDelay(60);
    char text[255];
    EXPECT_EQ(QX4GetROMVersion(text), 1); // its own answer, after the hook's refusals
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_NONE);
    EXPECT_GT(pumped.load(), 2);
    EXPECT_EQ(QX4GetTagBlockSize(), 8);
}

TEST_F(HookTest, CloseFromAnotherThreadEndsTheWaitPromptly) {
    for (int reopen = 0; reopen < 2; ++reopen) {
        if (!QX4GetPortNum()) {
            ASSERT_EQ(QX4DllOpen(3, 0), 1);
        }
        QX4SetCmdWaitTime(5000);
        reader->Peer().ScriptSilence();
        std::atomic<int> result{-1};
        std::thread command([&] {
            char text[255];
            result = QX4GetROMVersion(text);
        });
        ASSERT_TRUE(reader->Peer().WaitForFrames(1, 2000));
        std::this_thread::sleep_for(30ms);
        if (reopen) {
            EXPECT_EQ(QX4ComReOpen(3, 0), 1);
        } else {
            QX4DllClose();
        }
        EXPECT_NE(result.load(), -1); // the close waited for the command to end
        command.join();
        EXPECT_EQ(result.load(), 0);
        reader->Peer().ClearFrames();
    }
}

} // namespace
} // namespace qx4test
