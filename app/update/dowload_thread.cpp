#include "dowload_thread.h"

#include "core/tether/tq_log.h"
#include "tqnet/zu_net.h"

DowloadThread::DowloadThread(QObject* dialog, const QString& url, const QString& savePath)
    : dialog_(dialog), url_(url), savePath_(savePath) {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

int DowloadThread::OnProgress(void* user, double progress) {
    auto* const thread = static_cast<DowloadThread*>(user);
    if (thread->cancelled_) return -1;
    // At most 99 while downloading: completion sets 100. Posted only when the
    // shown value changes, so a fast download does not flood the GUI thread.
    const int percent = int(progress * 99.0);
    if (percent != thread->lastPercent_) {
        thread->lastPercent_ = percent;
        QMetaObject::invokeMethod(thread->dialog_, "OnDownloadProgress", Qt::QueuedConnection, Q_ARG(int, percent));
    }
    return 0;
}

void DowloadThread::run() {
    const QByteArray url = url_.toUtf8();
    const Zu_Client::ZuResponse response =
        Zu_Client::ZuNet::downLoad(url.toStdString(), savePath_.toUtf8().toStdString(), true, 0, &OnProgress, this);
    if (cancelled_) return;
    if (response.statusCode == 200) {
        QMetaObject::invokeMethod(dialog_, "OnDownloadCompleted", Qt::QueuedConnection, Q_ARG(QString, savePath_));
    } else {
        LOG_E("download %s failed, error: %d", url.constData(), response.statusCode);
        QMetaObject::invokeMethod(dialog_, "OnDownloadError", Qt::QueuedConnection);
    }
}
