// The test's side of the adb stand-in (the "adb" script beside this file):
// a folder that tells the script what to print and how to end for each
// command, and the log of the runs it made, read back as calls and as the
// port mappings a phone behind adb would now see.
//
// The folder is named by the environment variable ZUCAM_FAKE_ADB_DIR, set
// for the lifetime of the object; adb runs started meanwhile inherit it.
// One thread uses an object.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace zucam::test {

// One device line as "adb devices -l" prints it.
struct FakeAdbDevice {
    QString serial;
    QString state = "device";
    QString transportId = "1";
};

class FakeAdb {
public:
    FakeAdb();
    ~FakeAdb();
    FakeAdb(const FakeAdb&) = delete;
    FakeAdb& operator=(const FakeAdb&) = delete;

    // The stand-in script in the source tree.
    static QString ScriptPath();
    // "List of devices attached" and one real-shaped line per device.
    static QString DevicesOutput(const std::vector<FakeAdbDevice>& devices);

    QString folder() const { return folder_.path(); }
    void setDevices(const std::vector<FakeAdbDevice>& devices);
    void setOutput(const QString& command, const QByteArray& text);
    void setError(const QString& command, const QByteArray& text);
    void setExit(const QString& command, int code);
    void setScript(const QString& command, const QByteArray& shellText);
    void setDelay(const QString& command, double seconds);
    void clear(const QString& command);  // every file of that command

    struct Call {
        qint64 pid = 0;
        QStringList arguments;
        bool ended = false;
        int exitCode = -1;
    };
    // Every run so far, in start order.
    std::vector<Call> calls() const;
    // Runs whose arguments start with these (e.g. {"devices"}, or {"-s", serial, "reverse"}).
    std::vector<Call> callsStartingWith(const QStringList& prefix) const;
    // The local port that devicePort of serial reaches: the latest reverse
    // run for it that ended with 0.
    std::optional<uint16_t> mappedPort(const QString& serial, uint16_t devicePort) const;
    // Runs the event loop until the mapping exists.
    std::optional<uint16_t> waitForMapping(const QString& serial, uint16_t devicePort,
                                           std::chrono::milliseconds timeout = std::chrono::milliseconds(8000)) const;

private:
    void write(const QString& name, const QByteArray& bytes);

    QTemporaryDir folder_;
    QByteArray savedVariable_;
    bool hadVariable_ = false;
};

}  // namespace zucam::test
