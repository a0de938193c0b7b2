// The checker against the simulated reader: start-up to the first painted window,
// then idle CPU with its 200 ms timer running.
#include "machine.h"
#include "main_frame.h"
#include "panel_app.h"
#include "panel_view.h"
#include "platform_hooks.h"
#include "simulated_reader.h"

#include <QApplication>
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
    std::printf("start-up to first painted window (port opened, carrier on): %lld ms\n",
                static_cast<long long>(paint.elapsedMs));

    const double before = qx4bench_figures::CpuSeconds();
    QTimer::singleShot(idleSeconds * 1000, &app, &QApplication::quit);
    app.exec();
    const double used = qx4bench_figures::CpuSeconds() - before;
    std::printf("idle with the 200 ms timer, %d s: %.3f s CPU = %.2f %% of one core "
                "(includes the simulated reader's idle threads)\n",
                idleSeconds, used, 100.0 * used / idleSeconds);
    return 0;
}
