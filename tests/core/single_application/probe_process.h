// One run of single_instance_probe, read line by line. Used from the test
// thread only; waits block on the probe's pipes, no event loop needed.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

class ProbeProcess {
public:
    // Generous: only reached when something is wrong, and ASan runs under
    // ctest -j8 make every start slow.
    static constexpr int kWaitMs = 8000;

    explicit ProbeProcess(const QStringList& arguments);
    ~ProbeProcess();  // kills a probe still running

    ProbeProcess(const ProbeProcess&) = delete;
    ProbeProcess& operator=(const ProbeProcess&) = delete;

    // Waits until the probe has printed exactly this line.
    bool waitForLine(const QString& line, int timeoutMs = kWaitMs);
    // Waits for a line beginning with prefix and returns the rest ("" when
    // none came in time or the probe ended).
    QString waitForValue(const QString& prefix, int timeoutMs = kWaitMs);
    // Waits for the probe to end by itself; true when it exited normally.
    bool waitForExit(int timeoutMs = kWaitMs);
    // Closes its stdin, which a primary takes as its cue to quit, and waits.
    bool quit(int timeoutMs = kWaitMs);
    // SIGKILL: no destructors, nothing cleaned up.
    void killHard();

    // Every line printed so far.
    QStringList lines();
    QString errorOutput();
    int exitCode() const { return process_.exitCode(); }
    qint64 pid() const { return pid_; }

private:
    void collect();
    template <typename Found>
    bool waitUntil(Found found, int timeoutMs);

    QProcess process_;
    qint64 pid_ = 0;
    QStringList lines_;
    QByteArray partialLine_;
    QByteArray errorOutput_;
};
