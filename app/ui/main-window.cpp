#include "ui/main-window.h"

#include <QAction>
#include <QDebug>
#include <QEvent>
#include <QMenu>
#include <QTimer>
#include <QVariantList>
#include <utility>
#include <vector>

#include "core/qss/qss_manager.h"
#include "core/tether/tq.h"
#include "core/tether/tq_log.h"
#include "devices/audio/virtual_mic_audio_cache.h"
#include "devices/camera_queue/camera_raw_writer.h"
#include "devices/camera_queue/shared_memory_camera_queue.h"
#include "devices/driver_sink/stream_video_sink_driver.h"
#include "devices/driver_sink/v4l2_camera_driver_port.h"
#include "hide_vexo_render_dialog.h"
#include "ref_counted_object.h"
#include "stream/audio_sink/stream_audio_sink_cache.h"
#include "stream/stream_manager.h"
#include "stream/video_sink/stream_video_sink_cache_impl.h"
#include "stream/video_sink/stream_video_sink_sw_impl.h"
#include "ui/dialog/dialog_frame.h"
#include "ui/main-form.h"
#include "ui/menu-state-form.h"
#include "ui_main-window.h"
#include "vexo/gs_device.h"
#include "zuc_camera_video_source.h"
#include "zucam.h"

namespace {

double WindowScale() {
    const ZuCam* app = zucamApp();
    return app != nullptr ? app->dpiScale : applicationDpiScale();
}

int MicLevelForSwitch() {
    const ZuCam* app = zucamApp();
    return app != nullptr && app->openVmic ? 0 : -1;
}

// A phone's name as the window shows it: one line of at most
// MainForm::kMaxNameLength characters (line breaks and other control
// characters become spaces; the labels show it as plain text).
QString DisplayName(const QString& name) {
    QString text = name.left(MainForm::kMaxNameLength);
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
            c = QLatin1Char(' ');
        }
    }
    return text;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : MainWindow(parent, Outputs()) {}

MainWindow::MainWindow(QWidget* parent, Outputs outputs)
    : QMainWindow(parent), ui(std::make_unique<Ui_MainWindow>()), outputs_(std::move(outputs)) {
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint);
    GetSuspendWidget();  // hidden until the floating mode
    (new QssManager(this))->loadQss(":/qss/main-window.qss");
    setWindowTitle(QString::fromUtf8("Zu虚拟摄像头"));
    const double s = WindowScale();
    resize(static_cast<int>(900 * s), static_cast<int>(634 * s));
    const int titleHeight = static_cast<int>(66 * s);
    ui->widget_title->setFixedHeight(titleHeight);

    cameraRawWriter = std::make_unique<CameraRawWriter>(
        outputs_.cameraQueueName.empty() ? std::string(SharedMemoryCameraQueue::kDefaultName) : outputs_.cameraQueueName);
    screenshotCache = StreamVideoSinkCacheImpl::Create(1);
    recorderCache = StreamVideoSinkCacheImpl::Create(2);
    screenshotCache->enabled = true;
    recorderCache->enabled = true;
    driverSink = std::make_unique<StreamVideoSinkDriver>(
        outputs_.makeDriverPort ? outputs_.makeDriverPort() : std::make_unique<V4l2CameraDriverPort>());
    frameProvider = StreamVideoSinkSwImpl::Create();
    frameProvider->enabled = true;

    InitUi();
    connect(mainForm(), &MainForm::IpCopyToClipboard, this,
            [this] { ShowTrayMessage(QString::fromUtf8("ip地址已复制到剪切板"), 1000); });
    InitTray();

    QVariantList headerButtons;
    for (QObject* button : {static_cast<QObject*>(ui->pushButton_main_max), static_cast<QObject*>(ui->pushButton_main_min),
                            static_cast<QObject*>(ui->pushButton_main_close), static_cast<QObject*>(ui->pushButton_main_hide),
                            static_cast<QObject*>(ui->pushButton_helpinfo)}) {
        headerButtons << QVariant::fromValue(button);
    }
    setProperty("header_btns", headerButtons);
    setProperty("header_visible", false);
    setProperty("header_height", titleHeight);
    new FramelessHelper(this, this);
    installEventFilter(this);

    QTimer::singleShot(500, this, [this] { menuForm()->ShowGuidWidget(); });
    UpdateVolumn(MicLevelForSwitch());
    savedGeometry = saveGeometry();
    qDebug() << "[检测电源计划]";
    if (ZuCam::isPowerSaverScheme()) {
        LOG_E("[Current Power Scheme]:GUID_MAX_POWER_SAVINGS");
        ShowTrayMessage(QString::fromUtf8("检测到电脑处于节能模式，可能会影响画面流畅度，建议调整为平衡模式或高性能模式"), 3000);
    }
    InitStream();
    setupWindowModes();
}

