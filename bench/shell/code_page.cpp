#include "code_page.h"

#include <iconv.h>

namespace qx4bench {
namespace {

constexpr const char* kDeviceCodePage = "CP932";

// Converts one character at a time so that a cut never splits a character and an
// unconvertible character becomes '?'.
QByteArray Convert(const QString& text, int maxBytes) {
    QByteArray out;
    iconv_t cd = iconv_open(kDeviceCodePage, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return text.toLatin1().left(maxBytes);
    for (int i = 0; i < text.size();) {
        const int length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        QByteArray utf8 = text.mid(i, length).toUtf8();
        i += length;
        char converted[8];
        char* in = utf8.data();
        size_t inLeft = static_cast<size_t>(utf8.size());
        char* outPtr = converted;
        size_t outLeft = sizeof converted;
        QByteArray character;
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
            character = "?";
        else
            character = QByteArray(converted, static_cast<int>(sizeof converted - outLeft));
        if (out.size() + character.size() > maxBytes) break;
        out += character;
    }
    iconv_close(cd);
    return out;
}

} // namespace

QByteArray ToDeviceText(const QString& text, int maxBytes) {
    return Convert(text, maxBytes);
}

QString FromDeviceText(const char* bytes, int count) {
    iconv_t cd = iconv_open("UTF-8//IGNORE", kDeviceCodePage);
    if (cd == reinterpret_cast<iconv_t>(-1)) return QString::fromLatin1(bytes, count);
    QByteArray input(bytes, count);
    QByteArray output(count * 3 + 4, '\0');
    char* in = input.data();
    size_t inLeft = static_cast<size_t>(count);
    char* out = output.data();
    size_t outLeft = static_cast<size_t>(output.size());
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1)) break;
        // An invalid byte: show it as '?' and go on after it.
        if (outLeft == 0) break;
        *out++ = '?';
        --outLeft;
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    return QString::fromUtf8(output.constData(), output.size() - static_cast<int>(outLeft));
}

} // namespace qx4bench
