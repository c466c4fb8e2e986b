// The main window's construction and its handling of the hubs' reports,
// under Qt's offscreen platform with the one ZuCam of the process. The hubs
// are real (the first listens on the Wi-Fi port); their reports are emitted
// here on the GUI thread, as the queued connections would deliver them, so
// the order of reports is the test's. The camera outputs write to a queue of
// the test's own name and to a driver port that records what it is asked.
extern "C" {
#include <libavutil/frame.h>
}

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <climits>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

#include "devices/camera_queue/camera_queue_layout.h"
#include "devices/camera_queue/camera_queue_reader.h"
#include "devices/camera_queue/camera_raw_writer.h"
#include "devices/driver_sink/camera_driver_port.h"
#include "devices/driver_sink/stream_video_sink_driver.h"
#include "hide_vexo_render_dialog.h"
#include "stream/stream_manager.h"
#include "stream/video_sink/stream_video_sink_cache.h"
#include "stream/video_sink/stream_video_sink_sw.h"
#include "support/counting_driver_port.h"
#include "support/fake_adb/fake_adb.h"
#include "support/message_box_recorder.h"
#include "support/tcp_listeners.h"
#include "support/tether_environment.h"
#include "ui/main-form.h"
#include "ui/main-window.h"
#include "ui/menu-state-form.h"
#include "vexo/gs_device.h"
#include "zuc_shaders.h"
#include "core/tether/tq.h"
#include "zucam.h"

namespace {

using zucam::test::CountingDriverPort;
using zucam::test::DriverLog;

// The queue's state word as a camera program would read it (0: no queue).
uint32_t QueueState(const std::string& name) {
    std::unique_ptr<CameraQueueReader> reader = CameraQueueReader::Open(name);
    return reader ? reader->Refresh() : 0;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        app_ = zucamApp();
        ASSERT_NE(app_, nullptr);
        // ZuCam's first turn loads the settings and shows the product's own
        // window; the test makes its own with private outputs instead.
        QCoreApplication::processEvents();
        delete app_->mainWindow.data();
        app_->videoTransport = true;
        app_->audioDriverInstalled = false;
        app_->useHardwareRender = false;
        if (GsDevice::DefaultDevice() == nullptr) {
            ASSERT_TRUE(GsDevice::CreateDefaultDevice(true));
        }
        RegisterZucShaders(GsDevice::DefaultDevice());
        queueName_ = "/zucam-window-test-" + std::to_string(getpid());
        MainWindow::Outputs outputs;
        outputs.cameraQueueName = queueName_;
        outputs.makeDriverPort = [log = driver_] { return std::make_unique<CountingDriverPort>(log); };
        window_ = new MainWindow(nullptr, outputs);
        app_->mainWindow = window_;
        window_->show();
        QCoreApplication::processEvents();
    }

    void TearDown() override {
        delete window_;
        GsDevice::DestroyDefaultDevice();
    }

    StreamManager* wifi() const { return window_->wifiHub(); }
    StreamManager* android() const { return window_->androidHub(); }
    int page() const { return window_->mainForm()->CurrentPage(); }
    bool sceneBuilt() const { return window_->renderHostDialog()->output() != nullptr; }
    QString toolBarState() const { return window_->findChild<QLabel*>("label_menu_state")->text(); }

    void Connect(StreamManager* hub, const QString& name = "Pixel", int width = 320, int height = 240) {
        emit hub->OnNewConnection(name, 30, width, height);
    }
    void Picture(StreamManager* hub, int width = 320, int height = 240) { emit hub->OnVideoArrive(width, height); }

    bool WaitQueueState(uint32_t state, int ms = 3000) {
        return QTest::qWaitFor([&] { return QueueState(queueName_) == state; }, ms);
    }

    ZuCam* app_ = nullptr;
    MainWindow* window_ = nullptr;
    std::string queueName_;
    std::shared_ptr<DriverLog> driver_ = std::make_shared<DriverLog>();
};

