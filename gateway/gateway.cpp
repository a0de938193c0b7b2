#include "gateway.h"

#include "command_table.h"
#include "field_file.h"
#include "link_observer.h"
#include "run_command.h"
#include "simulated_reader.h"

#include <cstdio>
#include <cstdlib>
#include <random>

namespace qx4mqtt {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kComPort = 3;                // the library's name for our one port
constexpr size_t kMaxWaitingRequests = 32; // more at once are answered "busy"
constexpr auto kMaxOpenDelay = 10s;
constexpr size_t kMaxUnacknowledged = 1000; // events handed to the connection at once
// The loop's pace for housekeeping (leaves, heartbeats); arriving frames wake it at once.
constexpr auto kReadPeriod = 20ms;

std::string RunId() {
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", random(), random());
    return text;
}

} // namespace

Gateway::Gateway(GatewayOptions options)
    : options_(std::move(options)), base_(options_.topicBase + "/" + options_.name + "/"),
      runId_(RunId()), policy_{options_.allowWrites, options_.allowLocks},
      events_(options_.queueLimit) {
    window_.gateway = this;
    window_.copyData = [](QX4Window* self, const QX4CopyData* record) {
        static_cast<Window*>(self)->gateway->OnNotification(*record);
    };
    if (options_.simulate) {
        simulator_ = std::make_unique<qx4sim::SimulatedReader>();
        if (!options_.fieldFile.empty())
            simulator_->SetField(qx4sim::LoadField(options_.fieldFile));
        options_.device = simulator_->DevicePath();
    }
    ::setenv(("QX4_COM" + std::to_string(kComPort)).c_str(), options_.device.c_str(), 1);
    broker_ = std::make_unique<Broker>(
        options_, base_,
        [this] {
            republish_ = true;
            Wake();
        },
        [this](IncomingRequest request) {
            std::unique_lock lock(mutex_);
            if (requests_.size() >= kMaxWaitingRequests) {
                lock.unlock();
                const std::string command = request.topic.substr(request.topic.rfind('/') + 1);
                nlohmann::json busy =
                    qx4cli::RefusalObject(command, "busy: " + std::to_string(kMaxWaitingRequests) +
                                                       " requests are waiting already");
                broker_->Publish(request.responseTopic.empty() ? base_ + "response/" + command
                                                               : request.responseTopic,
                                 busy.dump(), false, request.correlation);
                return;
            }
            requests_.push_back(std::move(request));
            woken_ = true;
            wake_.notify_one();
        });
}

Gateway::~Gateway() {
    QX4SetReceivedHook(nullptr, nullptr);
    QX4SetHandle(nullptr);
    QX4DllClose();
}

void Gateway::Wake() {
    std::lock_guard lock(mutex_);
    woken_ = true;
    wake_.notify_one();
}

int Gateway::Run(const std::atomic<bool>& stop) {
    const QX4PlatformHooks hooks{[](const char* text, const char* caption) {
                                     std::fprintf(stderr, "qx4-mqtt: %s: %s\n", caption, text);
                                 },
                                 nullptr, nullptr};
    QX4SetPlatformHooks(&hooks);
    // Frames wake the loop at once; the period only paces the housekeeping.
    QX4SetReceivedHook([](void* self) { static_cast<Gateway*>(self)->Wake(); }, this);
    broker_->Start();
    nextHeartbeat_ = Clock::now() + std::chrono::seconds(options_.heartbeatSeconds);
    while (!stop) {
        if (!connected_ && Clock::now() >= nextOpen_) OpenReader();
        if (connected_) {
            QX4ReadData();
            if (!QX4IsOK()) ReaderLost();
        }
        ReadEnteredNdef();
        Leaves();
        if (republish_.exchange(false)) PublishRetained();
        ServeRequests();
        if (fieldChanged_) PublishField();
        PumpEvents();
        if (Clock::now() >= nextHeartbeat_) {
            PublishHeartbeat();
            nextHeartbeat_ += std::chrono::seconds(options_.heartbeatSeconds);
        }
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, kReadPeriod, [this] { return woken_; });
        woken_ = false;
    }
    // The reader goes back to its own mode; notifications still arriving are dispatched.
    RestoreMode();
    PumpEvents();
    broker_->Close(R"({"state":"offline"})");
    return 0;
}

