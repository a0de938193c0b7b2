#include "link_calls.h"

#include "qx4drv.h"
#include "status_panel.h"
#include "texts.h"

#include <QEventLoop>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qx4bench {

QString FailureText() {
    switch (QX4GetFailureCause()) {
    case QX4_CAUSE_TIMEOUT:
        return Tr("リーダーから応答がありません（タイムアウト）");
    case QX4_CAUSE_BUSY:
        return Tr("別のコマンドの実行中のため送信していません");
    case QX4_CAUSE_NO_PORT:
        return Tr("ポートが開いていません（COM再設定で開き直してください）");
    case QX4_CAUSE_BAD_ARGUMENT:
        return Tr("値が範囲外のため送信していません");
    case QX4_CAUSE_BAD_REPLY:
        return Tr("応答の長さまたは形式が不正です");
    case QX4_CAUSE_OUT_OF_STEP:
        return Tr("送信していません: リーダーとの同期が取れません");
    case QX4_CAUSE_FENCE_REFUSED:
        return Tr("送信していません: リーダーが同期用の EEPROM 読み出しを拒否しました");
    case QX4_CAUSE_NONE:
    case QX4_CAUSE_NACK:
        return QString();
    default:
        return Tr("失敗しました（原因コード %1）").arg(QX4GetFailureCause());
    }
}

bool ResyncLink() {
    return QX4Resync() != 0;
}

void RunOffGuiThread(const std::function<void()>& call) {
    QThread* worker = QThread::create(call);
    QEventLoop loop;
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    if (!worker->isFinished()) loop.exec();
    worker->wait(); // also when the application quit the loop early
    delete worker;
}

QString PortOpenFailure(int port) {
    const QString device = DeviceOfPort(port);
    if (device.isEmpty()) return Tr("COM%1 に対応するデバイスがありません").arg(port);
    if (device.contains("://")) return QString(); // the library's box names the address
    const QByteArray path = device.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        // The library locks the device it holds; another program's lock means in use.
        const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        ::close(fd);
        if (locked) return Tr("%1 は別のプログラムが使用中です").arg(device);
        return Tr("%1 は使用中か、シリアルポートではありません").arg(device);
    }
    const int error = errno;
    if (error == EACCES)
        return Tr("%1 を開く権限がありません（dialout グループに入ってください）").arg(device);
    if (error == EBUSY) return Tr("%1 は別のプログラムが使用中です").arg(device);
    return QString("%1: %2").arg(device, QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace qx4bench
