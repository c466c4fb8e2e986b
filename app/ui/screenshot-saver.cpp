#include "ui/screenshot-saver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QtConcurrent/QtConcurrentRun>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "core/system/probe_write.h"
#include "core/tether/tq.h"
#include "core/tether/tq_log.h"
#include "video_sink/stream_video_sink_cache.h"

namespace screenshot {

namespace {

QString Text(const char* text) { return QCoreApplication::translate("MainWindow", text); }

constexpr int kTemporaryNameTries = 16;

// A new temporary file beside path, made by us: O_EXCL never opens what is
// already there (a link planted under the name is not followed), and the
// random part keeps the name from being guessed. -1 with errno set when
// none could be made.
int CreateTemporary(const QString& path, QByteArray* name) {
    for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
        const QString candidate =
            path + QString(".%1.tmp").arg(QRandomGenerator::system()->generate64(), 16, 16, QChar('0'));
        const QByteArray encoded = QFile::encodeName(candidate);
        const int fd = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *name = encoded;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

// Writes image as a PNG through a temporary file that then takes path's
// place. The rename replaces a name, never follows it: a link planted at
// path is replaced by the picture and its target is left alone, and in a
// sticky folder (/tmp) another user's file or link there is not ours to
// replace, which fails the save. A shot of the same second replaces the
// earlier one. Nothing is left behind on failure.
bool WritePng(const QImage& image, const QString& path, QString* why) {
    QByteArray temporary;
    const int fd = CreateTemporary(path, &temporary);
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    bool written = false;
    {
        QFile file;
        if (file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
            written = image.save(&file, "PNG") && file.flush() && ::fsync(fd) == 0;
            if (!written) *why = file.errorString();
            file.close();
            written = written && file.error() == QFileDevice::NoError;
        } else {
            ::close(fd);
            *why = file.errorString();
        }
    }
    if (written && ::rename(temporary.constData(), QFile::encodeName(path).constData()) == 0) return true;
    if (written) *why = QString::fromLocal8Bit(std::strerror(errno));
    ::unlink(temporary.constData());  // ours: made by CreateTemporary
    return false;
}

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
    QString why;
    if (!WritePng(image, path, &why)) {
        LOG_E("screenshot: could not save %s: %s", path.toUtf8().constData(), why.toUtf8().constData());
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
