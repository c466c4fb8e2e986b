#include "zucam.h"

#include <QDebug>
#include <QDir>
#include <QHostInfo>

#include "core/qss/qss_manager.h"
#include "core/tether/tq_config.h"
#include "download-dialog.h"
#include "new-version-update-dialog.h"
#include "version_check.h"
#include <QDateTime>
#include <QMessageBox>
#include <QUrl>
#include "core/tether/tq_log.h"
#include "core/values/value_qt.h"
#include "resources/resource_bundle.h"
#include "trevane/trevane_module.h"
#include "qt_translations.h"
#include "ui/main-window.h"
#include "zuc_shaders.h"
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QThreadPool>
#include <cstdio>
#include "devices/audio/virtaul_audio_device_manager.h"
#include "devices/driver_install/driver_install.h"
#include "devices/driver_install/file_holders.h"
#include "ui/dialog/message-box-dialog.h"
#include "ui/form-dialogs.h"
#include "ui/main-form.h"
#include "vexo/gs_device.h"
#include "ui/dialog/desktop_open.h"

namespace {

const char kDefaultCameraName[] = "Zu Camera";

// A stored text, decoded as UTF-8; an empty one falls back to the default.
QString loadText(const char* key, const QString& defaultText) {
    const std::string stored = tq::GetConfig<std::string>(g_cd->config, key, defaultText.toStdString(), true);
    const QString text = QString::fromUtf8(stored.c_str(), static_cast<int>(stored.size()));
    return text.isEmpty() ? defaultText : text;
}

void mirrorToUiValue(const char* key, const QString& text) {
    tq::SetUiValue(g_cd->uiValues, key, tq::ValueQt(text));
}

}  // namespace

ZuCam::ZuCam(int& argc, char** argv) : SingleApplicationWrapper(argc, argv) {
    InitResourceBundle();
    InstallQtTranslations(this);
    connect(this, &SingleApplication::receivedMessage, this, &ZuCam::onReceivedMessage);
    // A secondary instance never enters the event loop, so this never runs there.
    QMetaObject::invokeMethod(this, "Initialize", Qt::QueuedConnection);
}

ZuCam::~ZuCam() {
    // The microphone first: its output stream stops before anything it reads
    // from or reports to goes. Then the window, which stops its producers
    // before its sinks go; then the settings (openVmic is kept as it was).
    audioDeviceManager.reset();
    delete mainWindow.data();
    saveConfig();
    // Work still on the shared pool (a version query in flight, a screenshot
    // being saved) ends here, while Qt's network and host lookups still run:
    // the base destructor also waits for the pool, but only after it has
    // torn those down, and a query then hangs until its own time limit.
    QThreadPool::globalInstance()->waitForDone();
}

ZuCam* zucamApp() {
    return qobject_cast<ZuCam*>(QCoreApplication::instance());
}

QString ZuCam::defaultDeviceName() {
    return QString("ZuCam[%1]").arg(QHostInfo::localHostName());
}

void ZuCam::loadConfig() {
    saveDir = loadText("cfg_save_dir", QDir::homePath());
    deviceName = loadText("cfg_device_name", defaultDeviceName());
    mirrorToUiValue("zucam_device_name", deviceName);
    cameraName = loadText("cfg_camera_name", kDefaultCameraName);
    mirrorToUiValue("zucam_camera_name", cameraName);

    tq::ConfigStore* const config = g_cd->config;
    firstOpen = tq::GetConfig<bool>(config, "cfg_first_open", true, true);
    shotOpenDir = tq::GetConfig<bool>(config, "cfg_shot_opendir", false, true);
    windowStaysOnTop = tq::GetConfig<bool>(config, "cfg_window_stays_on_top", false, true);
    openVmic = tq::GetConfig<bool>(config, "cfg_open_vmic", false, true);
    playAudio = tq::GetConfig<bool>(config, "cfg_play_audio", false, true);
    useHardwareRender = tq::GetConfig<bool>(config, "cfg_use_hardware_render", false, true);
    configLoaded_ = true;
    publishHubState();
}

