#include "devices/driver_install/driver_install.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>

#include "core/system/system_info.h"
#include "core/tether/tq_log.h"

const char kAudioDriverHardwareId[] = "*ZuWaveExtensible";
const char kCameraDriverHardwareId[] = "Root\\TAMRY\\ZuCamera";
const char kRequiredCameraDriverVersion[] = "1.0.1.1";

namespace {

// %1 the tools' folder, %2 the audio driver's "x64" or "x86" folder.
const char kInstallAudio[] =
    "\"%1/Drivers/audio/%2/devcon\" /r install \"%1/Drivers/audio/%2/ZuVirtualAudioDevice.inf\" *ZuWaveExtensible";
const char kFindAudio[] = "\"%1/Drivers/audio/%2/devcon\" find =media *ZuWaveExtensible";
const char kRemoveAudio[] = "\"%1/Drivers/audio/%2/devcon\" remove *ZuWaveExtensible";
// %1 the tools' folder.
const char kInstallCamera[] =
    "\"%1/Drivers/camera/devcon\" install \"%1/Drivers/camera/ZuCamera.inf\" Root\\TAMRY\\ZuCamera";
const char kFindCamera[] = "\"%1/Drivers/camera/devcon\" find = Root\\TAMRY\\ZuCamera";
const char kRemoveCamera[] = "\"%1/Drivers/camera/devcon\" remove Root\\TAMRY\\ZuCamera";
const char kCameraVersion[] = "\"%1/Drivers/camera/devcon\" drivernodes =Camera Root\\TAMRY\\ZuCamera";
// %1 the tools' folder, %2 "32" or "64".
const char kRegisterFilter[] = "\"%1/regsvr32\" /i /s \"%1/Drivers/camera/zu-virtual-camera-dshow%2.dll\"";
const char kUnregisterFilter[] = "\"%1/regsvr32\" /u /s \"%1/Drivers/camera/zu-virtual-camera-dshow%2.dll\"";

QMutex g_folderMutex;  // guards g_folderForTesting
QString g_folderForTesting;

QString audioArchitecture() { return Is64BitWindows() ? QStringLiteral("x64") : QStringLiteral("x86"); }

// Fills the placeholders of a template in one pass, so that neither inserted
// text is searched for placeholders again.
QString fill(const char* text, const QString& second) {
    return QString::fromLatin1(text).arg(driverToolFolder(), second);
}
QString fill(const char* text) { return QString::fromLatin1(text).arg(driverToolFolder()); }

QString outputText(const QByteArray& bytes) { return QString::fromLocal8Bit(bytes); }

// devcon's exit codes: 0 done, 1 done once the machine restarts.
bool devconDone(const DriverToolRun& run) { return run.exitedWith(0) || run.exitedWith(1); }

}  // namespace

QString driverToolFolder() {
    {
        QMutexLocker lock(&g_folderMutex);
        if (!g_folderForTesting.isEmpty()) return g_folderForTesting;
    }
    return QCoreApplication::applicationDirPath();
}

void SetDriverToolFolderForTesting(const QString& folder) {
    QMutexLocker lock(&g_folderMutex);
    g_folderForTesting = folder;
}

bool devconReportsInstalled(const QString& standardOutput) {
    return standardOutput.contains(QLatin1String("Drivers installed successfully"));
}

bool devconReportsDevicePresent(const QString& standardOutput) {
    static const QRegularExpression pattern(QStringLiteral("\\d+ matching device\\(s\\) found"));
    return pattern.match(standardOutput).hasMatch();
}

QString installAudioDriverCommand() { return fill(kInstallAudio, audioArchitecture()); }
QString findAudioDriverCommand() { return fill(kFindAudio, audioArchitecture()); }
QString removeAudioDriverCommand() { return fill(kRemoveAudio, audioArchitecture()); }

QString installCameraDriverCommand() { return Is64BitWindows() ? fill(kInstallCamera) : QString(); }
QString removeCameraDriverCommand() { return Is64BitWindows() ? fill(kRemoveCamera) : QString(); }
QString findCameraDriverCommand() { return Is64BitWindows() ? fill(kFindCamera) : QString(); }
QString cameraDriverVersionCommand() { return Is64BitWindows() ? fill(kCameraVersion) : QString(); }

QString registerCameraFilterCommand(const QString& bits) { return fill(kRegisterFilter, bits); }
QString unregisterCameraFilterCommand(const QString& bits) { return fill(kUnregisterFilter, bits); }
QString registerCameraFilterCommand() { return fill(kRegisterFilter, QStringLiteral("%2")); }
QString unregisterCameraFilterCommand() { return fill(kUnregisterFilter, QStringLiteral("%2")); }

