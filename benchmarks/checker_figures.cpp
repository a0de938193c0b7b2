// The checker against the simulated reader: start-up to the first painted window and to
// the open port, the longest stall of the GUI thread while a network port that never
// answers is opened, idle CPU and memory with its 200 ms timer running, the longest
// stall during COMPortCheck over silent ports and during a notification flood with the
// frames view shown, and a 12-tag auto-scan with the file log on.
// Arguments: idle seconds (30), auto-scan seconds (600).
#include "control_ids.h"
#include "frames_view.h"
#include "machine.h"
#include "main_frame.h"
#include "panel_app.h"
#include "panel_view.h"
#include "platform_hooks.h"
#include "pty_peer.h"
#include "simulated_reader.h"

#include <QCheckBox>
#include <QFileInfo>

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

// The longest time the GUI thread went without handling a 5 ms timer while `work` ran.
template <typename Work> qint64 LongestStall(Work work, qint64* tookMs = nullptr) {
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    clock.start();
    ticker.start(5);
    work();
    if (tookMs) *tookMs = clock.elapsed();
    return std::max(longest, clock.elapsed() - last);
}

// Lets the event loop run for `ms`, sleeping while nothing happens.
void Run(QApplication&, int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    QElapsedTimer clock;
    clock.start();
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int scanSeconds = argc > 2 ? std::atoi(argv[2]) : 600;
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
    Run(app, idleSeconds * 1000); // not exec() and quit(): a quit closes the window
    const double used = qx4bench_figures::CpuSeconds() - before;
    std::printf("idle with the 200 ms timer, %d s: %.3f s CPU = %.2f %% of one core "
                "(includes the simulated reader's idle threads)\n",
                idleSeconds, used, 100.0 * used / idleSeconds);
    std::printf("resident memory: %ld kB before idling, %ld kB after, peak %ld kB\n", rssBefore,
                RssKb(), qx4bench_figures::PeakRssKb());

    // COMPortCheck: COM1-3 absent, COM4-9 open and silent, the reader on COM10.
    std::vector<std::unique_ptr<qx4sim::PtyPeer>> silent;
    for (int n = 1; n <= 10; ++n) {
        const std::string name = "QX4_COM" + std::to_string(n);
        if (n <= 3) {
            ::setenv(name.c_str(), "/nonexistent/qx4", 1);
        } else if (n <= 9) {
            silent.push_back(std::make_unique<qx4sim::PtyPeer>());
            ::setenv(name.c_str(), silent.back()->DevicePath().c_str(), 1);
        } else {
            ::setenv(name.c_str(), reader.DevicePath().c_str(), 1);
        }
    }
    QX4SetCmdWaitTime(500);
    qint64 scanMs = 0;
    const qint64 scanStall =
        LongestStall([&] { frame->view()->OnCommand(qx4bench::idm::ComPortCheck); }, &scanMs);
    std::printf("COMPortCheck over 3 absent and 6 silent ports (time-out 500 ms), reader on "
                "COM10: %lld ms; longest GUI stall %lld ms\n",
                static_cast<long long>(scanMs), static_cast<long long>(scanStall));
    silent.clear();

    // A flood: auto-scan every 2 ms, the frames view shown, for 10 s.
    reader.SetAutoScanPeriod(2);
    frame->framesView()->show();
    frame->view()->autoScanBox()->click();
    const double floodCpu = qx4bench_figures::CpuSeconds();
    const qint64 floodStall = LongestStall([&] { Run(app, 10000); });
    const int floodRows = frame->view()->uidTable[0].count;
    frame->view()->autoScanBox()->click();
    std::printf("notification flood (auto-scan every 2 ms) with the frames view shown, 10 s: "
                "longest GUI stall %lld ms, %.2f s CPU, %d sightings of the first tag, "
                "%d lines in the frames view\n",
                static_cast<long long>(floodStall), qx4bench_figures::CpuSeconds() - floodCpu,
                floodRows, int(frame->framesView()->Text().count('\n')));
    frame->framesView()->hide();

    // Twelve tags in auto-scan (the reader's 200 ms period), every result line to a file.
    std::vector<qx4sim::Tag> tags;
    for (uint8_t i = 0; i < 12; ++i)
        tags.push_back(qx4sim::Tag::Make({i, 0x10, 0x20, 0x30, 0x01, 0x00, 0x04, 0xE0},
                                         qx4sim::TagType::Iso15693, 4, 28));
    reader.SetField(tags);
    reader.SetAutoScanPeriod(200);
    frame->view()->OnClear();
    const QString logPath = settings.filePath("scan.log");
    frame->view()->SetLogFile(logPath);
    frame->view()->autoScanBox()->click();
    const double scanCpu = qx4bench_figures::CpuSeconds();
    const long scanRss = RssKb();
    for (int second = 0; second < scanSeconds; second += 10) {
        Run(app, 10000);
        frame->view()->OnCommand(qx4bench::idm::Inventory); // result lines for the log
    }
    frame->view()->autoScanBox()->click();
    long sightings = 0;
    for (int i = 0; i < frame->view()->uidCount; ++i)
        sightings += frame->view()->uidTable[size_t(i)].count;
    std::printf("12-tag auto-scan, %d s, file log on (an Inventory every 10 s): %.2f s CPU = "
                "%.2f %% of one core; RSS %ld kB -> %ld kB; %d rows, %ld sightings; log %lld "
                "bytes\n",
                scanSeconds, qx4bench_figures::CpuSeconds() - scanCpu,
                100.0 * (qx4bench_figures::CpuSeconds() - scanCpu) / std::max(1, scanSeconds),
                scanRss, RssKb(), frame->view()->uidCount, sightings,
                static_cast<long long>(QFileInfo(logPath).size()));
    frame->view()->SetLogFile(QString());
    return 0;
}