void ZuCam::saveConfig() {
    if (!configLoaded_) return;
    tq::ConfigStore* const config = g_cd->config;
    tq::SetConfigText(config, "cfg_save_dir", saveDir.toUtf8().constData());
    tq::SetConfigText(config, "cfg_device_name", deviceName.toUtf8().constData());
    tq::SetConfigText(config, "cfg_camera_name", cameraName.toUtf8().constData());
    tq::SetConfig<bool>(config, "cfg_first_open", firstOpen);
    tq::SetConfig<bool>(config, "cfg_shot_opendir", shotOpenDir);
    tq::SetConfig<bool>(config, "cfg_window_stays_on_top", windowStaysOnTop);
    tq::SetConfig<bool>(config, "cfg_open_vmic", openVmic);
    tq::SetConfig<bool>(config, "cfg_use_hardware_render", useHardwareRender);
    // "cfg_play_audio" is read only: it is changed by editing the store.
    if (!config->flush()) LOG_E("saving the settings failed: %s", config->filePath().c_str());
}

void ZuCam::setDeviceName(const QString& name) {
    deviceName = name;
    mirrorToUiValue("zucam_device_name", deviceName);
    // The main window's own operation, or one of that name on another window
    // kind (an invokable "SetDeviceName(QString)").
    if (auto* window = qobject_cast<MainWindow*>(mainWindow.data())) {
        window->SetDeviceName(name);
    } else if (mainWindow && mainWindow->metaObject()->indexOfMethod("SetDeviceName(QString)") >= 0) {
        QMetaObject::invokeMethod(mainWindow.data(), "SetDeviceName", Qt::DirectConnection, Q_ARG(QString, name));
    }
}

void ZuCam::setSaveDir(const QString& folder) {
    saveDir = folder;
    publishHubState();
}

void ZuCam::setVideoTransport(bool on) {
    videoTransport = on;
    publishHubState();
    if (mainWindow && mainWindow->metaObject()->indexOfMethod("UpdateTransportBtnState(bool)") >= 0) {
        QMetaObject::invokeMethod(mainWindow.data(), "UpdateTransportBtnState", Qt::DirectConnection, Q_ARG(bool, on));
    }
}

void ZuCam::publishHubState() {
    std::lock_guard<std::mutex> lock(hubStateMutex_);
    hubState_.saveDir = saveDir;
    hubState_.videoTransport = videoTransport;
    hubState_.openVmic = openVmic;
    hubState_.audioDriverInstalled = audioDriverInstalled;
}

QString ZuCam::RecordingFolder() const {
    std::lock_guard<std::mutex> lock(hubStateMutex_);
    return hubState_.saveDir;
}

bool ZuCam::VideoTransportOn() const {
    std::lock_guard<std::mutex> lock(hubStateMutex_);
    return hubState_.videoTransport;
}

bool ZuCam::VirtualMicOpen() const {
    std::lock_guard<std::mutex> lock(hubStateMutex_);
    return hubState_.openVmic;
}

bool ZuCam::AudioDriverInstalled() const {
    std::lock_guard<std::mutex> lock(hubStateMutex_);
    return hubState_.audioDriverInstalled;
}

void ZuCam::updateVolume(int level) {
    // Queued to the GUI thread, where the window pointer may be read; the
    // call is dropped when the application object is gone.
    QMetaObject::invokeMethod(
        this,
        [this, level] {
            if (mainWindow) QMetaObject::invokeMethod(mainWindow, "UpdateVolumn", Qt::AutoConnection, Q_ARG(int, level));
        },
        Qt::QueuedConnection);
}

void ZuCam::Initialize() {
    loadConfig();
    LOG_I("settings loaded from %s", g_cd->config->filePath().c_str());
    registerShaders();
    dpiScale = dpiScaleFactor();
    trevane::RegisterTrevaneLibrary();
    const char* const modules[] = {trevane::kLibraryName};
    LOG_E("----> loaded modules count=%d", tq::LoadModules(modules, 1, true));

    bool micOpened = true;
    if (openVmic) micOpened = openVirtualMic(false);
    audioDriverInstalled = findAudioDriver();
    publishHubState();

    mainWindow = new MainWindow;
    if (!mainWindow) {
        QCoreApplication::exit(1);
        return;
    }
    setWindowStaysOnTop(windowStaysOnTop);
    mainWindow->show();
    checkAppleMobileDeviceSupport(false, false);
    setCameraName(cameraName);
    if (!micOpened) {
        MessageBoxDialog box(mainWindow);
        box.SetMessage(tr("无法打开虚拟麦克风设备！"));
        box.SetButtons(1, tr("确定"), QString());
        box.exec();
    }
    requestVersionCheck(false);
    std::printf("ZuCam started\n");
    std::fflush(stdout);
}