void Gateway::OpenReader() {
    const bool opened = opened_ ? QX4ComReOpen(kComPort, options_.slow ? 1 : 0) == 1
                                : QX4DllOpen(kComPort, options_.slow ? 1 : 0) != 0;
    opened_ = true;
    if (!opened) {
        nextOpen_ = Clock::now() + openDelay_;
        openDelay_ = std::min<std::chrono::milliseconds>(openDelay_ * 2, kMaxOpenDelay);
        return;
    }
    QX4SetCmdWaitTime(options_.timeoutMs);
    // A late answer meant for an earlier program may still be on the line.
    if (!QX4Resync()) {
        const std::string why = qx4dump::LinkCheckText(QX4GetFailureCause());
        std::fprintf(stderr, "qx4-mqtt: %s\n",
                     why.empty() ? "the reader's link is not in step" : why.c_str());
    }
    QX4SetHandle(&window_);
    char text[256] = {};
    if (QX4GetROMVersion(text)) readerVersion_ = text;
    text[0] = 0;
    if (QX4GetModelNameComad(text)) readerModel_ = text;
    unsigned char mode = 0, second = 0, flags = 0;
    if (QX4GetRWMode(&mode, &second, &flags)) {
        // After a reopen the reader may still be in our mode: keep the first run's.
        if (!modeSaved_) savedMode_ = mode, savedSecond_ = second, savedFlags_ = flags;
        modeSaved_ = true;
        const int runFlags = options_.scanFlags >= 0 ? options_.scanFlags : flags;
        if (!QX4SetRWMode(options_.mode, second, runFlags, 0, 0))
            std::fprintf(stderr, "qx4-mqtt: the reader did not take operation mode %d\n",
                         options_.mode);
    } else {
        std::fprintf(stderr, "qx4-mqtt: cannot read the reader's operation mode\n");
    }
    if (!QX4IsOK()) return; // lost again at once: the next round reopens it
    connected_ = true;
    openDelay_ = 500ms;
    std::fprintf(stderr, "qx4-mqtt: reader %s connected (%s %s)\n", options_.device.c_str(),
                 readerModel_.c_str(), readerVersion_.c_str());
    PublishState();
    PublishInfo();
    if (options_.homeAssistant) PublishDiscovery();
}

void Gateway::ReaderLost() {
    connected_ = false;
    ++reconnects_;
    std::fprintf(stderr, "qx4-mqtt: reader %s lost; reopening\n", options_.device.c_str());
    for (const std::string& uid : field_.Clear())
        AddEvent({{"event", "leave"}, {"uid", uid}});
    fieldChanged_ = true;
    nextOpen_ = Clock::now() + openDelay_;
    PublishState();
}

void Gateway::RestoreMode() {
    if (!connected_ || !modeSaved_ || !QX4IsOK()) return;
    if (!QX4SetRWMode(savedMode_, savedSecond_, savedFlags_, 0, 0))
        std::fprintf(stderr, "qx4-mqtt: the reader's operation mode could not be restored\n");
}

void Gateway::OnNotification(const QX4CopyData& record) {
    const Notification notification =
        ReadNotification(static_cast<unsigned>(record.kind), record.data, record.count);
    if (!notification.uid.empty() &&
        field_.Seen(notification.uid, Clock::now(), std::chrono::system_clock::now())) {
        if (options_.readNdef)
            heldEnters_.push_back({notification.uid, {}}); // read between notifications
        else
            AddEvent({{"event", "enter"}, {"uid", notification.uid}});
        fieldChanged_ = true;
    }
    // Auto-scan repeats a tag's data with every read: an event when it is new or changed.
    if (notification.uid.empty() && !notification.data.empty()) {
        AddEvent({{"event", "data"}, {"data", notification.data}});
    } else if (!notification.data.empty() && field_.NewData(notification.uid, notification.data)) {
        const nlohmann::json event{
            {"event", "data"}, {"uid", notification.uid}, {"data", notification.data}};
        if (!HeldBack(notification.uid, event)) AddEvent(event);
    }
}

bool Gateway::HeldBack(const std::string& uid, const nlohmann::json& event) {
    if (reading_ && reading_->uid == uid) return reading_->after.push_back(event), true;
    for (HeldEnter& held : heldEnters_)
        if (held.uid == uid) return held.after.push_back(event), true;
    return false;
}

void Gateway::ReadEnteredNdef() {
    while (!heldEnters_.empty()) {
        reading_ = std::move(heldEnters_.front());
        heldEnters_.pop_front();
        nlohmann::json enter{{"event", "enter"}, {"uid", reading_->uid}};
        qx4cli::Options options;
        options.uid = qx4dump::ParseUid(reading_->uid);
        options.port = kComPort;
        options.timeoutMs = options_.timeoutMs;
        options.slow = options_.slow;
        options.json = true;
        options.attached = true;
        bool ok = false;
        const nlohmann::json result =
            connected_ ? qx4cli::RunForResult(*qx4cli::FindCommand("ndef-read"), options, {}, &ok)
                       : nlohmann::json{{"error", "the reader is lost"}};
        // A tag without NDEF, or one that left before it was read: said, never held back.
        if (ok)
            enter["ndef"] = result.value("records", nlohmann::json::array());
        else
            enter["ndefError"] = result.value("error", "the NDEF could not be read");
        AddEvent(enter);
        for (const nlohmann::json& event : reading_->after)
            AddEvent(event);
        reading_.reset();
        if (connected_ && !QX4IsOK()) ReaderLost();
    }
}

void Gateway::AddEvent(nlohmann::json event) {
    event["time"] = IsoTime(std::chrono::system_clock::now());
    event["seq"] = ++seq_;
    event["runId"] = runId_;
    events_.Push(event.dump());
}

