#include "devices/driver_install/file_holders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <set>

#include "processes/process_list.h"

namespace {

QString procPath(pid_t pid, const char* entry) { return QStringLiteral("/proc/%1/%2").arg(pid).arg(entry); }

// The paths of a maps file: the sixth field to the end of the line, without
// the " (deleted)" mark of a file removed since.
bool mapsHold(pid_t pid, const QSet<QString>& wanted) {
    QFile maps(procPath(pid, "maps"));
    if (!maps.open(QIODevice::ReadOnly)) return false;
    const QList<QByteArray> lines = maps.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const int slash = line.indexOf('/');
        if (slash < 0) continue;
        QString path = QString::fromLocal8Bit(line.mid(slash));
        if (path.endsWith(QLatin1String(" (deleted)"))) path.chop(10);
        if (wanted.contains(path)) return true;
    }
    return false;
}

bool descriptorsHold(pid_t pid, const QSet<QString>& wanted) {
    const QDir fds(procPath(pid, "fd"));
    const QStringList entries = fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const QString target = QFile::symLinkTarget(fds.filePath(entry));
        if (!target.isEmpty() && wanted.contains(target)) return true;
    }
    return false;
}

QString programName(const processes::ProcessEntry& process) {
    if (!process.executable.empty()) return QFileInfo(QString::fromStdString(process.executable)).fileName();
    QFile comm(procPath(process.pid, "comm"));
    if (!comm.open(QIODevice::ReadOnly)) return QString();
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

}  // namespace

QStringList programsHoldingFiles(const QStringList& paths) {
    QSet<QString> wanted;
    for (const QString& path : paths) {
        wanted.insert(path);
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (!canonical.isEmpty()) wanted.insert(canonical);
    }
    std::set<QString> names;
    for (const processes::ProcessEntry& process : processes::ListProcesses()) {
        if (!mapsHold(process.pid, wanted) && !descriptorsHold(process.pid, wanted)) continue;
        const QString name = programName(process);
        if (!name.isEmpty()) names.insert(name);
    }
    QStringList sorted;
    for (const QString& name : names) sorted << name;
    return sorted;
}
