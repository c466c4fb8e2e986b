// qsc::AdbProcess: one run of Android's adb per request, reported as one
// result signal. A thin facade over AdbProcessImpl, which builds nothing
// itself: the argument lists of the commands the program needs are here.
//
// Thread: a wrapper lives on the thread that created it (it needs that
// thread's event loop); its result arrives there. setAdbPath may be called
// from any thread.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class AdbProcessImpl;

namespace qsc {

class AdbProcess : public QObject {
    Q_OBJECT

public:
    enum ADB_EXEC_RESULT : int {
        AER_SUCCESS_START = 0,         // the program started
        AER_ERROR_START = 1,           // the run broke (not a missing program)
        AER_SUCCESS_EXEC = 2,          // exited normally with code 0
        AER_ERROR_EXEC = 3,            // crashed, non-zero exit, ended at its deadline or for flooding
        AER_ERROR_MISSING_BINARY = 4,  // the program could not be started
    };
    Q_ENUM(ADB_EXEC_RESULT)

    // The longest a run may take unless setTimeout says otherwise: adb
    // starting its server takes a few seconds, a hung one takes for ever.
    static constexpr int kDefaultTimeoutMs = 10000;

    explicit AdbProcess(QObject* parent = nullptr);
    // Ends a run that is still going; no result is reported for it.
    ~AdbProcess() override;

    // The adb program every wrapper runs from now on; without one, "adb" is
    // looked up on PATH.
    static void setAdbPath(const QString& path);
    static QString adbPath();

    // Bounds the next runs of this wrapper (0: no bound).
    void setTimeout(int ms) { timeoutMs_ = ms; }

    // Runs adb with "-s" serial before args when serial is not empty.
    void execute(const QString& serial, const QStringList& args);
    // "reverse" "tcp:<devicePort>" "tcp:<localPort>": the device's port
    // reaches this computer's port.
    void reverse(const QString& serial, quint16 devicePort, quint16 localPort);
    void reverseRemove(const QString& serial, quint16 devicePort);
    void reverseRemoveAll(const QString& serial);
    void forward(const QString& serial, quint16 localPort, const QString& deviceSocketName);
    void forwardRemove(const QString& serial, quint16 localPort);

    bool isRuning() const;
    // The arguments of the latest run.
    QStringList arguments() const;
    // The whole output of the finished run, decoded once.
    QString getStdOut() const;
    QString getErrorOut() const;

signals:
    void adbProcessResult(qsc::AdbProcess::ADB_EXEC_RESULT processResult);

private:
    AdbProcessImpl* impl_;  // owned; released with deleteLater
    int timeoutMs_ = kDefaultTimeoutMs;
};

}  // namespace qsc
