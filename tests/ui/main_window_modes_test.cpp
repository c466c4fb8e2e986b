// The main window's capture, tray and window modes under the offscreen
// platform: screenshots through the window (pixels, failures told, the
// cache outliving the saves), the recording feedback and its running time,
// the tray menu, the close confirmation, the maximise toggle, dragging by
// the title bar, the floating mode and the sizing borders, and the window's
// designer form against its object table.
//
// The offscreen platform has no system tray: the icon, its menu, tool tip
// and the menu's actions are checked; that the icon shows in a panel and
// that its balloon messages appear cannot be.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpacerItem>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

#include "core/tether/tq.h"
#include "devices/driver_sink/camera_driver_port.h"
#include "ffmpeg_handles.h"
#include "stream_manager.h"
#include "support/message_box_recorder.h"
#include "ui/floating-geometry.h"
#include "ui/main-form.h"
#include "ui/main-window.h"
#include "ui/menu-state-form.h"
#include "ui_main-window.h"
#include "vexo/gs_device.h"
#include "zuc_shaders.h"
#include "video_sink/stream_video_sink_cache.h"
#include "video_sink/stream_video_sink_sw.h"
#include "zucam.h"

namespace {

using zucam::test::MessageBoxRecorder;

const QString kCloseQuestion = QString::fromUtf8("您是否确定要关闭软件？");

// No camera driver on a test machine.
class NoCameraPort : public CameraDriverPort {
public:
    bool Open() override { return false; }
    bool Write(const uint8_t*, size_t) override { return false; }
    void Close() override {}
};

// Records the file locations the window asks to show (instead of starting
// the desktop's file manager) while the test runs.
class RecordingSystem : public tq::System {
public:
    explicit RecordingSystem(tq::System* real) : real_(real) {}
    const char* formatNow(const char* format) override { return real_->formatNow(format); }
    void openFileLocation(const char* path) override { opened << QString::fromUtf8(path); }
    QStringList opened;

private:
    tq::System* real_;
};

// A 16 x 8 picture, white in the top-left quadrant and black elsewhere.
AVFramePtr QuadrantFrame() {
    AVFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = 16;
    frame->height = 8;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) frame->data[0][y * frame->linesize[0] + x] = (x < 8 && y < 4) ? 235 : 16;
    }
    for (int plane = 1; plane <= 2; ++plane) {
        for (int y = 0; y < 4; ++y) memset(frame->data[plane] + y * frame->linesize[plane], 128, 8);
    }
    return frame;
}

// A picture with a horizontal luma ramp and two chroma bands.
AVFramePtr GradientFrame(int width, int height) {
    AVFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) frame->data[0][y * frame->linesize[0] + x] = uint8_t(16 + (x * 219) / width);
    }
    for (int y = 0; y < height / 2; ++y) {
        memset(frame->data[1] + y * frame->linesize[1], y < height / 4 ? 80 : 176, width / 2);
        memset(frame->data[2] + y * frame->linesize[2], 128, width / 2);
    }
    return frame;
}

template <typename T = QWidget>
T* Child(const QObject& parent, const char* name) {
    T* child = parent.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// A mouse event as the window receives it: local position, global position.
void SendMouse(QWidget* window, QEvent::Type type, const QPoint& local, const QPoint& global,
               Qt::MouseButtons buttons = Qt::LeftButton) {
    QMouseEvent event(type, local, global, Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(window, &event);
}

class MainWindowModes : public testing::Test {
protected:
    void SetUp() override {
        app = zucamApp();
        ASSERT_NE(app, nullptr);
        // ZuCam's Initialize (the first turn of the event loop) makes the
        // program's own window; the tests make theirs instead.
        QCoreApplication::processEvents();
        delete app->mainWindow.data();
        ASSERT_TRUE(folder.isValid());
        app->saveDir = folder.path();
        app->shotOpenDir = false;
        MakeWindow();
    }
    void MakeWindow() {
        window.reset();
        MainWindow::Outputs outputs;
        outputs.cameraQueueName = QString("/zucam-modes-test-%1").arg(getpid()).toStdString();
        outputs.makeDriverPort = [] { return std::make_unique<NoCameraPort>(); };
        window = std::make_unique<MainWindow>(nullptr, outputs);
        window->move(100, 100);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override { window.reset(); }

    QWidget* Title() const { return Child(*window, "widget_title"); }
    QWidget* Preview() const { return Child(*window, "widget_main"); }
    // Waits until n message boxes were recorded.
    static bool WaitForMessages(const MessageBoxRecorder& boxes, int n) {
        return QTest::qWaitFor([&] { return boxes.messages().size() >= n; }, 5000);
    }

    ZuCam* app = nullptr;
    QTemporaryDir folder;
    std::unique_ptr<MainWindow> window;
};

// ---- Screenshots through the window

TEST_F(MainWindowModes, ScreenShotSavesTheCachedPictureAndShowsTheTip) {
    MessageBoxRecorder boxes;
    const AVFramePtr frame = QuadrantFrame();
    ASSERT_TRUE(frame);
    window->screenshotFrames()->Push(frame.get());
    window->ScreenShot();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !QDir(folder.path()).entryList({"ZuCam_shot*.png"}).isEmpty(); }, 5000));
    window->WaitForScreenShots();
    QCoreApplication::processEvents();
    const QStringList shots = QDir(folder.path()).entryList(QDir::Files);
    ASSERT_EQ(shots.size(), 1) << shots.join(",").toStdString();
    EXPECT_TRUE(QRegularExpression("^ZuCam_shot\\[\\d{14}\\]\\.png$").match(shots.first()).hasMatch()) << shots.first().toStdString();
    QImage saved;
    ASSERT_TRUE(saved.load(folder.filePath(shots.first())));
    EXPECT_GE(qRed(saved.pixel(2, 2)), 250);
    EXPECT_LE(qRed(saved.pixel(12, 6)), 5);
    EXPECT_TRUE(boxes.messages().isEmpty()) << boxes.messages().join("|").toStdString();
}

