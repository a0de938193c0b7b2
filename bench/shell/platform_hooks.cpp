#include "platform_hooks.h"

#include "qx4drv.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QThread>
#include <QWidget>
#include <csignal>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace qx4bench {
namespace {

std::function<void(const QString&, const QString&)> messageBoxHandler;
std::mutex captureMutex;
QStringList* capturedBoxes = nullptr; // guarded by captureMutex

bool OnGuiThread() {
    return QThread::currentThread() == qApp->thread();
}

void ShowBox(const QString& text, const QString& caption) {
    if (messageBoxHandler) {
        messageBoxHandler(text, caption);
        return;
    }
    // Over the checker's window, also when another application is active.
    QWidget* owner = QApplication::activeWindow();
    if (!owner)
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->isVisible() && top->inherits("QMainWindow")) owner = top;
    QMessageBox::information(owner, caption, text);
}

void MessageBoxHook(const char* text, const char* caption) {
    const QString t = QString::fromUtf8(text), c = QString::fromUtf8(caption);
    {
        std::lock_guard lock(captureMutex);
        if (capturedBoxes) {
            *capturedBoxes << t;
            return;
        }
    }
    // The receive thread reports a lost port. The checker's line and status bar say it
    // (its timer notices the port is gone); a box would hold a command's wait open.
    if (!OnGuiThread()) return;
    ShowBox(t, c);
}

// A port opened off the GUI thread waits there without pumping: the GUI thread runs on.
void PumpHook() {
    if (OnGuiThread()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void SoundHook(const char*) {
    if (OnGuiThread())
        QApplication::beep();
    else
        QMetaObject::invokeMethod(
            qApp, [] { QApplication::beep(); }, Qt::QueuedConnection);
}

} // namespace

void InstallPlatformHooks() {
    static const QX4PlatformHooks hooks{MessageBoxHook, PumpHook, SoundHook};
    QX4SetPlatformHooks(&hooks);
}

namespace {
int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}
} // namespace

void QuitOnTerminationSignals() {
    if (signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe))
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char byte;
        [[maybe_unused]] ssize_t ignored = ::read(signalPipe[0], &byte, 1);
        // The windows go as at an exit (settings stored); a running command ends first.
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->inherits("QMainWindow")) top->close();
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

void CaptureBoxes(QStringList* into) {
    std::lock_guard lock(captureMutex);
    capturedBoxes = into;
}

void SetMessageBoxHandler(std::function<void(const QString&, const QString&)> handler) {
    messageBoxHandler = std::move(handler);
}

} // namespace qx4bench
