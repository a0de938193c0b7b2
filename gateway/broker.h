// One connection to the MQTT broker through libmosquitto: its own network thread,
// reconnects with backoff, last will, MQTT 5 response topics.
#pragma once

#include "options.h"

#include <atomic>
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
};

class Broker {
  public:
    // onConnect runs on the network thread after every (re)connection;
    // onRequest for every message on the request topics.
    Broker(const GatewayOptions& options, std::string base, std::function<void()> onConnect,
           std::function<void(IncomingRequest)> onRequest);
    ~Broker();
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    // Starts the network thread; a broker that is away is retried, never fatal.
    void Start();
    bool connected() const { return connected_.load(); }
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

    const GatewayOptions& options_;
    std::string base_;
    std::function<void()> onConnect_;
    std::function<void(IncomingRequest)> onRequest_;
    mosquitto* client_ = nullptr;
    std::atomic<bool> connected_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> stopping_{false};
    std::thread network_; // connects, reconnects with backoff, runs the client's loop
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