void ZuCam::onReceivedMessage(quint32 instanceId, QByteArray message) {
    qDebug() << "message from instance" << instanceId << message;
    if (!message.contains("show") || !mainWindow) return;
    if (mainWindow->isMinimized()) mainWindow->showNormal();
    mainWindow->show();
    mainWindow->activateWindow();
    std::printf("ZuCam raised its window\n");
    std::fflush(stdout);
}

namespace {

const char kProductSite[] = "https://www.zucam.example/";

// The version check's answers as the user sees them, over the main window.
class DialogUpdatePrompter : public UpdatePrompter {
public:
    explicit DialogUpdatePrompter(QWidget* window) : window_(window) {}
    void ShowVersionError() override { showFailure(QObject::tr("版本错误")); }
    void ShowCheckFailed() override { showFailure(QObject::tr("检查更新失败，请检查网络后重试")); }
    void ShowUpToDate(const QString& appVersion) override {
        const QString text = QObject::tr("当前版本 %1\n请上官网查看最新版本 ").arg(appVersion) + QUrl(kProductSite).host();
        const int chosen = QMessageBox::information(window_, "提示", text, QObject::tr("去官网看看"), QObject::tr("确定"),
                                                    QString(), 0, 1);
        if (chosen == 0) OpenWithDesktop(window_, QUrl(kProductSite));
    }
    int OfferUpdate(const QString& appVersion, const QString& newVersion, const QString& brief) override {
        NewVersionUpdateDialog dialog(appVersion, newVersion, brief, window_);
        return dialog.exec();
    }
    void StartDownload(const QString& url) override { (new DownloadDialog(url, nullptr))->show(); }

private:
    // The program's own message box, as every other message wears.
    void showFailure(const QString& text) {
        MessageBoxDialog box(window_);
        box.SetMessage(text);
        box.SetButtons(1, QObject::tr("确定"), QString());
        box.exec();
    }

    QWidget* window_;
};

}  // namespace

void ZuCam::requestVersionCheck(bool manual) {
    QPointer<ZuCam> application(this);
    g_cd->call("Trevane", 311, tq::Value(), [application, manual](const tq::Value& reply) {
        if (application) application->onVersionCheckReply(reply, manual);
    });
}

void ZuCam::onVersionCheckReply(const tq::Value& reply, bool manual) {
    DialogUpdatePrompter prompter(mainWindow);
    VersionCheck(g_cd->config, &prompter, [] { return QDateTime::currentMSecsSinceEpoch() / 1000; })
        .HandleReply(reply, manual);
}

bool ZuCam::parseVersion(const std::string& text, uint64_t* number) { return ParseVersion(text, number); }

// ---------------------------------------------------------------------------
// Application services.

namespace {

// The registry value and the two keys of the camera filter's instance, in
// the 64-bit and the 32-bit view ({860BB310-...} is DirectShow's video-input
// category).
const QString kFriendlyName = QStringLiteral("FriendlyName");
const QString kCameraKey64 = QStringLiteral(
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{860BB310-5D01-11d0-BD3B-00A0C911CE86}\\Instance\\"
    "{E34BCBC6-28E7-401D-9ECF-0AA9665C5245}");
const QString kCameraKey32 = QStringLiteral(
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{860BB310-5D01-11d0-BD3B-00A0C911CE86}\\Instance\\"
    "{E34BCBC6-28E7-401D-9ECF-0AA9665C5245}");

QString g_cameraRegistryFileForTesting;
QString g_platformProfileFile = QStringLiteral("/sys/firmware/acpi/platform_profile");
QString g_daemonStateFile = QStringLiteral("/var/lib/power-profiles-daemon/state.ini");

// Offers of the iOS USB service still allowed in this run.
int g_iosOfferBudget = 1;

std::function<void(const QString&, const QString&)> g_uninstallWarningHook;


QByteArray readSmallFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QByteArray();
    return file.read(4096);
}

void showMessage(QWidget* parent, const QString& text) {
    MessageBoxDialog box(parent);
    box.SetMessage(text);
    box.SetButtons(1, QObject::tr("确定"), QString());
    box.exec();
}

}  // namespace

QString cameraRegistryFile() {
    return g_cameraRegistryFileForTesting.isEmpty() ? QStringLiteral("/etc/ZuCam/registry.ini")
                                                    : g_cameraRegistryFileForTesting;
}

