// A library context opened on COM3, which points at a simulated reader on a pseudo-terminal.
#pragma once

#include "qx4drv.h"
#include "simulated_reader.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qx4test {

using qx4sim::Bytes;

// Records what the library hands to its platform hooks.
struct HookLog {
    std::vector<std::string> boxes; // "caption: text"
    std::vector<std::string> sounds;
    int pumps = 0;
    static HookLog& Get() {
        static HookLog log;
        return log;
    }
    // The receive thread shows its box while the test thread looks.
    static std::mutex& BoxMutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::vector<std::string> BoxesWithin(std::chrono::milliseconds patience) {
        const auto end = std::chrono::steady_clock::now() + patience;
        for (;;) {
            {
                std::lock_guard lock(BoxMutex());
                if (!Get().boxes.empty() || std::chrono::steady_clock::now() > end)
                    return Get().boxes;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    static void Install() {
        Get() = HookLog{};
        static const QX4PlatformHooks hooks{
            [](const char* text, const char* caption) {
                std::lock_guard lock(BoxMutex());
                Get().boxes.push_back(std::string(caption) + ": " + text);
            },
            [] { ++Get().pumps; },
            [](const char* name) { Get().sounds.push_back(name); },
        };
        QX4SetPlatformHooks(&hooks);
    }
};

// A window that keeps every notification handed to it.
struct RecordingWindow : QX4Window {
    std::vector<std::pair<uintptr_t, Bytes>> received;
    RecordingWindow() {
        copyData = [](QX4Window* self, const QX4CopyData* record) {
            static_cast<RecordingWindow*>(self)->received.emplace_back(
                record->kind, Bytes(record->data, record->data + record->count));
        };
    }
};

// Bytes from a hex string with blanks: "02 00 4F".
inline Bytes Hex(const std::string& text) {
    Bytes bytes;
    for (size_t i = 0; i < text.size(); i += 3)
        bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        HookLog::Install();
        reader = std::make_unique<qx4sim::SimulatedReader>();
        ::setenv("QX4_COM3", reader->DevicePath().c_str(), 1);
        ASSERT_EQ(QX4DllOpen(3, 0), 1);
        QX4SetCmdWaitTime(500);
    }
    void TearDown() override {
        QX4SetHandle(nullptr);
        QX4DllClose();
        reader.reset();
        QX4SetPlatformHooks(nullptr);
        ::unsetenv("QX4_COM3");
    }

    // The last frame the library wrote.
    Bytes LastSent() {
        const auto frames = reader->Peer().Frames();
        return frames.empty() ? Bytes{} : frames.back();
    }
    // The reader answers the next request with these raw bytes.
    void AnswerNextWith(const Bytes& bytes) { reader->Peer().Script({{bytes}}); }
    void AnswerNextWith(uint8_t type, const Bytes& data) {
        AnswerNextWith(qx4sim::EncodeFrame(type, data));
    }
    static std::pair<int, int> ErrorCode() {
        int code = -1, detail = -1;
        QX4GetErrorCode(&code, &detail);
        return {code, detail};
    }

    std::unique_ptr<qx4sim::SimulatedReader> reader;
};

} // namespace qx4test
