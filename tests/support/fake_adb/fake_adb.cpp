#include "support/fake_adb/fake_adb.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include "support/bracketed_arguments.h"

namespace zucam::test {

namespace {
constexpr const char kVariable[] = "ZUCAM_FAKE_ADB_DIR";
}  // namespace

FakeAdb::FakeAdb() {
    hadVariable_ = qEnvironmentVariableIsSet(kVariable);
    savedVariable_ = qgetenv(kVariable);
    qputenv(kVariable, folder_.path().toLocal8Bit());
    write("calls", QByteArray());
}

FakeAdb::~FakeAdb() {
    if (hadVariable_) {
        qputenv(kVariable, savedVariable_);
    } else {
        qunsetenv(kVariable);
    }
}

QString FakeAdb::ScriptPath() { return QStringLiteral(ZUCAM_FAKE_ADB_SCRIPT); }

QString FakeAdb::DevicesOutput(const std::vector<FakeAdbDevice>& devices) {
    QString text = "List of devices attached\n";
    for (const FakeAdbDevice& device : devices) {
        QString line = QString("%1 %2").arg(device.serial, -22).arg(device.state);
        if (device.state == "device") {
            line += " usb:1-1 product:beyond1ltexx model:SM_G973F device:beyond1";
        } else {
            line += " usb:1-1";
        }
        if (!device.transportId.isEmpty()) line += " transport_id:" + device.transportId;
        text += line + "\n";
    }
    return text + "\n";
}

void FakeAdb::write(const QString& name, const QByteArray& bytes) {
    // Whole files only: a run that reads meanwhile sees the old or the new one.
    const QString path = folder_.path() + "/" + name;
    QFile file(path + ".tmp");
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) qFatal("cannot write %s", qPrintable(path));
    file.close();
    QFile::remove(path);
    QFile::rename(path + ".tmp", path);
}

void FakeAdb::setDevices(const std::vector<FakeAdbDevice>& devices) {
    setOutput("devices", DevicesOutput(devices).toUtf8());
}
void FakeAdb::setOutput(const QString& command, const QByteArray& text) { write(command + ".out", text); }
void FakeAdb::setError(const QString& command, const QByteArray& text) { write(command + ".err", text); }
void FakeAdb::setExit(const QString& command, int code) { write(command + ".exit", QByteArray::number(code)); }
void FakeAdb::setScript(const QString& command, const QByteArray& shellText) { write(command + ".sh", shellText); }
void FakeAdb::setDelay(const QString& command, double seconds) {
    write(command + ".delay", QByteArray::number(seconds, 'f', 3));
}
void FakeAdb::clear(const QString& command) {
    for (const char* suffix : {".out", ".err", ".exit", ".sh", ".delay"}) {
        QFile::remove(folder_.path() + "/" + command + suffix);
    }
}

std::vector<FakeAdb::Call> FakeAdb::calls() const {
    QFile file(folder_.path() + "/calls");
    std::vector<Call> calls;
    if (!file.open(QIODevice::ReadOnly)) return calls;
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList parts = line.split(' ');
        if (parts.size() >= 2 && parts[0] == "start") {
            Call call;
            call.pid = parts[1].toLongLong();
            call.arguments = SplitBracketedArguments(line.section(' ', 2));
            calls.push_back(call);
        } else if (parts.size() >= 3 && parts[0] == "end") {
            const qint64 pid = parts[1].toLongLong();
            for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
                if (it->pid == pid && !it->ended) {
                    it->ended = true;
                    it->exitCode = parts[2].toInt();
                    break;
                }
            }
        }
    }
    return calls;
}

std::vector<FakeAdb::Call> FakeAdb::callsStartingWith(const QStringList& prefix) const {
    std::vector<Call> matching;
    for (const Call& call : calls()) {
        if (call.arguments.mid(0, prefix.size()) == prefix) matching.push_back(call);
    }
    return matching;
}

std::optional<uint16_t> FakeAdb::mappedPort(const QString& serial, uint16_t devicePort) const {
    std::optional<uint16_t> local;
    const QString device = QString("tcp:%1").arg(devicePort);
    for (const Call& call : callsStartingWith({"-s", serial, "reverse", device})) {
        if (!call.ended || call.exitCode != 0 || call.arguments.size() != 5) continue;
        const QString target = call.arguments[4];
        if (target.startsWith("tcp:")) local = static_cast<uint16_t>(target.mid(4).toUInt());
    }
    return local;
}

std::optional<uint16_t> FakeAdb::waitForMapping(const QString& serial, uint16_t devicePort,
                                                std::chrono::milliseconds timeout) const {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeout.count()) {
        if (auto port = mappedPort(serial, devicePort)) return port;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return mappedPort(serial, devicePort);
}

}  // namespace zucam::test
