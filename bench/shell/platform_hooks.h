// The library's message box, message pump and sound, in Qt terms.
#pragma once

#include <QString>
#include <functional>

namespace qx4bench {

void InstallPlatformHooks();
// Where the library's boxes go; by default a modal QMessageBox. Tests replace it.
void SetMessageBoxHandler(std::function<void(const QString& text, const QString& caption)> handler);

} // namespace qx4bench