TEST_F(MainWindowModes, ScreenShotFailuresAreToldInOrder) {
    MessageBoxRecorder boxes;
    // No picture yet, and the folder is gone: the folder is told.
    app->saveDir = folder.path() + "/gone";
    window->ScreenShot();
    ASSERT_TRUE(WaitForMessages(boxes, 1));
    EXPECT_EQ(boxes.messages().last(), QString::fromUtf8("输出目录不存在，请前往设置页面重新设置"));
    // The folder is there, the picture is not.
    app->saveDir = folder.path();
    window->ScreenShot();
    ASSERT_TRUE(WaitForMessages(boxes, 2));
    EXPECT_EQ(boxes.messages().last(), QString::fromUtf8("未接收到图像数据，截图失败！"));
    // A folder nothing can be written to (the proc file system, which
    // refuses the superuser as well).
    const AVFramePtr frame = QuadrantFrame();
    window->screenshotFrames()->Push(frame.get());
    app->saveDir = "/proc/self";
    window->ScreenShot();
    ASSERT_TRUE(WaitForMessages(boxes, 3));
    EXPECT_EQ(boxes.messages().last(), QString::fromUtf8("输出目录无法写入，请前往设置页面重新设置"));
    // A save that failed on its own.
    window->ShowScreenShotResult(QString(), QString());
    EXPECT_EQ(boxes.messages().last(), QString::fromUtf8("截图失败"));
    app->saveDir = folder.path();
}

TEST_F(MainWindowModes, SavedShotOpensTheFolderWhenAsked) {
    MessageBoxRecorder boxes;
    tq::System* const real = g_cd->system;
    RecordingSystem recording(real);
    g_cd->system = &recording;
    app->shotOpenDir = true;
    window->ShowScreenShotResult(folder.filePath("ZuCam_shot[1].png"), QString());
    app->shotOpenDir = false;
    g_cd->system = real;
    EXPECT_EQ(recording.opened, QStringList{folder.filePath("ZuCam_shot[1].png")});
    EXPECT_TRUE(boxes.messages().isEmpty());
}

TEST_F(MainWindowModes, WindowWaitsForRunningSavesBeforeItFreesTheCache) {
    MessageBoxRecorder boxes;
    // Full-HD pictures and more saves than the pool has threads: the last
    // ones read the cache long after the window began to go.
    const AVFramePtr frame = GradientFrame(1920, 1080);
    ASSERT_TRUE(frame);
    window->screenshotFrames()->Push(frame.get());
    const int shots = 4 * std::max(1, QThread::idealThreadCount());
    for (int i = 0; i < shots; ++i) window->ScreenShot();
    // Freed at once: a save that outlived the cache would read freed memory
    // (a sanitizer build reports it; others mostly crash).
    window.reset();
    EXPECT_FALSE(QDir(folder.path()).entryList({"ZuCam_shot*.png"}).isEmpty());
    EXPECT_TRUE(QDir(folder.path()).entryList({"*.txt"}).isEmpty());
}

// ---- Recording feedback

