#include "platform/hooks.h"

#include "qx4drv.h"

#include <atomic>
#include <cstdio>

namespace qx4::platform {
namespace {

void DefaultMessageBox(const char* text, const char* caption) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
}
void DefaultPump() {}
void DefaultSound(const char*) {}

// Atomic because the receive thread may show a box while the caller swaps hooks.
std::atomic<decltype(&DefaultMessageBox)> messageBoxHook{&DefaultMessageBox};
std::atomic<decltype(&DefaultPump)> pumpHook{&DefaultPump};
std::atomic<decltype(&DefaultSound)> soundHook{&DefaultSound};

} // namespace

void ShowMessageBox(const char* text, const char* caption) {
    messageBoxHook.load()(text, caption);
}
void PumpMessages() {
    pumpHook.load()();
}
void PlaySound(const char* name) {
    soundHook.load()(name);
}

} // namespace qx4::platform

using namespace qx4::platform;

extern "C" QX4_API void QX4SetPlatformHooks(const QX4PlatformHooks* hooks) {
    messageBoxHook = hooks && hooks->messageBox ? hooks->messageBox : &DefaultMessageBox;
    pumpHook = hooks && hooks->pumpMessages ? hooks->pumpMessages : &DefaultPump;
    soundHook = hooks && hooks->playSound ? hooks->playSound : &DefaultSound;
}
