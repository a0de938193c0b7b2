// The checker's own texts stand in the source in Japanese, as the checker shows them by
// default; Tr gives the text of the language chosen at start (qx4bench_en.ts).
#pragma once

#include <QCoreApplication>
#include <QString>

namespace qx4bench {

inline constexpr const char* kTextContext = "QX4Bench";

inline QString Tr(const char* text) {
    return QCoreApplication::translate(kTextContext, text);
}
inline QString Tr(const QString& text) {
    return Tr(text.toUtf8().constData());
}

// Installs the translation of `language` ("en"; "" or "ja": the texts as they stand).
// False when there is none for it.
bool UseLanguage(const QString& language);

} // namespace qx4bench