MainWindow::~MainWindow() {
    // Screenshots read the screenshot cache on the thread pool.
    WaitForScreenShots();
    // Producers stop before any sink goes: first the composition (its output
    // pushes to every sink of the render list), then the hubs (their decoders
    // push to the frame provider, their recorders read the recorder cache).
    ReleaseRenderScene();
    delete renderHost.data();
    if (videoSource != nullptr) {
        videoSource->Release();
        videoSource = nullptr;
    }
    streamManager.reset();
    usbManager.reset();
    ui.reset();
    delete trayIcon.data();
    frameProvider.reset();
    recorderCache.reset();
    screenshotCache.reset();
    driverSink.reset();
    cameraRawWriter.reset();
}

MainForm* MainWindow::mainForm() const { return ui != nullptr ? ui->widget_main : nullptr; }
MenuStateForm* MainWindow::menuForm() const { return ui != nullptr ? ui->widget_menu : nullptr; }
HideVexoRenderDialog* MainWindow::renderHostDialog() const { return renderHost.data(); }

void MainWindow::InitUi() {
    renderHost = new HideVexoRenderDialog(nullptr);
    renderHost->hide();

    tq::Interface* const cd = g_cd;
    if (cd != nullptr) {
        const std::string title = cd->uiValues->get("app_title", tq::Value("")).toStdString();
        ui->label_main_title->setText(QString::fromUtf8(title.c_str(), static_cast<int>(title.size())));
        ui->label_main_version->setText(QString("\nV%1").arg(QString::fromUtf8(cd->appInfo->version())));
    }

    ui->pushButton_main_hide->setEnabled(false);
    ui->pushButton_main_max->setCheckable(true);
    ui->pushButton_helpinfo->setCursor(Qt::PointingHandCursor);

    connect(menuForm(), &MenuStateForm::ScreenShot, this, &MainWindow::ScreenShot);
    connect(menuForm(), &MenuStateForm::StartRecord, this, &MainWindow::StartRecord);
    connect(menuForm(), &MenuStateForm::StopRecord, this, &MainWindow::StopRecord);
    connect(mainForm(), &MainForm::SetStreamChannel, this, &MainWindow::SetStreamChannel);
}

void MainWindow::InitStream() {
    const std::vector<StreamAudioSink*> audioSinks{GetVirtualMicAudioCache()};

    std::vector<StreamVideoSink*> renderSinks = mainForm()->GetPreviewSinks();
    renderSinks.push_back(cameraRawWriter->renderDevice.get());
    renderSinks.push_back(screenshotCache.get());
    renderSinks.push_back(driverSink.get());
    renderSinks.push_back(recorderCache.get());
    renderHost->SetSinks(renderSinks);

    const std::vector<StreamVideoSink*> videoSinks{frameProvider.get()};
    ZuCam* const app = zucamApp();
    const QString deviceName = app != nullptr ? app->deviceName : QString();

    connect(mainForm(), &MainForm::ConnecUsbDevice, this, [this](const QString& serial) {
        if (streamManager) streamManager->ConnectDevice(serial);
    });

    streamManager = std::make_unique<StreamManager>(audioSinks, videoSinks, recorderCache.get(), app);
    streamManager->SetDeviceName(deviceName);
    ConnectHub(streamManager.get(), true);
    StartFirstHub(kStreamTransportWifi);

    usbManager = std::make_unique<StreamManager>(audioSinks, videoSinks, recorderCache.get(), app);
    usbManager->SetDeviceName(deviceName);
    ConnectHub(usbManager.get(), false);
    usbManager->CloseManager();

    mainForm()->ShowState(MainForm::kWifiWaiting);
}

