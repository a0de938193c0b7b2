#include "pty_peer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace qx4sim {
namespace {

// How long a reader may leave the line full before what we send is dropped.
constexpr int kFullLineMs = 200;
constexpr size_t kUsbPacket = 62; // 64 less the adapter's two status bytes
constexpr auto kUsbLatency = std::chrono::milliseconds(16);

void SleepMs(unsigned ms) {
    if (ms) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void LogFrame(std::FILE* log, const char* direction, const Bytes& bytes) {
    if (!log) return;
    std::fprintf(log, "%s", direction);
    for (uint8_t b : bytes)
        std::fprintf(log, " %02X", b);
    std::fprintf(log, "\n");
    std::fflush(log);
}

} // namespace

PtyPeer::PtyPeer() : random_(1) {
    Open();
}

PtyPeer::~PtyPeer() {
    Close();
}

void PtyPeer::Open() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("cannot create a pseudo-terminal");
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0)
        throw std::runtime_error("cannot name the pseudo-terminal");
    path_ = name;
    // Writes never block: with nobody reading, a full line must not hold up the server,
    // the auto-scan or stopping.
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (slave_ >= 0 && ::tcgetattr(slave_, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(slave_, TCSANOW, &raw);
    }
    wake_ = ::eventfd(0, EFD_CLOEXEC);
    server_ = std::thread(&PtyPeer::Serve, this);
}

void PtyPeer::Close() {
    if (master_ < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wake_, &one, sizeof one);
    server_.join();
    ::close(wake_);
    ::close(slave_);
    ::close(master_);
    master_ = slave_ = wake_ = -1;
}

void PtyPeer::Vanish() {
    Close();
}

void PtyPeer::Reappear() {
    if (master_ < 0) Open();
}

std::string PtyPeer::DevicePath() const {
    return path_;
}

unsigned PtyPeer::LineBaud() const {
    termios settings{};
    if (::tcgetattr(slave_, &settings) != 0) return 0;
    switch (::cfgetospeed(&settings)) {
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    default:
        return 1; // some other rate
    }
}

void PtyPeer::SetResponder(Responder responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
    timedResponder_ = nullptr; // the one set last answers
}

void PtyPeer::SetTimedResponder(TimedResponder responder) {
    std::lock_guard lock(mutex_);
    timedResponder_ = std::move(responder);
    responder_ = nullptr;
}

unsigned PtyPeer::PacingBaud() const {
    if (const unsigned baud = baud_) return baud;
    if (!paceAtLineRate_) return 0;
    const unsigned line = LineBaud();
    return line == 9600 || line == 19200 ? line : 0;
}

void PtyPeer::Script(Reply reply) {
    std::lock_guard lock(mutex_);
    script_.push_back(std::move(reply));
}

std::vector<Bytes> PtyPeer::Frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

bool PtyPeer::WaitForFrames(size_t count, unsigned timeoutMs) const {
    std::unique_lock lock(mutex_);
    return framesChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return frames_.size() >= count; });
}

void PtyPeer::ClearFrames() {
    std::lock_guard lock(mutex_);
    frames_.clear();
}

void PtyPeer::InjectOnce(Fault fault, uint8_t nackCode) {
    std::lock_guard lock(mutex_);
    pendingFaults_.emplace_back(fault, nackCode);
}

void PtyPeer::SetFaultRate(unsigned percent, unsigned seed) {
    std::lock_guard lock(mutex_);
    faultPercent_ = percent;
    random_.seed(seed);
}

unsigned PtyPeer::FaultCount(Fault fault) const {
    std::lock_guard lock(mutex_);
    return faultCounts_[static_cast<int>(fault)];
}

void PtyPeer::Serve() {
    FrameSplitter splitter;
    uint8_t buffer[512];
    pollfd fds[2] = {{wake_, POLLIN, 0}, {master_, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) return;
        if (fds[1].revents & POLLIN) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) splitter.Feed(buffer, static_cast<size_t>(n));
            while (auto frame = splitter.Next())
                Answer(*frame);
        } else if (fds[1].revents) {
            SleepMs(5); // no slave open at the moment: nothing to read
        }
    }
}

void PtyPeer::Answer(const Bytes& request) {
    LogFrame(log_, "<-", request);
    Reply reply;
    {
        std::lock_guard lock(mutex_);
        frames_.push_back(request);
        framesChanged_.notify_all();
        if (!script_.empty()) {
            reply = std::move(script_.front());
            script_.pop_front();
        } else if (timedResponder_) {
            reply = timedResponder_(request);
        } else if (responder_) {
            reply.pieces = responder_(request);
        }
        reply.delayMs += replyDelayMs_;
        reply = ApplyFaults(std::move(reply));
    }
    if (const unsigned baud = PacingBaud()) // the request itself took this long to arrive
        std::this_thread::sleep_for(
            std::chrono::microseconds(request.size() * 10'000'000ull / baud));
    Write(reply);
}

