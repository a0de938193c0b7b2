// A reader/writer on a pseudo-terminal, with tags in its field.
#pragma once

#include "pty_peer.h"
#include "reader_registers.h"
#include "tag.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qx4sim {

struct SimOptions {
    unsigned baud = 0; // pace replies like a serial line at this rate; 0: at once
    unsigned replyDelayMs = 0;
    std::FILE* log = nullptr; // every frame in hexadecimal
    std::string eepromFile;   // keeps the EEPROM across runs
    unsigned autoScanPeriodMs = 200;
    std::string romVersion; // empty: the simulator's own
};

class SimulatedReader {
  public:
    explicit SimulatedReader(SimOptions options = {});
    ~SimulatedReader();

    PtyPeer& Peer() { return peer_; }
    std::string DevicePath() const { return peer_.DevicePath(); }

    // Two ISO 15693 tags (4- and 8-byte blocks) and a my-d tag.
    static std::vector<Tag> DefaultField();
    void SetField(std::vector<Tag> tags);
    void AddTag(Tag tag); // enters the field
    bool RemoveTag(const Uid& uid);
    std::vector<Tag> Field() const;
    ReaderRegisters Registers() const;
    template <typename Change> void Modify(Change change) {
        std::lock_guard lock(mutex_);
        change(reader_, field_);
    }

    void SetAutoScanPeriod(unsigned ms) { autoScanPeriodMs_ = ms; }
    unsigned NotificationsSent() const { return notificationsSent_; }

    // The reply frames to one request frame (empty: no answer).
    std::vector<Bytes> Respond(const Bytes& request);

  private:
    Bytes TagCommand(const Bytes& data);
    Bytes SimpleRead();
    Bytes Notification(const Tag& tag) const;
    void AutoScan();

    PtyPeer peer_;
    mutable std::mutex mutex_;
    ReaderRegisters reader_;
    std::vector<Tag> field_;
    std::atomic<unsigned> autoScanPeriodMs_;
    std::atomic<unsigned> notificationsSent_{0};
    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    bool stopping_ = false;
    std::thread scanner_;
};

} // namespace qx4sim
