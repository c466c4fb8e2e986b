#include "ui/screenshot-saver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>
#include <QtConcurrent/QtConcurrentRun>

#include "core/system/probe_write.h"
#include "core/tether/tq.h"
#include "core/tether/tq_log.h"
#include "video_sink/stream_video_sink_cache.h"

namespace screenshot {

namespace {

QString Text(const char* text) { return QCoreApplication::translate("MainWindow", text); }

}  // namespace

QString ShotPath(const QString& folder, const QString& stamp) {
    QString path = folder;
    if (!path.endsWith('/')) path += '/';
    return path + QString("ZuCam_shot[%1].png").arg(stamp);
}

bool ProbeWritable(const QString& path) { return ProbeWrite(QFile::encodeName(path + ".txt").toStdString()); }

Outcome SaveScreenShot(StreamVideoSinkCache* cache, const QString& folder, const QString& stamp) {
    if (!QFileInfo(folder).isDir()) return {QString(), Text("输出目录不存在，请前往设置页面重新设置")};
    const QImage image = cache != nullptr ? cache->Screenshot() : QImage();
    if (image.isNull()) return {QString(), Text("未接收到图像数据，截图失败！")};
    const QString path = ShotPath(folder, stamp);
    if (!ProbeWritable(path)) return {QString(), Text("输出目录无法写入，请前往设置页面重新设置")};
    // A shot taken in the same second replaces the earlier one, as before;
    // a failed save leaves whatever was there.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        LOG_E("screenshot: could not save %s: %s", path.toUtf8().constData(), file.errorString().toUtf8().constData());
        return {};
    }
    return {path, QString()};
}

QString NowStamp() {
    tq::Interface* const cd = g_cd;
    if (cd != nullptr && cd->system != nullptr) return QString::fromUtf8(cd->system->formatNow("%Y%m%d%H%M%S"));
    return QDateTime::currentDateTime().toString("yyyyMMddHHmmss");
}

}  // namespace screenshot

ScreenShotSaver::ScreenShotSaver(QObject* parent, StampSource stamp)
    : QObject(parent), stamp_(stamp ? std::move(stamp) : StampSource(&screenshot::NowStamp)) {}

ScreenShotSaver::~ScreenShotSaver() { WaitForPending(); }

void ScreenShotSaver::Start(StreamVideoSinkCache* cache, const QString& folder) {
    if (cache == nullptr) return;
    pending();  // drops the finished ones
    running_.append(QtConcurrent::run([this, cache, folder] {
        const screenshot::Outcome outcome = screenshot::SaveScreenShot(cache, folder, stamp_());
        emit Finished(outcome.path, outcome.error);
    }));
}

void ScreenShotSaver::WaitForPending() {
    for (QFuture<void>& save : running_) save.waitForFinished();
    running_.clear();
}

int ScreenShotSaver::pending() {
    for (auto it = running_.begin(); it != running_.end();) {
        it = it->isFinished() ? running_.erase(it) : it + 1;
    }
    return running_.size();
}
