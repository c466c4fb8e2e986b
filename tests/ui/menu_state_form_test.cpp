// The tool bar: the record button's property rule and the running time, the
// capture buttons, the picture switch refused while the microphone is off,
// the microphone switch's lockout, the volume icon, the more menu, the
// screenshot tips and the first-use guide.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "core/qss/qss_manager.h"
#include "support/dialog_recorder.h"
#include "core/system/system_info.h"
#include "support/message_box_recorder.h"
#include "ui/dialog/guid-widget.h"
#include "ui/menu-state-form.h"
#include "zucam.h"

namespace {

using zucam::test::DialogRecorder;
using zucam::test::MessageBoxRecorder;

template <typename T = QPushButton>
T* Child(const QWidget& form, const char* name) {
    T* child = form.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// Where a popup landed; the offscreen platform puts a 2-pixel frame margin
// around windows (a popup too) that a real window system does not.
void ExpectNear(const QPoint& actual, const QPoint& expected) {
    EXPECT_LE((actual - expected).manhattanLength(), 4) << actual.x() << "," << actual.y() << " vs " << expected.x()
                                                        << "," << expected.y();
}

// Counts the style changes a widget goes through.
class StyleChangeCounter : public QObject {
public:
    explicit StyleChangeCounter(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::StyleChange) ++count;
        return false;
    }
};

class MenuStateFormTest : public testing::Test {
protected:
    void SetUp() override {
        app = zucamApp();
        ASSERT_NE(app, nullptr);
        // ZuCam loads the settings on the first turn of the event loop:
        // let that pass before the flags are set.
        QCoreApplication::processEvents();
        app->openVmic = false;
        app->videoTransport = true;
        // The window the form sits in, as in the main window.
        window.resize(823, 300);
        form = new MenuStateForm(&window);
        form->setGeometry(0, 172, 823, 128);
    }
    void TearDown() override { app->setVideoTransport(true); }

    QPushButton* record() { return Child(*form, "pushButton_menu_record"); }
    QPushButton* mic() { return Child(*form, "pushButton_menu_volumn_img"); }
    QPushButton* picture() { return Child(*form, "pushButton_video_transport"); }
    QLabel* time() { return Child<QLabel>(*form, "label_menu_time"); }
    QString MicSheet() { return mic()->styleSheet(); }

