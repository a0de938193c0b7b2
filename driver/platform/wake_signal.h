// A signal one thread raises and another waits for: it ends the receive thread's wait at
// once when the port closes, and wakes a waiting command when bytes arrived.
#pragma once

#include <cstdint>

namespace qx4::platform {

class WakeSignal {
  public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    bool Valid() const { return native_ != kNone; }
    void Raise();
    // Waits up to timeoutMs for a raise and takes it; false when none came.
    bool Await(unsigned timeoutMs);
    // What the ports wait on beside their line: a descriptor (POSIX) or an event handle.
    std::intptr_t Native() const { return native_; }

  private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t native_ = kNone;
};

} // namespace qx4::platform