TEST_F(MainWindowModes, RecordingFeedbackReachesTheToolBar) {
    MessageBoxRecorder boxes;
    auto* const record = Child<QPushButton>(*window, "pushButton_menu_record");
    auto* const time = Child<QLabel>(*window, "label_menu_time");
    window->OnRecordStartSuccess();
    EXPECT_TRUE(record->property("recording").toBool());
    // The running time counts past 24 hours: 25 hours read 25:00:00.
    emit window->wifiHub()->RecordDurationChanged(25LL * 3600 * 1000);
    EXPECT_EQ(time->text(), "25:00:00");
    emit window->androidHub()->RecordDurationChanged(61LL * 1000);
    EXPECT_EQ(time->text(), "00:01:01");

    tq::System* const real = g_cd->system;
    RecordingSystem recording(real);
    g_cd->system = &recording;
    window->OnRecordStoped(folder.filePath("ZuCam_recoder[1].mp4"));
    g_cd->system = real;
    EXPECT_FALSE(record->property("recording").toBool());
    EXPECT_EQ(recording.opened, QStringList{folder.filePath("ZuCam_recoder[1].mp4")});

    window->OnRecordStartFailed(QString::fromUtf8("输出目录无法写入，请前往设置页面重新设置"));
    EXPECT_FALSE(record->property("recording").toBool());
    window->OnRecordInterrupt();  // no hub sent it: only the message
    EXPECT_EQ(boxes.messages(), (QStringList{QString::fromUtf8("输出目录无法写入，请前往设置页面重新设置"),
                                             QString::fromUtf8("录制过程出现错误，录制已停止")}));
}

TEST_F(MainWindowModes, ToolBarButtonsReachTheScreenShotAndRecordSlots) {
    MessageBoxRecorder boxes;
    app->saveDir = folder.path() + "/gone";
    emit window->menuForm()->ScreenShot();
    ASSERT_TRUE(WaitForMessages(boxes, 1));
    EXPECT_EQ(boxes.messages().last(), QString::fromUtf8("输出目录不存在，请前往设置页面重新设置"));
    // The phone's request takes the same way.
    emit window->wifiHub()->ScreenShot();
    ASSERT_TRUE(WaitForMessages(boxes, 2));
    EXPECT_EQ(boxes.messages().last(), QString::fromUtf8("输出目录不存在，请前往设置页面重新设置"));
    app->saveDir = folder.path();
    // Record reaches the hubs: the Wi-Fi hub, waiting without a phone and
    // without a picture to record, answers that it failed, and the window
    // tells it and leaves the tool bar idle.
    emit window->menuForm()->StartRecord();
    ASSERT_TRUE(WaitForMessages(boxes, 3));
    EXPECT_EQ(boxes.messages().last(), QString::fromUtf8("录制失败"));
    EXPECT_FALSE(Child<QPushButton>(*window, "pushButton_menu_record")->property("recording").toBool());
}

// ---- Tray

TEST_F(MainWindowModes, TrayMenuShowsTheWindowOrAsksBeforeQuitting) {
    QSystemTrayIcon* const tray = window->trayIconForTest();
    ASSERT_NE(tray, nullptr);
    EXPECT_FALSE(tray->icon().isNull());
    EXPECT_EQ(tray->toolTip(), QString::fromUtf8("Zu虚拟摄像头\n状态：未连接"));
    QMenu* const menu = window->trayMenuForTest();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(tray->contextMenu(), menu);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[0]->text(), QString::fromUtf8("显示窗口"));
    EXPECT_EQ(actions[1]->text(), QString::fromUtf8("退出"));

    window->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isMinimized(); }, 2000));
    actions[0]->trigger();
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->isVisible());

    // A right click (context) leaves a minimised window; a click shows it.
    window->showMinimized();
    window->slot_activatedSysTrayIcon(QSystemTrayIcon::Context);
    EXPECT_TRUE(window->isMinimized());
    window->slot_activatedSysTrayIcon(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(window->isMinimized());

    MessageBoxRecorder boxes(0);  // "取消"
    actions[1]->trigger();
    EXPECT_EQ(boxes.messages(), QStringList{kCloseQuestion});
    EXPECT_TRUE(window->isVisible());
}

// ---- Title-bar buttons

// Runs the application's event loop with the close button clicked in it and
// the confirmation answered; the loop's exit code tells whether the window
// ended the program (0) or the watchdog did (7).
int CloseWithAnswer(MainWindow* window, int answer, QStringList* messages) {
    MessageBoxRecorder boxes(answer);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    QTimer::singleShot(0, window, [window] { Child<QPushButton>(*window, "pushButton_main_close")->click(); });
    watchdog.start(300);
    const int code = QCoreApplication::exec();
    *messages = boxes.messages();
    return code;
}

