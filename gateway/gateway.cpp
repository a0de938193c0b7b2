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
// A reader silent this long is asked something cheap; one that does not answer is
// published as not answering until it does.
constexpr auto kSilence = 3s;
// The retained field snapshot at most this often: a moving tag does not flood the broker.
constexpr auto kFieldPeriod = 1s;

long long Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Text from the reader may be any bytes: what is not UTF-8 is replaced, never fatal.
std::string Dump(const nlohmann::json& payload) {
    return payload.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string RunId() {
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", random(), random());
    return text;
}

} // namespace

Gateway::Gateway(GatewayOptions options)
    : options_(std::move(options)), base_(options_.topicBase + "/" + options_.name + "/"),
      runId_(RunId()), policy_{options_.allowWrites, options_.allowLocks, options_.mode != 0},
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
                Refuse(request, "busy: " + std::to_string(kMaxWaitingRequests) +
                                    " requests are waiting already");
                return;
            }
            requests_.push_back(std::move(request));
            woken_ = true;
            wake_.notify_one();
        },
        [this] { Wake(); });
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
    QX4SetReceivedHook(
        [](void* self) {
            auto* gateway = static_cast<Gateway*>(self);
            gateway->lastHeard_ = Now();
            gateway->Wake();
        },
        this);
    int status = 0;
    try {
        broker_->Start();
        Loop(stop);
        status = broker_->gaveUp();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qx4-mqtt: %s\n", error.what());
        status = 1;
    }
    try {
        // Requests still queued are answered first: the mode's restore may wait for a
        // reader that no longer answers.
        {
            std::lock_guard lock(mutex_);
            for (const IncomingRequest& request : requests_)
                Refuse(request, "stopping: the gateway is shutting down");
            requests_.clear();
        }
        // The reader goes back to its own mode; notifications still arriving are dispatched.
        RestoreMode();
        PumpEvents();
        broker_->Close(R"({"state":"offline"})");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qx4-mqtt: %s\n", error.what());
        status = 1;
    }
    return status;
}

void Gateway::Loop(const std::atomic<bool>& stop) {
    nextHeartbeat_ = Clock::now() + std::chrono::seconds(options_.heartbeatSeconds);
    while (!stop && !broker_->gaveUp()) {
        if (!connected_ && Clock::now() >= nextOpen_) OpenReader();
        if (connected_) {
            QX4ReadData();
            if (!QX4IsOK()) ReaderLost();
        }
        if (connected_ && Clock::now() >= nextProbe_ &&
            Now() - lastHeard_.load() > std::chrono::nanoseconds(kSilence).count())
            Probe();
        ReadEnteredNdef();
        Leaves();
        if (republish_.exchange(false)) PublishRetained();
        ServeRequests(stop);
        if (fieldChanged_ && Clock::now() >= nextField_) PublishField();
        PumpEvents();
        if (const auto now = Clock::now(); now >= nextHeartbeat_) {
            PublishHeartbeat();
            // After a long request the beats missed are not made up in a burst.
            nextHeartbeat_ += std::chrono::seconds(options_.heartbeatSeconds);
            if (nextHeartbeat_ <= now)
                nextHeartbeat_ = now + std::chrono::seconds(options_.heartbeatSeconds);
        }
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, kReadPeriod, [this] { return woken_; });
        woken_ = false;
    }
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
    blockSize_ = QX4GetTagBlockSize();
    mydBlockSize_ = QX4GetTagMydBlockSize();
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
    answering_ = true;
    lastHeard_ = Now();
    openDelay_ = 500ms;
    std::fprintf(stderr, "qx4-mqtt: reader %s connected (%s %s)\n", options_.device.c_str(),
                 readerModel_.c_str(), readerVersion_.c_str());
    // A connection to the broker just made publishes them all the same.
    if (!republish_) {
        PublishState();
        PublishInfo();
        if (options_.homeAssistant) PublishDiscovery();
    }
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

void Gateway::RestoreSettings() {
    QX4SetHandle(&window_);
    QX4SetCmdWaitTime(options_.timeoutMs);
    QX4SetTagBlockSize(blockSize_);
    QX4SetTagMydBlockSize(mydBlockSize_);
}

void Gateway::Probe() {
    nextProbe_ = Clock::now() + kSilence;
    unsigned char mode = 0, second = 0, flags = 0;
    if (!QX4GetRWMode(&mode, &second, &flags)) {
        if (!QX4IsOK()) return ReaderLost();
        if (QX4GetFailureCause() == QX4_CAUSE_TIMEOUT ||
            QX4GetFailureCause() == QX4_CAUSE_OUT_OF_STEP)
            SetAnswering(false);
        return;
    }
    SetAnswering(true);
    const int runFlags = options_.scanFlags >= 0 ? options_.scanFlags : flags;
    if (mode == options_.mode && flags == runFlags) return;
    // A restart (or an EEPROM change) put the reader back into its own stored mode.
    std::fprintf(stderr, "qx4-mqtt: the reader was in operation mode %d: setting %d again\n", mode,
                 options_.mode);
    if (!QX4SetRWMode(options_.mode, second, runFlags, 0, 0))
        std::fprintf(stderr, "qx4-mqtt: the reader did not take operation mode %d\n",
                     options_.mode);
}

void Gateway::SetAnswering(bool answering) {
    if (answering == answering_) return;
    answering_ = answering;
    std::fprintf(stderr, "qx4-mqtt: reader %s %s\n", options_.device.c_str(),
                 answering ? "answers again" : "does not answer");
    PublishState();
}

