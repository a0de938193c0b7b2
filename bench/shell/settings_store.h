// The operator's settings between runs: QSettings under "Kessaro Corp"/QX4Bench,
// in the one section the checker has always used.
#pragma once

#include <QString>

namespace qx4bench {

// U+6170 U+6172 U+0031: the bytes of "para1" read as 16-bit characters.
inline const QString kSettingsSection = QString::fromUtf16(u"\u6170\u6172\u0031");

int ReadSettingInt(const char* key, int defaultValue);
QString ReadSettingText(const char* key, const QString& defaultValue);
bool WriteSettingInt(const char* key, int value);
bool WriteSettingText(const char* key, const QString& value);

} // namespace qx4bench