TEST_F(MainWindowTest, ConstructionBuildsTheFormHubsAndOutputs) {
    const double s = app_->dpiScale;
    EXPECT_EQ(window_->windowFlags() & 0xFFFF, Qt::WindowFlags(0xC801));
    EXPECT_EQ(window_->windowTitle(), QString::fromUtf8("Zu虚拟摄像头"));
    EXPECT_EQ(window_->size(), QSize(int(900 * s), int(634 * s)));
    EXPECT_EQ(window_->findChild<QWidget*>("widget_title")->height(), int(66 * s));
    EXPECT_EQ(window_->property("header_height").toInt(), int(66 * s));
    EXPECT_FALSE(window_->property("header_visible").toBool());
    QStringList headerNames;
    for (const QVariant& button : window_->property("header_btns").toList()) {
        headerNames << button.value<QObject*>()->objectName();
    }
    EXPECT_EQ(headerNames, QStringList({"pushButton_main_max", "pushButton_main_min", "pushButton_main_close",
                                        "pushButton_main_hide", "pushButton_helpinfo"}));

    // The form's objects, by the names the style sheet and the slots use.
    for (const char* name : {"centralWidget", "widget_title", "label_main_title", "label_main_version",
                             "pushButton_helpinfo", "pushButton_main_hide", "pushButton_main_min",
                             "pushButton_main_max", "pushButton_main_close"}) {
        EXPECT_NE(window_->findChild<QWidget*>(name), nullptr) << name;
    }
    EXPECT_EQ(window_->findChild<MainForm*>("widget_main"), window_->mainForm());
    EXPECT_EQ(window_->findChild<MenuStateForm*>("widget_menu"), window_->menuForm());
    EXPECT_FALSE(window_->findChild<QPushButton*>("pushButton_main_hide")->isEnabled());
    EXPECT_TRUE(window_->findChild<QPushButton*>("pushButton_main_max")->isCheckable());
    EXPECT_TRUE(window_->findChild<QLabel*>("label_main_version")->text().startsWith("\nV"));
    EXPECT_FALSE(window_->isCaption(window_->x() + 100, window_->y() + 10));

    EXPECT_NE(wifi(), nullptr);
    EXPECT_NE(android(), nullptr);
    EXPECT_EQ(window_->firstHubTransport(), 0);
    EXPECT_EQ(page(), MainForm::kPageWaitLink);
    EXPECT_TRUE(window_->frameSource()->enabled);
    EXPECT_TRUE(window_->screenshotFrames()->enabled);
    EXPECT_TRUE(window_->recorderFrames()->enabled);
    EXPECT_TRUE(window_->cameraWriter()->hasQueue());
    EXPECT_FALSE(sceneBuilt());
    EXPECT_EQ(MenuStateForm::volumeLevel(), app_->openVmic ? 0 : -1);
}

// Every sink of the render list gets the composed picture: the preview on
// screen, the shared-memory camera, the screenshot cache, the camera driver
// and the recorder cache.
TEST_F(MainWindowTest, TheComposedPictureReachesEverySinkOfTheRenderList) {
    Connect(wifi());
    Picture(wifi());
    ASSERT_TRUE(sceneBuilt());
    auto* preview = static_cast<StreamVideoSinkSw*>(window_->mainForm()->GetPreviewSinks()[0]);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !preview->GetImage().isNull(); }, 3000));
    EXPECT_TRUE(WaitQueueState(kCameraQueuePublished));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window_->screenshotFrames()->Screenshot().isNull(); }, 3000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return driver_->writes > 0; }, 3000));
    AVFrame* recorded = nullptr;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (recorded = window_->recorderFrames()->CloneFront()) != nullptr; }, 3000));
    av_frame_free(&recorded);
    EXPECT_EQ(window_->screenshotFrames()->Screenshot().size(), QSize(320, 240));
}