    ZuCam* app = nullptr;
    QWidget window;
    MenuStateForm* form = nullptr;  // owned by window
};

TEST_F(MenuStateFormTest, StartsIdleWithCaptureAndPictureSwitchOff) {
    EXPECT_FALSE(record()->isEnabled());
    EXPECT_FALSE(Child(*form, "pushButton_menu_cutscm")->isEnabled());
    EXPECT_FALSE(picture()->isEnabled());
    EXPECT_TRUE(picture()->isCheckable());
    EXPECT_FALSE(picture()->isChecked());
    EXPECT_TRUE(record()->isCheckable());
    EXPECT_FALSE(record()->property("recording").toBool());
    EXPECT_TRUE(time()->isHidden());
    EXPECT_TRUE(Child(*form, "pushButton_menu_camera_set")->isHidden());
    EXPECT_EQ(Child(*form, "pushButton_menu_set")->toolTip(), QString::fromUtf8("更多设置"));
    EXPECT_EQ(Child(*form, "pushButton_menu_help")->toolTip(), QString::fromUtf8("使用帮助"));
    EXPECT_EQ(Child(*form, "pushButton_menu_aboutus")->toolTip(), QString::fromUtf8("关于我们"));
    EXPECT_EQ(mic()->toolTip(), QString::fromUtf8("虚拟麦克风:关"));
    EXPECT_EQ(Child<QLabel>(*form, "label_menu_state")->text(), QString::fromUtf8("未连接"));
}

TEST_F(MenuStateFormTest, RecordClickFollowsThePropertyNotTheCheckedState) {
    form->SetCaptureEnabled(true);
    window.show();
    QSignalSpy start(form, &MenuStateForm::StartRecord);
    QSignalSpy stop(form, &MenuStateForm::StopRecord);

    QTest::mouseClick(record(), Qt::LeftButton);
    EXPECT_EQ(start.count(), 1);
    EXPECT_EQ(stop.count(), 0);
    EXPECT_FALSE(record()->property("recording").toBool());  // only the main window changes it

    form->SetRecordingState(true);
    EXPECT_TRUE(record()->property("recording").toBool());
    EXPECT_TRUE(time()->isVisible());
    for (bool checked : {true, false}) {
        record()->setChecked(checked);
        QTest::mouseClick(record(), Qt::LeftButton);
    }
    EXPECT_EQ(start.count(), 1);
    EXPECT_EQ(stop.count(), 2);

    form->SetRecordTime("00:01:05");
    EXPECT_EQ(time()->text(), QString("00:01:05"));
    form->SetRecordingState(false);
    EXPECT_FALSE(time()->isVisible());
    EXPECT_EQ(time()->text(), QString("00:00:00"));
    QTest::mouseClick(record(), Qt::LeftButton);
    EXPECT_EQ(start.count(), 2);
}

TEST_F(MenuStateFormTest, RecordingPropertyPicksTheStopImage) {
    form->SetCaptureEnabled(true);
    window.show();
    record()->resize(37, 37);
    const QImage idle = record()->grab().toImage();
    form->SetRecordingState(true);
    const QImage recording = record()->grab().toImage();
    EXPECT_NE(idle, recording);  // re-polished: the stop image applies
    form->SetRecordingState(false);
    EXPECT_EQ(record()->grab().toImage(), idle);
}

TEST(RecordTime, CountsHoursPastADay) {
    struct Case {
        qint64 ms;
        const char* text;
    };
    const Case cases[] = {
        {0, "00:00:00"},           {999, "00:00:00"},          {1000, "00:00:01"},
        {59999, "00:00:59"},       {60000, "00:01:00"},        {3599999, "00:59:59"},
        {3600000, "01:00:00"},     {86399000, "23:59:59"},     {86400000, "24:00:00"},
        {90000000, "25:00:00"},    {360000000, "100:00:00"},   {-5000, "00:00:00"},
    };
    for (const Case& c : cases) EXPECT_EQ(MenuStateForm::FormatRecordTime(c.ms).toStdString(), c.text) << c.ms;

    MenuStateForm form;
    form.SetRecordingState(true);
    form.SetRecordDuration(90061000);
    EXPECT_EQ(form.findChild<QLabel*>("label_menu_time")->text(), QString("25:01:01"));
}

TEST_F(MenuStateFormTest, CaptureButtonsFollowTheConnection) {
    record()->setChecked(true);
    form->SetCaptureEnabled(true);
    EXPECT_TRUE(record()->isEnabled());
    EXPECT_FALSE(record()->isChecked());
    EXPECT_TRUE(Child(*form, "pushButton_menu_cutscm")->isEnabled());
    EXPECT_EQ(Child(*form, "pushButton_menu_cutscm")->toolTip(), QString::fromUtf8("截屏"));
    EXPECT_EQ(record()->toolTip(), QString::fromUtf8("录屏"));

    QSignalSpy shot(form, &MenuStateForm::ScreenShot);
    window.show();
    QTest::mouseClick(Child(*form, "pushButton_menu_cutscm"), Qt::LeftButton);
    EXPECT_EQ(shot.count(), 1);

    form->SetCaptureEnabled(false);
    EXPECT_FALSE(record()->isEnabled());
    EXPECT_FALSE(Child(*form, "pushButton_menu_cutscm")->isEnabled());
    EXPECT_TRUE(record()->toolTip().isEmpty());
    EXPECT_TRUE(Child(*form, "pushButton_menu_cutscm")->toolTip().isEmpty());
}

TEST_F(MenuStateFormTest, ConnectionLabelShowsTheNameAsPlainText) {
    form->SetConnectState("<b>Pixel</b>");
    QLabel* state = Child<QLabel>(*form, "label_menu_state");
    EXPECT_EQ(state->text(), QString::fromUtf8("已连接<b>Pixel</b>"));
    EXPECT_EQ(state->textFormat(), Qt::PlainText);
    form->SetConnectState(QString());
    EXPECT_EQ(state->text(), QString::fromUtf8("未连接"));
}

TEST_F(MenuStateFormTest, PictureOffIsRefusedWhileTheMicrophoneIsOff) {
    MessageBoxRecorder boxes;
    form->SetTransportEnabled(true);
    window.show();
    QTest::mouseClick(picture(), Qt::LeftButton);
    EXPECT_EQ(boxes.messages(), QStringList({QString::fromUtf8("请先开启声音后，再关闭摄像头画面")}));
    EXPECT_FALSE(picture()->isChecked());
    EXPECT_TRUE(app->videoTransport);
    EXPECT_TRUE(app->VideoTransportOn());

    app->openVmic = true;
    QTest::mouseClick(picture(), Qt::LeftButton);
    EXPECT_EQ(boxes.messages().size(), 1);
    EXPECT_TRUE(picture()->isChecked());
    EXPECT_FALSE(app->videoTransport);
    EXPECT_FALSE(app->VideoTransportOn());  // what the hubs read

    // Turning the picture back on needs no microphone.
    app->openVmic = false;
    QTest::mouseClick(picture(), Qt::LeftButton);
    EXPECT_EQ(boxes.messages().size(), 1);
    EXPECT_TRUE(app->videoTransport);
    EXPECT_FALSE(picture()->isChecked());

    // The switch follows the application's flag when told.
    app->videoTransport = false;
    form->slot_updateTransportBtnState();
    EXPECT_TRUE(picture()->isChecked());
    app->videoTransport = true;
    form->slot_updateTransportBtnState();
    EXPECT_FALSE(picture()->isChecked());
}

TEST_F(MenuStateFormTest, PictureSwitchDisabledWithoutAPhone) {
    MessageBoxRecorder boxes;
    app->openVmic = true;
    window.show();
    QTest::mouseClick(picture(), Qt::LeftButton);
    EXPECT_TRUE(app->videoTransport);
    EXPECT_FALSE(picture()->isChecked());
    form->SetTransportEnabled(true);
    EXPECT_TRUE(picture()->isEnabled());
}

TEST_F(MenuStateFormTest, MicrophoneSwitchIsLockedForHalfASecond) {
    MessageBoxRecorder boxes;
    // Before Windows 10 the settings dialog's switch answers with a notice.
    SetSystemVersionOverrideForTesting(std::nullopt, false);
    window.show();
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(mic(), Qt::LeftButton);
    EXPECT_FALSE(mic()->isEnabled());
    EXPECT_EQ(boxes.count(QString::fromUtf8("虚拟麦克风")), 1);  // the settings dialog's switch
    // A click during the lockout reaches nothing.
    QTest::mouseClick(mic(), Qt::LeftButton);
    EXPECT_EQ(boxes.count(QString::fromUtf8("虚拟麦克风")), 1);

    app->openVmic = true;  // what the toggle would have done
    QTRY_VERIFY_WITH_TIMEOUT(mic()->isEnabled(), 3000);
    EXPECT_GE(clock.elapsed(), MenuStateForm::kMicLockoutMs - 20);
    EXPECT_EQ(mic()->toolTip(), QString::fromUtf8("虚拟麦克风:开"));
    SetSystemVersionOverrideForTesting(std::nullopt, std::nullopt);
}

TEST_F(MenuStateFormTest, VolumeIconPicksTheLevelImageAndClamps) {
    struct Case {
        int level;
        bool set;
        bool hover;
        const char* image;
        int levelAfter;
    };
    const Case cases[] = {
        {5, false, false, "voice-null", -1},  // nothing given yet
        {5, false, true, "voice-null_hover", -1},
        {0, true, false, "voice-0", 0},
        {10, true, false, "voice-10", 10},
        {11, true, false, "voice-10", 10},
        {1000, true, true, "voice-10_hover", 10},
        {-1, true, false, "voice-null", -1},
        {-50, true, false, "voice-null", -1},
        {3, true, true, "voice-3_hover", 3},
        {0, false, false, "voice-3", 3},  // the hover filter's call keeps the level
    };
    for (const Case& c : cases) {
        QEvent hover(c.hover ? QEvent::Enter : QEvent::Leave);
        QCoreApplication::sendEvent(mic(), &hover);
        form->UpdateVolumeIcon(c.level, c.set);
        EXPECT_EQ(MenuStateForm::volumeLevel(), c.levelAfter) << c.level;
        EXPECT_EQ(MicSheet(), QString("QPushButton#pushButton_menu_volumn_img {border-image: "
                                      "url(:/image/voice/%1.png);}")
                                  .arg(c.image))
            << c.level;
        EXPECT_TRUE(QFile::exists(QString(":/image/voice/%1.png").arg(c.image))) << c.image;
    }
}

TEST_F(MenuStateFormTest, VolumeIconIsRestyledOnlyWhenItChanges) {
    window.show();
    form->UpdateVolumeIcon(4, true);
    StyleChangeCounter changes(mic());
    for (int i = 0; i < 50; ++i) form->UpdateVolumeIcon(4, true);
    EXPECT_EQ(changes.count, 0);
    form->UpdateVolumeIcon(5, true);
    const int afterOneChange = changes.count;
    EXPECT_GE(afterOneChange, 1);
    for (int i = 0; i < 50; ++i) form->UpdateVolumeIcon(5, true);
    EXPECT_EQ(changes.count, afterOneChange);
}

TEST_F(MenuStateFormTest, MoreMenuHasThreeEntriesAndIsPlacedAtEveryClick) {
    MessageBoxRecorder boxes;
    window.move(100, 100);
    window.show();
    QTest::mouseClick(Child(*form, "pushButton_menu_set"), Qt::LeftButton);
    QMenu* menu = form->moreMenuForTest();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->objectName(), QString("menu_more"));
    EXPECT_EQ(menu->parent(), &window);
    ASSERT_EQ(menu->actions().size(), 3);
    EXPECT_EQ(menu->actions()[0]->text(), QString::fromUtf8("   设置"));
    EXPECT_EQ(menu->actions()[1]->text(), QString::fromUtf8("画面调节"));
    EXPECT_EQ(menu->actions()[2]->text(), QString::fromUtf8("网络诊断"));
    const double scale = dpiScaleFactor();
    EXPECT_EQ(menu->height(), static_cast<int>(scale * 90.0));
    EXPECT_TRUE(menu->isVisible());
    const QPoint corner = form->mapToGlobal(QPoint(0, 0));
    ExpectNear(menu->pos(), QPoint(corner.x() + static_cast<int>(5.0 * scale), corner.y() - menu->height()));

