#include "texts.h"

#include <QTranslator>

namespace qx4bench {

bool UseLanguage(const QString& language) {
    static QTranslator translator; // lives as long as the texts it gives
    QCoreApplication::removeTranslator(&translator);
    if (language.isEmpty() || language == "ja") return true;
    if (!translator.load(":/i18n/qx4bench_" + language + ".qm")) return false;
    QCoreApplication::installTranslator(&translator);
    return true;
}

} // namespace qx4bench
