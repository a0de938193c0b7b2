// Text to and from the device's multibyte code page (Shift-JIS, code page 932).
#pragma once

#include <QByteArray>
#include <QString>

namespace qx4bench {

// At most maxBytes bytes, cut at a character boundary, without terminator.
QByteArray ToDeviceText(const QString& text, int maxBytes = 255);
QString FromDeviceText(const char* bytes, int count);
inline QString FromDeviceText(const QByteArray& bytes) {
    return FromDeviceText(bytes.constData(), static_cast<int>(bytes.size()));
}

} // namespace qx4bench
