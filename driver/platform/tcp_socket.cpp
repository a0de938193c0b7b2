#include "platform/tcp_socket.h"

#include "platform/descriptor_io.h"
#include "platform/wake_signal.h"

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

SocketHandle ConnectTcp(const NetworkAddress& address, int timeoutMs, std::string& error,
                        int* code) {
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
        return kNoSocket;
    }
    int fd = -1;
    for (const addrinfo* candidate = found; candidate && fd < 0; candidate = candidate->ai_next)
        fd = ConnectOne(*candidate, deadline, error, reason);
    ::freeaddrinfo(found);
    if (fd >= 0) reason = 0;
    return fd;
}

void CloseSocket(SocketHandle socket) {
    if (socket != kNoSocket) ::close(static_cast<int>(socket));
}

size_t SendWithin(SocketHandle socket, const uint8_t* bytes, size_t count) {
    return WriteWithin(static_cast<int>(socket), bytes, count, true);
}

ssize_t ReceiveQueued(SocketHandle socket, uint8_t* buffer, size_t capacity) {
    const int fd = static_cast<int>(socket);
    const ssize_t n = ReadQueued(fd, buffer, capacity);
    const int on = 1; // Linux drops quick acknowledgements again after a while
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    return n;
}

bool AwaitSocket(SocketHandle socket, int timeoutMs) {
    return AwaitReadable(static_cast<int>(socket), timeoutMs);
}

PortEvent WaitSocket(SocketHandle socket, WakeSignal& wake) {
    return WaitReadable(static_cast<int>(socket), static_cast<int>(wake.Native()));
}

} // namespace qx4::platform
