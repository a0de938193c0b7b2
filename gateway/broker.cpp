#include "broker.h"

#include "request.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>

namespace qx4mqtt {
namespace {

using namespace std::chrono_literals;

constexpr auto kFirstDelay = 1000ms, kMaxDelay = 30000ms;
// A connection that lasted this long was good: the next failure starts the backoff afresh.
constexpr auto kStableConnection = 30s;
// Refusals for the credentials in a row before the gateway exits.
constexpr int kRefusalsBeforeExit = 5;
// The broker sends nothing larger: a request over kMaxRequestBytes still gets its refusal.
constexpr uint32_t kMaxPacketBytes = 4 * kMaxRequestBytes;

// Secrets that others may read are used, but not in silence.
void WarnIfOthersRead(const std::string& path, const char* what) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && (status.st_mode & S_IROTH))
        std::fprintf(stderr,
                     "qx4-mqtt: warning: others can read the %s %s (chgrp qx4-mqtt; chmod 640)\n",
                     what, path.c_str());
}

std::string ReadPassword(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read the password file " + path);
    WarnIfOthersRead(path, "password file");
    std::string password;
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
}

void Require(int rc, const char* what) {
    if (rc != MOSQ_ERR_SUCCESS)
        throw std::runtime_error(std::string(what) + ": " + mosquitto_strerror(rc));
}

struct LibraryUse {
    LibraryUse() { mosquitto_lib_init(); }
    ~LibraryUse() { mosquitto_lib_cleanup(); }
};

} // namespace

Broker::Broker(const GatewayOptions& options, std::string base, std::function<void()> onConnect,
               std::function<void(IncomingRequest)> onRequest, std::function<void()> onGiveUp)
    : options_(options), base_(std::move(base)), onConnect_(std::move(onConnect)),
      onRequest_(std::move(onRequest)), onGiveUp_(std::move(onGiveUp)),
      where_(options.host + ":" + std::to_string(options.port)) {
    static LibraryUse library;
    client_ = mosquitto_new(options.id.c_str(), true, this);
    if (!client_) throw std::runtime_error("cannot create the MQTT client");
    Require(mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION,
                                 options.protocol == 5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311),
            "MQTT protocol version");
    // Small messages go out at once: events and responses are latency, not bulk.
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    if (!options.username.empty() || !options.passwordFile.empty()) {
        const std::string password =
            options.passwordFile.empty() ? std::string() : ReadPassword(options.passwordFile);
        Require(
            mosquitto_username_pw_set(client_, options.username.c_str(),
                                      options.passwordFile.empty() ? nullptr : password.c_str()),
            "user name and password");
    }
    if (!options.key.empty()) WarnIfOthersRead(options.key, "key file");
    if (!options.cafile.empty())
        Require(mosquitto_tls_set(client_, options.cafile.c_str(), nullptr,
                                  options.cert.empty() ? nullptr : options.cert.c_str(),
                                  options.key.empty() ? nullptr : options.key.c_str(), nullptr),
                "TLS");
    const std::string offline = R"({"state":"offline"})";
    Require(mosquitto_will_set_v5(client_, (base_ + "state").c_str(),
                                  static_cast<int>(offline.size()), offline.data(), 1, true,
                                  nullptr),
            "last will");
    mosquitto_connect_v5_callback_set(
        client_, [](mosquitto* m, void* self, int rc, int flags, const mosquitto_property* props) {
            OnConnect(m, self, rc, flags, props);
        });
    mosquitto_disconnect_v5_callback_set(
        client_, [](mosquitto* m, void* self, int rc, const mosquitto_property* props) {
            OnDisconnect(m, self, rc, props);
        });
    mosquitto_publish_v5_callback_set(
        client_, [](mosquitto* m, void* self, int mid, int reason,
                    const mosquitto_property* props) { OnPublish(m, self, mid, reason, props); });
    mosquitto_message_v5_callback_set(
        client_, [](mosquitto* m, void* self, const mosquitto_message* message,
                    const mosquitto_property* props) { OnMessage(m, self, message, props); });
    mosquitto_log_callback_set(client_, [](mosquitto* m, void* self, int level, const char* text) {
        OnLog(m, self, level, text);
    });
}

Broker::~Broker() {
    stopping_ = true;
    if (network_.joinable()) network_.join();
    mosquitto_destroy(client_);
}

void Broker::Start() {
    mosquitto_threaded_set(client_, true);
    network_ = std::thread(&Broker::Network, this);
    started_ = true;
}