QString devconFailureReason(const QString& standardOutput) {
    static const QString prefix = QStringLiteral("devcon failed:");
    for (const QString& line : standardOutput.split('\n')) {
        const QString trimmed = line.trimmed();
        if (!trimmed.startsWith(prefix)) continue;
        QString reason = trimmed.mid(prefix.size()).trimmed();
        if (reason.endsWith('.')) reason.chop(1);
        if (!reason.isEmpty()) return reason;
    }
    return QString();
}

bool installAudioDriver(int timeoutMs, QString* reason) {
    const DriverToolRun run = RunDriverTool(installAudioDriverCommand(), timeoutMs);
    qDebug() << run.exitCode;
    qDebug() << "out:" << outputText(run.standardOutput);
    qDebug() << "err:" << outputText(run.standardError);
    const QString output = outputText(run.standardOutput);
    const bool installed = devconReportsInstalled(output);
    if (!installed) {
        QString why = devconFailureReason(output);
        if (why.isEmpty() && !run.started) why = QStringLiteral("devcon cannot be started");
        if (why.isEmpty() && run.started && !run.finished) {
            why = QStringLiteral("devcon did not finish within %1 s").arg(timeoutMs / 1000.0);
        }
        if (why.isEmpty() && run.crashed) why = QStringLiteral("devcon ended abnormally");
        LOG_E("audio driver install failed: %s", why.isEmpty() ? "devcon gave no reason" : why.toUtf8().constData());
        if (reason != nullptr) *reason = why;
    } else if (reason != nullptr) {
        reason->clear();
    }
    return installed;
}

bool findAudioDriver(int timeoutMs) {
    const DriverToolRun run = RunDriverTool(findAudioDriverCommand(), timeoutMs);
    return devconReportsDevicePresent(outputText(run.standardOutput));
}

bool removeAudioDriver(int timeoutMs) {
    const DriverToolRun run = RunDriverTool(removeAudioDriverCommand(), timeoutMs);
    qDebug() << "out" << outputText(run.standardOutput);
    qDebug() << "err" << outputText(run.standardError);
    return devconDone(run);
}

bool checkCameraDriver(int timeoutMs) {
    if (!Is64BitWindows()) return false;
    const DriverToolRun run = RunDriverTool(findCameraDriverCommand(), timeoutMs);
    const QString out = outputText(run.standardOutput);
    qDebug() << "out_txt" << out;
    if (!devconReportsDevicePresent(out)) return false;
    const QString version = getCameraDriverInfo(timeoutMs);
    qDebug() << "camera driver version" << version;
    if (version != QLatin1String(kRequiredCameraDriverVersion)) {
        // Waited for: the caller installs the right driver next.
        removeCameraDriver(timeoutMs);
        return false;
    }
    return true;
}

bool removeCameraDriver(int timeoutMs) {
    if (!Is64BitWindows()) return false;
    const DriverToolRun run = RunDriverTool(removeCameraDriverCommand(), timeoutMs);
    qDebug() << "remove camera driver" << run.exitCode << outputText(run.standardOutput);
    return devconDone(run);
}

QString getCameraDriverInfo(int timeoutMs) {
    if (!Is64BitWindows()) return QString();
    const DriverToolRun run = RunDriverTool(cameraDriverVersionCommand(), timeoutMs);
    // Whole lines only, each one ending where the output says: nothing is
    // read past what the tool printed.
    static const QRegularExpression line(QStringLiteral("^\\s*Driver version is (\\S+)\\s*$"),
                                         QRegularExpression::MultilineOption);
    QString version;
    auto matches = line.globalMatch(outputText(run.standardOutput));
    while (matches.hasNext()) version = matches.next().captured(1);
    return version;
}

bool unregisterCameraFilter(int timeoutMs) {
    bool all = true;
    for (const char* bits : {"32", "64"}) {
        const DriverToolRun run = RunDriverTool(unregisterCameraFilterCommand(QLatin1String(bits)), timeoutMs);
        all = run.exitedWith(0) && all;
    }
    return all;
}

bool isServiceExist(const QString& serviceName) {
    if (serviceName != QLatin1String("Apple Mobile Device Service")) return false;
    bool exists = false;
    const QString address = qEnvironmentVariable("USBMUXD_SOCKET_ADDRESS");
    if (address.startsWith(QLatin1String("UNIX:"))) {
        exists = QFileInfo::exists(address.mid(5));
    } else if (!address.isEmpty()) {
        exists = true;  // host:port, reached over TCP
    } else {
        exists = QFileInfo::exists(QStringLiteral("/var/run/usbmuxd"));
    }
    if (exists) LOG_E("registerService error: service [%s] is exist!", serviceName.toUtf8().constData());
    return exists;
}