void MainWindow::ConnectHub(StreamManager* hub, bool first) {
    // Every connection is automatic: the hub lives on its own thread, so its
    // signals arrive queued, in the order the hub sent them.
    if (first) {
        connect(hub, &StreamManager::ShowLocalIpAddr, mainForm(), &MainForm::SetIpAddress);
        connect(hub, &StreamManager::UsbDeviceList, mainForm(), &MainForm::UpdateUsbDeviceList);
        connect(hub, &StreamManager::Error, mainForm(), &MainForm::OnUsbConnectError);
    }
    connect(hub, &StreamManager::OnNewConnection, this,
            [this, hub](const QString& name, int frameRate, int width, int height) {
                OnHubNewConnection(hub, name, frameRate, width, height);
            });
    connect(hub, &StreamManager::OnDisconnected, this, [this, hub] { OnHubDisconnected(hub); });
    // Both hubs: an Android phone may announce its leaving as well.
    connect(hub, &StreamManager::OnDisconnectedDelay, this, [this, hub] { OnHubDisconnectedDelay(hub); });
    connect(hub, &StreamManager::OnVideoArrive, this,
            [this, hub](int width, int height) { OnHubVideoArrive(hub, width, height); });
    connect(hub, &StreamManager::OnVideoResolutionChanged, this,
            [this, hub](int width, int height) { OnHubResolutionChanged(hub, width, height); });

    connect(hub, &StreamManager::RecordStartSuccess, this, &MainWindow::OnRecordStartSuccess);
    connect(hub, &StreamManager::RecordStartFailed, this, &MainWindow::OnRecordStartFailed);
    connect(hub, &StreamManager::RecordInterrupt, this, &MainWindow::OnRecordInterrupt);  // sender() is the hub
    connect(hub, &StreamManager::RecordStoped, this, &MainWindow::OnRecordStoped);
    // RecordDurationChanged goes straight to the tool bar (setupWindowModes).

    connect(hub, &StreamManager::OnSwitchVideoTransport, this, [](bool on) {
        if (ZuCam* app = zucamApp()) app->setVideoTransport(on);
    });
    connect(hub, &StreamManager::OnSwitchAudioTransport, this, [this](bool on) {
        const ZuCam* app = zucamApp();
        if (app != nullptr && on != app->openVmic) {
            QMetaObject::invokeMethod(menuForm(), "on_pushButton_menu_volumn_img_clicked", Qt::AutoConnection);
        }
    });
    connect(hub, &StreamManager::ScreenShot, this, &MainWindow::ScreenShot);
}

bool MainWindow::IsPlausiblePictureSize(int width, int height) {
    return width >= 1 && height >= 1 && width <= kMaxPictureSide && height <= kMaxPictureSide;
}

void MainWindow::OnHubNewConnection(StreamManager* hub, const QString& name, int frameRate, int width, int height) {
    if (sessionHub_ != nullptr && sessionHub_ != hub) {
        // Both hubs found a phone in the same turn: the one that reported
        // first keeps it, this one is closed (and its leaving goes unheard).
        qDebug() << "MainWindow: a second hub reported a connection; closing it";
        hub->CloseManager();
        return;
    }
    StreamManager* const other = hub == streamManager.get() ? usbManager.get() : streamManager.get();
    if (other != nullptr) other->CloseManager();
    sessionHub_ = hub;
    const quint64 session = ++session_;

    GsDevice* const device = GsDevice::DefaultDevice();
    if (device != nullptr && frameRate >= 1 && frameRate <= 60) device->SetFrameRate(frameRate);

    OnStreamConnected(name);

    // Without the picture transport no first picture will come: after a
    // second the camera outputs open anyway when the audio driver is there
    // (the camera shows the last picture, black), else the picture is
    // switched back on. Only for this session.
    QTimer::singleShot(kFirstPictureFallbackMs, this, [this, session, width, height] {
        if (session != session_ || sessionHub_ == nullptr) return;
        ZuCam* const app = zucamApp();
        if (app == nullptr || app->videoTransport) return;
        if (app->audioDriverInstalled) {
            OnStreamVideoArrive(width, height);
        } else {
            app->setVideoTransport(true);
        }
    });
}