int Broker::Connect() {
    accepted_ = false;
    refusal_ = -1;
    disconnectReason_ = 0;
    {
        std::lock_guard lock(logMutex_);
        lastError_.clear();
    }
    if (options_.protocol != 5)
        return mosquitto_connect(client_, options_.host.c_str(), options_.port, options_.keepalive);
    // The broker drops what is larger instead of sending it.
    mosquitto_property* props = nullptr;
    mosquitto_property_add_int32(&props, MQTT_PROP_MAXIMUM_PACKET_SIZE, kMaxPacketBytes);
    const int rc = mosquitto_connect_bind_v5(client_, options_.host.c_str(), options_.port,
                                             options_.keepalive, nullptr, props);
    mosquitto_property_free_all(&props);
    return rc;
}

void Broker::Pause(std::chrono::milliseconds delay) {
    for (auto waited = 0ms; waited < delay && !stopping_; waited += 50ms)
        std::this_thread::sleep_for(50ms);
}

void Broker::Say(const std::string& state) {
    if (state == lastSaid_) return;
    lastSaid_ = state;
    std::fprintf(stderr, "qx4-mqtt: %s\n", state.c_str());
}

void Broker::GiveUp(int status, const std::string& why) {
    Say(why);
    gaveUp_ = status;
    onGiveUp_();
}

// Our own loop rather than the library's: every failure, of the first connection too, and
// every loss is followed by a pause growing from one second to thirty, each drawn at random
// from its upper half so that gateways restarted together do not retry together.
void Broker::Network() {
    std::minstd_rand random(std::random_device{}());
    auto delay = kFirstDelay;
    while (!stopping_ && !gaveUp_) {
        const int rc = Connect();
        auto since = std::chrono::steady_clock::now();
        int loop = rc;
        if (rc == MOSQ_ERR_SUCCESS)
            while (!stopping_ && (loop = mosquitto_loop(client_, 100, 1)) == MOSQ_ERR_SUCCESS) {
            }
        connected_ = false;
        if (stopping_) break;
        std::string error;
        {
            std::lock_guard lock(logMutex_);
            error = lastError_;
        }
        const std::string cause =
            mosquitto_strerror(loop) + (error.empty() ? "" : " (" + error + ")");
        if (refusal_ > 0) {
            const bool v5 = options_.protocol == 5;
            const std::string reason =
                v5 ? mosquitto_reason_string(refusal_) : mosquitto_connack_string(refusal_);
            const bool credentials = v5 ? refusal_ == MQTT_RC_NOT_AUTHORIZED ||
                                              refusal_ == MQTT_RC_BAD_USERNAME_OR_PASSWORD
                                        : refusal_ == CONNACK_REFUSED_NOT_AUTHORIZED ||
                                              refusal_ == CONNACK_REFUSED_BAD_USERNAME_PASSWORD;
            Say("the broker at " + where_ + " refused the connection: " + reason);
            if (credentials && ++refusedInARow_ >= kRefusalsBeforeExit) {
                GiveUp(1, "giving up after " + std::to_string(refusedInARow_) +
                              " refusals in a row: check --username and --password-file");
                break;
            }
        } else if (disconnectReason_ == MQTT_RC_SESSION_TAKEN_OVER) {
            // Taking it back would only throw the other one out in turn, for ever.
            GiveUp(2, "the broker at " + where_ + " gave this gateway's session (client id " +
                          options_.id + ") to another client: is another gateway named " +
                          options_.name + "? Stopping; give each gateway its own --name");
            break;
        } else if (!accepted_) {
            Say("cannot connect to the broker at " + where_ + ": " + cause);
        } else {
            const std::string reason =
                disconnectReason_ > 0 ? mosquitto_reason_string(disconnectReason_) : cause;
            if (std::chrono::steady_clock::now() - since >= kStableConnection) {
                delay = kFirstDelay;
                Say("lost the connection to the broker at " + where_ + ": " + reason);
            } else {
                // Brokers that close a taken-over session without saying why look like this.
                Say("lost the connection to the broker at " + where_ + " soon after connecting: " +
                    reason + " (a client with the same id " + options_.id +
                    ", such as another gateway of the same --name, takes the "
                    "session; backing off up to " +
                    std::to_string(kMaxDelay.count() / 1000) + " s)");
            }
        }
        if (refusal_ <= 0) refusedInARow_ = 0;
        std::uniform_int_distribution<long> draw(delay.count() / 2, delay.count());
        Pause(std::chrono::milliseconds(draw(random)));
        delay = std::min(delay * 2, kMaxDelay);
    }
}

