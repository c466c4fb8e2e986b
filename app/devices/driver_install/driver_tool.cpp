#include "devices/driver_install/driver_tool.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

DriverToolRun RunDriverTool(const QString& command, int timeoutMs) {
    DriverToolRun run;
    QStringList parts = QProcess::splitCommand(command);
    if (parts.isEmpty()) return run;
    const QString program = parts.takeFirst();

    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(program, parts, QIODevice::ReadWrite);
    if (!process.waitForStarted(timeoutMs)) return run;
    run.started = true;
    // The tools read nothing; a closed input keeps one that asks from waiting.
    process.closeWriteChannel();
    const int left = static_cast<int>(qMax<qint64>(0, timeoutMs - clock.elapsed()));
    run.finished = process.waitForFinished(left);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    } else {
        run.crashed = process.exitStatus() == QProcess::CrashExit;
        run.exitCode = process.exitCode();
    }
    run.standardOutput = process.readAllStandardOutput();
    run.standardError = process.readAllStandardError();
    return run;
}