TEST_F(MainWindowTest, ConnectionPictureAndLeaving) {
    Connect(wifi(), "Pixel 7");
    EXPECT_EQ(page(), MainForm::kPageLinkSuccess);
    EXPECT_EQ(toolBarState(), QString::fromUtf8("已连接Pixel 7"));
    EXPECT_TRUE(window_->findChild<QWidget*>("pushButton_video_transport")->isEnabled());
    EXPECT_EQ(window_->sessionHub(), wifi());
    EXPECT_EQ(driver_->opens, 0);

    Picture(wifi(), 640, 360);
    EXPECT_EQ(page(), MainForm::kPageDisplay);
    EXPECT_TRUE(sceneBuilt());
    EXPECT_TRUE(window_->findChild<QPushButton*>("pushButton_main_hide")->isEnabled());
    EXPECT_FLOAT_EQ(window_->pictureAspect(), 640.0f / 360.0f);
    EXPECT_EQ(driver_->opens, 1);
    EXPECT_TRUE(window_->cameraDriverSink()->IsOpen());
    EXPECT_TRUE(WaitQueueState(kCameraQueuePublished));
    // Only the preview on screen converts pictures.
    const std::vector<StreamVideoSink*> preview = window_->mainForm()->GetPreviewSinks();
    EXPECT_TRUE(preview[0]->enabled);
    EXPECT_FALSE(preview[1]->enabled);

    emit wifi()->OnDisconnected();
    EXPECT_EQ(page(), MainForm::kPageWaitLink);
    EXPECT_FALSE(sceneBuilt());
    EXPECT_FALSE(window_->cameraDriverSink()->IsOpen());
    EXPECT_EQ(toolBarState(), QString::fromUtf8("未连接"));
    EXPECT_FALSE(window_->findChild<QPushButton*>("pushButton_main_hide")->isEnabled());
    EXPECT_EQ(window_->sessionHub(), nullptr);
    EXPECT_TRUE(WaitQueueState(kCameraQueueStopped));
    EXPECT_FALSE(preview[0]->enabled);
    EXPECT_FALSE(preview[1]->enabled);
}

TEST_F(MainWindowTest, APreviewNobodyCanSeeConvertsNoPictures) {
    Connect(wifi());
    Picture(wifi());
    StreamVideoSink* const painter = window_->mainForm()->GetPreviewSinks()[0];
    StreamVideoSink* const gl = window_->mainForm()->GetPreviewSinks()[1];
    ASSERT_TRUE(painter->enabled);
    window_->showMinimized();
    EXPECT_FALSE(painter->enabled);
    EXPECT_FALSE(gl->enabled);
    window_->showNormal();
    EXPECT_TRUE(painter->enabled);
    window_->hide();
    EXPECT_FALSE(painter->enabled);
    EXPECT_EQ(page(), MainForm::kPageDisplay);  // the page itself stays
    // A first picture while hidden leaves the preview off too.
    emit wifi()->OnVideoResolutionChanged(640, 480);
    Picture(wifi(), 640, 480);
    EXPECT_FALSE(painter->enabled);
    window_->show();
    EXPECT_TRUE(painter->enabled);
    EXPECT_FALSE(gl->enabled);
}

TEST_F(MainWindowTest, AFirstPictureQueuedBehindTheLeavingIsIgnored) {
    Connect(wifi());
    emit wifi()->OnDisconnected();
    Picture(wifi());  // decoded before the phone left, reported after
    emit wifi()->OnVideoResolutionChanged(640, 480);
    EXPECT_EQ(page(), MainForm::kPageWaitLink);
    EXPECT_FALSE(sceneBuilt());
    EXPECT_EQ(driver_->opens, 0);
    EXPECT_FALSE(window_->cameraDriverSink()->IsOpen());
    QTest::qWait(3 * CameraRawWriter::kPeriodMs);
    EXPECT_NE(QueueState(queueName_), kCameraQueuePublished);
}

TEST_F(MainWindowTest, TwoHubsReportingInOneTurnDoNotCloseEachOther) {
    // Both reports were queued before the window saw either: the first keeps
    // its phone, the second hub is closed and what it says next is ignored.
    Connect(android(), "Android phone");
    Connect(wifi(), "Wi-Fi phone");
    EXPECT_EQ(window_->sessionHub(), android());
    EXPECT_EQ(toolBarState(), QString::fromUtf8("已连接Android phone"));
    emit wifi()->OnDisconnected();  // the closing of the loser
    EXPECT_EQ(page(), MainForm::kPageLinkSuccess);
    Picture(wifi());
    EXPECT_FALSE(sceneBuilt());
    Picture(android());
    EXPECT_EQ(page(), MainForm::kPageDisplay);
    EXPECT_TRUE(sceneBuilt());
    emit android()->OnDisconnected();
    EXPECT_EQ(page(), MainForm::kPageWaitLink);
    EXPECT_EQ(window_->sessionHub(), nullptr);
}

