#include "support/fake_driver_tools/fake_driver_tools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "support/bracketed_arguments.h"

namespace zucam::test {

namespace {

constexpr const char kVariable[] = "ZUCAM_FAKE_DRIVER_TOOLS_DIR";

// The script body; "tool=<name>" is put before it.
constexpr const char kScript[] = R"SH(
dir="${ZUCAM_FAKE_DRIVER_TOOLS_DIR:?ZUCAM_FAKE_DRIVER_TOOLS_DIR is not set}"
call=""
for argument in "$@"; do call="$call[$argument]"; done
printf 'start %s %s [%s]%s\n' "$$" "$tool" "$0" "$call" >> "$dir/calls"
verb=""
for argument in "$@"; do
  if [ "$argument" != "/r" ]; then verb="${argument#/}"; break; fi
done
key="$tool.$verb"
if [ -f "$dir/$key.delay" ]; then sleep "$(cat "$dir/$key.delay")"; fi
if [ -f "$dir/$key.out" ]; then cat "$dir/$key.out"; fi
if [ -f "$dir/$key.err" ]; then cat "$dir/$key.err" >&2; fi
code=0
if [ -f "$dir/$key.exit" ]; then code=$(cat "$dir/$key.exit"); fi
printf 'end %s %s\n' "$$" "$code" >> "$dir/calls"
exit "$code"
)SH";

const char* const kTools[][2] = {
    {"audio-x64", "Drivers/audio/x64/devcon"},
    {"audio-x86", "Drivers/audio/x86/devcon"},
    {"camera", "Drivers/camera/devcon"},
    {"regsvr32", "regsvr32"},
};

}  // namespace

FakeDriverTools::FakeDriverTools(const QString& folderName)
    : folder_(folderName.isEmpty() ? QDir::tempPath() + "/zucam-tools-XXXXXX" : QDir::tempPath() + "/" + folderName) {
    hadVariable_ = qEnvironmentVariableIsSet(kVariable);
    savedVariable_ = qgetenv(kVariable);
    qputenv(kVariable, data_.path().toLocal8Bit());
    write("calls", QByteArray());
    for (const auto& tool : kTools) {
        const QString path = folder_.path() + "/" + tool[1];
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
        file.write(QByteArray("#!/bin/sh\ntool=") + tool[0] + "\n" + kScript);
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                            QFileDevice::ReadGroup | QFileDevice::ExeGroup);
    }
}

FakeDriverTools::~FakeDriverTools() {
    if (hadVariable_) {
        qputenv(kVariable, savedVariable_);
    } else {
        qunsetenv(kVariable);
    }
}

QString FakeDriverTools::toolPath(const QString& tool) const {
    for (const auto& entry : kTools) {
        if (tool == entry[0]) return folder_.path() + "/" + entry[1];
    }
    qFatal("no driver tool %s", qPrintable(tool));
    return QString();
}

void FakeDriverTools::write(const QString& name, const QByteArray& bytes) const {
    // Whole files only: a run that reads meanwhile sees the old or the new one.
    const QString path = data_.path() + "/" + name;
    QFile file(path + ".tmp");
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) qFatal("cannot write %s", qPrintable(path));
    file.close();
    QFile::remove(path);
    QFile::rename(path + ".tmp", path);
}

void FakeDriverTools::setOutput(const QString& tool, const QString& verb, const QByteArray& text) {
    write(tool + "." + verb + ".out", text);
}
void FakeDriverTools::setError(const QString& tool, const QString& verb, const QByteArray& text) {
    write(tool + "." + verb + ".err", text);
}
void FakeDriverTools::setExit(const QString& tool, const QString& verb, int code) {
    write(tool + "." + verb + ".exit", QByteArray::number(code));
}
void FakeDriverTools::setDelay(const QString& tool, const QString& verb, double seconds) {
    write(tool + "." + verb + ".delay", QByteArray::number(seconds, 'f', 3));
}
void FakeDriverTools::remove(const QString& tool) { QFile::remove(toolPath(tool)); }

std::vector<FakeDriverTools::Call> FakeDriverTools::calls() const {
    QFile file(data_.path() + "/calls");
    std::vector<Call> calls;
    std::vector<QString> pids;
    if (!file.open(QIODevice::ReadOnly)) return calls;
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList parts = line.split(' ');
        if (parts.size() >= 4 && parts[0] == "start") {
            Call call;
            call.tool = parts[2];
            call.arguments = SplitBracketedArguments(line.section(' ', 3));
            if (!call.arguments.isEmpty()) call.program = call.arguments.takeFirst();
            calls.push_back(call);
            pids.push_back(parts[1]);
        } else if (parts.size() >= 3 && parts[0] == "end") {
            for (size_t i = calls.size(); i-- > 0;) {
                if (pids[i] == parts[1] && !calls[i].ended) {
                    calls[i].ended = true;
                    calls[i].exitCode = parts[2].toInt();
                    break;
                }
            }
        }
    }
    return calls;
}

QStringList FakeDriverTools::callsOf(const QString& tool) const {
    QStringList runs;
    for (const Call& call : calls()) {
        if (call.tool != tool) continue;
        QString text;
        for (const QString& argument : call.arguments) text += "[" + argument + "]";
        runs << text;
    }
    return runs;
}

QByteArray FakeDriverTools::DevicesFound(int count) {
    return QByteArray("ROOT\\MEDIA\\0000                                          : Zu Virtual Audio Device\n") +
           QByteArray::number(count) + " matching device(s) found.\r\n";
}
QByteArray FakeDriverTools::NoDevicesFound() { return "No matching devices found.\r\n"; }
QByteArray FakeDriverTools::InstalledSuccessfully() {
    return "Device node created. Install is complete when drivers are installed...\r\n"
           "Updating drivers for *ZuWaveExtensible from ZuVirtualAudioDevice.inf.\r\n"
           "Drivers installed successfully.\r\n";
}

}  // namespace zucam::test
