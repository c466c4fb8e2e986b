#include "local_system.h"

#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <ctime>

namespace tq {

const char* LocalSystem::formatNow(const char* format) { return formatLocalNow(format); }

const char* LocalSystem::formatLocalNow(const char* format) {
    thread_local char text[256];
    text[0] = '\0';
    if (format == nullptr) return text;
    const time_t now = time(nullptr);
    tm local{};
    if (localtime_r(&now, &local) == nullptr) return text;
    // The format comes from the caller by design, as strftime's does.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (strftime(text, sizeof text, format, &local) == 0) text[0] = '\0';
#pragma GCC diagnostic pop
    return text;
}

void LocalSystem::openFileLocation(const char* path) {
    if (path == nullptr || path[0] == '\0') return;
    const QFileInfo target(QString::fromUtf8(path));
    const QString folder = target.isDir() ? target.absoluteFilePath() : target.absolutePath();
    QProcess::startDetached(QStringLiteral("xdg-open"), QStringList{folder});
}

}  // namespace tq
