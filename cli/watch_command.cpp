// qx4 watch: auto-scan notifications as they arrive, and tags entering and leaving.
#include "command_table.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <thread>

namespace qx4cli {
namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;
// The reader does not tell its scan period: until the notifications show it, a tag is
// gone after this long unseen; never sooner than kLeastGone (notifications are taken in
// batches every 200 ms).
constexpr auto kUntilPeriodKnown = Millis(3000), kLeastGone = Millis(1000);
constexpr int kPeriods = 3; // scan periods unseen before a tag counts as gone

struct Presence {
    Clock::time_point first, last;
    int seen = 0; // notifications since it entered
    // Its notifications' mean spacing: the reader's scan period for this tag.
    std::optional<Millis> Period() const {
        if (seen < 2) return std::nullopt;
        return std::chrono::duration_cast<Millis>((last - first) / (seen - 1));
    }
};

struct Watcher : QX4Window {
    Session* session;
    Clock::time_point start = Clock::now();
    std::map<std::string, int> counts;
    std::map<std::string, Presence> present;
    std::optional<Millis> period; // the longest any tag showed
    int total = 0;

    explicit Watcher(Session* s) : session(s) {
        copyData = [](QX4Window* self, const QX4CopyData* record) {
            static_cast<Watcher*>(self)->Show(*record);
        };
    }
    long long Ms() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    }
    void Event(const char* event, const std::string& uid) {
        if (session->options().json)
            std::cout << nlohmann::json{{"event", event}, {"uid", uid}, {"time", Ms()}}.dump()
                      << std::endl;
        else
            std::cout << Ms() << " ms " << event << " " << uid << std::endl;
    }
    void Show(const QX4CopyData& record) {
        // A UID data notification starts with the UID; a data notification's text is
        // whatever the reader sends (the UID as text, with auto-scan).
        std::string uid;
        const uint8_t* data = record.data;
        size_t count = record.count;
        if (record.kind == 1 && count >= 8) {
            uid = UidText(data);
            data += 8;
            count -= 8;
        } else {
            uid = Printable(data, count);
        }
        ++total;
        const auto now = Clock::now();
        if (present.find(uid) == present.end()) {
            if (session->options().events) Event("enter", uid);
            present[uid].first = now;
        }
        Presence& tag = present[uid];
        tag.last = now;
        ++tag.seen;
        if (const auto shown = tag.Period(); shown && (!period || *shown > *period)) period = shown;
        ++counts[uid];
        if (session->options().json) {
            std::cout << nlohmann::json{{"kind", record.kind == 1 ? "uid-data" : "data"},
                                        {"uid", uid},
                                        {"data", Hex(data, count, "")},
                                        {"time", Ms()},
                                        {"count", counts[uid]}}
                             .dump()
                      << std::endl;
        } else {
            std::cout << Ms() << " ms " << (record.kind == 1 ? "uid+data " : "data     ") << uid
                      << (count ? " [" + Printable(data, count) + "]" : "") << "  #" << counts[uid]
                      << std::endl;
        }
    }
    Millis LeaveAfter(const Presence& tag) const {
        if (session->options().leaveAfterMs) return Millis(session->options().leaveAfterMs);
        const auto known = tag.Period() ? tag.Period() : period;
        return known ? std::max(kLeastGone, *known * kPeriods) : kUntilPeriodKnown;
    }
    void Leaves() {
        if (!session->options().events) return;
        for (auto it = present.begin(); it != present.end();) {
            if (Clock::now() - it->second.last > LeaveAfter(it->second)) {
                Event("leave", it->first);
                it = present.erase(it);
            } else {
                ++it;
            }
        }
    }
};

// A closed pipe (watch | head), a hung-up terminal or SIGQUIT end the watch as Ctrl+C
// does, so the reader goes back to its mode.
void StopWatching(int) {
    qx4dump::TagAccess::interrupted = true;
}

} // namespace

void RunWatch(Session& s) {
    const int seconds = s.HasArg(0) ? s.IntArg(0, "SECONDS", 1, 86400) : 0;
    s.Connect();
    struct sigaction stop {};
    stop.sa_handler = StopWatching;
    ::sigemptyset(&stop.sa_mask);
    for (const int signal : {SIGPIPE, SIGHUP, SIGQUIT})
        ::sigaction(signal, &stop, nullptr);
    if (s.options().leaveAfterMs && !s.options().events)
        throw UsageError("--leave-after goes with --events");
    unsigned char mode = 0, second = 0, flags = 0;
    s.link().Mark();
    if (!s.Check(QX4GetRWMode(&mode, &second, &flags), "QX4GetRWMode")) return;
    // The mode write carries the two value bytes too: they go back as they were read.
    const Bytes read = s.link().LastAckData();
    const int value = read.size() >= 5 ? read[3] << 8 | read[4] : 0;
    s.link().Mark();
    if (!s.Check(QX4SetRWMode(1, second, flags, value, 0), "QX4SetRWMode")) return;
    Watcher watcher(&s);
    QX4SetHandle(&watcher);
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (!qx4dump::TagAccess::interrupted && std::cout && (seconds == 0 || Clock::now() < end)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        QX4ReadData(); // as the checker's timer does
        watcher.Leaves();
        if (!QX4IsOK()) break; // the reader went away: nothing more will come
    }
    if (!QX4IsOK()) {
        QX4SetHandle(nullptr);
        s.result()["notifications"] = watcher.total;
        return s.Fail("the reader's port is gone (hung up, unplugged or disconnected)");
    }
    // Back to the mode the reader had, also after Ctrl+C or SIGTERM. Notifications in
    // flight are dispatched during the wait; they no longer end it.
    s.link().Mark();
    s.Check(QX4SetRWMode(mode, second, flags, value, 0), "QX4SetRWMode");
    QX4SetHandle(nullptr);
    nlohmann::json counts = nlohmann::json::object();
    for (const auto& [uid, count] : watcher.counts) {
        counts[uid] = count;
        s.Line(uid + ": " + std::to_string(count));
    }
    s.result()["notifications"] = watcher.total;
    s.result()["perTag"] = counts;
    if (watcher.period) s.result()["scanPeriodMs"] = watcher.period->count();
    s.Line(std::to_string(watcher.total) + " notification(s)");
}

} // namespace qx4cli