void Gateway::Leaves() {
    for (const std::string& uid :
         field_.Leaves(Clock::now(), std::chrono::milliseconds(options_.leaveAfterMs))) {
        AddEvent({{"event", "leave"}, {"uid", uid}});
        fieldChanged_ = true;
    }
}

void Gateway::ServeRequests() {
    for (;;) {
        IncomingRequest request;
        {
            std::lock_guard lock(mutex_);
            if (requests_.empty()) return;
            request = std::move(requests_.front());
            requests_.pop_front();
        }
        Serve(request);
    }
}

void Gateway::Serve(const IncomingRequest& incoming) {
    const std::string command = incoming.topic.substr(incoming.topic.rfind('/') + 1);
    Decoded decoded = DecodeRequest(command, incoming.payload, policy_);
    nlohmann::json response = decoded.refusal;
    if (decoded.request) {
        Request& request = *decoded.request;
        qx4cli::Options options = request.options;
        options.port = kComPort;
        options.timeoutMs = options_.timeoutMs;
        options.slow = options_.slow;
        options.json = true;
        options.attached = true;
        response = qx4cli::RunForResult(*qx4cli::FindCommand(command), options, request.arguments);
        if (!request.transaction.is_null()) response["transaction"] = request.transaction;
        // A command may have changed the block size or lost the port.
        if (connected_ && !QX4IsOK()) ReaderLost();
    }
    const std::string topic =
        incoming.responseTopic.empty() ? base_ + "response/" + command : incoming.responseTopic;
    broker_->Publish(topic, response.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                     false, incoming.correlation);
}

void Gateway::PumpEvents() {
    while (!events_.Empty() && broker_->connected() &&
           broker_->unacknowledged() < kMaxUnacknowledged) {
        if (!broker_->Publish(base_ + "event", events_.Front(), false, {}, true)) break;
        events_.Pop();
    }
    if (events_.dropped() != droppedReported_) {
        droppedReported_ = events_.dropped();
        if (broker_->connected()) PublishInfo();
    }
}

void Gateway::PublishRetained() {
    PublishState();
    PublishInfo();
    PublishField();
    if (options_.homeAssistant) PublishDiscovery();
}

void Gateway::Send(const std::string& level, const nlohmann::json& payload, bool retain) {
    broker_->Publish(base_ + level,
                     payload.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                     retain);
}

void Gateway::PublishState() {
    Send("state", {{"state", "online"}, {"reader", connected_ ? "connected" : "lost"}}, true);
}

void Gateway::PublishInfo() {
    nlohmann::json reader{{"connected", connected_}};
    if (!readerVersion_.empty()) reader["version"] = readerVersion_;
    if (!readerModel_.empty()) reader["model"] = readerModel_;
    Send("info",
         {{"gateway", QX4_VERSION},
          {"library", QX4LibraryVersion()},
          {"reader", reader},
          {"port", options_.simulate ? "simulated" : options_.device},
          {"name", options_.name},
          {"blockSize", QX4GetTagBlockSize()},
          {"mydBlockSize", QX4GetTagMydBlockSize()},
          {"allowWrites", options_.allowWrites},
          {"allowLocks", options_.allowLocks},
          {"maxRequestBytes", kMaxRequestBytes},
          {"queueLimit", options_.queueLimit},
          {"dropped", events_.dropped()},
          {"runId", runId_}},
         true);
}

void Gateway::PublishField() {
    fieldChanged_ = false;
    Send("field", {{"time", IsoTime(std::chrono::system_clock::now())}, {"tags", field_.ToJson()}},
         true);
}

void Gateway::PublishHeartbeat() {
    Send("heartbeat",
         {{"time", IsoTime(std::chrono::system_clock::now())},
          {"runId", runId_},
          {"uptime",
           std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started_).count()},
          {"reader", connected_ ? "connected" : "lost"},
          {"eventsPublished", broker_->acknowledged()},
          {"queued", events_.size() + broker_->unacknowledged()},
          {"dropped", events_.dropped()},
          {"readerReconnects", reconnects_}},
         false);
    // Last seen and read counts move on without a tag entering or leaving.
    PublishField();
}

void Gateway::PublishDiscovery() {
    // A message on the event topic whose template gives a UID is a tag scanned.
    nlohmann::json device{
        {"identifiers", {"qx4-" + options_.name}},
        {"name", "QX4 reader " + options_.name},
        {"sw_version", readerVersion_.empty() ? std::string(QX4_VERSION) : readerVersion_}};
    if (!readerModel_.empty()) device["model"] = readerModel_;
    nlohmann::json config{
        {"topic", base_ + "event"},
        {"value_template", "{% if value_json.event == 'enter' %}{{ value_json.uid }}{% endif %}"},
        {"device", device}};
    broker_->Publish(options_.discoveryPrefix + "/tag/qx4-" + options_.name + "/scanner/config",
                     config.dump(), true);
}

} // namespace qx4mqtt
