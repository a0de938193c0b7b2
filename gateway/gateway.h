// qx4-mqtt's core: one reader, one broker connection. The reader belongs to the thread
// that calls Run; the broker's network thread only hands over requests and wakes it.
#pragma once

#include "broker.h"
#include "field.h"
#include "options.h"
#include "qx4drv.h"
#include "request.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

namespace qx4sim {
class SimulatedReader;
}

namespace qx4mqtt {

class Gateway {
  public:
    explicit Gateway(GatewayOptions options);
    ~Gateway();
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    // Serves until stop is set; restores the reader's mode and says offline before it returns.
    int Run(const std::atomic<bool>& stop);
    // Wakes Run at once (a signal handler sets stop, then calls this from another thread).
    void Wake();

  private:
    struct Window : QX4Window {
        Gateway* gateway;
    };

    void Loop(const std::atomic<bool>& stop);
    void OpenReader();
    void ReaderLost();
    void RestoreMode();
    // Puts back what a command may have changed: the window, time-out, block sizes.
    void RestoreSettings();
    // A cheap read that tells whether the reader answers, and puts back the gateway's
    // operation mode when the reader has another (after a restart).
    void Probe();
    void SetAnswering(bool answering);
    void Answer(const IncomingRequest& incoming, const std::string& command,
                const nlohmann::json& response);
    void Refuse(const IncomingRequest& incoming, const std::string& text);
    void OnNotification(const QX4CopyData& record);
    // --read-ndef: the enter events held back until their tag's NDEF is read.
    void ReadEnteredNdef();
    bool HeldBack(const std::string& uid, const nlohmann::json& event);
    void AddEvent(nlohmann::json event);
    void Leaves();
    void ServeRequests(const std::atomic<bool>& stop);
    void Serve(const IncomingRequest& incoming);
    void PumpEvents();
    void PublishRetained();
    void PublishState();
    void PublishInfo();
    void PublishField();
    void PublishHeartbeat();
    void PublishDiscovery();
    void Send(const std::string& level, const nlohmann::json& payload, bool retain);

    GatewayOptions options_;
    std::string base_; // BASE/NAME/
    std::string runId_;
    Policy policy_;
    std::unique_ptr<qx4sim::SimulatedReader> simulator_;
    std::unique_ptr<Broker> broker_;
    Window window_{};

    // Reader state: Run's thread only.
    bool opened_ = false, connected_ = false;
    bool answering_ = true;
    int blockSize_ = 4, mydBlockSize_ = 8;
    SteadyTime nextProbe_{}, nextField_{};
    bool modeSaved_ = false;
    unsigned char savedMode_ = 0, savedSecond_ = 0, savedFlags_ = 0;
    std::string readerVersion_, readerModel_;
    SteadyTime nextOpen_{};
    std::chrono::milliseconds openDelay_{500};
    unsigned long long reconnects_ = 0;
    unsigned long long seq_ = 0;
    FieldTracker field_;
    bool fieldChanged_ = false;
    struct HeldEnter {
        std::string uid;
        std::vector<nlohmann::json> after; // that tag's events meanwhile, in order
    };
    std::deque<HeldEnter> heldEnters_;
    std::optional<HeldEnter> reading_;
    EventQueue events_;
    unsigned long long droppedReported_ = 0;
    SteadyTime started_ = std::chrono::steady_clock::now();
    SteadyTime nextHeartbeat_{};

    // Between the network thread and Run's.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<IncomingRequest> requests_;
    bool woken_ = false;
    std::atomic<bool> republish_{false};
    // When the reader last sent anything (steady clock, ns): set on the receive thread.
    std::atomic<long long> lastHeard_{0};
};

} // namespace qx4mqtt