void SetCameraRegistryFileForTesting(const QString& path) { g_cameraRegistryFileForTesting = path; }

void SetPowerProfileFilesForTesting(const QString& platformProfile, const QString& daemonState) {
    g_platformProfileFile =
        platformProfile.isEmpty() ? QStringLiteral("/sys/firmware/acpi/platform_profile") : platformProfile;
    g_daemonStateFile =
        daemonState.isEmpty() ? QStringLiteral("/var/lib/power-profiles-daemon/state.ini") : daemonState;
}

void ZuCam::setCameraName(const QString& name) {
    if (QFileInfo::exists(cameraRegistryFile())) {
        QSettings registry(cameraRegistryFile(), QSettings::IniFormat);
        for (const QString& key : {kCameraKey64, kCameraKey32}) {
            registry.beginGroup(QString(key).replace('\\', '/'));
            if (registry.childKeys().contains(kFriendlyName, Qt::CaseSensitive)) registry.setValue(kFriendlyName, name);
            registry.endGroup();
        }
        registry.sync();
    }
    cameraName = name;
    mirrorToUiValue("zucam_camera_name", cameraName);
}

void ZuCam::setWindowStaysOnTop(bool on) {
    windowStaysOnTop = on;
    if (!mainWindow) return;
    mainWindow->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    mainWindow->show();
}

void ZuCam::updateIosServiceTip() {
    if (!mainWindow) return;
    if (auto* window = qobject_cast<MainWindow*>(mainWindow.data())) {
        window->UpdateIosServiceTip();
    } else if (mainWindow->metaObject()->indexOfMethod("UpdateIosServiceTip()") >= 0) {
        QMetaObject::invokeMethod(mainWindow.data(), "UpdateIosServiceTip", Qt::DirectConnection);
    } else if (MainForm* form = mainWindow->findChild<MainForm*>()) {
        form->UpdateIosServiceTip();
    }
}

void ZuCam::checkAppleMobileDeviceSupport(bool showDialog, bool rearm) {
    if (rearm) g_iosOfferBudget = 1;
    LOG_D("checkAppleMobileDeviceSupport");
    appleMobileDeviceInstalled = isServiceExist(QStringLiteral("Apple Mobile Device Service"));
    LOG_D("installed:%d\n", appleMobileDeviceInstalled ? 1 : 0);
    updateIosServiceTip();
    if (appleMobileDeviceInstalled) {
        std::printf("checkAppleMobileDeviceSupport installed!\n");
        std::fflush(stdout);
        return;
    }
    std::printf("checkAppleMobileDeviceSupport not installed!\n");
    std::fflush(stdout);
    if (showDialog && g_iosOfferBudget > 0) {
        --g_iosOfferBudget;
        form_dialogs::RunIosUsbServerDialog(mainWindow.data());
    }
}

bool ZuCam::sourcesListVirtualMic(const QString& pactlSources) {
    static const QString kMic = QStringLiteral("Zu Virtual Audio Device");
    // One block per source, opened by "Source #<n>"; its fields are
    // "<Key>: <value>" lines.
    struct Source {
        QString name, description, monitorOf;
    };
    std::vector<Source> sources;
    for (const QString& raw : pactlSources.split('\n')) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1String("Source #"))) {
            sources.emplace_back();
            continue;
        }
        if (sources.empty()) continue;
        Source& source = sources.back();
        if (line.startsWith(QLatin1String("Name: "))) source.name = line.mid(6);
        if (line.startsWith(QLatin1String("Description: "))) source.description = line.mid(13);
        if (line.startsWith(QLatin1String("Monitor of Sink: "))) source.monitorOf = line.mid(17);
    }
    for (const Source& source : sources) {
        // A sink's monitor is no recording device.
        if (!source.monitorOf.isEmpty() && source.monitorOf != QLatin1String("n/a")) continue;
        qDebug() << "Microphone Device Friendly Name: " << source.description;
        if (source.description.contains(kMic, Qt::CaseSensitive) || source.name.contains(kMic, Qt::CaseSensitive)) {
            return true;
        }
    }
    return false;
}

