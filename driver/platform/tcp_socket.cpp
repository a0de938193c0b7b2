#include "platform/tcp_socket.h"

#include "platform/descriptor_io.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qx4::platform {
namespace {

// Connects one resolved address within the time left; the socket or -1.
int ConnectOne(const addrinfo& candidate, std::chrono::steady_clock::time_point deadline,
               std::string& error, int& code) {
    const int fd =
        ::socket(candidate.ai_family, candidate.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                 candidate.ai_protocol);
    if (fd < 0) {
        code = errno;
        error = std::strerror(code);
        return -1;
    }
    if (::connect(fd, candidate.ai_addr, candidate.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            code = errno;
            error = std::strerror(code);
            ::close(fd);
            return -1;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd out{fd, POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&out, 1, static_cast<int>(std::max<long>(0, left.count())));
        } while (ready < 0 && errno == EINTR);
        int status = 0;
        socklen_t length = sizeof status;
        if (ready <= 0) {
            code = ETIMEDOUT;
            error = "no connection within " + std::to_string(kConnectTimeoutMs / 1000) + " s";
        } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &status, &length) != 0 || status != 0) {
            code = status ? status : errno;
            error = std::strerror(code);
        } else {
            status = -1;
        }
        if (status != -1) {
            ::close(fd);
            return -1;
        }
    }
    const int on = 1; // a frame goes out at once, not held back to fill a segment
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

} // namespace

std::optional<NetworkAddress> ParseNetworkAddress(const std::string& name) {
    const size_t scheme = name.find("://");
    if (scheme == std::string::npos) return std::nullopt;
    NetworkAddress address{name.substr(0, scheme), {}, {}};
    if (address.scheme != "tcp" && address.scheme != "rfc2217") return std::nullopt;
    std::string rest = name.substr(scheme + 3);
    size_t colon;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return std::nullopt;
        address.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) return std::nullopt;
        address.host = rest.substr(0, colon);
        if (address.host.find(':') != std::string::npos) return std::nullopt; // IPv6 needs []
    }
    address.port = rest.substr(colon + 1);
    if (address.host.empty() || address.port.empty() || address.port.size() > 5 ||
        address.port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(address.port) == 0 || std::stoi(address.port) > 65535)
        return std::nullopt;
    return address;
}

int ConnectTcp(const NetworkAddress& address, int timeoutMs, std::string& error, int* code) {
    int ignored;
    int& reason = code ? *code : ignored;
    reason = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int status =
            ::getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &found);
        status != 0) {
        error = ::gai_strerror(status);
        return -1;
    }
    int fd = -1;
    for (const addrinfo* candidate = found; candidate && fd < 0; candidate = candidate->ai_next)
        fd = ConnectOne(*candidate, deadline, error, reason);
    ::freeaddrinfo(found);
    if (fd >= 0) reason = 0;
    return fd;
}

ssize_t ReceiveQueued(int fd, uint8_t* buffer, size_t capacity) {
    const ssize_t n = ReadQueued(fd, buffer, capacity);
    const int on = 1; // Linux drops quick acknowledgements again after a while
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    return n;
}

TcpPort::~TcpPort() {
    ::close(fd_);
}

size_t TcpPort::Write(const uint8_t* bytes, size_t count) {
    return WriteWithin(fd_, bytes, count, true);
}

ssize_t TcpPort::Read(uint8_t* buffer, size_t capacity) {
    return ReceiveQueued(fd_, buffer, capacity);
}

PortEvent TcpPort::Wait(int wakeFd) {
    return WaitReadable(fd_, wakeFd);
}

} // namespace qx4::platform