// The phone announced its leaving: the picture stays for the grace period,
// the cameras close at once; without a new connection the scene goes and the
// window waits. The Android hub's announcement counts too.
TEST_F(MainWindowTest, GraceExpiresReleasesTheSceneAndWaits) {
    Connect(android());
    Picture(android());
    ASSERT_TRUE(WaitQueueState(kCameraQueuePublished));
    emit android()->OnDisconnectedDelay();
    EXPECT_TRUE(window_->reconnectPending());
    EXPECT_EQ(page(), MainForm::kPageDisplay);
    EXPECT_TRUE(sceneBuilt());
    EXPECT_FALSE(window_->cameraDriverSink()->IsOpen());
    EXPECT_TRUE(WaitQueueState(kCameraQueueStopped));
    // A late first picture of the session that ended opens nothing.
    Picture(android());
    EXPECT_FALSE(window_->cameraDriverSink()->IsOpen());

    ASSERT_TRUE(QTest::qWaitFor([&] { return page() == MainForm::kPageWaitLink; },
                                MainWindow::kReconnectGraceMs + 2000));
    EXPECT_FALSE(window_->reconnectPending());
    EXPECT_FALSE(sceneBuilt());
    EXPECT_EQ(toolBarState(), QString::fromUtf8("未连接"));
}

TEST_F(MainWindowTest, AReconnectionKeepsThePreviewAndAnEarlierGraceTimerDoesNothing) {
    Connect(wifi());
    Picture(wifi());
    emit wifi()->OnDisconnectedDelay();
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    Connect(wifi());  // back within the grace period
    EXPECT_FALSE(window_->reconnectPending());
    EXPECT_EQ(page(), MainForm::kPageDisplay);
    Picture(wifi());
    EXPECT_TRUE(window_->cameraDriverSink()->IsOpen());

    QTest::qWait(MainWindow::kReconnectGraceMs / 2);
    emit wifi()->OnDisconnectedDelay();  // a second announced leaving
    QElapsedTimer sinceSecond;
    sinceSecond.start();
    // The first leaving's timer fires now: it must not end the second grace.
    QTest::qWait(static_cast<int>(MainWindow::kReconnectGraceMs + 500 - sinceFirst.elapsed()));
    EXPECT_TRUE(window_->reconnectPending());
    EXPECT_EQ(page(), MainForm::kPageDisplay);
    EXPECT_TRUE(sceneBuilt());
    ASSERT_TRUE(QTest::qWaitFor([&] { return page() == MainForm::kPageWaitLink; }, 4000));
    // Qt's coarse timers may fire up to 5% early.
    EXPECT_GE(sinceSecond.elapsed(), MainWindow::kReconnectGraceMs * 94 / 100);
}

TEST_F(MainWindowTest, PictureOffWithTheAudioDriverOpensTheCamerasAfterASecond) {
    app_->videoTransport = false;
    app_->audioDriverInstalled = true;
    Connect(wifi(), "Pixel", 480, 640);
    EXPECT_FALSE(sceneBuilt());
    ASSERT_TRUE(QTest::qWaitFor([&] { return sceneBuilt(); }, MainWindow::kFirstPictureFallbackMs + 2000));
    EXPECT_EQ(page(), MainForm::kPageDisplay);
    EXPECT_TRUE(window_->cameraDriverSink()->IsOpen());
    EXPECT_FLOAT_EQ(window_->pictureAspect(), 480.0f / 640.0f);
}

TEST_F(MainWindowTest, PictureOffWithoutTheAudioDriverTurnsThePictureBackOn) {
    app_->videoTransport = false;
    Connect(wifi());
    ASSERT_TRUE(QTest::qWaitFor([&] { return app_->videoTransport; }, MainWindow::kFirstPictureFallbackMs + 2000));
    EXPECT_FALSE(sceneBuilt());
    EXPECT_TRUE(window_->frameSource()->enabled);
}

TEST_F(MainWindowTest, TheFirstPictureFallbackOfAPhoneThatLeftDoesNothing) {
    app_->videoTransport = false;
    app_->audioDriverInstalled = true;
    Connect(wifi());
    emit wifi()->OnDisconnected();
    // The window turns the picture back on when the phone leaves; the test
    // keeps it off so that only the session check can stop the timer.
    app_->videoTransport = false;
    QTest::qWait(MainWindow::kFirstPictureFallbackMs + 300);
    EXPECT_FALSE(sceneBuilt());
    EXPECT_EQ(driver_->opens, 0);
    EXPECT_EQ(page(), MainForm::kPageWaitLink);
}