TEST_F(MainWindowModes, CloseAsksAndEndsOnlyOnConfirmation) {
    QStringList messages;
    EXPECT_EQ(CloseWithAnswer(window.get(), 0, &messages), 7);  // "取消"
    EXPECT_EQ(messages, QStringList{kCloseQuestion});
    EXPECT_EQ(CloseWithAnswer(window.get(), -1, &messages), 7);  // closed by its own title bar
    EXPECT_EQ(CloseWithAnswer(window.get(), 1, &messages), 0);   // "确定"
    EXPECT_EQ(messages, QStringList{kCloseQuestion});
    // The floating widget's close button asks the same.
    MessageBoxRecorder boxes(0);
    Child<QPushButton>(*window->GetSuspendWidget(), "suspend_close")->click();
    EXPECT_EQ(boxes.messages(), QStringList{kCloseQuestion});
}

TEST_F(MainWindowModes, MaximiseTogglesAndTheButtonFollowsTheState) {
    auto* const max = Child<QPushButton>(*window, "pushButton_main_max");
    EXPECT_TRUE(max->isCheckable());
    window->setGeometry(120, 110, 900, 634);
    const QRect normal = window->geometry();
    max->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isMaximized(); }, 2000));
    EXPECT_TRUE(max->isChecked());
    max->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isMaximized(); }, 2000));
    EXPECT_FALSE(max->isChecked());
    EXPECT_EQ(window->geometry(), normal);

    // A double click on the title bar toggles too; one below it does not.
    const QPoint inTitle(300, Title()->height() / 2);
    SendMouse(window.get(), QEvent::MouseButtonDblClick, inTitle, window->mapToGlobal(inTitle));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isMaximized(); }, 2000));
    EXPECT_TRUE(max->isChecked());
    SendMouse(window.get(), QEvent::MouseButtonDblClick, inTitle, window->mapToGlobal(inTitle));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isMaximized(); }, 2000));
    const QPoint below(300, Title()->height() + 40);
    SendMouse(window.get(), QEvent::MouseButtonDblClick, below, window->mapToGlobal(below));
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->isMaximized());
}

TEST_F(MainWindowModes, HelpLinkOpensTheHelpPageModally) {
    // The page runs modally: the first turn of its loop notes and closes it.
    QString shown;
    QWidget* parent = nullptr;
    QTimer::singleShot(0, [&] {
        if (QWidget* const modal = QApplication::activeModalWidget()) {
            shown = modal->metaObject()->className();
            parent = modal->parentWidget();
            modal->close();
        }
    });
    Child<QPushButton>(*window, "pushButton_helpinfo")->click();
    EXPECT_EQ(shown, "HelpInfoDialog");
    EXPECT_EQ(parent, window.get());
}

TEST_F(MainWindowModes, MinimiseButtonsMinimise) {
    Child<QPushButton>(*window, "pushButton_main_min")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->isMinimized(); }, 2000));
    window->showNormal();
    Child<QPushButton>(*window->GetSuspendWidget(), "suspend_min")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->isMinimized(); }, 2000));
}

// ---- Dragging

TEST_F(MainWindowModes, TitleBarDragMovesByTheDistanceMoved) {
    const int threshold = QApplication::startDragDistance();
    window->move(500, 400);
    QCoreApplication::processEvents();
    const QPoint start = window->pos();
    const QPoint local(200, Title()->height() / 2);
    const QPoint global = start + local;
    SendMouse(window.get(), QEvent::MouseButtonPress, local, global);
    // A wobble within the start distance leaves the window where it is,
    // however far from the screen's origin it stands.
    SendMouse(window.get(), QEvent::MouseMove, local, global + QPoint(2, 1), Qt::LeftButton);
    EXPECT_EQ(window->pos(), start);
    // Past it, the window follows, and then follows every small step.
    SendMouse(window.get(), QEvent::MouseMove, local, global + QPoint(threshold + 20, 0), Qt::LeftButton);
    EXPECT_EQ(window->pos(), start + QPoint(threshold + 20, 0));
    SendMouse(window.get(), QEvent::MouseMove, local, global + QPoint(threshold + 21, 1), Qt::LeftButton);
    EXPECT_EQ(window->pos(), start + QPoint(threshold + 21, 1));
    SendMouse(window.get(), QEvent::MouseButtonRelease, local, global, Qt::NoButton);
    // After the release, moves do nothing.
    SendMouse(window.get(), QEvent::MouseMove, local, global + QPoint(200, 200), Qt::LeftButton);
    EXPECT_EQ(window->pos(), start + QPoint(threshold + 21, 1));
}

