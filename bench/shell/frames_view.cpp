#include "frames_view.h"

#include "qx4drv.h"
#include "session.h"
#include "texts.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QTimer>

namespace qx4bench {

FramesView::FramesView(QWidget* parent) : QDockWidget(Tr("通信フレーム"), parent) {
    setObjectName("framesView");
    text_ = new QPlainTextEdit(this);
    text_->setReadOnly(true);
    text_->setMaximumBlockCount(kKeptLines);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text_->setAccessibleName(Tr("通信フレーム"));
    text_->setToolTip(Tr("リーダーとの間のフレーム（qx4 --trace と同じ解読）"));
    setWidget(text_);
    flush_ = new QTimer(this);
    flush_->setInterval(kFlushPeriodMs);
    connect(flush_, &QTimer::timeout, this, &FramesView::Flush);
}

FramesView::~FramesView() {
    QX4SetTraceHook(nullptr, nullptr);
}

QString FramesView::Text() const {
    return text_->toPlainText();
}

void FramesView::showEvent(QShowEvent* event) {
    QDockWidget::showEvent(event);
    QX4SetTraceHook(&FramesView::OnFrame, this);
    flush_->start();
}

void FramesView::hideEvent(QHideEvent* event) {
    QX4SetTraceHook(nullptr, nullptr);
    flush_->stop();
    Flush();
    QDockWidget::hideEvent(event);
}

void FramesView::OnFrame(int direction, const unsigned char* bytes, unsigned count, void* user) {
    auto* self = static_cast<FramesView*>(user);
    const QString time = QDateTime::currentDateTime().toString("HH:mm:ss.zzz ");
    std::lock_guard lock(self->mutex_);
    if (direction == QX4_TRACE_LOST) {
        self->pending_ << time +
                              Tr("受信バイト %1 個を失いました（受信バッファが一杯）").arg(count);
        return;
    }
    if (direction == QX4_TRACE_SENT && count > 2) self->lastCommand_ = bytes[2];
    QString line =
        QString::fromStdString(qx4cli::DescribeFrame(direction, bytes, count, self->lastCommand_));
    if (direction == QX4_TRACE_BAD) line = Tr("（フレームではありません）") + " " + line;
    self->pending_ << time + line;
}

void FramesView::Flush() {
    QStringList lines;
    {
        std::lock_guard lock(mutex_);
        lines.swap(pending_);
    }
    // A flood draws only the newest frames of each batch, so that no batch holds the
    // window; it says how many it left out.
    if (lines.size() > kLinesPerFlush) {
        const qsizetype skipped = lines.size() - kLinesPerFlush;
        lines = lines.mid(skipped);
        lines.prepend(Tr("（%1 フレームを省略）").arg(skipped));
    }
    if (!lines.isEmpty()) text_->appendPlainText(lines.join('\n'));
}

} // namespace qx4bench
