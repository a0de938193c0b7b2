// The checker against the simulated reader: start-up to the first painted window and to
// the open port, the longest stall of the GUI thread while a network port that never
// answers is opened, then idle CPU and memory with its 200 ms timer running.
#include "machine.h"
#include "main_frame.h"
#include "panel_app.h"
#include "panel_view.h"
#include "platform_hooks.h"
#include "simulated_reader.h"

#include <arpa/inet.h>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

struct FirstPaint : QObject {
    QElapsedTimer* clock;
    qint64 elapsedMs = -1;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && elapsedMs < 0) elapsedMs = clock->elapsed();
        return false;
    }
};

// Resident memory now, in kB.
long RssKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// A listening socket that takes connections and never answers; its port.
int SilentListener(int& fd) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) || ::listen(fd, 4) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length))
        return 0;
    return ntohs(address.sin_port);
}

} // namespace

int main(int argc, char** argv) {
    QElapsedTimer clock;
    clock.start();
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 30;
    qx4bench_figures::PrintMachine("checker_figures");
    QApplication app(argc, argv);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    app.setOrganizationName("Kessaro Corp");
    app.setApplicationName("QX4Bench");
    qx4sim::SimulatedReader reader;
    ::setenv("QX4_COM4", reader.DevicePath().c_str(), 1);
    qx4bench::InstallPlatformHooks();

    FirstPaint paint;
    paint.clock = &clock;
    auto frame = std::make_unique<qx4bench::CMainFrame>();
    frame->view()->installEventFilter(&paint);
    frame->show();
    while (paint.elapsedMs < 0 && clock.elapsed() < 10000)
        app.processEvents();
    std::printf("start-up to first painted window: %lld ms\n",
                static_cast<long long>(paint.elapsedMs));
    while (frame->view()->linkState() == qx4bench::LinkState::Opening || frame->view()->Busy())
        app.processEvents(QEventLoop::AllEvents, 10);
    std::printf("start-up to port open, reader mode read, carrier on: %lld ms\n",
                static_cast<long long>(clock.elapsed()));

    // COM再設定 to a network address that accepts and never answers: the longest time the
    // GUI thread went without handling a 5 ms timer.
    int listener = -1;
    const int port = SilentListener(listener);
    ::setenv("QX4_COM5", ("rfc2217://127.0.0.1:" + std::to_string(port)).c_str(), 1);
    frame->view()->dialogRunner = [](qx4bench::ExchangeDialog& dialog) {
        if (auto* combo = dialog.findChild<QComboBox*>()) combo->setCurrentIndex(4);
        dialog.accept();
        return int(QDialog::Accepted);
    };
    QElapsedTimer gapClock;
    qint64 last = 0, longest = 0;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, gapClock.elapsed() - last);
        last = gapClock.elapsed();
        ++ticks;
    });
    gapClock.start();
    ticker.start(5);
    frame->view()->OnComReset();
    const qint64 opening = gapClock.elapsed();
    ticker.stop();
    ::close(listener);
    std::printf("opening rfc2217 to a silent server: %lld ms; longest GUI stall %lld ms "
                "(%d ticks of a 5 ms timer)\n",
                static_cast<long long>(opening), static_cast<long long>(longest), ticks);
    ::setenv("QX4_COM5", reader.DevicePath().c_str(), 1); // back to the reader for idling
    frame->view()->OnComReset();
    const long rssBefore = RssKb();

    const double before = qx4bench_figures::CpuSeconds();
    QTimer::singleShot(idleSeconds * 1000, &app, &QApplication::quit);
    app.exec();
    const double used = qx4bench_figures::CpuSeconds() - before;
    std::printf("idle with the 200 ms timer, %d s: %.3f s CPU = %.2f %% of one core "
                "(includes the simulated reader's idle threads)\n",
                idleSeconds, used, 100.0 * used / idleSeconds);
    std::printf("resident memory: %ld kB before idling, %ld kB after, peak %ld kB\n", rssBefore,
                RssKb(), qx4bench_figures::PeakRssKb());
    return 0;
}
