// The tags in the reader's field, from its auto-scan notifications, and the events
// waiting for the broker.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace qx4mqtt {

using SteadyTime = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;

// ISO 8601 UTC with milliseconds: 2026-05-04T10:20:30.456Z.
std::string IsoTime(WallTime time);

// What one notification says: the tag, and the data it carries beyond the UID.
struct Notification {
    std::string uid;  // as qx4 prints it; the notification's text when it names no UID
    std::string data; // hex, empty when there is nothing beyond the UID
};
Notification ReadNotification(unsigned kind, const uint8_t* bytes, size_t count);

class FieldTracker {
  public:
    // A read of uid; true when it entered the field with it.
    bool Seen(const std::string& uid, SteadyTime now, WallTime wall);
    // Records the data a read of uid carried; true when it differs from the last read's.
    bool NewData(const std::string& uid, const std::string& data);
    // The tags unseen for longer than `after`, removed from the field.
    std::vector<std::string> Leaves(SteadyTime now, std::chrono::milliseconds after);
    // Every tag as it leaves, for a reader that is gone.
    std::vector<std::string> Clear();
    nlohmann::json ToJson() const;
    size_t size() const { return tags_.size(); }

  private:
    struct Tag {
        WallTime firstSeen, lastSeen;
        SteadyTime lastSeenSteady;
        long long reads = 0;
        std::optional<std::string> data;
    };
    std::map<std::string, Tag> tags_;
};

// Events in order, at most `limit`; the oldest fall out first and are counted.
class EventQueue {
  public:
    explicit EventQueue(size_t limit) : limit_(limit) {}
    void Push(std::string payload);
    bool Empty() const { return events_.empty(); }
    const std::string& Front() const { return events_.front(); }
    void Pop() { events_.pop_front(); }
    size_t size() const { return events_.size(); }
    unsigned long long dropped() const { return dropped_; }

  private:
    size_t limit_;
    std::deque<std::string> events_;
    unsigned long long dropped_ = 0;
};

} // namespace qx4mqtt
