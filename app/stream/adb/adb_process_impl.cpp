#include "adb/adb_process_impl.h"

#include <QtGlobal>

#include "adb/adb_process.h"
#include "core/tether/tq_log.h"

using Result = qsc::AdbProcess::ADB_EXEC_RESULT;

AdbProcessImpl::AdbProcessImpl() {
    deadline_.setSingleShot(true);
    reapGrace_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, &AdbProcessImpl::onDeadline);
    connect(&reapGrace_, &QTimer::timeout, this, [this] { reportFinal(qsc::AdbProcess::AER_ERROR_EXEC); });
    connect(this, &QProcess::started, this, &AdbProcessImpl::onStarted);
    connect(this, &QProcess::errorOccurred, this, &AdbProcessImpl::onErrorOccurred);
    connect(this, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &AdbProcessImpl::onFinished);
    connect(this, &QProcess::readyReadStandardOutput, this,
            [this] { collect(QProcess::StandardOutput, &rawOutput_); });
    connect(this, &QProcess::readyReadStandardError, this,
            [this] { collect(QProcess::StandardError, &rawError_); });
}

AdbProcessImpl::~AdbProcessImpl() {
    // No signal of a run that is being torn down reaches anyone.
    disconnect();
    if (state() != QProcess::NotRunning) {
        QProcess::kill();
        waitForFinished(kReapGraceMs);
    }
}

void AdbProcessImpl::run(const QString& program, const QStringList& arguments, int timeoutMs) {
    rawOutput_.clear();
    rawError_.clear();
    standardOutput_.clear();
    standardError_.clear();
    finalReported_ = false;
    timedOut_ = false;
    overflowed_ = false;
    timeoutMs_ = timeoutMs;
    if (timeoutMs > 0) deadline_.start(timeoutMs);
    start(program, arguments, QIODevice::ReadWrite);
}

void AdbProcessImpl::onStarted() {
    // adb reads nothing from us: an adb waiting for input would never end.
    closeWriteChannel();
    emit adbProcessImplResult(qsc::AdbProcess::AER_SUCCESS_START);
}

void AdbProcessImpl::onErrorOccurred(QProcess::ProcessError error) {
    switch (error) {
    case QProcess::FailedToStart:
        reportFinal(qsc::AdbProcess::AER_ERROR_MISSING_BINARY);
        break;
    case QProcess::Crashed:
        // finished() follows with a crash exit and reports the run.
        break;
    default:
        qCritical("qprocess start error:%s %s", qUtf8Printable(program()), qUtf8Printable(arguments().join(' ')));
        // The run cannot be trusted any more: end it so it does not linger.
        stopRun();
        reportFinal(qsc::AdbProcess::AER_ERROR_START);
        break;
    }
}

void AdbProcessImpl::onFinished(int exitCode, QProcess::ExitStatus status) {
    // Whatever is still in the pipes belongs to this run.
    collect(QProcess::StandardOutput, &rawOutput_);
    collect(QProcess::StandardError, &rawError_);
    const bool success = status == QProcess::NormalExit && exitCode == 0 && !overflowed_ && !timedOut_;
    reportFinal(success ? qsc::AdbProcess::AER_SUCCESS_EXEC : qsc::AdbProcess::AER_ERROR_EXEC);
}

void AdbProcessImpl::onDeadline() {
    if (state() == QProcess::NotRunning) return;
    timedOut_ = true;
    LOG_W("adb %s did not end within %d ms; ended", qUtf8Printable(arguments().join(' ')), timeoutMs_);
    stopRun();
}

void AdbProcessImpl::collect(QProcess::ProcessChannel channel, QByteArray* into) {
    const QProcess::ProcessChannel previous = readChannel();
    setReadChannel(channel);
    const QByteArray chunk = readAll();
    setReadChannel(previous);
    if (chunk.isEmpty() || overflowed_) return;
    if (into->size() + chunk.size() > kMaxOutputBytes) {
        overflowed_ = true;
        into->append(chunk.left(kMaxOutputBytes - into->size()));
        LOG_W("adb %s printed more than %d bytes; ended", qUtf8Printable(arguments().join(' ')), kMaxOutputBytes);
        stopRun();
        return;
    }
    into->append(chunk);
}

void AdbProcessImpl::stopRun() {
    deadline_.stop();
    if (state() == QProcess::NotRunning) return;
    QProcess::kill();
    // finished() normally follows at once; a process that cannot be reaped
    // must not keep its owner waiting for ever.
    reapGrace_.start(kReapGraceMs);
}

void AdbProcessImpl::decodeOutput() {
    // Once, over the whole output: a chunk boundary may fall inside a line or
    // inside a multi-byte character.
    standardOutput_ = QString::fromUtf8(rawOutput_).trimmed();
    standardError_ = QString::fromUtf8(rawError_).trimmed();
}

void AdbProcessImpl::reportFinal(int result) {
    if (finalReported_) return;
    finalReported_ = true;
    deadline_.stop();
    reapGrace_.stop();
    decodeOutput();
    emit adbProcessImplResult(result);
}