    menu->hide();
    window.move(300, 250);
    QTRY_COMPARE_WITH_TIMEOUT(form->mapToGlobal(QPoint(0, 0)).x(), corner.x() + 200, 2000);
    QTest::mouseClick(Child(*form, "pushButton_menu_set"), Qt::LeftButton);
    EXPECT_EQ(form->moreMenuForTest(), menu);  // made once
    EXPECT_EQ(menu->height(), static_cast<int>(scale * 90.0));
    const QPoint moved = form->mapToGlobal(QPoint(0, 0));
    ExpectNear(menu->pos(), QPoint(moved.x() + static_cast<int>(5.0 * scale), moved.y() - menu->height()));
    menu->hide();

    // The settings and adjustment dialogs run modally: each is hidden as
    // soon as it shows, which ends its exec.
    for (int i = 0; i < 2; ++i) {
        QString shown;
        QTimer::singleShot(0, [&shown] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                shown = modal->objectName();
                modal->hide();
            }
        });
        menu->actions()[i]->trigger();
        EXPECT_EQ(shown, i == 0 ? "SettingDialog" : "FrameAdjustmentDialog");
    }
    DialogRecorder dialogs;
    menu->actions()[2]->trigger();
    menu->actions()[2]->trigger();
    EXPECT_EQ(dialogs.count("NetCheckDialog"), 2);
    EXPECT_EQ(window.findChildren<QDialog*>("NetCheckDialog").size(), 1);  // made on first use, kept
}

