#include "platform_hooks.h"

#include "qx4drv.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace qx4bench {
namespace {

std::function<void(const QString&, const QString&)> messageBoxHandler;

void ShowBox(const QString& text, const QString& caption) {
    if (messageBoxHandler) {
        messageBoxHandler(text, caption);
        return;
    }
    QMessageBox::information(QApplication::activeWindow(), caption, text);
}

void MessageBoxHook(const char* text, const char* caption) {
    const QString t = QString::fromUtf8(text), c = QString::fromUtf8(caption);
    // The receive thread reports a lost port; widgets belong to the GUI thread.
    if (QThread::currentThread() != qApp->thread())
        QMetaObject::invokeMethod(
            qApp, [t, c] { ShowBox(t, c); }, Qt::QueuedConnection);
    else
        ShowBox(t, c);
}

void PumpHook() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void SoundHook(const char*) {
    QApplication::beep();
}

} // namespace

void InstallPlatformHooks() {
    static const QX4PlatformHooks hooks{MessageBoxHook, PumpHook, SoundHook};
    QX4SetPlatformHooks(&hooks);
}

void SetMessageBoxHandler(std::function<void(const QString&, const QString&)> handler) {
    messageBoxHandler = std::move(handler);
}

} // namespace qx4bench
