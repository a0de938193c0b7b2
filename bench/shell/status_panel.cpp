#include "status_panel.h"

#include "texts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <cstdlib>

namespace qx4bench {

QString DeviceOfPort(int port) {
    const QByteArray variable = "QX4_COM" + QByteArray::number(port);
    if (const char* named = std::getenv(variable.constData()); named && *named)
        return QString::fromLocal8Bit(named);
    if (port >= 1 && port <= 32) return QString("/dev/ttyS%1").arg(port - 1);
    if (port >= 33 && port <= 64) return QString("/dev/ttyUSB%1").arg(port - 33);
    if (port >= 65 && port <= 96) return QString("/dev/ttyACM%1").arg(port - 65);
    return QString();
}

StatusPanel::StatusPanel(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    activity_ = new QLabel(this);
    row->addWidget(activity_, 1);
    for (QLabel** field : {&port_, &rate_, &link_, &mode_, &tags_}) {
        *field = new QLabel(this);
        (*field)->setFrameShape(QFrame::StyledPanel);
        row->addWidget(*field);
    }
    port_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Room for a command's name while it waits, so that the fields do not jump.
    activity_->setMinimumWidth(
        activity_->fontMetrics().horizontalAdvance(Tr("実行中: %1").arg("ROMバージョン取得")));
    SetLink(LinkState::Closed);
    SetMode(-1);
    SetTags(0);
}

void StatusPanel::SetPort(int port, int baudRate) {
    const QString device = DeviceOfPort(port);
    port_->setText(device.isEmpty() ? QString("COM%1").arg(port)
                                    : QString("COM%1 (%2)").arg(port).arg(device));
    rate_->setText(QString("%1 bps").arg(baudRate));
}

void StatusPanel::SetPortText(const QString& port, int baudRate) {
    port_->setText(port);
    rate_->setText(QString("%1 bps").arg(baudRate));
}

QString StatusPanel::Activity() const {
    return activity_->text();
}

void StatusPanel::SetLink(LinkState state) {
    switch (state) {
    case LinkState::Opening:
        link_->setText(Tr("接続中"));
        break;
    case LinkState::Open:
        link_->setText(Tr("オープン"));
        break;
    case LinkState::Closed:
        link_->setText(Tr("未接続"));
        break;
    case LinkState::Lost:
        link_->setText(Tr("切断"));
        break;
    }
}

void StatusPanel::SetMode(int mode) {
    switch (mode) {
    case -1:
        mode_->setText(Tr("モード不明"));
        break;
    case 0:
        mode_->setText(Tr("コマンドモード"));
        break;
    case 1:
        mode_->setText(Tr("オートスキャンモード"));
        break;
    case 2:
        mode_->setText(Tr("トリガーモード"));
        break;
    case 3:
        mode_->setText(Tr("ポーリングモード"));
        break;
    default:
        mode_->setText(mode == 0x50 ? Tr("連続インベントリ")
                                    : QString::asprintf("mode 0x%02X", mode & 0xFF));
    }
}

void StatusPanel::SetTags(int count) {
    tags_->setText(Tr("タグ: %1").arg(count));
}

void StatusPanel::SetActivity(const QString& text) {
    activity_->setText(text);
}

QString StatusPanel::Text() const {
    QStringList fields;
    for (QLabel* field : {activity_, port_, rate_, link_, mode_, tags_})
        if (!field->text().isEmpty()) fields << field->text();
    return fields.join(" | ");
}

} // namespace qx4bench
