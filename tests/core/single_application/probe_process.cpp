#include "probe_process.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>

ProbeProcess::ProbeProcess(const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The probe shows no window. Qt's offscreen platform leaks its screen at
    // exit, which LeakSanitizer would report as the probe's failure.
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("minimal"));
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(QStringLiteral(PROBE_PATH), arguments);
    process_.waitForStarted(kWaitMs);
    pid_ = process_.processId();
}

ProbeProcess::~ProbeProcess() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(kWaitMs);
    }
}

void ProbeProcess::collect() {
    partialLine_ += process_.readAllStandardOutput();
    int end = 0;
    while ((end = partialLine_.indexOf('\n')) >= 0) {
        lines_ << QString::fromUtf8(partialLine_.left(end));
        partialLine_.remove(0, end + 1);
    }
    errorOutput_ += process_.readAllStandardError();
}

template <typename Found>
bool ProbeProcess::waitUntil(Found found, const int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        collect();
        if (found()) {
            return true;
        }
        if (process_.state() == QProcess::NotRunning || deadline.hasExpired()) {
            return false;
        }
        process_.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
}

bool ProbeProcess::waitForLine(const QString& line, const int timeoutMs) {
    return waitUntil([&] { return lines_.contains(line); }, timeoutMs);
}

QString ProbeProcess::waitForValue(const QString& prefix, const int timeoutMs) {
    QString value;
    waitUntil(
        [&] {
            for (const QString& line : qAsConst(lines_)) {
                if (line.startsWith(prefix)) {
                    value = line.mid(prefix.size());
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return value;
}

bool ProbeProcess::waitForExit(const int timeoutMs) {
    const bool finished = process_.state() == QProcess::NotRunning || process_.waitForFinished(timeoutMs);
    collect();
    return finished && process_.exitStatus() == QProcess::NormalExit;
}

bool ProbeProcess::quit(const int timeoutMs) {
    process_.closeWriteChannel();
    return waitForExit(timeoutMs);
}

void ProbeProcess::killHard() {
    process_.kill();
    process_.waitForFinished(kWaitMs);
    collect();
}

QStringList ProbeProcess::lines() {
    collect();
    return lines_;
}

QString ProbeProcess::errorOutput() {
    collect();
    return QString::fromUtf8(errorOutput_);
}
