// qx4-mqtt: one reader on an MQTT broker. Stops cleanly on SIGTERM and SIGINT.
#include "gateway.h"
#include "tag_access.h"

#include <csignal>
#include <cstdio>
#include <thread>

namespace {

std::atomic<bool> stopRequested{false};

} // namespace

int main(int argc, char** argv) {
    qx4mqtt::GatewayOptions options;
    try {
        if (!qx4mqtt::ParseCommandLine(options, argc, argv)) return 0;
        qx4mqtt::Complete(options);
    } catch (const qx4mqtt::BadOption& error) {
        std::fprintf(stderr, "qx4-mqtt: %s\n", error.what());
        return 2;
    }
    // Signals are taken by a thread of their own, so the gateway is woken at once.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        qx4mqtt::Gateway gateway(options);
        std::thread signalThread([&] {
            int signal = 0;
            sigwait(&signals, &signal);
            stopRequested = true;
            // A request running (findafi, a long read) stops between two frames.
            qx4dump::TagAccess::interrupted = true;
            gateway.Wake();
        });
        const int status = gateway.Run(stopRequested);
        if (!stopRequested) pthread_kill(signalThread.native_handle(), SIGTERM);
        signalThread.join();
        return status;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qx4-mqtt: %s\n", error.what());
        return 1;
    }
}