Reply PtyPeer::ApplyFaults(Reply reply) {
    if (reply.pieces.empty()) return reply;
    Fault fault = Fault::Count;
    uint8_t nackCode = kNackIllegal;
    if (!pendingFaults_.empty()) {
        std::tie(fault, nackCode) = pendingFaults_.front();
        pendingFaults_.pop_front();
    } else if (faultPercent_ && random_() % 100 < faultPercent_) {
        fault = static_cast<Fault>(random_() % static_cast<unsigned>(Fault::Count));
        nackCode = kNackNoTag;
    }
    if (fault == Fault::Count) return reply;
    ++faultCounts_[static_cast<int>(fault)];
    Bytes& first = reply.pieces.front();
    switch (fault) {
    case Fault::Drop:
        reply.pieces.clear();
        break;
    case Fault::Split: {
        Bytes whole = first;
        const size_t cut = whole.size() / 2;
        first.assign(whole.begin(), whole.begin() + static_cast<long>(cut));
        reply.pieces.insert(reply.pieces.begin() + 1,
                            Bytes(whole.begin() + static_cast<long>(cut), whole.end()));
        reply.gapMs = std::max(reply.gapMs, 30u);
        break;
    }
    case Fault::CorruptSum:
        if (first.size() >= 7) first[first.size() - 2] ^= 0x5A;
        break;
    case Fault::Garbage:
        first.insert(first.begin(), {0xFF, 0x00, 0x55, 0x0D, 0xAA});
        break;
    case Fault::Nack:
        first = EncodeFrame(kNack, {nackCode});
        break;
    case Fault::Late:
        reply.delayMs += lateDelayMs_;
        break;
    case Fault::NackThenAnswer:
        reply.pieces.insert(reply.pieces.begin(), EncodeFrame(kNack, {nackCode}));
        reply.gapMs = std::max(reply.gapMs, 20u);
        break;
    case Fault::Duplicate: {
        Bytes again = first;
        reply.pieces.push_back(std::move(again));
        reply.gapMs = std::max(reply.gapMs, 3u + static_cast<unsigned>(random_() % 300));
        break;
    }
    case Fault::Chunked: {
        Reply chunked{{}, reply.delayMs, 16};
        for (const Bytes& piece : reply.pieces)
            for (size_t at = 0; at < piece.size(); at += 14)
                chunked.pieces.emplace_back(piece.begin() + static_cast<long>(at),
                                            piece.begin() +
                                                static_cast<long>(std::min(piece.size(), at + 14)));
        reply = std::move(chunked);
        break;
    }
    case Fault::Count:
        break;
    }
    return reply;
}

void PtyPeer::Send(const Reply& reply) {
    Write(reply);
}

void PtyPeer::Write(const Reply& reply) {
    SleepMs(reply.delayMs); // a late reply holds nothing back: auto-scan frames go out meanwhile
    if (reply.delayUs) std::this_thread::sleep_for(std::chrono::microseconds(reply.delayUs));
    std::lock_guard lock(writeMutex_);
    bool first = true;
    for (const Bytes& piece : reply.pieces) {
        if (!first) SleepMs(reply.gapMs);
        first = false;
        const unsigned baud = PacingBaud();
        LogFrame(log_, "->", piece);
        if (!usb_) {
            // b bytes take b x 10 / baud seconds on the wire; they arrive at its end.
            if (baud)
                std::this_thread::sleep_for(
                    std::chrono::microseconds(piece.size() * 10'000'000ull / baud));
            if (!WriteAll(piece.data(), piece.size())) return;
            continue;
        }
        // Full packets leave the adapter as soon as their last byte is in; the rest waits
        // for the latency timer, which runs all the time.
        size_t done = 0;
        while (piece.size() - done >= kUsbPacket) {
            if (baud)
                std::this_thread::sleep_for(
                    std::chrono::microseconds(kUsbPacket * 10'000'000ull / baud));
            if (!WriteAll(piece.data() + done, kUsbPacket)) return;
            done += kUsbPacket;
        }
        if (done == piece.size()) continue;
        if (baud)
            std::this_thread::sleep_for(
                std::chrono::microseconds((piece.size() - done) * 10'000'000ull / baud));
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        std::this_thread::sleep_for(kUsbLatency - now % kUsbLatency);
        if (!WriteAll(piece.data() + done, piece.size() - done)) return;
    }
}

bool PtyPeer::WriteAll(const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(master_, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        pollfd room{master_, POLLOUT, 0};
        if (n < 0 && errno == EAGAIN && ::poll(&room, 1, kFullLineMs) > 0) continue;
        return false; // the line stays full or is gone: nobody reads this reply
    }
    return true;
}

} // namespace qx4sim
