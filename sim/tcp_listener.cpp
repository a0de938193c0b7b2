#include "tcp_listener.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace qx4sim {
namespace {

void WriteAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        count -= static_cast<size_t>(n);
    }
}

// To the client: one that has gone raises no SIGPIPE, and one that stops reading has what
// does not fit dropped after a while rather than holding up the relay and stopping.
void SendAll(int client, const uint8_t* bytes, size_t count) {
    constexpr int kFullSocketMs = 200;
    while (count > 0) {
        const ssize_t n = ::send(client, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            bytes += n;
            count -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        pollfd room{client, POLLOUT, 0};
        if (n < 0 && errno == EAGAIN && ::poll(&room, 1, kFullSocketMs) > 0) continue;
        return;
    }
}

} // namespace

TcpListener::TcpListener(const std::string& where, const std::string& devicePath)
    : devicePath_(devicePath) {
    std::string host = "127.0.0.1", port = where;
    if (const size_t colon = where.rfind(':'); colon != std::string::npos) {
        host = where.substr(0, colon);
        port = where.substr(colon + 1);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
    }
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoul(port) > 65535)
        throw std::runtime_error("--listen takes [HOST:]PORT with PORT from 0 to 65535, not \"" +
                                 where + "\"");
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int status = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); status != 0)
        throw std::runtime_error("cannot listen on " + where + ": " + ::gai_strerror(status));
    listener_ = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const bool listening = listener_ >= 0 &&
                           ::bind(listener_, found->ai_addr, found->ai_addrlen) == 0 &&
                           ::listen(listener_, 1) == 0;
    ::freeaddrinfo(found);
    if (!listening) {
        const std::string reason = std::strerror(errno);
        if (listener_ >= 0) ::close(listener_);
        throw std::runtime_error("cannot listen on " + where + ": " + reason);
    }
    // Port 0 lets the system choose: name the port it chose.
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
        if (bound.ss_family == AF_INET)
            port = std::to_string(ntohs(reinterpret_cast<const sockaddr_in&>(bound).sin_port));
        else if (bound.ss_family == AF_INET6)
            port = std::to_string(ntohs(reinterpret_cast<const sockaddr_in6&>(bound).sin6_port));
    }
    address_ =
        "tcp://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + port;
    wake_ = ::eventfd(0, EFD_CLOEXEC);
    server_ = std::thread(&TcpListener::Serve, this);
}

TcpListener::~TcpListener() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wake_, &one, sizeof one);
    server_.join();
    ::close(wake_);
    ::close(listener_);
}

void TcpListener::Serve() {
    for (;;) {
        pollfd fds[2] = {{wake_, POLLIN, 0}, {listener_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) return;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Relay(client);
        ::close(client);
    }
}

// Bytes both ways between the client and the reader's line, until either side ends.
void TcpListener::Relay(int client) {
    const int line = ::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line < 0) return;
    termios raw{};
    if (::tcgetattr(line, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(line, TCSANOW, &raw);
    }
    ::tcflush(line, TCIFLUSH);
    uint8_t buffer[1024];
    for (;;) {
        pollfd fds[4] = {
            {wake_, POLLIN, 0}, {client, POLLIN, 0}, {line, POLLIN, 0}, {listener_, POLLIN, 0}};
        if (::poll(fds, 4, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents) break;
        if (fds[3].revents) {
            // One reader, one client: a second one is told so and closed, not left waiting.
            if (const int other = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                other >= 0) {
                static constexpr char kBusy[] =
                    "qx4sim: refused: another client is connected (one client at a time)\r\n";
                SendAll(other, reinterpret_cast<const uint8_t*>(kBusy), sizeof kBusy - 1);
                ::close(other);
            }
        }
        if (fds[1].revents) {
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0) break;
            WriteAll(line, buffer, static_cast<size_t>(n));
        }
        if (fds[2].revents) {
            const ssize_t n = ::read(line, buffer, sizeof buffer);
            if (n <= 0) break;
            SendAll(client, buffer, static_cast<size_t>(n));
        }
    }
    ::close(line);
}

} // namespace qx4sim
