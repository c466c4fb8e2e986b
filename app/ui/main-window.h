// The main window: the program's only top-level window and the owner of every
// run-time object of the picture path. It builds the two camera outputs (the
// shared-memory queue writer and the camera-driver sink), the screenshot and
// recorder frame caches, the frame provider the decoder feeds, the hidden
// render host, and the two stream hubs - the first serves Wi-Fi or iOS USB,
// the second Android USB - and turns the hubs' signals into page changes,
// render-scene set-up and output switching.
//
// Sessions: the window shows at most one phone at a time, that of the hub
// that reported its connection first. Signals of the other hub (its own late
// connection, the disconnection its closing causes) and signals that belong
// to a session already over (a first picture queued behind the phone's
// leaving, the timers of an earlier connection) change nothing.
//
// GUI thread only. ZuCam creates it once and deletes it at shutdown; the
// destructor stops every producer before it frees any sink.
#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <string>

#include "core/frameless/frameless_helper.h"
#include "ui/screenshot-saver.h"

class CameraDriverPort;
class CameraRawWriter;
class HideVexoRenderDialog;
class MainForm;
class MenuStateForm;
class QAction;
class QMenu;
class StreamManager;
class StreamVideoSinkCache;
class StreamVideoSinkDriver;
class StreamVideoSinkSw;
class Ui_MainWindow;
class ZucCameraVideoSource;
template <typename T>
class RefCountedObject;

class MainWindow : public QMainWindow, public ResizeInterface {
    Q_OBJECT

public:
    // Where the camera outputs write; the defaults are the product's, tests
    // pass names and ports of their own.
    struct Outputs {
        std::string cameraQueueName;  // empty: "/ZuVirtualCameraQueue"
        // Makes the camera driver's port; empty: the v4l2loopback device.
        std::function<std::unique_ptr<CameraDriverPort>()> makeDriverPort;
    };

    // A picture side outside 1..kMaxPictureSide (from the phone's hello or
    // its stream) builds no scene.
    static constexpr int kMaxPictureSide = 4096;
    // The first-picture fallback after a connection and the grace period of
    // an announced disconnection.
    static constexpr int kFirstPictureFallbackMs = 1000;
    static constexpr int kReconnectGraceMs = 5000;

    explicit MainWindow(QWidget* parent = nullptr);
    MainWindow(QWidget* parent, Outputs outputs);
    ~MainWindow() override;

    // StreamManager::SetDeviceName on each hub (ZuCam::setDeviceName).
    void SetDeviceName(const QString& name);
    // The iOS service tip of the connection form (ZuCam's service check).
    void UpdateIosServiceTip();

    // ResizeInterface: never the caption (the window is moved by its mouse
    // handlers). The edge and sizing answers belong to the window-mode block.
    bool isCaption(int x, int y) override;

    static bool IsPlausiblePictureSize(int width, int height);

    // What tests look at.
    MainForm* mainForm() const;
    MenuStateForm* menuForm() const;
    StreamManager* wifiHub() const { return streamManager.get(); }
    StreamManager* androidHub() const { return usbManager.get(); }
    CameraRawWriter* cameraWriter() const { return cameraRawWriter.get(); }
    StreamVideoSinkDriver* cameraDriverSink() const { return driverSink.get(); }
    StreamVideoSinkCache* screenshotFrames() const { return screenshotCache.get(); }
    StreamVideoSinkCache* recorderFrames() const { return recorderCache.get(); }
    StreamVideoSinkSw* frameSource() const { return frameProvider.get(); }
    HideVexoRenderDialog* renderHostDialog() const;
    bool reconnectPending() const { return reconnectWait; }
    float pictureAspect() const { return videoAspect; }
    // The hub whose phone the window shows, or null.
    StreamManager* sessionHub() const { return sessionHub_; }
    // The last transport given to the first hub's Start.
    int firstHubTransport() const { return firstHubTransport_; }

public slots:
    // From the connection form: 0 Wi-Fi, 2 USB (iOS on the first hub, Android
    // on the second).
    void SetStreamChannel(int transport);
    // The microphone level 0 to 10, or -1 when it is off (ZuCam::updateVolume
    // invokes it by name).
    void UpdateVolumn(int level);
    void OnStreamConnected(QString name);
    void OnStreamDisconnected();
    void OnStreamDisconnectedDelay();
    void OnStreamVideoArrive(int width, int height);
    void OnStreamResolutionChanged(int width, int height);
    // The picture switch (ZuCam::setVideoTransport invokes it by name).
    void UpdateTransportBtnState(bool on);

    // Capture, tray and window modes (main-window-capture.cpp,
    // main-window-tray.cpp). The title-bar buttons and the floating widget's
    // buttons reach the on_... slots by name (connectSlotsByName).
public slots:
    // Saves the composed picture on the thread pool (tool bar and phone).
    void ScreenShot();
    // The outcome of a save, on the GUI thread: a message box for an error
    // (or for a failed save: both empty), else the tip or the folder.
    void ShowScreenShotResult(QString path, QString error);
    // StartRecord / StopRecord on each hub, the first hub first.
    void StartRecord();
    void StopRecord();
    // The hubs' recording feedback.
    void OnRecordStartSuccess();
    void OnRecordStartFailed(QString text);
    // Stops the recording of the hub that sent it (sender()).
    void OnRecordInterrupt();
    void OnRecordStoped(QString path);
    void on_pushButton_main_close_clicked();
    void on_pushButton_main_max_clicked();
    void on_pushButton_main_min_clicked();
    void on_pushButton_main_hide_clicked();
    void on_pushButton_helpinfo_clicked();
    void on_pushButton_suspend_hide_clicked();
    void slot_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason);

