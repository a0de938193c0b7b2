// qx4 watch: auto-scan notifications as they arrive.
#include "command_table.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>
#include <thread>

namespace qx4cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;
void Interrupt(int) {
    interrupted = 1;
}

struct Watcher : QX4Window {
    Session* session;
    std::map<std::string, int> counts;
    int total = 0;

    explicit Watcher(Session* s) : session(s) {
        copyData = [](QX4Window* self, const QX4CopyData* record) {
            static_cast<Watcher*>(self)->Show(*record);
        };
    }
    void Show(const QX4CopyData& record) {
        std::string uid, data;
        if (record.kind == 1 && record.count >= 8) {
            uid = UidText(record.data);
            data.assign(reinterpret_cast<const char*>(record.data) + 8, record.count - 8);
        } else {
            uid.assign(reinterpret_cast<const char*>(record.data), record.count);
        }
        ++counts[uid];
        ++total;
        const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        char stamp[16];
        std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::localtime(&now));
        if (session->options().json) {
            std::cout << nlohmann::json{{"time", stamp},
                                        {"kind", record.kind},
                                        {"uid", uid},
                                        {"data", data},
                                        {"count", counts[uid]}}
                             .dump()
                      << std::endl;
        } else {
            std::cout << stamp << (record.kind == 1 ? " uid+data " : " data     ") << uid
                      << (data.empty() ? "" : " [" + data + "]") << "  #" << counts[uid]
                      << std::endl;
        }
    }
};

} // namespace

void RunWatch(Session& s) {
    const int seconds = s.HasArg(0) ? s.IntArg(0, "SECONDS", 1, 86400) : 0;
    s.Connect();
    unsigned char mode = 0, second = 0, flags = 0;
    if (!s.Check(QX4GetRWMode(&mode, &second, &flags), "QX4GetRWMode")) return;
    if (!s.Check(QX4SetRWMode(1, second, flags, 0, 0), "QX4SetRWMode")) return;
    Watcher watcher(&s);
    QX4SetHandle(&watcher);
    interrupted = 0;
    auto previous = std::signal(SIGINT, Interrupt);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!interrupted && (seconds == 0 || std::chrono::steady_clock::now() < end)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        QX4ReadData(); // as the checker's timer does
    }
    std::signal(SIGINT, previous);
    QX4SetHandle(nullptr);
    // Back to the mode the reader had; notifications still in flight end this wait early.
    bool restored = false;
    for (int attempt = 0; attempt < 3 && !restored; ++attempt)
        restored = QX4SetRWMode(mode, second, flags, 0, 0);
    s.Check(restored, "QX4SetRWMode");
    nlohmann::json counts = nlohmann::json::object();
    for (const auto& [uid, count] : watcher.counts) {
        counts[uid] = count;
        if (!s.options().json) std::cout << uid << ": " << count << "\n";
    }
    s.result()["notifications"] = watcher.total;
    s.result()["perTag"] = counts;
    s.Line(std::to_string(watcher.total) + " notification(s)");
}

} // namespace qx4cli