TEST_F(MainWindowModes, DragReachesTheScreensTopLeftCorner) {
    window->move(40, 40);
    QCoreApplication::processEvents();
    const QPoint start = window->pos();
    const QPoint local(200, Title()->height() / 2);
    SendMouse(window.get(), QEvent::MouseButtonPress, local, start + local);
    // The target (2, 2) lies within the start distance of the origin, yet
    // the window moves the 76 pixels there.
    SendMouse(window.get(), QEvent::MouseMove, local, QPoint(2, 2) + local, Qt::LeftButton);
    EXPECT_EQ(window->pos(), QPoint(2, 2));
    SendMouse(window.get(), QEvent::MouseButtonRelease, local, QPoint(2, 2) + local, Qt::NoButton);
}

TEST_F(MainWindowModes, PressBelowTheTitleDoesNotDragUnlessFloating) {
    window->move(300, 300);
    QCoreApplication::processEvents();
    const QPoint start = window->pos();
    const QPoint below(200, Title()->height() + 50);
    SendMouse(window.get(), QEvent::MouseButtonPress, below, start + below);
    SendMouse(window.get(), QEvent::MouseMove, below, start + below + QPoint(80, 0), Qt::LeftButton);
    SendMouse(window.get(), QEvent::MouseButtonRelease, below, start + below, Qt::NoButton);
    EXPECT_EQ(window->pos(), start);

    window->SetPictureAspectForTest(16.0f / 9.0f);
    window->SetSuspendMode(true, false);
    const QPoint anywhere(100, 100);
    const QPoint floatingStart = window->pos();
    SendMouse(window.get(), QEvent::MouseButtonPress, anywhere, floatingStart + anywhere);
    SendMouse(window.get(), QEvent::MouseMove, anywhere, floatingStart + anywhere + QPoint(80, 0), Qt::LeftButton);
    SendMouse(window.get(), QEvent::MouseButtonRelease, anywhere, floatingStart + anywhere, Qt::NoButton);
    EXPECT_EQ(window->pos(), floatingStart + QPoint(80, 0));
    // Nor does a double click maximise a floating window.
    SendMouse(window.get(), QEvent::MouseButtonDblClick, QPoint(100, 10), floatingStart + QPoint(100, 10));
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->isMaximized());
    window->SetSuspendMode(false, false);
}

// ---- Floating mode

struct FloatingPicture {
    const char* name;
    float aspect;
};

class FloatingMode : public MainWindowModes, public testing::WithParamInterface<FloatingPicture> {};

TEST_P(FloatingMode, ShrinksToThePictureAndComesBack) {
    window->SetPictureAspectForTest(GetParam().aspect);
    window->setGeometry(150, 120, 900, 634);
    QCoreApplication::processEvents();
    const QRect normal = window->geometry();
    const QSize normalMinimum = window->minimumSize();
    const QSize preview = Preview()->size();
    auto* const hide = Child<QPushButton>(*window, "pushButton_main_hide");
    hide->setEnabled(true);  // a picture is shown
    hide->click();
    QCoreApplication::processEvents();
    ASSERT_TRUE(window->suspendMode());
    EXPECT_FALSE(Title()->isVisible());
    EXPECT_FALSE(Child(*window, "widget_menu")->isVisible());
    const QSize fitted = window_geometry::FloatingWindowSize(preview, GetParam().aspect);
    EXPECT_EQ(window->size(), fitted);
    EXPECT_EQ(window->pos(), normal.topLeft());
    EXPECT_EQ(window->minimumSize(), window_geometry::FloatingMinimumSize(app->dpiScale, GetParam().aspect));
    // The preview fills the whole window.
    EXPECT_EQ(Preview()->size(), fitted);
    QWidget* const floating = window->GetSuspendWidget();
    EXPECT_TRUE(floating->isVisible());
    EXPECT_EQ(floating->geometry().topRight(), QPoint(window->width() - 1, 0));
    // The pointer leaving hides the buttons, coming back shows them.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(window.get(), &leave);
    EXPECT_FALSE(floating->isVisible());
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(floating->isVisible());

    Child<QPushButton>(*floating, "suspend_hide")->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->suspendMode());
    EXPECT_FALSE(floating->isVisible());
    EXPECT_TRUE(Title()->isVisible());
    EXPECT_EQ(window->geometry(), normal);
    EXPECT_EQ(window->minimumSize(), normalMinimum);
}

INSTANTIATE_TEST_SUITE_P(Pictures, FloatingMode,
                         testing::Values(FloatingPicture{"Landscape", 1920.0f / 1080.0f},
                                         FloatingPicture{"Portrait", 1080.0f / 1920.0f},
                                         FloatingPicture{"Square", 1.0f}),
                         [](const testing::TestParamInfo<FloatingPicture>& param) {
                             return std::string(param.param.name);
                         });