public:
    // Floating mode on or off; keepSaved refits a floating window without
    // taking the normal mode's geometry again.
    void SetSuspendMode(bool on, bool keepSaved);
    // The floating mode's buttons (hide, minimise, close), made hidden on
    // first use as a child of this window.
    QWidget* GetSuspendWidget();
    bool suspendMode() const { return suspend; }
    // Tests: the picture's ratio as a first picture would set it.
    void SetPictureAspectForTest(float aspect) { videoAspect = aspect; }
    QSystemTrayIcon* trayIconForTest() const { return trayIcon.data(); }
    QMenu* trayMenuForTest() const;
    // Returns when every started screenshot has been saved.
    void WaitForScreenShots();
    // ResizeInterface: the sizing borders, 5 scaled pixels wide, none while
    // maximised or full screen (screen coordinates).
    bool isTopEdge(int x, int y) override;
    bool isBottomEdge(int x, int y) override;
    bool isLeftEdge(int x, int y) override;
    bool isRightEdge(int x, int y) override;
    // While floating: keeps the window at the picture's ratio as it is sized.
    void onSizing(int edges, int* top, int* bottom, int* left, int* right) override;

protected:
    // The window's own show, hide and minimise: a preview nobody can see
    // converts no pictures.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Called once by the constructor after the hubs exist: the screenshot
    // saver, the tray, the recording time and the title-bar set-up.
    void setupWindowModes();
    void InitTray();
    // Shows, un-minimises and raises the window (tray menu and click).
    void ShowFromTray();
    int titleHeight() const;

    // Saves run on the pool and read screenshotCache: the destructor waits
    // for them (WaitForScreenShots) before it frees the cache.
    std::unique_ptr<ScreenShotSaver> screenShotSaver_;
    QPointer<QWidget> suspendWidget_;
    // The normal mode's minimum size, geometry and preview size, taken on
    // entering the floating mode.
    QSize savedMinimumSize_;
    QRect savedGeometryRect_;
    QSize savedPreviewSize_;
    // The drag passed the start distance and follows the cursor.
    bool dragMoving_ = false;
    // ---- end of capture, tray and window modes.

private:
    // Construction steps.
    void InitUi();
    void InitStream();
    void ConnectHub(StreamManager* hub, bool first);

    // The hub handlers; each ignores what does not belong to the session.
    void OnHubNewConnection(StreamManager* hub, const QString& name, int frameRate, int width, int height);
    void OnHubDisconnected(StreamManager* hub);
    void OnHubDisconnectedDelay(StreamManager* hub);
    void OnHubVideoArrive(StreamManager* hub, int width, int height);
    void OnHubResolutionChanged(StreamManager* hub, int width, int height);
    // Steps 5 to 7 of a disconnection: the tool bar, the page of the
    // transport, the hubs' roles, tray and switches.
    void ShowWaitingState();

    void SetupRenderScene(int width, int height);
    void ReleaseRenderScene();
    void StartUsbManager();
    void StopUsbManager();
    void StartFirstHub(int transport);
    // The preview sinks on exactly while the preview page shows in a window
    // that is visible and not minimised.
    void UpdatePreviewSinks();

    // Defined in main-window.cpp: the connection handling needs them; the
    // tray icon itself is made by InitTray in the tray block.
    void ShowTrayMessage(const QString& text, int milliseconds);
    void UpdateTrayToolTip(bool connected);

    std::unique_ptr<Ui_MainWindow> ui;
    QPointer<QSystemTrayIcon> trayIcon;
    QPointer<QMenu> trayMenu;
    QPointer<QAction> showAction;
    QPointer<QAction> quitAction;
    // Made without a parent; deleted by the destructor once its scene is
    // released (nothing else holds it, and its view must go before the
    // render device).
    QPointer<HideVexoRenderDialog> renderHost;
    std::unique_ptr<StreamManager> streamManager;
    std::unique_ptr<CameraRawWriter> cameraRawWriter;
    std::unique_ptr<StreamVideoSinkDriver> driverSink;
    std::unique_ptr<StreamVideoSinkCache> screenshotCache;
    std::unique_ptr<StreamVideoSinkCache> recorderCache;
    std::unique_ptr<StreamManager> usbManager;
    QByteArray savedGeometry;
    bool reconnectWait = false;
    float videoAspect = 0.0f;
    bool suspend = false;
    bool dragging = false;
    QPoint dragOffset;
    std::unique_ptr<StreamVideoSinkSw> frameProvider;
    RefCountedObject<ZucCameraVideoSource>* videoSource = nullptr;  // one reference

    // The session the window shows: the hub that reported it (null: none)
    // and a number that changes with every connection and every end, so a
    // timer or a queued report of an earlier session can tell it is stale.
    StreamManager* sessionHub_ = nullptr;
    quint64 session_ = 0;
    int firstHubTransport_ = 0;
    const Outputs outputs_;
};