TEST_F(MainWindowTest, ImplausiblePictureSizesBuildNoScene) {
    const QSize sizes[] = {{0, 240}, {320, 0}, {-320, 240}, {320, -1}, {4097, 240}, {320, 100000}, {INT_MAX, INT_MAX}};
    Connect(wifi());
    for (const QSize& size : sizes) {
        Picture(wifi(), size.width(), size.height());
        EXPECT_FALSE(sceneBuilt()) << size.width() << "x" << size.height();
    }
    EXPECT_EQ(page(), MainForm::kPageLinkSuccess);
    EXPECT_EQ(driver_->opens, 0);
    // A size change to nonsense keeps the scene of the last good size.
    Picture(wifi(), 4096, 2160);
    ASSERT_TRUE(sceneBuilt());
    emit wifi()->OnVideoResolutionChanged(0, 0);
    EXPECT_TRUE(sceneBuilt());
    EXPECT_FLOAT_EQ(window_->pictureAspect(), 4096.0f / 2160.0f);
}

TEST_F(MainWindowTest, ANonsenseHelloSizeBuildsNoSceneAfterTheFallback) {
    app_->videoTransport = false;
    app_->audioDriverInstalled = true;
    Connect(wifi(), "Pixel", -1, 0);
    QTest::qWait(MainWindow::kFirstPictureFallbackMs + 300);
    EXPECT_FALSE(sceneBuilt());
    EXPECT_EQ(driver_->opens, 0);
}

TEST_F(MainWindowTest, PhoneNamesArePlainTextOnOneLine) {
    const QString name = QString("<b>Eve</b>\n<i>x</i>\r") + QString(300, QChar('y'));
    Connect(wifi(), name);
    auto* state = window_->findChild<QLabel*>("label_menu_state");
    auto* success = window_->findChild<QLabel*>("label_success");
    EXPECT_EQ(state->textFormat(), Qt::PlainText);
    EXPECT_EQ(success->textFormat(), Qt::PlainText);
    EXPECT_TRUE(state->text().startsWith(QString::fromUtf8("已连接<b>Eve</b> <i>x</i> y")));
    EXPECT_FALSE(state->text().contains('\n'));
    EXPECT_LE(state->text().size(), 3 + MainForm::kMaxNameLength);
    EXPECT_TRUE(success->text().contains("<b>Eve</b> <i>x</i> "));
}

TEST_F(MainWindowTest, PictureSwitchFollowsZuCam) {
    app_->setVideoTransport(false);
    EXPECT_FALSE(window_->frameSource()->enabled);
    auto* button = window_->findChild<QPushButton*>("pushButton_video_transport");
    EXPECT_TRUE(button->isChecked());  // checked = picture off
    app_->setVideoTransport(true);
    EXPECT_TRUE(window_->frameSource()->enabled);
    EXPECT_FALSE(button->isChecked());
}

TEST_F(MainWindowTest, ThePhonesSoundSwitchTogglesTheMicrophoneOnlyWhenItDiffers) {
    zucam::test::MessageBoxRecorder boxes;
    app_->openVmic = false;
    emit wifi()->OnSwitchAudioTransport(false);
    EXPECT_EQ(boxes.messages().size(), 0);
    emit wifi()->OnSwitchAudioTransport(true);
    // The settings dialog is asked to toggle it: it tries to open the
    // microphone, and without the audio driver ZuCam asks to install it.
    EXPECT_EQ(boxes.count(QString::fromUtf8("未安装虚拟麦克风驱动")), 1);
}

TEST_F(MainWindowTest, RecordingTimeReachesTheToolBar) {
    emit android()->RecordDurationChanged(3723000);
    EXPECT_EQ(window_->findChild<QLabel*>("label_menu_time")->text(), QString("01:02:03"));
}

