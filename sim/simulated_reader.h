// A reader/writer on a pseudo-terminal, with tags in its field.
#pragma once

#include "pty_peer.h"
#include "reader_registers.h"
#include "tag.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

namespace qx4sim {

struct SimOptions {
    unsigned baud = 0; // pace replies like a serial line at this rate; 0: at once
    unsigned replyDelayMs = 0;
    std::FILE* log = nullptr; // every frame in hexadecimal
    std::string eepromFile;   // keeps the EEPROM across runs
    unsigned autoScanPeriodMs = 200;
    std::string romVersion; // empty: the simulator's own

    // A real reader and field; every one of these off is the immediate, perfect default.
    std::optional<std::string> profile; // unset: QX4SIM_PROFILE decides (profile.h)
    size_t eepromWords = ReaderRegisters::kEepromBytes / 2;
    int eepromRefusal = -1;     // beyond eepromWords: a NACK code, 0 no answer; -1 as before
    unsigned eepromReadMs = 0;  // per EEPROM read
    unsigned eepromWriteMs = 0; // per EEPROM word written
    bool airTime = false;       // tag commands take their time on the air (air_time.h)
    bool collisions = false;    // tags answering at once garble each other
    double crcErrors = 0, noAnswer = 0, programErrors = 0; // chances per request, every tag
    unsigned seed = 1;
    bool tagPower = false; // carrier off, power-down and leaving the field end quiet/selected
    unsigned bootMs = 0;   // a restart takes the reader away this long
    bool wakeFromPowerDown = false; // the first request after power-down only wakes it
    bool strictValues = false;
    bool usb = false;            // delivery of a USB-serial adapter
    bool paceAtLineRate = false; // pace at the line's rate when baud is 0
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
    // The same with the time the reader takes before it answers.
    Reply Answer(const Bytes& request);
    const SimOptions& Options() const { return options_; }

  private:
    struct TagReply {
        Bytes frame;
        unsigned airUs = 0;
    };
    TagReply TagCommand(const Bytes& data);
    TagReply Inventory(const Bytes& data);
    TagReply ReaderInventory();
    TagReply Serve(Tag& tag, const TagRequest& request, size_t requestBytes,
                   bool mayNotHear = true);
    unsigned ReaderCommandMs(uint8_t command, const Bytes& data) const;
    void PowerLost();
    bool Roll(double chance);
    bool Hears(const Tag& tag);
    bool Garbles(const Tag& tag);
    Bytes SimpleRead();
    Bytes Notification(const Tag& tag) const;
    void AutoScan();

    SimOptions options_;
    PtyPeer peer_;
    mutable std::mutex mutex_;
    std::mt19937 random_;
    std::chrono::steady_clock::time_point bootUntil_{};
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
