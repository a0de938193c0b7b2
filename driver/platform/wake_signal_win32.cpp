#include "platform/wake_signal.h"

#include <windows.h>

namespace qx4::platform {

WakeSignal::WakeSignal() {
    // Auto-reset: a wait takes the raise, as reading an eventfd does.
    if (HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr))
        native_ = reinterpret_cast<std::intptr_t>(event);
}

WakeSignal::~WakeSignal() {
    if (Valid()) ::CloseHandle(reinterpret_cast<HANDLE>(native_));
}

void WakeSignal::Raise() {
    ::SetEvent(reinterpret_cast<HANDLE>(native_));
}

bool WakeSignal::Await(unsigned timeoutMs) {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(native_), timeoutMs) == WAIT_OBJECT_0;
}

} // namespace qx4::platform