// USB: iOS on the first hub and Android on the second, while a waiting page
// shows; a phone on either closes the other; leaving returns to the USB page.
TEST_F(MainWindowTest, UsbChoiceSetsTheHubRolesAndPages) {
    zucam::test::FakeAdb adb;  // the Android hub runs the stand-in, never a real adb
    window_->SetStreamChannel(2);
    EXPECT_EQ(page(), MainForm::kPageUsbWaitLink);
    EXPECT_EQ(window_->firstHubTransport(), 2);
    // The iOS service tip follows ZuCam's finding.
    auto* tip = window_->findChild<QWidget*>("pushButton_ios_usb_server_tips");
    app_->appleMobileDeviceInstalled = false;
    window_->UpdateIosServiceTip();
    EXPECT_TRUE(tip->isVisible());
    app_->appleMobileDeviceInstalled = true;
    window_->UpdateIosServiceTip();
    EXPECT_FALSE(tip->isVisible());
    Connect(android());
    EXPECT_EQ(page(), MainForm::kPageLinkSuccess);
    emit android()->OnDisconnected();
    EXPECT_EQ(page(), MainForm::kPageUsbWaitLink);
    EXPECT_EQ(window_->firstHubTransport(), 2);

    // Chosen while a phone is connected: only the first hub restarts.
    Connect(wifi());
    window_->SetStreamChannel(0);
    EXPECT_EQ(page(), MainForm::kPageLinkSuccess);
    EXPECT_EQ(window_->firstHubTransport(), 0);
    emit wifi()->OnDisconnected();
    EXPECT_EQ(page(), MainForm::kPageWaitLink);

    window_->SetStreamChannel(0);
    EXPECT_EQ(page(), MainForm::kPageWaitLink);
}

// A power-saving profile is told at start (log and tray message); another
// profile is not.
TEST_F(MainWindowTest, APowerSavingProfileIsToldAtStart) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString profile = dir.filePath("platform_profile");
    const auto startWith = [&](const char* text) {
        QFile file(profile);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        delete window_;
        window_ = new MainWindow(nullptr, MainWindow::Outputs{queueName_, {}});
        app_->mainWindow = window_;
    };
    SetPowerProfileFilesForTesting(profile, dir.filePath("no-daemon-state"));
    const int before = zucam::test::CountInLog("GUID_MAX_POWER_SAVINGS");
    startWith("balanced\n");
    EXPECT_EQ(zucam::test::CountInLog("GUID_MAX_POWER_SAVINGS"), before);
    startWith("low-power\n");
    EXPECT_EQ(zucam::test::CountInLog("GUID_MAX_POWER_SAVINGS"), before + 1);
    SetPowerProfileFilesForTesting(QString(), QString());
}

// The hub that reports a phone first closes the other: its port stops
// listening (the Wi-Fi hub's 10080, the Android hub's 11080).
TEST_F(MainWindowTest, AConnectionOnEitherHubClosesTheOther) {
    using zucam::test::ListensOnTcpPort;
    zucam::test::FakeAdb adb;
    ASSERT_TRUE(QTest::qWaitFor([] { return ListensOnTcpPort(10080); }, 5000));
    Connect(android());
    EXPECT_TRUE(QTest::qWaitFor([] { return !ListensOnTcpPort(10080); }, 5000));
    emit android()->OnDisconnected();  // Wi-Fi chosen: the first hub's server is not restarted by a leaving
    window_->SetStreamChannel(0);
    EXPECT_TRUE(QTest::qWaitFor([] { return ListensOnTcpPort(10080); }, 5000));

    window_->SetStreamChannel(2);  // iOS on the first hub, Android on the second
    ASSERT_TRUE(QTest::qWaitFor([] { return ListensOnTcpPort(11080); }, 5000));
    Connect(wifi());
    EXPECT_TRUE(QTest::qWaitFor([] { return !ListensOnTcpPort(11080); }, 5000));
    emit wifi()->OnDisconnected();  // back to waiting on USB: Android listens again
    EXPECT_TRUE(QTest::qWaitFor([] { return ListensOnTcpPort(11080); }, 5000));
}