void Gateway::RestoreMode() {
    if (!connected_ || !modeSaved_ || !QX4IsOK()) return;
    // Within the unit's stop time even when the reader is mute: the fence's second and
    // half a second for the mode write.
    QX4SetCmdWaitTime(std::min(options_.timeoutMs, 500));
    if (!QX4SetRWMode(savedMode_, savedSecond_, savedFlags_, 0, 0))
        std::fprintf(stderr, "qx4-mqtt: the reader's operation mode could not be restored\n");
}

void Gateway::OnNotification(const QX4CopyData& record) {
    lastHeard_ = Now();
    if (!answering_) SetAnswering(true);
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
        if (connected_) RestoreSettings();
    }
}

void Gateway::AddEvent(nlohmann::json event) {
    event["time"] = IsoTime(std::chrono::system_clock::now());
    event["seq"] = ++seq_;
    event["runId"] = runId_;
    events_.Push(Dump(event));
}

void Gateway::Leaves() {
    for (const std::string& uid :
         field_.Leaves(Clock::now(), std::chrono::milliseconds(options_.leaveAfterMs))) {
        AddEvent({{"event", "leave"}, {"uid", uid}});
        fieldChanged_ = true;
    }
}

void Gateway::ServeRequests(const std::atomic<bool>& stop) {
    for (;;) {
        IncomingRequest request;
        {
            std::lock_guard lock(mutex_);
            if (requests_.empty() || stop) return; // what is left is answered "stopping"
            request = std::move(requests_.front());
            requests_.pop_front();
        }
        Serve(request);
    }
}

// Responses may not go where they would pass for the gateway's own messages (its state, its
// events, another gateway's topics, Home Assistant's discovery).
static std::string ResponseTopicFault(const std::string& topic, const std::string& base,
                                      const GatewayOptions& options) {
    if (topic.find_first_of("+#") != std::string::npos) return "holds a wildcard";
    if (topic.starts_with(base + "response/")) return {};
    if (topic.starts_with(options.topicBase + "/")) return "is in the gateways' own topics";
    if (topic.starts_with(options.discoveryPrefix + "/"))
        return "is in Home Assistant's discovery topics";
    return {};
}

void Gateway::Answer(const IncomingRequest& incoming, const std::string& command,
                     const nlohmann::json& response) {
    const bool own = incoming.responseTopic.empty() ||
                     !ResponseTopicFault(incoming.responseTopic, base_, options_).empty();
    broker_->Publish(own ? base_ + "response/" + command : incoming.responseTopic, Dump(response),
                     false, incoming.correlation);
}

void Gateway::Refuse(const IncomingRequest& incoming, const std::string& text) {
    const std::string command = incoming.topic.substr(incoming.topic.rfind('/') + 1);
    Answer(incoming, command, qx4cli::RefusalObject(command, text));
}

void Gateway::Serve(const IncomingRequest& incoming) {
    const std::string command = incoming.topic.substr(incoming.topic.rfind('/') + 1);
    if (incoming.tooLarge)
        return Refuse(incoming,
                      "request larger than " + std::to_string(kMaxRequestBytes) + " bytes");
    if (!incoming.responseTopic.empty()) {
        const std::string fault = ResponseTopicFault(incoming.responseTopic, base_, options_);
        if (!fault.empty())
            return Refuse(incoming, "response topic " + incoming.responseTopic + " refused: it " +
                                        fault + "; nothing was sent to the reader");
    }
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
        if (connected_ && !QX4IsOK()) ReaderLost();
        if (connected_) {
            RestoreSettings();
            // A restart or an EEPROM change may have left the reader in another mode.
            if (AccessOf(command, !request.arguments.empty()) != Access::Read) Probe();
        }
    }
    Answer(incoming, command, response);
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

// Only events wait for the broker (in events_); the rest is published again on connecting.
void Gateway::Send(const std::string& level, const nlohmann::json& payload, bool retain) {
    if (broker_->connected()) broker_->Publish(base_ + level, Dump(payload), retain);
}

static const char* ReaderState(bool connected, bool answering) {
    return !connected ? "lost" : answering ? "connected" : "not answering";
}

void Gateway::PublishState() {
    Send("state", {{"state", "online"}, {"reader", ReaderState(connected_, answering_)}}, true);
}

void Gateway::PublishInfo() {
    nlohmann::json reader{{"connected", connected_}, {"answering", connected_ && answering_}};
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
    if (!broker_->connected()) return; // published again on connecting
    fieldChanged_ = false;
    nextField_ = Clock::now() + kFieldPeriod;
    Send("field", {{"time", IsoTime(std::chrono::system_clock::now())}, {"tags", field_.ToJson()}},
         true);
}

void Gateway::PublishHeartbeat() {
    Send("heartbeat",
         {{"time", IsoTime(std::chrono::system_clock::now())},
          {"runId", runId_},
          {"uptime",
           std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started_).count()},
          {"reader", ReaderState(connected_, answering_)},
          {"eventsPublished", broker_->acknowledged()},
          {"queued", events_.size() + broker_->unacknowledged()},
          {"dropped", events_.dropped()},
          {"readerReconnects", reconnects_}},
         false);
    // Last seen and read counts move on without a tag entering or leaving.
    fieldChanged_ = true;
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
        {"qos", 1},
        {"device", device}};
    if (broker_->connected())
        broker_->Publish(options_.discoveryPrefix + "/tag/qx4-" + options_.name + "/scanner/config",
                         Dump(config), true);
}

} // namespace qx4mqtt
