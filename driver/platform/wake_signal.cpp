#include "platform/wake_signal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace qx4::platform {

WakeSignal::WakeSignal() {
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd >= 0) native_ = fd;
}

WakeSignal::~WakeSignal() {
    if (Valid()) ::close(static_cast<int>(native_));
}

void WakeSignal::Raise() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(static_cast<int>(native_), &one, sizeof one);
}

bool WakeSignal::Await(unsigned timeoutMs) {
    pollfd signal{static_cast<int>(native_), POLLIN, 0};
    if (::poll(&signal, 1, static_cast<int>(timeoutMs)) <= 0) return false;
    uint64_t count;
    [[maybe_unused]] ssize_t ignored = ::read(signal.fd, &count, sizeof count);
    return true;
}

} // namespace qx4::platform
