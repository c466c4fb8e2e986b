#include "writer_probe_process.h"

#include <QElapsedTimer>

namespace {

constexpr int kWaitMs = 20000;

}  // namespace

WriterProbeProcess::WriterProbeProcess(const QStringList& arguments) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(WRITER_PROBE_PATH), arguments);
    process_.waitForStarted(kWaitMs);
}

WriterProbeProcess::~WriterProbeProcess() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(kWaitMs);
    }
}

bool WriterProbeProcess::WaitForLine(const std::string& prefix) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kWaitMs) {
        pending_ += process_.readAllStandardOutput();
        int end = 0;
        while ((end = pending_.indexOf('\n')) >= 0) {
            const QByteArray line = pending_.left(end);
            pending_.remove(0, end + 1);
            if (line.startsWith(QByteArray::fromStdString(prefix))) return true;
        }
        if (process_.state() == QProcess::NotRunning) {
            if (process_.bytesAvailable() == 0) return false;
            continue;
        }
        process_.waitForReadyRead(100);
    }
    return false;
}

void WriterProbeProcess::Release() { process_.closeWriteChannel(); }

void WriterProbeProcess::Kill() {
    process_.kill();
    process_.waitForFinished(kWaitMs);
}

int WriterProbeProcess::WaitForExit() {
    if (!process_.waitForFinished(kWaitMs) && process_.state() != QProcess::NotRunning) return -1;
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}
