#include "scripted_reader.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace qx4test {
namespace {

constexpr size_t kUsbPacket = 62;
constexpr auto kUsbLatency = std::chrono::milliseconds(16);
constexpr size_t kFifoChunk = 14;
constexpr unsigned kFifoQuietBytes = 4;
constexpr uint8_t kAutoScan = 0x01;
constexpr size_t kNotificationText = 48;

bool IsEepromAccess(const Bytes& request) {
    return request.size() >= 10 && (request[2] == 0x4F || request[2] == 0x4E) && request[3] >= 3 &&
           request[4] == 0x70;
}

Bytes Refusal(int code) {
    return qx4sim::EncodeFrame(qx4sim::kNack, {static_cast<uint8_t>(code)});
}

} // namespace

ScriptedReader::ScriptedReader(unsigned baud, Delivery delivery)
    : baud_(baud), delivery_(delivery) {
    content_.SetAutoScanPeriod(3'600'000); // its own pty stays quiet: this reader scans
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0)
        throw std::runtime_error("cannot create a pseudo-terminal");
    path_ = name;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC); // the line stays up between opens
    termios raw{};
    if (slave_ >= 0 && ::tcgetattr(slave_, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(slave_, TCSANOW, &raw);
    }
    wake_ = ::eventfd(0, EFD_CLOEXEC);
    server_ = std::thread(&ScriptedReader::Serve, this);
    scanner_ = std::thread(&ScriptedReader::Scan, this);
    deliverer_ = std::thread(&ScriptedReader::Deliver, this);
}

ScriptedReader::~ScriptedReader() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wake_, &one, sizeof one);
    server_.join();
    scanner_.join();
    deliverer_.join();
    ::close(wake_);
    ::close(slave_);
    ::close(master_);
}

void ScriptedReader::SetEeprom(unsigned words, int refusal) {
    std::lock_guard lock(mutex_);
    eepromWords_ = words;
    eepromRefusal_ = refusal;
}

void ScriptedReader::SetScan(int refusal, unsigned periodMs) {
    std::lock_guard lock(mutex_);
    scanRefusal_ = refusal;
    scanPeriodMs_ = periodMs;
    changed_.notify_all();
}

void ScriptedReader::SetChange(Change change) {
    std::lock_guard lock(mutex_);
    change_ = std::move(change);
}

void ScriptedReader::SetDelivery(Delivery delivery) {
    std::lock_guard lock(mutex_);
    delivery_ = delivery;
}

void ScriptedReader::Send(const Bytes& frame) {
    std::lock_guard lock(mutex_);
    Schedule(frame, Clock::now());
}

std::vector<Bytes> ScriptedReader::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void ScriptedReader::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

unsigned ScriptedReader::NotificationsSent() const {
    std::lock_guard lock(mutex_);
    return notifications_;
}

ScriptedReader::Clock::duration ScriptedReader::ByteTime() const {
    if (baud_ == 0) return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(std::chrono::microseconds(10'000'000) /
                                                       baud_);
}

// Called with the lock held: the usual answer of this reader.
Answer ScriptedReader::Usual(const Bytes& request) {
    const bool scanning = content_.Registers().mode == kAutoScan;
    if (scanning && scanRefusal_ != kAnswers && !IsModeWrite(request)) {
        if (scanRefusal_ == kSilence) return {};
        return {{Refusal(scanRefusal_)}};
    }
    if (IsEepromAccess(request) && request[5] + std::max<unsigned>(request[6], 1) > eepromWords_) {
        if (eepromRefusal_ == kSilence) return {};
        return {{Refusal(eepromRefusal_)}};
    }
    Answer answer;
    for (const Bytes& frame : content_.Respond(request))
        answer.push_back({frame});
    return answer;
}

// Called with the lock held. The reader answers in order: nothing overtakes what is
// already on the line.
void ScriptedReader::Schedule(const Bytes& frame, Clock::time_point at) {
    Clock::time_point start = std::max(at, lineFree_);
    for (size_t i = 0; i < frame.size(); ++i) {
        start += ByteTime();
        line_.push_back({start, frame[i], i + 1 == frame.size()});
    }
    lineFree_ = start;
    changed_.notify_all();
}