void MainWindow::OnStreamConnected(QString name) {
    const QString shown = DisplayName(name);
    menuForm()->SetConnectState(shown);
    menuForm()->SetTransportEnabled(true);
    mainForm()->ShowConnectedDevice(shown);
    if (!reconnectWait) {
        mainForm()->ShowState(MainForm::kConnected);
    } else {
        reconnectWait = false;  // the phone came back: the preview stays
    }
    UpdateTrayToolTip(true);
    UpdateVolumn(MicLevelForSwitch());
}

void MainWindow::OnHubDisconnected(StreamManager* hub) {
    if (hub != sessionHub_) return;  // a hub the window closed, or a session already over
    OnStreamDisconnected();
}

void MainWindow::OnStreamDisconnected() {
    sessionHub_ = nullptr;
    ++session_;
    ReleaseRenderScene();
    cameraRawWriter->DisableOutput();
    driverSink->Stop();
    reconnectWait = false;
    if (suspend) SetSuspendMode(false, false);
    ui->pushButton_main_hide->setEnabled(false);
    qDebug() << "[MainWindow::SwitchToWaitConnection()]";
    ShowWaitingState();
}

void MainWindow::ShowWaitingState() {
    menuForm()->SetConnectState(QString());
    menuForm()->SetCaptureEnabled(false);
    menuForm()->SetTransportEnabled(false);
    if (firstHubTransport_ != kStreamTransportWifi) {
        mainForm()->ShowState(MainForm::kUsbWaiting);
        StartFirstHub(kStreamTransportIos);
        StartUsbManager();
    } else {
        mainForm()->ShowState(MainForm::kWifiWaiting);
        StopUsbManager();
    }
    UpdateTrayToolTip(false);
    if (ZuCam* app = zucamApp()) app->setVideoTransport(true);
    UpdateVolumn(MicLevelForSwitch());
}

void MainWindow::OnHubDisconnectedDelay(StreamManager* hub) {
    if (hub != sessionHub_) return;
    OnStreamDisconnectedDelay();
}

void MainWindow::OnStreamDisconnectedDelay() {
    sessionHub_ = nullptr;
    const quint64 session = ++session_;
    cameraRawWriter->DisableOutput();
    driverSink->Stop();
    qDebug() << "[MainWindow::OnStreamDisconnected___Delay()]";
    reconnectWait = true;
    if (suspend) SetSuspendMode(false, false);
    ui->pushButton_main_hide->setEnabled(false);
    // The phone said it would come back: the last picture stays for the
    // grace period. A connection within it clears reconnectWait (and starts
    // a new session); otherwise the window gives up the scene and waits.
    QTimer::singleShot(kReconnectGraceMs, this, [this, session] {
        if (!reconnectWait || session != session_) return;
        reconnectWait = false;
        ReleaseRenderScene();
        ShowWaitingState();
    });
}

void MainWindow::OnHubVideoArrive(StreamManager* hub, int width, int height) {
    if (hub != sessionHub_) {
        // Decoded before the phone left, reported after: the outputs stay shut.
        qDebug() << "MainWindow: a first picture of a session that is over is ignored";
        return;
    }
    OnStreamVideoArrive(width, height);
}

void MainWindow::OnStreamVideoArrive(int width, int height) {
    if (!IsPlausiblePictureSize(width, height)) {
        LOG_E("picture size %dx%d rejected: no scene is built", width, height);
        return;
    }
    SetupRenderScene(width, height);
    mainForm()->ShowState(MainForm::kPreview);
    UpdatePreviewSinks();
    menuForm()->SetCaptureEnabled(true);
    ui->pushButton_main_hide->setEnabled(true);
    videoAspect = static_cast<float>(static_cast<double>(width) / height);
    cameraRawWriter->EnableOutput();
    driverSink->OpenCamera();  // without the driver the shared-memory camera still runs
}

