// Exports that create, open and configure the library's one context.
#include "link/codes.h"
#include "link/context.h"
#include "link/exchange.h"
#include "link/response.h"
#include "link/serial_link.h"

#include <algorithm>
#include <new>

namespace qx4 {

LinkState& Link() {
    static LinkState state;
    return state;
}

ReaderContext::~ReaderContext() {
    ClosePort();
}

namespace {

constexpr int kLongestCmdWaitMs = 60000;

// ISO 15693 blocks hold 1 to 32 bytes.
bool ValidBlockSize(int size) {
    return size >= 1 && size <= 32;
}

void DestroyContext() {
    if (!Link().context) return;
    NextContextGeneration();
    Link().context.reset();
}

// Read accessors give `otherwise` without a context; setters do nothing.
template <typename Read> int ReadSetting(Read read, int otherwise = 0) {
    ReaderContext* context = Context();
    return context ? read(*context) : otherwise;
}
template <typename Write> void WriteSetting(Write write) {
    if (ReaderContext* context = Context()) write(*context);
}

} // namespace
} // namespace qx4

using namespace qx4;

extern "C" {

QX4_API unsigned char QX4DllOpen(int port, int slowRate) {
    DestroyContext(); // its port is process-wide anyway
    Link().context.reset(new (std::nothrow) ReaderContext(port));
    ReaderContext* context = Context();
    return context ? static_cast<unsigned char>(OpenPort(*context, port, slowRate)) : 0;
}

QX4_API void QX4DllClose(void) {
    DestroyContext();
}

QX4_API int QX4IsOK(void) {
    return Context() && IsPortOpen() && !Link().portLost.load(std::memory_order_acquire) ? 1 : 0;
}

QX4_API void QX4SetHandle(QX4Window* window) {
    Link().window.store(window);
}

QX4_API int QX4ComReOpen(int port, int slowRate) {
    ReaderContext* context = Context();
    return context ? OpenPort(*context, port, slowRate) : 0;
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
    Link().traceUser.store(user);
    Link().traceHook.store(hook);
}

QX4_API int QX4GetFailureCause(void) {
    return Link().failureCause.load(std::memory_order_relaxed);
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
