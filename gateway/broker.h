// One connection to the MQTT broker through libmosquitto: its own network thread,
// reconnects with a growing, jittered backoff after every failure or loss, says once on
// standard error what changed and why, last will, MQTT 5 response topics.
#pragma once

#include "options.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

struct mosquitto;

namespace qx4mqtt {

struct IncomingRequest {
    std::string topic;
    std::string payload;
    std::string responseTopic; // MQTT 5; empty otherwise
    std::string correlation;   // MQTT 5 correlation data, bytes as they came
    bool tooLarge = false;     // over kMaxRequestBytes: payload left empty, never copied
};

class Broker {
  public:
    // onConnect runs on the network thread after every (re)connection; onRequest for every
    // fresh, non-empty message on the request topics; onGiveUp once when it stops trying.
    Broker(const GatewayOptions& options, std::string base, std::function<void()> onConnect,
           std::function<void(IncomingRequest)> onRequest, std::function<void()> onGiveUp);
    ~Broker();
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    // Starts the network thread; a broker that is away is retried, never fatal.
    void Start();
    bool connected() const { return connected_.load(); }
    // Not 0 once it gave up (repeatedly not authorised, or the session taken by another
    // client of the same id): the gateway's exit status.
    int gaveUp() const { return gaveUp_.load(); }
    // False when the message could not be handed to the connection. QoS 1 only: every
    // message is tracked to its acknowledgement.
    bool Publish(const std::string& topic, const std::string& payload, bool retain,
                 const std::string& correlation = {}, bool counted = false);
    // Event messages sent and not yet acknowledged by the broker.
    size_t unacknowledged() const;
    unsigned long long acknowledged() const { return acknowledged_.load(); }
    // Publishes the offline state, waits a little for it to be acknowledged, disconnects.
    void Close(const std::string& offlinePayload);

  private:
    static void OnConnect(mosquitto*, void* self, int rc, int flags, const void* props);
    static void OnDisconnect(mosquitto*, void* self, int rc, const void* props);
    static void OnPublish(mosquitto*, void* self, int mid, int reason, const void* props);
    static void OnMessage(mosquitto*, void* self, const void* message, const void* props);
    static void OnLog(mosquitto*, void* self, int level, const char* text);
    int Connect();
    void Pause(std::chrono::milliseconds delay);
    // The connection's state in words; written when it differs from the last one written.
    void Say(const std::string& state);
    void GiveUp(int status, const std::string& why);

    const GatewayOptions& options_;
    std::string base_;
    std::function<void()> onConnect_;
    std::function<void(IncomingRequest)> onRequest_;
    std::function<void()> onGiveUp_;
    std::string where_; // HOST:PORT
    mosquitto* client_ = nullptr;
    std::atomic<bool> connected_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<int> gaveUp_{0};
    // Network thread only (the callbacks run on it).
    bool accepted_ = false;    // this connection's CONNACK said yes
    int refusal_ = -1;         // its CONNACK's refusal code
    int disconnectReason_ = 0; // the broker's DISCONNECT reason (MQTT 5)
    int refusedInARow_ = 0;    // not authorised, bad user name or password
    std::string lastSaid_;
    std::mutex logMutex_;
    std::string lastError_; // the library's last error line (TLS: OpenSSL's reason)
    std::thread network_;   // connects, reconnects with backoff, runs the client's loop
    void Network();
    std::atomic<unsigned long long> acknowledged_{0};
    mutable std::mutex pendingMutex_;
    std::set<int> pending_;   // mids of counted messages awaiting PUBACK
    std::set<int> uncounted_; // mids of other messages awaiting PUBACK
    std::set<int> early_;     // mids acknowledged before Publish returned
    int closingMid_ = -1;     // guarded by pendingMutex_
    bool closingAcked_ = false;
};

} // namespace qx4mqtt
