#include "broker.h"

#include <chrono>
#include <fstream>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <stdexcept>
#include <thread>

namespace qx4mqtt {
namespace {

std::string ReadPassword(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read the password file " + path);
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
               std::function<void(IncomingRequest)> onRequest)
    : options_(options), base_(std::move(base)), onConnect_(std::move(onConnect)),
      onRequest_(std::move(onRequest)) {
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

// Our own loop rather than the library's: every failure, of the first connection too,
// is retried after a delay growing from one second to ten, until the gateway stops.
void Broker::Network() {
    using namespace std::chrono_literals;
    auto delay = std::chrono::milliseconds(1000);
    bool socket = false, everConnected = false;
    while (!stopping_) {
        if (!socket) {
            const int rc = everConnected ? mosquitto_reconnect(client_)
                                         : mosquitto_connect(client_, options_.host.c_str(),
                                                             options_.port, options_.keepalive);
            if (rc != MOSQ_ERR_SUCCESS) {
                for (auto waited = 0ms; waited < delay && !stopping_; waited += 50ms)
                    std::this_thread::sleep_for(50ms);
                delay = std::min<std::chrono::milliseconds>(delay * 2, 10s);
                continue;
            }
            socket = everConnected = true;
        }
        if (mosquitto_loop(client_, 100, 1) != MOSQ_ERR_SUCCESS) {
            socket = false;
            connected_ = false;
        } else if (connected_) {
            delay = 1000ms;
        }
    }
}

void Broker::OnConnect(mosquitto* client, void* self, int rc, int, const void*) {
    auto* broker = static_cast<Broker*>(self);
    if (rc != 0) return; // refused: the network thread tries again
    const std::string requests = broker->base_ + "request/+";
    mosquitto_subscribe_v5(client, nullptr, requests.c_str(), 1, 0, nullptr);
    broker->connected_ = true;
    broker->onConnect_();
}

void Broker::OnDisconnect(mosquitto*, void* self, int, const void*) {
    static_cast<Broker*>(self)->connected_ = false;
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
    IncomingRequest request;
    request.topic = message->topic ? message->topic : "";
    if (message->payload && message->payloadlen > 0)
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
