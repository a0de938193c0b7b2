#include "result_log.h"

namespace qx4bench {

ResultLog::ResultLog(const QString& path, qint64 maxBytes) : file_(path), maxBytes_(maxBytes) {
    file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

void ResultLog::Append(const QDateTime& when, const QString& text) {
    if (!file_.isOpen()) return;
    // A line is one line in the file whatever the tag's data held.
    QString line = text;
    line.replace('\n', "\\n").replace('\r', "\\r");
    const QByteArray bytes =
        (when.toString("yyyy-MM-dd HH:mm:ss.zzz") + '\t' + line + '\n').toUtf8();
    if (file_.size() > 0 && file_.size() + bytes.size() > maxBytes_) Rotate();
    file_.write(bytes);
    file_.flush();
}

void ResultLog::Rotate() {
    const QString path = file_.fileName();
    file_.close();
    QFile::remove(path + ".1");
    QFile::rename(path, path + ".1");
    file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

} // namespace qx4bench