TEST_F(MainWindowModes, FloatingFromMaximisedStartsFromTheNormalWindow) {
    window->SetPictureAspectForTest(16.0f / 9.0f);
    window->setGeometry(150, 120, 900, 634);
    QCoreApplication::processEvents();
    const QRect normal = window->geometry();
    Child<QPushButton>(*window, "pushButton_main_max")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isMaximized(); }, 2000));
    window->on_pushButton_main_hide_clicked();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->isMaximized());
    EXPECT_TRUE(window->suspendMode());
    EXPECT_LT(window->width(), normal.width());
    window->on_pushButton_suspend_hide_clicked();
    QCoreApplication::processEvents();
    EXPECT_EQ(window->geometry(), normal);
}

TEST_F(MainWindowModes, RefitKeepsTheNormalGeometryToComeBackTo) {
    window->SetPictureAspectForTest(16.0f / 9.0f);
    window->setGeometry(150, 120, 900, 634);
    QCoreApplication::processEvents();
    const QRect normal = window->geometry();
    const QSize preview = Preview()->size();
    window->SetSuspendMode(true, false);
    // The phone turns: the floating window refits from the saved preview.
    window->SetPictureAspectForTest(9.0f / 16.0f);
    window->SetSuspendMode(true, true);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->size(), window_geometry::FloatingWindowSize(preview, 9.0f / 16.0f));
    window->SetSuspendMode(false, false);
    EXPECT_EQ(window->geometry(), normal);
}

TEST_F(MainWindowModes, PictureTurningRefitsAndDisconnectionLeavesTheFloatingMode) {
    window->SetPictureAspectForTest(16.0f / 9.0f);
    window->setGeometry(150, 120, 900, 634);
    QCoreApplication::processEvents();
    const QRect normal = window->geometry();
    const QSize preview = Preview()->size();
    window->SetSuspendMode(true, false);
    window->OnStreamResolutionChanged(1080, 1920);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->suspendMode());
    EXPECT_EQ(window->size(), window_geometry::FloatingWindowSize(preview, 1080.0f / 1920.0f));
    window->OnStreamDisconnected();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->suspendMode());
    EXPECT_EQ(window->geometry(), normal);
    EXPECT_TRUE(Title()->isVisible());
    // The delayed disconnection leaves it too.
    window->SetSuspendMode(true, false);
    window->OnStreamDisconnectedDelay();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->suspendMode());
    EXPECT_EQ(window->geometry(), normal);
}

TEST_F(MainWindowModes, FloatingWindowKeepsItsRatioWhenSized) {
    window->SetPictureAspectForTest(16.0f / 9.0f);
    window->setGeometry(150, 120, 900, 634);
    QCoreApplication::processEvents();
    window->SetSuspendMode(true, false);
    // The window system widens it: the height follows.
    window->resize(800, window->height());
    QCoreApplication::processEvents();
    EXPECT_EQ(window->width(), 800);
    EXPECT_NEAR(window->height(), 450, 1);
    // The sizing message (Windows) of a left-edge drag: the height follows.
    int top = 0, bottom = 300, left = 100, right = 740;
    window->onSizing(window_geometry::kSizingLeft, &top, &bottom, &left, &right);
    EXPECT_EQ(bottom, 360);
    window->SetSuspendMode(false, false);
    // Not floating: sizing is free.
    bottom = 300;
    window->onSizing(window_geometry::kSizingLeft, &top, &bottom, &left, &right);
    EXPECT_EQ(bottom, 300);
    window->resize(1000, 640);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->size(), QSize(1000, 640));
}

// ---- Frameless-window answers

TEST_F(MainWindowModes, SizingBordersAreFiveScaledPixelsAndNoCaption) {
    window->setGeometry(100, 100, 900, 634);
    QCoreApplication::processEvents();
    const QPoint origin = window->mapToGlobal(QPoint(0, 0));
    const int s5 = static_cast<int>(5 * app->dpiScale);
    EXPECT_TRUE(window->isLeftEdge(origin.x() + s5, origin.y() + 300));
    EXPECT_FALSE(window->isLeftEdge(origin.x() + s5 + 1, origin.y() + 300));
    EXPECT_TRUE(window->isTopEdge(origin.x() + 300, origin.y() + 1));
    EXPECT_TRUE(window->isRightEdge(origin.x() + window->width() - 2, origin.y() + 300));
    EXPECT_TRUE(window->isBottomEdge(origin.x() + 300, origin.y() + window->height() - 1));
    EXPECT_FALSE(window->isBottomEdge(origin.x() + 300, origin.y() + 300));
    // Moving is the window's own (title-bar drag), never the system's.
    EXPECT_FALSE(window->isCaption(origin.x() + 300, origin.y() + 20));
    window->showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isMaximized(); }, 2000));
    const QPoint maxOrigin = window->mapToGlobal(QPoint(0, 0));
    EXPECT_FALSE(window->isLeftEdge(maxOrigin.x() + 1, maxOrigin.y() + 300));
    EXPECT_FALSE(window->isTopEdge(maxOrigin.x() + 300, maxOrigin.y() + 1));
}