void ScriptedReader::Serve() {
    qx4sim::FrameSplitter splitter;
    uint8_t buffer[512];
    pollfd fds[2] = {{wake_, POLLIN, 0}, {master_, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) return;
        if (!(fds[1].revents & POLLIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5)); // nobody has it open
            continue;
        }
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) splitter.Feed(buffer, static_cast<size_t>(n));
        while (auto request = splitter.Next()) {
            // The request itself takes its wire time to arrive.
            Clock::time_point at = Clock::now() + ByteTime() * request->size();
            std::lock_guard lock(mutex_);
            requests_.push_back(*request);
            Answer answer = Usual(*request);
            if (change_) answer = change_(*request, std::move(answer));
            for (const Timed& part : answer) {
                at = std::max(at, lineFree_) + std::chrono::milliseconds(part.afterMs);
                Schedule(part.frame, at);
            }
        }
    }
}

void ScriptedReader::Scan() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const unsigned period = scanPeriodMs_;
        if (period == 0) {
            changed_.wait_for(lock, std::chrono::milliseconds(50));
            continue;
        }
        changed_.wait_for(lock, std::chrono::milliseconds(period));
        if (stopping_) break;
        const qx4sim::ReaderRegisters registers = content_.Registers();
        if (registers.mode != kAutoScan || !registers.carrier) continue;
        const auto field = content_.Field();
        if (field.empty()) continue;
        // UID and data, as a reader set to send both does: long enough to span gaps.
        Bytes data(field[0].uid.begin(), field[0].uid.end());
        const size_t text = std::min<size_t>(kNotificationText, field[0].memory.size());
        data.insert(data.end(), field[0].memory.begin(), field[0].memory.begin() + text);
        Schedule(qx4sim::EncodeFrame(qx4sim::kUidDataNotification, data), Clock::now());
        ++notifications_;
    }
}

void ScriptedReader::Write(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            pollfd room{master_, POLLOUT, 0};
            if (::poll(&room, 1, 200) <= 0) return; // nobody reads: the rest is lost
        }
    }
}

// The adapter between line and computer: hands arrived bytes on as its kind does.
void ScriptedReader::Deliver() {
    const Clock::time_point epoch = Clock::now();
    Clock::time_point lastTick = epoch;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const auto now = Clock::now();
        while (!line_.empty() && line_.front().arrives <= now) {
            pending_.push_back(line_.front());
            line_.pop_front();
        }
        Bytes out;
        auto handOn = [&](size_t count) {
            for (size_t i = 0; i < count; ++i)
                out.push_back(pending_[i].byte);
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(count));
        };
        // When to look again: the next byte that completes something, or a timer.
        Clock::time_point next = now + std::chrono::milliseconds(50);
        switch (delivery_) {
        case Delivery::Whole: {
            size_t upTo = 0;
            for (size_t i = 0; i < pending_.size(); ++i)
                if (pending_[i].lastOfFrame) upTo = i + 1;
            handOn(upTo);
            for (const OnLine& b : line_)
                if (b.lastOfFrame) {
                    next = std::min(next, b.arrives);
                    break;
                }
            if (!pending_.empty() && line_.empty()) handOn(pending_.size()); // stray bytes
            break;
        }
        case Delivery::UsbAdapter: {
            // Full packets go at once; the rest at the latency timer's next tick.
            while (pending_.size() >= kUsbPacket)
                handOn(kUsbPacket);
            const auto tick = epoch + (now - epoch) / kUsbLatency * kUsbLatency;
            if (lastTick < tick) {
                size_t arrived = 0;
                while (arrived < pending_.size() && pending_[arrived].arrives <= tick)
                    ++arrived;
                handOn(arrived);
                lastTick = tick;
            }
            if (!pending_.empty() || !line_.empty()) next = std::min(next, tick + kUsbLatency);
            if (!line_.empty()) {
                const size_t fill = kUsbPacket - pending_.size();
                next = std::min(next, line_[std::min(fill, line_.size()) - 1].arrives);
            }
            break;
        }
        case Delivery::UartFifo: {
            while (pending_.size() >= kFifoChunk)
                handOn(kFifoChunk);
            const auto quiet = std::max(ByteTime() * kFifoQuietBytes,
                                        Clock::duration(std::chrono::milliseconds(1)));
            if (!pending_.empty() && line_.empty() && now >= pending_.back().arrives + quiet)
                handOn(pending_.size());
            if (!pending_.empty() && line_.empty())
                next = std::min(next, pending_.back().arrives + quiet);
            if (!line_.empty()) {
                const size_t fill = kFifoChunk - pending_.size();
                next = std::min(next, line_[std::min(fill, line_.size()) - 1].arrives);
                next = std::min(next, line_.back().arrives + quiet);
            }
            break;
        }
        }
        if (!out.empty()) {
            lock.unlock();
            Write(out);
            lock.lock();
            continue;
        }
        changed_.wait_until(lock, std::max(next, now + std::chrono::microseconds(200)));
    }
}

} // namespace qx4test