TEST_F(MenuStateFormTest, HelpAndAboutRunTheirDialogs) {
    DialogRecorder dialogs;
    window.show();
    QTest::mouseClick(Child(*form, "pushButton_menu_help"), Qt::LeftButton);
    QTest::mouseClick(Child(*form, "pushButton_menu_aboutus"), Qt::LeftButton);
    EXPECT_EQ(dialogs.dialogs(), QStringList({"HelpDialog", "AboutUsDialog"}));
}

TEST_F(MenuStateFormTest, EachScreenshotTipGoesTwoSecondsAfterItCame) {
    window.show();
    QPushButton* shot = Child(*form, "pushButton_menu_cutscm");
    form->ShowScreenShotTip();
    QTest::qWait(600);
    form->ShowScreenShotTip();
    QList<QWidget*> tips = shot->findChildren<QWidget*>("CustomTipsDialog");
    ASSERT_EQ(tips.size(), 2);
    EXPECT_EQ(tips[0]->pos(), tips[1]->pos());
    const QPoint corner = shot->mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(tips[0]->pos(), QPoint(corner.x() - qRound(app->dpiScale * 50.0), corner.y() - qRound(app->dpiScale * 60.0)));
    QPointer<QWidget> first = tips[0];
    QPointer<QWidget> second = tips[1];
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 3000);
    EXPECT_FALSE(second.isNull());  // the second has about 600 ms to go
    QTRY_VERIFY_WITH_TIMEOUT(second.isNull(), 3000);
}

