// Every result line with its time, appended to a file the operator chose; the file is
// rotated by size so that a checker left running does not fill the disk.
#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>

namespace qx4bench {

class ResultLog {
  public:
    static constexpr qint64 kMaxBytes = 4 * 1024 * 1024;

    // Opens `path` for appending; IsOpen() says whether that worked.
    explicit ResultLog(const QString& path, qint64 maxBytes = kMaxBytes);
    bool IsOpen() const { return file_.isOpen(); }
    QString Path() const { return file_.fileName(); }
    QString Error() const { return file_.errorString(); }
    // One line, written through at once (a killed checker keeps it). Past the size
    // limit the file becomes PATH.1 (one older file kept) and a new one starts.
    void Append(const QDateTime& when, const QString& text);

  private:
    void Rotate();
    QFile file_;
    qint64 maxBytes_;
};

} // namespace qx4bench