// ---- Pictures for a look (ZUCAM_SCREENSHOT_DIR set)

TEST_F(MainWindowModes, RendersForALook) {
    const QByteArray dir = qgetenv("ZUCAM_SCREENSHOT_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "set ZUCAM_SCREENSHOT_DIR to save the pictures";
    QDir().mkpath(QString::fromLocal8Bit(dir));
    const auto save = [&](QWidget* widget, const char* name) {
        QCoreApplication::processEvents();
        QTest::qWait(300);
        EXPECT_TRUE(widget->grab().save(QDir(QString::fromLocal8Bit(dir)).filePath(name))) << name;
    };
    // The composition needs the render device that main() makes; it must
    // be there before the window and go after it. ZuCam registered the
    // shaders when it started, before this device existed: again here.
    ASSERT_TRUE(GsDevice::CreateDefaultDevice(true));
    GsDevice::DefaultDevice()->SetFrameRate(30);
    EXPECT_TRUE(RegisterZucShaders(GsDevice::DefaultDevice()));
    struct DeviceGoesLast {
        std::unique_ptr<MainWindow>* window;
        ~DeviceGoesLast() {
            window->reset();
            GsDevice::DestroyDefaultDevice();
        }
    } deviceGoesLast{&window};
    MakeWindow();
    window->setGeometry(100, 100, 900, 634);
    save(window.get(), "main-window-normal.png");
    window->trayMenuForTest()->popup(window->mapToGlobal(QPoint(300, 300)));
    save(window->trayMenuForTest(), "tray-menu.png");
    window->trayMenuForTest()->hide();

    // A picture as the decoder would give it: the preview page shows the
    // composed picture.
    const auto showPicture = [&](int width, int height) {
        const AVFramePtr frame = GradientFrame(width, height);
        ASSERT_TRUE(frame);
        window->OnStreamVideoArrive(width, height);
        for (int i = 0; i < 10; ++i) {
            window->frameSource()->Push(frame.get());
            QTest::qWait(40);
        }
    };
    showPicture(1280, 720);
    save(window.get(), "main-window-picture.png");
    window->SetSuspendMode(true, false);
    save(window.get(), "main-window-floating-landscape.png");
    window->SetSuspendMode(false, false);
    showPicture(720, 1280);
    window->SetSuspendMode(true, false);
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(window.get(), &enter);
    save(window.get(), "main-window-floating-portrait.png");
    window->SetSuspendMode(false, false);
    save(window.get(), "main-window-back-to-normal.png");
}

// ---- The designer form

TEST(MainWindowForm, ObjectsMatchTheirTable) {
    QMainWindow bare;
    Ui_MainWindow form;
    form.setupUi(&bare);
    EXPECT_EQ(bare.objectName(), "MainWindow");
    EXPECT_EQ(bare.size(), QSize(807, 683));
    EXPECT_EQ(bare.windowTitle(), "MainWindow");
    EXPECT_EQ(bare.centralWidget(), form.centralWidget);
    EXPECT_EQ(form.centralWidget->objectName(), "centralWidget");

    EXPECT_EQ(form.verticalLayout->objectName(), "verticalLayout");
    EXPECT_EQ(form.centralWidget->layout(), form.verticalLayout);
    EXPECT_EQ(form.verticalLayout->spacing(), 0);
    EXPECT_EQ(form.verticalLayout->contentsMargins(), QMargins(1, 1, 1, 1));
    ASSERT_EQ(form.verticalLayout->count(), 3);
    EXPECT_EQ(form.verticalLayout->itemAt(0)->widget(), form.widget_title);
    EXPECT_EQ(form.verticalLayout->itemAt(1)->widget(), form.widget_main);
    EXPECT_EQ(form.verticalLayout->itemAt(2)->widget(), form.widget_menu);
    EXPECT_EQ(form.widget_title->objectName(), "widget_title");
    EXPECT_EQ(form.widget_main->objectName(), "widget_main");
    EXPECT_EQ(form.widget_menu->objectName(), "widget_menu");
    EXPECT_NE(qobject_cast<MainForm*>(form.widget_main), nullptr);
    EXPECT_NE(qobject_cast<MenuStateForm*>(form.widget_menu), nullptr);
    EXPECT_EQ(form.widget_main->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    EXPECT_EQ(form.widget_main->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
    EXPECT_EQ(form.widget_main->sizePolicy().horizontalStretch(), 0);
    EXPECT_EQ(form.widget_main->sizePolicy().verticalStretch(), 0);

    QHBoxLayout* const title = form.horizontalLayout_2;
    EXPECT_EQ(title->objectName(), "horizontalLayout_2");
    EXPECT_EQ(form.widget_title->layout(), title);
    EXPECT_EQ(title->spacing(), 20);
    EXPECT_EQ(title->contentsMargins().left(), 30);
    EXPECT_EQ(title->contentsMargins().right(), 30);
    ASSERT_EQ(title->count(), 5);
    EXPECT_EQ(title->itemAt(0)->widget(), form.label_main_title);
    EXPECT_EQ(title->itemAt(1)->widget(), form.label_main_version);
    QSpacerItem* const spacer = title->itemAt(2)->spacerItem();
    ASSERT_NE(spacer, nullptr);
    EXPECT_EQ(spacer->sizeHint(), QSize(280, 20));
    EXPECT_EQ(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    EXPECT_EQ(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    EXPECT_EQ(title->itemAt(3)->widget(), form.pushButton_helpinfo);
    EXPECT_EQ(title->itemAt(4)->layout(), form.horizontalLayout);

    EXPECT_EQ(form.label_main_title->objectName(), "label_main_title");
    EXPECT_EQ(form.label_main_title->text(), QString::fromUtf8("Zu虚拟摄像头"));
    EXPECT_EQ(form.label_main_version->objectName(), "label_main_version");
    EXPECT_EQ(form.label_main_version->text(), QString::fromUtf8("\nV1.0版本"));
    EXPECT_EQ(form.label_main_version->alignment(), Qt::AlignLeading | Qt::AlignLeft | Qt::AlignVCenter);
    EXPECT_EQ(form.pushButton_helpinfo->objectName(), "pushButton_helpinfo");
    EXPECT_EQ(form.pushButton_helpinfo->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(form.pushButton_helpinfo->text(), QString::fromUtf8("其它软件如何使用Zu虚拟摄像头？"));

    QHBoxLayout* const buttons = form.horizontalLayout;
    EXPECT_EQ(buttons->objectName(), "horizontalLayout");
    EXPECT_EQ(buttons->spacing(), 25);
    const QPushButton* const order[] = {form.pushButton_main_hide, form.pushButton_main_min, form.pushButton_main_max,
                                        form.pushButton_main_close};
    const char* const names[] = {"pushButton_main_hide", "pushButton_main_min", "pushButton_main_max",
                                 "pushButton_main_close"};
    ASSERT_EQ(buttons->count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(buttons->itemAt(i)->widget(), order[i]) << names[i];
        EXPECT_EQ(order[i]->objectName(), names[i]);
        EXPECT_EQ(order[i]->text(), "") << names[i];
        EXPECT_FALSE(order[i]->isCheckable()) << names[i];  // the window makes max checkable
        if (i > 0) {
            EXPECT_EQ(order[i]->focusPolicy(), Qt::NoFocus) << names[i];
        }
    }
    EXPECT_EQ(form.pushButton_main_hide->toolTip(), QString::fromUtf8("切换无边框模式"));
}

TEST_F(MainWindowModes, FloatingWidgetHoldsItsThreeButtons) {
    QWidget* const floating = window->GetSuspendWidget();
    EXPECT_EQ(floating, window->GetSuspendWidget());
    EXPECT_EQ(floating->objectName(), "suspend_widget");
    EXPECT_EQ(floating->focusPolicy(), Qt::NoFocus);
    EXPECT_FALSE(floating->isVisible());
    // The style sheet fixes its size.
    const int s = static_cast<int>(app->dpiScale * 1000);
    EXPECT_EQ(floating->size(), QSize(200 * s / 1000, 50 * s / 1000));
    ASSERT_NE(floating->layout(), nullptr);
    EXPECT_EQ(floating->layout()->contentsMargins(), QMargins(0, 0, 0, 0));
    ASSERT_EQ(floating->layout()->count(), 3);
    EXPECT_EQ(floating->layout()->itemAt(0)->widget()->objectName(), "suspend_hide");
    EXPECT_EQ(floating->layout()->itemAt(1)->widget()->objectName(), "suspend_min");
    EXPECT_EQ(floating->layout()->itemAt(2)->widget()->objectName(), "suspend_close");
}

}  // namespace