TEST_F(MenuStateFormTest, GuideShowsUntilDismissedAndNeverAgain) {
    app->firstOpen = true;
    window.show();
    form->ShowGuidWidget();
    QPointer<QWidget> bubble = form->guideWidgetForTest();
    ASSERT_FALSE(bubble.isNull());
    EXPECT_TRUE(bubble->isVisible());
    EXPECT_EQ(bubble->parent(), &window);
    form->ShowGuidWidget();  // placed again, not made again
    EXPECT_EQ(form->guideWidgetForTest(), bubble.data());

    // The bubble's own dismissal.
    QTest::mouseClick(bubble->findChild<QPushButton*>("pushButton_ftip_close"), Qt::LeftButton);
    EXPECT_FALSE(app->firstOpen);
    EXPECT_EQ(form->guideWidgetForTest(), nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(bubble.isNull(), 2000);
    form->ShowGuidWidget();
    EXPECT_EQ(form->guideWidgetForTest(), nullptr);
}

// The bubble stands above the help button, its pointer on it; where the
// window sits at an edge of the screen the bubble stays on the screen whole
// and the pointer still points at the button.
TEST_F(MenuStateFormTest, GuideStaysOnTheScreenWithItsPointerOnTheHelpButton) {
    app->firstOpen = true;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const double s = dpiScaleFactor();
    window.resize(std::min(823, area.width()), 300);
    form->setGeometry(0, 172, window.width(), 128);
    const struct {
        const char* where;
        QPoint window;
    } cases[] = {
        {"clear of the edges", QPoint(area.left() + 150, area.top() + 200)},
        {"left edge", QPoint(area.left(), area.top() + 200)},
        {"top edge", QPoint(area.left() + 150, area.top())},
        {"right edge", QPoint(area.right() + 1 - window.width(), area.top() + 200)},
    };
    window.show();
    for (const auto& c : cases) {
        window.move(c.window);
        QCoreApplication::processEvents();
        form->ShowGuidWidget();
        auto* bubble = qobject_cast<GuidWidget*>(form->guideWidgetForTest());
        ASSERT_NE(bubble, nullptr) << c.where;
        const QPoint help = Child(*form, "pushButton_menu_help")->mapToGlobal(QPoint(0, 0));
        const QPoint wanted(help.x() + static_cast<int>(-120.0 * s), help.y() - bubble->height());
        EXPECT_TRUE(area.contains(bubble->geometry())) << c.where;
        if (area.contains(QRect(wanted, bubble->size()))) {
            EXPECT_EQ(bubble->pos(), wanted) << c.where;
        }
        // The pointer's tip stays where it stood above the button, inside the body.
        const double tip = bubble->x() + bubble->arrowPosition() * bubble->width();
        EXPECT_NEAR(tip, wanted.x() + 0.5 * bubble->width(), 1.0) << c.where;
        EXPECT_GE(bubble->arrowPosition() * bubble->width(), 30.0) << c.where;

        QWidget* const shot = Child(*form, "pushButton_menu_cutscm");
        form->ShowScreenShotTip();
        const QList<QWidget*> tips = shot->findChildren<QWidget*>("CustomTipsDialog");
        ASSERT_FALSE(tips.isEmpty()) << c.where;
        EXPECT_TRUE(area.contains(tips.last()->geometry())) << c.where;
        EXPECT_FALSE(tips.last()->geometry().intersects(bubble->geometry())) << c.where << ": the tip covers the guide";
        const QString shots = qEnvironmentVariable("ZUCAM_SHOT_DIR");
        if (!shots.isEmpty()) {  // the whole screen, for a person to look at
            QTest::qWait(100);
            QGuiApplication::primaryScreen()->grabWindow(0).save(QString("%1/guide-%2.png").arg(shots, c.where));
        }
    }
}

TEST_F(MenuStateFormTest, HelpButtonDismissesTheGuide) {
    DialogRecorder dialogs;
    app->firstOpen = true;
    window.show();
    form->ShowGuidWidget();
    QPointer<QWidget> bubble = form->guideWidgetForTest();
    ASSERT_FALSE(bubble.isNull());
    QTest::mouseClick(Child(*form, "pushButton_menu_help"), Qt::LeftButton);
    EXPECT_FALSE(app->firstOpen);
    QTRY_VERIFY_WITH_TIMEOUT(bubble.isNull(), 2000);
    form->ShowGuidWidget();
    EXPECT_EQ(form->guideWidgetForTest(), nullptr);
}

}  // namespace
