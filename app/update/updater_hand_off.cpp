#include "updater_hand_off.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

QString InstallerSavePath(const QString& loggerDirectory) {
    // The parent by name: QDir::cdUp would refuse a folder not made yet.
    return QFileInfo(QDir::cleanPath(loggerDirectory)).absolutePath() + "/installer.exe";
}

QString UpdaterCommandLine(const QString& updaterCopy, qint64 processId, const QString& installerPath,
                           const QString& programPath) {
    return QString("\"%1\" %2 \"%3\" \"%4\"").arg(updaterCopy).arg(processId).arg(installerPath, programPath);
}

UpdaterHandOffResult HandOffToUpdater(const QString& programDir, const QString& installerPath, qint64 processId,
                                      const QString& programPath) {
    UpdaterHandOffResult result;
    const QString source = programDir + "/updater";
    const QString target = QFileInfo(installerPath).absolutePath() + "/updater";
    const QFileInfo sourceInfo(source);
    const QFileInfo targetInfo(target);
    if (!sourceInfo.exists()) {
        result.error = "no updater at " + source;
        return result;
    }
    // Removing the target first would delete the only updater when both name
    // the same file.
    const bool sameFile = targetInfo.exists() && sourceInfo.canonicalFilePath() == targetInfo.canonicalFilePath();
    if (!sameFile) {
        if (targetInfo.exists() && !QFile::remove(target)) {
            result.error = "cannot replace " + target;
            return result;
        }
        if (!QFile::copy(source, target)) {
            result.error = "cannot copy the updater to " + target;
            return result;
        }
    }
    result.commandLine = UpdaterCommandLine(target, processId, installerPath, programPath);
    // Split as the command line's quotes say, so a path with blanks stays one argument.
    QStringList arguments = QProcess::splitCommand(result.commandLine);
    const QString program = arguments.takeFirst();
    result.started = QProcess::startDetached(program, arguments);
    if (!result.started) result.error = "cannot start " + program;
    return result;
}
