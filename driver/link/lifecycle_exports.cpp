// Exports that create, open and configure the library's one context.
#include "link/codes.h"
#include "link/context.h"
#include "link/exchange.h"
#include "link/response.h"
#include "link/serial_link.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <list>
#include <mutex>
#include <new>
#include <thread>

namespace qx4 {

LinkState& Link() {
    static LinkState state;
    return state;
}

// At exit without QX4DllClose: the receive thread must not outlive the ring.
LinkState::~LinkState() {
    ClosePort();
}

namespace {

constexpr int kLongestCmdWaitMs = 60000;

// ISO 15693 blocks hold 1 to 32 bytes.
bool ValidBlockSize(int size) {
    return size >= 1 && size <= 32;
}

std::mutex lifecycleMutex;
thread_local bool inLifecycle = false;

void DestroyContext() {
    if (!Link().context.load()) return;
    Link().generation.fetch_add(1);
    ClosePort();
    Link().context.store(nullptr); // a running command keeps its own reference
}

// Runs a lifecycle change (open, close, reopen). Refused on the receive thread and
// from hooks of another lifecycle change. From a callback of the running command it
// runs at once, and that command stops touching the link when the callback returns;
// from another thread it wakes the running command, which then fails, and waits for
// it to end. No command starts meanwhile.
template <typename Change> int Lifecycle(Change change) {
    if (OnReceiveThread() || inLifecycle) return 0;
    LinkState& link = Link();
    const bool nested =
        link.commandActive.load() && link.commandThread.load() == std::this_thread::get_id();
    link.closing.fetch_add(1);
    if (!nested) {
        link.generation.fetch_add(1);
        while (link.commandActive.load()) {
            NotifyReceived();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    int result;
    {
        const std::lock_guard lock(lifecycleMutex);
        inLifecycle = true;
        result = change();
        inLifecycle = false;
    }
    link.closing.fetch_sub(1);
    return result;
}

// Read accessors give `otherwise` without a context; setters do nothing.
template <typename Read> int ReadSetting(Read read, int otherwise = 0) {
    const std::shared_ptr<ReaderContext> context = Context();
    return context ? read(*context) : otherwise;
}
// Setters are refused on the receive thread: a command on another thread reads them unlocked.
template <typename Write> void WriteSetting(Write write) {
    if (OnReceiveThread()) return;
    if (const std::shared_ptr<ReaderContext> context = Context()) write(*context);
}

// A hook running on another thread may still hold the binding it loaded: bindings are kept
// for the life of the process, one per distinct hook and user.
template <typename Binding> const Binding* KeptBinding(Binding wanted) {
    static std::mutex bindingsMutex;
    static std::list<Binding> bindings;
    const std::lock_guard lock(bindingsMutex);
    for (const Binding& b : bindings)
        if (b.hook == wanted.hook && b.user == wanted.user) return &b;
    return &bindings.emplace_back(wanted);
}

} // namespace
} // namespace qx4

using namespace qx4;

extern "C" {

QX4_API unsigned char QX4DllOpen(int port, int slowRate) {
    return static_cast<unsigned char>(Lifecycle([=] {
        DestroyContext(); // its port is process-wide anyway
        std::shared_ptr<ReaderContext> context(new (std::nothrow) ReaderContext(port));
        if (!context) return 0;
        Link().context.store(context);
        return OpenPort(*context, port, slowRate);
    }));
}

QX4_API unsigned char QX4DllOpenDevice(const char* device, int slowRate) {
    if (!device || !*device) return 0;
    const std::string name = device;
    return static_cast<unsigned char>(Lifecycle([&] {
        DestroyContext();
        std::shared_ptr<ReaderContext> context(new (std::nothrow) ReaderContext(0));
        if (!context) return 0;
        context->device = name;
        Link().context.store(context);
        return OpenPort(*context, 0, slowRate);
    }));
}

QX4_API void QX4DllClose(void) {
    Lifecycle([] {
        DestroyContext();
        return 1;
    });
}

QX4_API int QX4IsOK(void) {
    return Context() && IsPortOpen() && !Link().portLost.load(std::memory_order_acquire) ? 1 : 0;
}

QX4_API void QX4SetHandle(QX4Window* window) {
    Link().window.store(window);
}

QX4_API int QX4ComReOpen(int port, int slowRate) {
    return Lifecycle([=] {
        const std::shared_ptr<ReaderContext> context = Context();
        if (!context) return 0;
        Link().generation.fetch_add(1); // a command on the old port stops touching it
        return OpenPort(*context, port, slowRate);
    });
}

QX4_API int QX4GetPortNum(void) {
    return ReadSetting([](ReaderContext& c) { return c.portNumber; });
}

QX4_API void QX4SetCommParam(int) {}

QX4_API void QX4GetErrorCode(int* code, int* detail) {
    WriteSetting([&](ReaderContext& c) {
        if (code) *code = static_cast<int>(c.errorCode);
        if (detail) *detail = static_cast<int>(c.errorDetail);
    });
}

QX4_API int QX4GetTagBlockSize(void) {
    return ReadSetting([](ReaderContext& c) { return c.tagBlockSize; });
}
QX4_API void QX4SetTagBlockSize(int size) {
    if (ValidBlockSize(size)) WriteSetting([=](ReaderContext& c) { c.tagBlockSize = size; });
}
QX4_API int QX4GetTagMydBlockSize(void) {
    return ReadSetting([](ReaderContext& c) { return c.tagMydBlockSize; });
}
QX4_API void QX4SetTagMydBlockSize(int size) {
    if (ValidBlockSize(size)) WriteSetting([=](ReaderContext& c) { c.tagMydBlockSize = size; });
}
QX4_API int QX4GetRxWaitTime(void) {
    return ReadSetting([](ReaderContext& c) { return c.rxWaitTime; });
}
QX4_API void QX4SetRxWaitTime(int scans) {
    if (scans >= 0) WriteSetting([=](ReaderContext& c) { c.rxWaitTime = scans; });
}
QX4_API int QX4GetCmdWaitTime(void) {
    return ReadSetting([](ReaderContext& c) { return static_cast<int>(c.cmdWaitTime); });
}
QX4_API void QX4SetCmdWaitTime(int milliseconds) {
    if (milliseconds < 0) return;
    const int clamped = std::clamp(milliseconds, 0, kLongestCmdWaitMs);
    WriteSetting([=](ReaderContext& c) { c.cmdWaitTime = static_cast<uint32_t>(clamped); });
}
QX4_API int QX4GetTimerInterval(void) {
    return 0;
}
QX4_API void QX4SetTimerInterval(int) {}
QX4_API int QX4GetfDispMessage(void) {
    return ReadSetting([](ReaderContext& c) { return c.dispMessage; });
}
QX4_API void QX4SetfDispMessage(int on) {
    WriteSetting([=](ReaderContext& c) { c.dispMessage = on; });
}

QX4_API void QX4ReadData(void) {
    // A no-op while a command runs.
    if (const CommandClaim claim(CommandClaim::Needs::Context); claim) ScanReceived(*claim);
}

QX4_API void QX4SetTraceHook(QX4TraceHook hook, void* user) {
    Link().trace.store(KeptBinding(TraceBinding{hook, user}), std::memory_order_release);
}

QX4_API void QX4SetReceivedHook(QX4ReceivedHook hook, void* user) {
    Link().received.store(KeptBinding(ReceivedBinding{hook, user}), std::memory_order_release);
}

QX4_API int QX4GetFailureCause(void) {
    return Link().failureCause.load(std::memory_order_relaxed);
}

QX4_API int QX4GetOpenError(char* text, int size) {
    std::string reason;
    const int code = LastOpenError(reason);
    if (text && size > 0) {
        const size_t kept = std::min(reason.size(), static_cast<size_t>(size - 1));
        std::memcpy(text, reason.data(), kept);
        text[kept] = '\0';
    }
    return code;
}

QX4_API unsigned char QX4Resync(void) {
    const CommandClaim claim;
    return claim && Resync(*claim) ? 1 : 0;
}

QX4_API const char* QX4ErrorText(int code, int detail) {
    return ErrorText(static_cast<uint32_t>(code), static_cast<uint32_t>(detail));
}

QX4_API int fnQX4DRV(void) {
    return 42;
}
QX4_API int nQX4DRV = 0;

} // extern "C"

CQX4DRV::CQX4DRV() = default;
CQX4DRV& CQX4DRV::operator=(const CQX4DRV&) = default;