void Broker::OnConnect(mosquitto* client, void* self, int rc, int, const void*) {
    auto* broker = static_cast<Broker*>(self);
    if (rc != 0) { // refused: the network thread says why and tries again later
        broker->refusal_ = rc;
        return;
    }
    broker->accepted_ = true;
    broker->refusedInARow_ = 0;
    // Retained requests are old: MQTT 5 is asked not to send them, and any that come are
    // dropped (OnMessage).
    const std::string requests = broker->base_ + "request/+";
    const bool v5 = broker->options_.protocol == 5;
    mosquitto_subscribe_v5(client, nullptr, requests.c_str(), 1,
                           v5 ? MQTT_SUB_OPT_SEND_RETAIN_NEVER : 0, nullptr);
    broker->Say("connected to the broker at " + broker->where_);
    broker->connected_ = true;
    broker->onConnect_();
}

void Broker::OnDisconnect(mosquitto*, void* self, int rc, const void*) {
    auto* broker = static_cast<Broker*>(self);
    // MQTT 5: the broker's reason (session taken over, ...); else a library error code.
    if (broker->options_.protocol == 5 && rc >= 0x80) broker->disconnectReason_ = rc;
    broker->connected_ = false;
}

void Broker::OnLog(mosquitto*, void* self, int level, const char* text) {
    if (!(level & MOSQ_LOG_ERR) || !text) return;
    auto* broker = static_cast<Broker*>(self);
    std::lock_guard lock(broker->logMutex_);
    broker->lastError_ = text;
}

void Broker::OnPublish(mosquitto*, void* self, int mid, int, const void*) {
    auto* broker = static_cast<Broker*>(self);
    std::lock_guard lock(broker->pendingMutex_);
    if (broker->pending_.erase(mid))
        ++broker->acknowledged_;
    else if (broker->uncounted_.erase(mid))
        ;
    else if (mid == broker->closingMid_)
        broker->closingAcked_ = true;
    else
        broker->early_.insert(mid); // acknowledged before Publish noted it
}

void Broker::OnMessage(mosquitto*, void* self, const void* raw, const void* rawProps) {
    auto* broker = static_cast<Broker*>(self);
    const auto* message = static_cast<const mosquitto_message*>(raw);
    const auto* props = static_cast<const mosquitto_property*>(rawProps);
    // A retained message was sent before now, maybe long ago; an empty one is what clearing
    // a retained message sends. Neither is a request.
    if (message->retain || message->payloadlen <= 0 || !message->payload) return;
    IncomingRequest request;
    request.topic = message->topic ? message->topic : "";
    if (static_cast<size_t>(message->payloadlen) > kMaxRequestBytes)
        request.tooLarge = true;
    else
        request.payload.assign(static_cast<const char*>(message->payload),
                               static_cast<size_t>(message->payloadlen));
    char* responseTopic = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &responseTopic, false)) {
        request.responseTopic = responseTopic;
        free(responseTopic);
    }
    void* correlation = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &correlation, &length,
                                       false)) {
        request.correlation.assign(static_cast<const char*>(correlation), length);
        free(correlation);
    }
    broker->onRequest_(std::move(request));
}

bool Broker::Publish(const std::string& topic, const std::string& payload, bool retain,
                     const std::string& correlation, bool counted) {
    mosquitto_property* props = nullptr;
    if (!correlation.empty())
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation.data(),
                                      static_cast<uint16_t>(correlation.size()));
    int mid = 0;
    const int rc =
        mosquitto_publish_v5(client_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), 1, retain, props);
    mosquitto_property_free_all(&props);
    if (rc != MOSQ_ERR_SUCCESS) return false;
    std::lock_guard lock(pendingMutex_);
    const bool acked = early_.erase(mid) > 0;
    if (counted && acked) ++acknowledged_;
    if (!acked) (counted ? pending_ : uncounted_).insert(mid);
    return true;
}

size_t Broker::unacknowledged() const {
    std::lock_guard lock(pendingMutex_);
    return pending_.size();
}

void Broker::Close(const std::string& offlinePayload) {
    if (!started_) return;
    if (connected_) {
        int mid = 0;
        if (mosquitto_publish_v5(client_, &mid, (base_ + "state").c_str(),
                                 static_cast<int>(offlinePayload.size()), offlinePayload.data(), 1,
                                 true, nullptr) == MOSQ_ERR_SUCCESS) {
            std::lock_guard lock(pendingMutex_);
            closingMid_ = mid;
            closingAcked_ = early_.erase(mid) > 0;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
        while (std::chrono::steady_clock::now() < end) {
            {
                std::lock_guard lock(pendingMutex_);
                if (closingAcked_) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    mosquitto_disconnect(client_);
    stopping_ = true;
    if (network_.joinable()) network_.join();
    started_ = false;
}

} // namespace qx4mqtt