void MainWindow::OnHubResolutionChanged(StreamManager* hub, int width, int height) {
    if (hub != sessionHub_) return;
    OnStreamResolutionChanged(width, height);
}

void MainWindow::OnStreamResolutionChanged(int width, int height) {
    if (!IsPlausiblePictureSize(width, height)) {
        LOG_E("picture size %dx%d rejected: the scene stays", width, height);
        return;
    }
    videoAspect = static_cast<float>(static_cast<double>(width) / height);
    SetupRenderScene(width, height);
    if (suspend) SetSuspendMode(true, true);
}

void MainWindow::SetupRenderScene(int width, int height) {
    if (!renderHost || GsDevice::DefaultDevice() == nullptr) {
        LOG_E("no render host or render device: no scene");
        return;
    }
    const QSize size(width, height);
    if (videoSource == nullptr) {
        videoSource = new RefCountedObject<ZucCameraVideoSource>(size, frameProvider.get());
        videoSource->AddRef();
        videoSource->CreateItem();
    } else {
        videoSource->Resize(size);
    }
    renderHost->CreateScene(size, videoSource->item());
}

void MainWindow::ReleaseRenderScene() {
    if (renderHost) renderHost->ReleaseScene();
}

void MainWindow::SetStreamChannel(int transport) {
    StartFirstHub(transport);
    if (mainForm()->CurrentPage() > MainForm::kPageUsbWaitLink) return;
    if (transport != kStreamTransportWifi) {
        mainForm()->ShowState(MainForm::kUsbWaiting);
        StartUsbManager();  // Android alongside iOS
    } else {
        mainForm()->ShowState(MainForm::kWifiWaiting);
        StopUsbManager();
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == this) {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::WindowStateChange: UpdatePreviewSinks(); break;
        default: break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::UpdatePreviewSinks() {
    MainForm* const form = mainForm();
    if (form == nullptr || form->CurrentPage() != MainForm::kPageDisplay) return;  // the form keeps them off
    if (isVisible() && !isMinimized()) {
        form->ShowState(MainForm::kPreview);  // the page stays; the shown preview's sink goes on
    } else {
        form->ShowState(-1);  // any other state only turns both sinks off
    }
}

void MainWindow::StartFirstHub(int transport) {
    firstHubTransport_ = transport;
    if (streamManager) streamManager->Start(transport);
}

void MainWindow::StartUsbManager() {
    if (usbManager) usbManager->Start(kStreamTransportAndroid);
}

void MainWindow::StopUsbManager() {
    if (usbManager) usbManager->CloseManager();
}

void MainWindow::SetDeviceName(const QString& name) {
    if (streamManager) streamManager->SetDeviceName(name);
    if (usbManager) usbManager->SetDeviceName(name);
}

void MainWindow::UpdateIosServiceTip() { mainForm()->UpdateIosServiceTip(); }

void MainWindow::UpdateVolumn(int level) { menuForm()->UpdateVolumeIcon(level, true); }

void MainWindow::UpdateTransportBtnState(bool on) {
    frameProvider->enabled = on;
    if (!on) frameProvider->ShowBlack();
    QMetaObject::invokeMethod(menuForm(), "slot_updateTransportBtnState", Qt::AutoConnection);
}

void MainWindow::ShowTrayMessage(const QString& text, int milliseconds) {
    if (trayIcon) trayIcon->showMessage(QString::fromUtf8("提示"), text, QSystemTrayIcon::Information, milliseconds);
}

void MainWindow::UpdateTrayToolTip(bool connected) {
    if (!trayIcon) return;
    trayIcon->setToolTip(connected ? tr("Zu虚拟摄像头\n状态：已连接") : tr("Zu虚拟摄像头\n状态：未连接"));
}

bool MainWindow::isCaption(int, int) {
    return false;  // the window is moved by its mouse handlers, not as a caption
}
