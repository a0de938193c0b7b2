#include "field.h"

#include "tag_dump.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace qx4mqtt {

std::string IsoTime(WallTime time) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

Notification ReadNotification(unsigned kind, const uint8_t* bytes, size_t count) {
    Notification notification;
    if (kind == 1 && count >= 8) {
        // A UID data notification: the UID as the reader delivers it, then the data.
        qx4dump::Uid uid;
        std::copy_n(bytes, 8, uid.begin());
        notification.uid = qx4dump::UidText(uid);
        notification.data = qx4dump::ToHex(bytes + 8, count - 8);
        return notification;
    }
    // A data notification: with auto-scan the reader sends the UID as text.
    const std::string text(reinterpret_cast<const char*>(bytes), count);
    if (const auto uid = qx4dump::ParseUid(text)) {
        notification.uid = qx4dump::UidText(*uid);
    } else {
        notification.data = qx4dump::ToHex(bytes, count);
    }
    return notification;
}

bool FieldTracker::Seen(const std::string& uid, SteadyTime now, WallTime wall) {
    auto [it, entered] = tags_.try_emplace(uid);
    Tag& tag = it->second;
    if (entered) tag.firstSeen = wall;
    tag.lastSeen = wall;
    tag.lastSeenSteady = now;
    ++tag.reads;
    return entered;
}

bool FieldTracker::NewData(const std::string& uid, const std::string& data) {
    std::optional<std::string>& last = tags_[uid].data;
    if (last == data) return false;
    last = data;
    return true;
}

std::vector<std::string> FieldTracker::Leaves(SteadyTime now, std::chrono::milliseconds after) {
    std::vector<std::string> gone;
    for (auto it = tags_.begin(); it != tags_.end();) {
        if (now - it->second.lastSeenSteady > after) {
            gone.push_back(it->first);
            it = tags_.erase(it);
        } else {
            ++it;
        }
    }
    return gone;
}

std::vector<std::string> FieldTracker::Clear() {
    std::vector<std::string> gone;
    for (const auto& entry : tags_)
        gone.push_back(entry.first);
    tags_.clear();
    return gone;
}

nlohmann::json FieldTracker::ToJson() const {
    nlohmann::json tags = nlohmann::json::array();
    for (const auto& [uid, tag] : tags_)
        tags.push_back({{"uid", uid},
                        {"firstSeen", IsoTime(tag.firstSeen)},
                        {"lastSeen", IsoTime(tag.lastSeen)},
                        {"reads", tag.reads}});
    return tags;
}

void EventQueue::Push(std::string payload) {
    if (events_.size() >= limit_) {
        events_.pop_front();
        ++dropped_;
    }
    events_.push_back(std::move(payload));
}

} // namespace qx4mqtt