TEST_F(MainWindowTest, ConnectionFrameRateReachesTheRenderDevice) {
    GsDevice* device = GsDevice::DefaultDevice();
    device->SetFrameRate(30);
    emit wifi()->OnNewConnection("Pixel", 24, 320, 240);
    EXPECT_EQ(device->FrameRate(), 24);
    emit wifi()->OnDisconnected();
    emit wifi()->OnNewConnection("Pixel", 0, 320, 240);
    EXPECT_EQ(device->FrameRate(), 24);  // out of 1..60: unchanged
    emit wifi()->OnDisconnected();
    emit wifi()->OnNewConnection("Pixel", 61, 320, 240);
    EXPECT_EQ(device->FrameRate(), 24);
}

// A YUV420P picture of eight vertical grey-to-colour bands for the preview.
AVFrame* MakeBandsFrame(int width, int height) {
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame, 0) < 0) {
        av_frame_free(&frame);
        return nullptr;
    }
    static const int kBands[8][3] = {{180, 128, 128}, {168, 44, 136}, {145, 147, 44}, {133, 63, 52},
                                     {63, 193, 204},  {51, 109, 212}, {28, 212, 120}, {16, 128, 128}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) frame->data[0][y * frame->linesize[0] + x] = kBands[x * 8 / width][0];
    }
    for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < width / 2; ++x) {
            frame->data[1][y * frame->linesize[1] + x] = kBands[x * 16 / width][1];
            frame->data[2][y * frame->linesize[2] + x] = kBands[x * 16 / width][2];
        }
    }
    return frame;
}

QString ShotPath(const QString& name, double scale) {
    const QString dir = qEnvironmentVariable("ZUCAM_SHOT_DIR", "/tmp/zucam-window");
    QDir().mkpath(dir);
    return QString("%1/%2@%3.png").arg(dir, name, QString::number(scale, 'f', 2));
}

// The window in each page state, saved for a person to look at (run with
// QT_FONT_DPI=120 for the 1.25 scale, under Xvfb for the OpenGL parts). The
// checks catch a window that renders blank or without its style sheet.
TEST_F(MainWindowTest, ScreenshotsOfEveryPageState) {
    // The title and version as the program's start hands them to Tether.
    delete window_;
    g_cd->uiValues->set("app_title", tq::Value("Zu虚拟摄像头"));
    g_cd->appInfo->setVersion("1.1.8");
    window_ = new MainWindow(nullptr, MainWindow::Outputs{queueName_, {}});
    app_->mainWindow = window_;
    window_->show();
    EXPECT_EQ(window_->findChild<QLabel*>("label_main_title")->text(), QString::fromUtf8("Zu虚拟摄像头"));
    EXPECT_EQ(window_->findChild<QLabel*>("label_main_version")->text(), QString("\nV1.1.8"));

    const double s = app_->dpiScale;
    const auto shoot = [&](const char* name) {
        // The waiting indicator's step, the preview's 40 ms repaint and the
        // overlays' first check of the picture flag.
        QTest::qWait(700);
        const QImage image = window_->grab().toImage();
        EXPECT_TRUE(image.save(ShotPath(name, s)));
        return image;
    };
    window_->mainForm()->SetIpAddress({"192.168.1.20", "10.0.0.7"});
    const QImage wifiPage = shoot("main-window-0-wifi");
    EXPECT_EQ(wifiPage.size(), window_->size());
    EXPECT_EQ(wifiPage.pixelColor(window_->width() / 2, int(20 * s)), QColor("#D8D8D8"));  // title bar

    window_->SetStreamChannel(2);
    shoot("main-window-1-usb");
    window_->SetStreamChannel(0);

    Connect(wifi(), "Pixel 7 Pro");
    shoot("main-window-2-connected");

    AVFrame* frame = MakeBandsFrame(640, 360);
    ASSERT_NE(frame, nullptr);
    window_->frameSource()->Push(frame);  // as the decoder hands it over
    av_frame_free(&frame);
    Picture(wifi(), 640, 360);
    auto* preview = static_cast<StreamVideoSinkSw*>(window_->mainForm()->GetPreviewSinks()[0]);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !preview->GetImage().isNull(); }, 3000));
    const QImage previewPage = shoot("main-window-3-preview");
    // The picture's first band (light grey) is on screen left of the middle.
    const QColor left = previewPage.pixelColor(window_->width() / 16, window_->height() / 2);
    EXPECT_GT(left.lightness(), 120) << left.name().toStdString();

    emit wifi()->OnDisconnectedDelay();
    shoot("main-window-3-preview-reconnect-wait");
}

}  // namespace
