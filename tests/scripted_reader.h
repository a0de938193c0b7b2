// A reader on a pseudo-terminal that is not our simulator: it answers with the simulated
// reader's contents, but as a test scripts it: an EEPROM of a few words that refuses
// reads beyond its end, late, refused-then-answered, repeated and unsolicited answers,
// bytes delivered as a USB-serial adapter or a UART FIFO hands them on, and an auto-scan
// that refuses everything but the mode write. It answers in order, one request at a time.
#pragma once

#include "simulated_reader.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qx4test {

using qx4sim::Bytes;

// How received bytes reach the computer.
enum class Delivery {
    Whole,      // each frame at once, when its last byte is on the line (as qx4sim does)
    UsbAdapter, // 62-byte packets, the rest after the 16 ms latency timer
    UartFifo,   // 14-byte FIFO chunks, the rest 4 byte times after the line went quiet
};

// One frame of an answer and how long after the previous one (the first: after the
// request arrived) it goes on the line.
struct Timed {
    Bytes frame;
    unsigned afterMs = 0;
};
using Answer = std::vector<Timed>;

class ScriptedReader {
  public:
    static constexpr int kSilence = -1; // a refusal that sends nothing
    static constexpr int kAnswers = -2; // no refusal: answers as usual

    explicit ScriptedReader(unsigned baud = 0, Delivery delivery = Delivery::Whole);
    ~ScriptedReader();
    ScriptedReader(const ScriptedReader&) = delete;
    ScriptedReader& operator=(const ScriptedReader&) = delete;

    std::string DevicePath() const { return path_; }
    // What the reader holds and answers: tags, registers, EEPROM.
    qx4sim::SimulatedReader& Content() { return content_; }

    // Only `words` EEPROM words; a read or write beyond them is refused with this NACK
    // code, or kSilence.
    void SetEeprom(unsigned words, int refusal);
    // In auto-scan (operation mode 1): a notification every periodMs, and every request
    // but the mode write refused with this NACK code, or kSilence, or answered (kAnswers).
    void SetScan(int refusal, unsigned periodMs);
    // Changes an answer: given the request and the usual answer, what goes out instead.
    using Change = std::function<Answer(const Bytes& request, Answer usual)>;
    void SetChange(Change change);
    void SetDelivery(Delivery delivery);

    // Unsolicited bytes, on the line now.
    void Send(const Bytes& frame);
    std::vector<Bytes> Requests() const;
    void ClearRequests();
    unsigned NotificationsSent() const;

    static bool IsModeWrite(const Bytes& request) {
        return request.size() > 4 && request[2] == 0x4E &&
               (request[4] == 0x00 || request[4] == 0x10);
    }

  private:
    using Clock = std::chrono::steady_clock;
    struct OnLine {
        Clock::time_point arrives; // its last bit is on the line
        uint8_t byte;
        bool lastOfFrame;
    };

    Answer Usual(const Bytes& request);
    void Schedule(const Bytes& frame, Clock::time_point at);
    void Serve();
    void Scan();
    void Deliver();
    void Write(const Bytes& bytes);
    Clock::duration ByteTime() const;

    qx4sim::SimulatedReader content_;
    unsigned baud_;
    int master_ = -1, slave_ = -1, wake_ = -1;
    std::string path_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    Delivery delivery_;
    unsigned eepromWords_ = 256;
    int eepromRefusal_ = kSilence;
    int scanRefusal_ = kAnswers;
    unsigned scanPeriodMs_ = 0; // 0: no auto-scan notifications
    Change change_;
    std::vector<Bytes> requests_;
    unsigned notifications_ = 0;
    std::deque<OnLine> line_;    // bytes travelling, in order
    std::deque<OnLine> pending_; // arrived, not yet handed on
    Clock::time_point lineFree_{};
    std::thread server_, scanner_, deliverer_;
};

} // namespace qx4test
