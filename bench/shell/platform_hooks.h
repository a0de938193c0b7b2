// The library's message box, message pump and sound, in Qt terms.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace qx4bench {

void InstallPlatformHooks();
// Where the library's boxes go; by default a modal QMessageBox. Tests replace it.
void SetMessageBoxHandler(std::function<void(const QString& text, const QString& caption)> handler);
// While `into` is set, the library's boxes (from any thread) are collected there instead of
// shown: the checker puts an open's failure into its result list. nullptr shows them again.
void CaptureBoxes(QStringList* into);
// SIGTERM, SIGINT and SIGHUP end the event loop, so the program closes as on "終了".
void QuitOnTerminationSignals();

} // namespace qx4bench
