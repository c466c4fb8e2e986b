// Hand-over to the updater once the installer is downloaded: the updater
// ("updater" beside the program) is copied beside the installer and started
// detached with "\"<updater copy>\" <process id> \"<installer>\" \"<program>\"".
// The updater waits for this process to end, runs the installer and starts
// the program again; the caller quits with 0 once this succeeded.
#pragma once

#include <QString>

// "<parent of the log folder>/installer.exe".
QString InstallerSavePath(const QString& loggerDirectory);

QString UpdaterCommandLine(const QString& updaterCopy, qint64 processId, const QString& installerPath,
                           const QString& programPath);

struct UpdaterHandOffResult {
    bool started = false;
    QString error;        // why not, for the log
    QString commandLine;  // what was started
};

// programDir holds "updater". An updater already beside the installer is
// replaced, unless it is the program's own (same file), which is used as it is.
UpdaterHandOffResult HandOffToUpdater(const QString& programDir, const QString& installerPath, qint64 processId,
                                      const QString& programPath);