bool ZuCam::checkSystemMicForbid() {
    QProcess pactl;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C");  // the field names in English
    pactl.setProcessEnvironment(environment);
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sources")}, QIODevice::ReadOnly);
    if (!pactl.waitForStarted(3000)) {
        qDebug() << "pactl cannot be started";
        LOG_E("[check system mic forbid] pactl cannot be started");
        return false;
    }
    if (!pactl.waitForFinished(5000)) {
        pactl.kill();
        pactl.waitForFinished(1000);
        qDebug() << "enumerate audio endpoints Failed";
        LOG_E("[check system mic forbid] enumerate audio endpoints Failed (no answer)");
        return false;
    }
    if (pactl.exitStatus() != QProcess::NormalExit || pactl.exitCode() != 0) {
        qDebug() << "enumerate audio endpoints Failed";
        LOG_E("[check system mic forbid] enumerate audio endpoints Failed");
        return false;
    }
    return sourcesListVirtualMic(QString::fromUtf8(pactl.readAllStandardOutput()));
}

bool ZuCam::openVirtualMic(bool ask) {
    audioDriverInstalled = findAudioDriver();
    if (!audioDriverInstalled) {
        if (!ask) {
            openVmic = false;
            publishHubState();
            return false;
        }
        MessageBoxDialog question(mainWindow);
        question.SetMessage(
            tr("未安装虚拟麦克风驱动，需要先安装驱动才可使用，是否安装？\n安装后可能需要重启电脑才能正常使用。"));
        question.SetButtons(2, tr("确定"), tr("取消"));
        if (question.exec() != 1) {
            openVmic = false;
            publishHubState();
            return false;
        }
        QString reason;
        audioDriverInstalled = installAudioDriver(kDriverToolTimeoutMs, &reason);
        if (!audioDriverInstalled) {
            openVmic = false;
            publishHubState();
            // The tool's own words on why, in the language it speaks.
            showMessage(mainWindow, reason.isEmpty() ? tr("虚拟麦克风驱动安装失败")
                                                     : tr("虚拟麦克风驱动安装失败") + "\n" + reason);
            return false;
        }
    }
    // The driver's link takes one writer: the old manager goes first.
    audioDeviceManager.reset();
    VirtaulAudioDeviceManager::Options options;
    options.playThrough = playAudio;
    QPointer<ZuCam> application(this);
    options.levelReport = [application](int level) {
        if (application) application->updateVolume(level);
    };
    audioDeviceManager = VirtaulAudioDeviceManager::Create(std::move(options));
    openVmic = audioDeviceManager != nullptr;
    publishHubState();
    if (openVmic) return true;
    if (ask) showMessage(mainWindow, tr("无法打开虚拟麦克风设备！"));
    return false;
}

void ZuCam::closeVirtualMic() {
    audioDeviceManager.reset();
    openVmic = false;
    publishHubState();
}

std::string ZuCam::readResourceFile(const QString& path) { return ReadWholeResource(path); }

void ZuCam::registerShaders() {
    // No device: nothing to register with (RegisterZucShaders returns).
    RegisterZucShaders(GsDevice::DefaultDevice(), &ZuCam::readResourceFile);
}

bool ZuCam::isPowerSaverScheme() {
    if (QString::fromLatin1(readSmallFile(g_platformProfileFile)).trimmed() == QLatin1String("low-power")) return true;
    const QList<QByteArray> lines = readSmallFile(g_daemonStateFile).split('\n');
    for (const QByteArray& line : lines) {
        if (line.trimmed() == "Profile=power-saver") return true;
    }
    return false;
}

void setUninstallWarningHook(std::function<void(const QString& title, const QString& text)> hook) {
    g_uninstallWarningHook = std::move(hook);
}

void uninstallDrivers() {
    // Each run is waited for, so the filters are unregistered before the
    // holders are looked for.
    removeAudioDriver();
    unregisterCameraFilter();
    removeCameraDriver();

    const QString folder = driverToolFolder();
    const QStringList holders = programsHoldingFiles({folder + "/Drivers/camera/zu-virtual-camera-dshow32.dll",
                                                      folder + "/Drivers/camera/zu-virtual-camera-dshow64.dll"});
    if (holders.isEmpty()) return;
    QString text = QObject::tr("由于以下软件占用驱动文件，软件将不能完全卸载");
    for (int i = 0; i < holders.size(); ++i) text += QString("\n%1. %2").arg(QString::number(i + 1), holders[i]);
    const QString title = QObject::tr("警告");
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    if (g_uninstallWarningHook) {
        g_uninstallWarningHook(title, text);
        return;
    }
    // Without a window system (a run with no display) standard error is all.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return;
    QMessageBox::warning(nullptr, title, text, QMessageBox::Ok);
}
