// What a command goes to, said after its lines, and the question before one that
// cannot be undone.
#include "panel_view.h"
#include "texts.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace qx4bench {
namespace {

QString UidText(const std::array<uint8_t, 8>& uid) {
    QString text;
    for (int i = 7; i >= 0; --i)
        text += QString::asprintf("%02X ", uid[size_t(i)]);
    return text.trimmed();
}

} // namespace

QString CQX4PanelView::TargetText(uint8_t mode) const {
    switch (mode & 3) {
    case 1:
        return "UID " + UidText(tagUid);
    case 2:
        return Tr("リーダーのカレントUID");
    default:
        return Tr("宛先なし");
    }
}

void CQX4PanelView::SetTarget(uint8_t mode, const QString& what, const uint8_t* data, int count) {
    QStringList parts{TargetText(mode)};
    if (!what.isEmpty()) parts << what;
    if (data) {
        QString bytes;
        for (int i = 0; i < count; ++i)
            bytes += QString::asprintf("%02X ", data[i]);
        parts << Tr("書き込みデータ %1").arg(bytes.trimmed());
    }
    target_ = "→ " + parts.join(", ");
}

int CQX4PanelView::KnownTags() const {
    return std::max(tagsInField_, uidCount > 0 ? uidCount : -1);
}

bool CQX4PanelView::Confirm(const QString& command, const QString& change) {
    QMessageBox box(QMessageBox::Warning, command,
                    change + "\n\n" + Tr("元に戻せません。送信しますか？"), QMessageBox::NoButton,
                    this);
    QPushButton* send = box.addButton(Tr("送信する(&Y)"), QMessageBox::YesRole);
    QPushButton* keep = box.addButton(Tr("送信しない(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    // The operator answers: no busy cursor, and the status does not say it waits.
    const bool busyCursor = QApplication::overrideCursor() != nullptr;
    if (busyCursor) QApplication::restoreOverrideCursor();
    status_->SetActivity(QString());
    dialogOpen_ = true;
    bool yes;
    if (confirmRunner) {
        yes = confirmRunner(box);
    } else {
        box.exec();
        yes = box.clickedButton() == send;
    }
    dialogOpen_ = false;
    if (busyCursor) QApplication::setOverrideCursor(Qt::BusyCursor);
    if (!yes) {
        target_.clear(); // nothing went anywhere
        AddNote(Tr("送信しませんでした: %1（確認で取り消し）").arg(command));
        return false;
    }
    status_->SetActivity(Tr("実行中: %1").arg(command));
    return true;
}

bool CQX4PanelView::ConfirmOnTag(const QString& command, uint8_t mode, const QString& change,
                                 bool alwaysAsk) {
    QString question;
    if ((mode & 3) == 1) {
        if (!alwaysAsk) return true;
        question = Tr("タグ %1: %2").arg(TargetText(mode), change);
    } else {
        // Without a UID every tag that hears the request acts on it.
        const int tags = KnownTags();
        if (tags == 1 && !alwaysAsk) return true;
        question = Tr("%1（%2）").arg(change, TargetText(mode));
        if (tags > 1)
            question +=
                "\n" +
                Tr("UID を指定せずに送るため、電界内の %1 枚のタグすべてに届きます。").arg(tags);
        else if (tags < 0)
            question += "\n" + Tr("UID を指定せずに送るため、電界内のすべてのタグに届きます"
                                  "（タグの数は分かりません）。");
    }
    return Confirm(command, question);
}

bool CQX4PanelView::ConfirmWrite(const QString& command, const QString& what, const uint8_t* data,
                                 int count) {
    SetTarget(WriteMode(), what, data, count);
    return ConfirmOnTag(command, WriteMode(), Tr("%1 に書き込みます").arg(what), false);
}

} // namespace qx4bench
