#include "link/serial_link.h"

#include "link/context.h"
#include "link/fence.h"
#include "platform/clock.h"
#include "platform/hooks.h"
#include "platform/port.h"
#include "platform/port_names.h"
#include "platform/process.h"
#include "platform/wake_signal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace qx4 {
namespace {

constexpr size_t kReadChunk = 999;
constexpr const char* kSetupCaption = "Info Error Info";
constexpr const char* kThreadCaption = "Error Info1";

// The open line and its receive thread; touched only on the caller's thread.
struct PortHandle {
    std::unique_ptr<platform::Port> line;
    std::unique_ptr<platform::WakeSignal> closing; // ends the receive thread's wait
    std::thread receiver;
};
PortHandle port;
// The process that opened the port. A child forked after the open shares its descriptors
// but not its receive thread: it must neither use the port nor close it under the parent.
std::atomic<unsigned long> openerPid{0};

bool ForkedChild() {
    return openerPid.load() != platform::ProcessId();
}
thread_local bool receiveThread = false;

// Raised by the receive thread after each publish, so a waiting command wakes at once.
platform::WakeSignal& ReceivedSignal() {
    static auto* signal = new platform::WakeSignal; // never destroyed: a late thread may raise it
    return *signal;
}

void SignalReceived() {
    ReceivedSignal().Raise();
}

// The port is gone (hang-up, unplugged device, closed connection, read error): waiting
// and later commands fail at once instead of running into their time-outs.
void LosePort(const char* text) {
    Link().portLost.store(true, std::memory_order_release);
    SignalReceived();
    platform::ShowMessageBox(text, kThreadCaption);
}

void ReceiveThread(platform::Port& line, platform::WakeSignal& closing) {
    receiveThread = true;
    uint8_t chunk[kReadChunk];
    for (;;) {
        const platform::PortEvent event = line.Wait(closing);
        if (event == platform::PortEvent::Woken) return; // the port is being closed
        if (event != platform::PortEvent::Received) return LosePort("WaitCommEvent.");
        const ssize_t count = line.Read(chunk, sizeof chunk);
        if (count < 0) return LosePort("Reading comms port.");
        if (count == 0) continue; // nothing for the ring (a network line's negotiation)
        Link().ring.Append(chunk, static_cast<size_t>(count));
        SignalReceived();
        const ReceivedBinding* told = Link().received.load(std::memory_order_acquire);
        if (told && told->hook) told->hook(told->user);
        platform::SleepMs(1);
    }
}

// The last open's failure, kept past the context it failed in (a failed open is closed).
std::mutex openErrorLock;
platform::OpenFailure openError;

void KeepOpenError(platform::OpenFailure failure) {
    const std::lock_guard hold(openErrorLock);
    openError = std::move(failure);
}

int FailSetup(const std::string& text) {
    // The device opened but is no serial line it can set up (a file, a pipe, ...).
    const int code = errno;
    std::string reason = text.substr(text.find_first_not_of(' ', text.find(' ')));
    if (code) reason += std::string(" (") + std::strerror(code) + ")";
    KeepOpenError({text, code, reason});
    platform::ShowMessageBox(text.c_str(), kSetupCaption);
    ClosePort();
    return 0;
}

} // namespace

void ClosePort() {
    if (!port.line) return;
    Link().portOpen.store(false);
    if (ForkedChild()) {
        // The thread and the descriptors belong to the parent: forget them, touch nothing.
        [[maybe_unused]] static std::thread* parentReceiver = nullptr;
        [[maybe_unused]] static platform::Port* parentLine = nullptr;
        parentReceiver = new std::thread(std::move(port.receiver));
        parentLine = port.line.release();
        [[maybe_unused]] static platform::WakeSignal* parentClosing = nullptr;
        parentClosing = port.closing.release();
        return;
    }
    if (port.closing) port.closing->Raise();
    if (port.receiver.joinable()) port.receiver.join();
    port.line.reset();
    port.closing.reset();
}

bool IsPortOpen() {
    return Link().portOpen.load() && !ForkedChild();
}

bool OnReceiveThread() {
    return receiveThread;
}

size_t WritePort(const uint8_t* bytes, size_t count) {
    return port.line && !ForkedChild() ? port.line->Write(bytes, count) : 0;
}

int OpenPort(ReaderContext& context, int portNumber, int slowRate) {
    context.portNumber = portNumber;
    ClosePort();
    openerPid.store(platform::ProcessId()); // before any failure below closes what it opened
    Link().ring.Reset();
    context.readIndex = 0;
    context.writeSnapshot = 0;
    context.idleCountdown = 0;
    context.inFrame = 0;
    context.rescanCount = 0;
    // A reopen keeps the doubt: an answer owed by the reader may still come on the new port,
    // and only a fence tells. The first fence is drawn at random from all it may ask, so
    // that another program's (or an earlier context's) late fence answer rarely matches.
    uint32_t seed = 0;
    for (int i = 0; i < 4; ++i)
        seed = seed << 8 | platform::RandomByte();
    RestartFences(context, seed);
    Link().portLost.store(false, std::memory_order_release);

    char name[32];
    std::snprintf(name, sizeof name, "COM%d:", portNumber);
    platform::OpenFailure failure;
    const bool named = portNumber == 0 && !context.device.empty();
    port.line =
        platform::OpenLine(named ? context.device : platform::ResolvePortName(name), failure);
    KeepOpenError(failure);
    if (!port.line) {
        platform::PlaySound("Windows\\Alarm2.wav");
        // A missing device says nothing; an address that cannot be reached says which.
        if (!failure.text.empty()) platform::ShowMessageBox(failure.text.c_str(), kSetupCaption);
        return 0;
    }
    port.closing = std::make_unique<platform::WakeSignal>();
    platform::PlaySound("Windows\\Alarm1.wav");

    if (!port.closing->Valid() || !port.line->SetImmediateReads())
        return FailSetup("Error: Setting comm. timeouts.");
    if (!port.line->ReadLineSettings()) return FailSetup("Error: Getting Comms. State.");
    context.baudRate = slowRate ? 9600 : 19200;
    if (!port.line->WriteLineSettings(context.baudRate))
        return FailSetup("Error:  Setting Comms. State.");
    try {
        port.receiver = std::thread(ReceiveThread, std::ref(*port.line), std::ref(*port.closing));
    } catch (const std::system_error&) {
        return FailSetup("Error: Creating Thread.");
    }
    Link().portOpen.store(true);
    return 1;
}

void NotifyReceived() {
    SignalReceived();
}

void AwaitReceivedBytes(unsigned timeoutMs) {
    ReceivedSignal().Await(timeoutMs);
}

int LastOpenError(std::string& reason) {
    const std::lock_guard hold(openErrorLock);
    reason = openError.reason;
    return openError.systemError;
}

} // namespace qx4
