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
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>
#include "core/tether/tq_log.h"
#include "core/values/value_qt.h"
#include "resources/resource_bundle.h"
#include "trevane/trevane_module.h"
#include "ui/main-window.h"

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
    connect(this, &SingleApplication::receivedMessage, this, &ZuCam::onReceivedMessage);
    // A secondary instance never enters the event loop, so this never runs there.
    QMetaObject::invokeMethod(this, "Initialize", Qt::QueuedConnection);
}

ZuCam::~ZuCam() {
    // The window stops its producers before its sinks go; then the settings.
    delete mainWindow.data();
    saveConfig();
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
    dpiScale = dpiScaleFactor();
    trevane::RegisterTrevaneLibrary();
    const char* const modules[] = {trevane::kLibraryName};
    LOG_E("----> loaded modules count=%d", tq::LoadModules(modules, 1, true));

    mainWindow = new MainWindow;
    if (!mainWindow) {
        QCoreApplication::exit(1);
        return;
    }
    mainWindow->show();
}

void ZuCam::onReceivedMessage(quint32 instanceId, QByteArray message) {
    qDebug() << "message from instance" << instanceId << message;
    if (!message.contains("show") || !mainWindow) return;
    if (mainWindow->isMinimized()) mainWindow->showNormal();
    mainWindow->show();
    mainWindow->activateWindow();
}

namespace {

const char kProductSite[] = "https://www.zucam.example/";

// The version check's answers as the user sees them, over the main window.
class DialogUpdatePrompter : public UpdatePrompter {
public:
    explicit DialogUpdatePrompter(QWidget* window) : window_(window) {}
    void ShowVersionError() override {
        QMessageBox::information(window_, QObject::tr("提示"), QObject::tr("版本错误"), QObject::tr("确定"));
    }
    void ShowCheckFailed() override {
        QMessageBox::information(window_, QObject::tr("提示"), QObject::tr("检查更新失败，请检查网络后重试"),
                                 QObject::tr("确定"));
    }
    void ShowUpToDate(const QString& appVersion) override {
        const QString text = QObject::tr("当前版本 %1\n请上官网查看最新版本 ").arg(appVersion) + QUrl(kProductSite).host();
        const int chosen = QMessageBox::information(window_, "提示", text, QObject::tr("去官网看看"), QObject::tr("确定"),
                                                    QString(), 0, 1);
        if (chosen == 0) QDesktopServices::openUrl(QUrl(kProductSite));
    }
    int OfferUpdate(const QString& appVersion, const QString& newVersion, const QString& brief) override {
        NewVersionUpdateDialog dialog(appVersion, newVersion, brief, window_);
        return dialog.exec();
    }
    void StartDownload(const QString& url) override { (new DownloadDialog(url, nullptr))->show(); }

private:
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
