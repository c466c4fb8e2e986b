// AdbProcessImpl: one run of adb as a QProcess. Collects the program's
// output whole (bounded), decodes it once when the run is over, ends a run
// that outlives its deadline or floods its output, and maps the process's
// signals to exactly one final result per run.
//
// Thread: the one it was created on; the process's signals arrive there.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

class AdbProcessImpl : public QProcess {
    Q_OBJECT

public:
    // More output than this (each of standard output and standard error)
    // ends the run as failed: no adb command the program runs prints that much.
    static constexpr int kMaxOutputBytes = 1 << 20;
    // After the kill at the deadline, how long the process may take to be
    // reaped before the run is reported as failed anyway.
    static constexpr int kReapGraceMs = 1000;

    AdbProcessImpl();
    ~AdbProcessImpl() override;

    // Starts program with arguments; timeoutMs bounds the whole run (0: none).
    void run(const QString& program, const QStringList& arguments, int timeoutMs);

    // The collected output, decoded as UTF-8 and trimmed once; complete only
    // after the final result.
    QString standardOutputText() const { return standardOutput_; }
    QString standardErrorText() const { return standardError_; }
    // Whether the run was ended for passing its deadline or its output bound.
    bool timedOut() const { return timedOut_; }
    bool overflowed() const { return overflowed_; }

signals:
    // The codes of qsc::AdbProcess::ADB_EXEC_RESULT: 0 once at the start,
    // then one of 1 to 4.
    void adbProcessImplResult(int result);

private:
    void onStarted();
    void onErrorOccurred(QProcess::ProcessError error);
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void onDeadline();
    void collect(QProcess::ProcessChannel channel, QByteArray* into);
    void decodeOutput();
    void reportFinal(int result);
    void stopRun();

    QByteArray rawOutput_;
    QByteArray rawError_;
    QString standardOutput_;
    QString standardError_;
    QTimer deadline_;
    QTimer reapGrace_;
    bool finalReported_ = false;
    bool timedOut_ = false;
    bool overflowed_ = false;
    int timeoutMs_ = 0;
};
