// The status bar's fields: port and device, rate, link state, reader mode, tag count,
// and what the checker is waiting for.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace qx4bench {

enum class LinkState { Opening, Open, Closed, Lost };

// The device or address COM<port> resolves to, as the library resolves it.
QString DeviceOfPort(int port);

class StatusPanel : public QWidget {
  public:
    explicit StatusPanel(QWidget* parent = nullptr);

    void SetPort(int port, int baudRate);
    void SetPortText(const QString& port, int baudRate);
    QString Activity() const;
    void SetLink(LinkState state);
    // Reader mode code as QX4GetRWMode gives it; -1 when unknown.
    void SetMode(int mode);
    void SetTags(int count);
    void SetActivity(const QString& text); // empty: idle

    QString Text() const; // every field, for tests and the accessible description

  private:
    QLabel* activity_;
    QLabel* port_;
    QLabel* rate_;
    QLabel* link_;
    QLabel* mode_;
    QLabel* tags_;
};

} // namespace qx4bench
