// The caller's UI facilities: message box, message pump, sound.
#pragma once

namespace qx4::platform {

void ShowMessageBox(const char* textUtf8, const char* captionUtf8); // any thread
void PumpMessages();
void PlaySound(const char* name);

} // namespace qx4::platform
