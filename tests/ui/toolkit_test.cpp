// The window toolkit: style-sheet scaling, the frameless hit test and native
// messages, the message box and the common dialog frame.
#include <QGuiApplication>
#include <QScreen>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTest>

#include "core/frameless/screen_fit.h"
#include "support/header_drag.h"
#include "core/frameless/frameless_helper.h"
#include "core/qss/qss_manager.h"
#include "core/tether/tq.h"
#include "resources/resource_bundle.h"
#include "support/tether_environment.h"
#include "trevane/trevane_module.h"
#include "ui/dialog/message-box-dialog.h"

namespace {

struct ScaleCase {
    const char* input;
    double factor;
    const char* expected;
};

TEST(QssScaling, SizesBeforeASemicolonScaleToWholePixels) {
    const ScaleCase cases[] = {
        {"font-size: 18px;", 1.0, "font-size: 18px;"},
        {"font-size: 18px;", 1.25, "font-size: 23px;"},  // 22.5 would be ignored by Qt
        {"font-size: 18px;", 1.5, "font-size: 27px;"},
        {"width: 900px;", 1.25, "width: 1125px;"},
        {"width: 0px;", 1.5, "width: 0px;"},
        {"border: 1px solid #6BA7FF;", 1.5, "border: 1px solid #6BA7FF;"},
        {"padding: 5px 25px;", 1.25, "padding: 5px 31px;"},
        {"width: 1.5px;", 1.5, "width: 2px;"},  // one number, never "1." and "5px;"
        {"width: 1.5px;", 1.0, "width: 1.5px;"},
        {"a: 2px; b: 3px;", 1.5, "a: 3px; b: 5px;"},  // 4.5 rounds away from zero
        {"icon1px; x", 1.5, "icon1px; x"},           // part of a name
        {"", 1.5, ""},
        {"height: 40px;", 0.75, "height: 40px;"},    // never scaled down
    };
    for (const ScaleCase& c : cases) {
        EXPECT_EQ(QssManager::scaleStyleSheet(QString::fromUtf8(c.input), c.factor), QString::fromUtf8(c.expected))
            << c.input << " at " << c.factor;
    }
}

TEST(QssScaling, AMissingSheetLeavesTheWidgetAlone) {
    QWidget widget;
    widget.setStyleSheet("QWidget { color: red; }");
    (new QssManager(&widget))->loadQss(":/qss/does-not-exist.qss");
    EXPECT_EQ(widget.styleSheet(), "QWidget { color: red; }");
}

// Edges and caption from flags, counting the questions asked.
struct ScriptedWindow : ResizeInterface {
    bool left = false, top = false, right = false, bottom = false, caption = false;
    int lastX = 0, lastY = 0;
    int sizingEdges = -1;
    bool isTopEdge(int, int) override { return top; }
    bool isBottomEdge(int, int) override { return bottom; }
    bool isLeftEdge(int x, int y) override {
        lastX = x, lastY = y;
        return left;
    }
    bool isRightEdge(int, int) override { return right; }
    bool isCaption(int, int) override { return caption; }
    void onSizing(int edges, int* top_, int*, int* left_, int*) override {
        sizingEdges = edges;
        *top_ += 1;
        *left_ -= 1;
    }
};

struct HitCase {
    bool left, top, right, bottom, caption;
    int expected;
};

TEST(FramelessHitTest, EveryEdgeAndCorner) {
    const HitCase cases[] = {
        {true, true, false, false, false, kHitTopLeft},   {true, false, false, true, false, kHitBottomLeft},
        {false, true, true, false, false, kHitTopRight},  {false, false, true, true, false, kHitBottomRight},
        {true, false, false, false, true, kHitLeft},      {false, true, false, false, true, kHitTop},
        {false, false, true, false, false, kHitRight},    {false, false, false, true, false, kHitBottom},
        {false, false, false, false, true, kHitCaption},  {false, false, false, false, false, kHitClient},
    };
    QWidget widget(nullptr, Qt::FramelessWindowHint);
    ScriptedWindow window;
    FramelessHelper helper(&widget, &window);
    for (const HitCase& c : cases) {
        window.left = c.left, window.top = c.top, window.right = c.right, window.bottom = c.bottom;
        window.caption = c.caption;
        EXPECT_EQ(helper.hitTest(1, 2), c.expected) << c.left << c.top << c.right << c.bottom << c.caption;
    }
}

TEST(FramelessHitTest, NativeMessagesCarrySignedCoordinatesAndSizingEdges) {
    QWidget widget(nullptr, Qt::FramelessWindowHint);
    ScriptedWindow window;
    window.left = true;
    FramelessHelper helper(&widget, &window);

    NativeWindowMessage hit;
    hit.message = FramelessHelper::kWmNcHitTest;
    hit.lParam = (static_cast<long long>(static_cast<uint16_t>(-20)) << 16) | static_cast<uint16_t>(-1500);
    long result = 0;
    ASSERT_TRUE(helper.handleNativeMessage(&hit, &result));
    EXPECT_EQ(result, kHitLeft);
    EXPECT_EQ(window.lastX, -1500);
    EXPECT_EQ(window.lastY, -20);

    const int expectedEdges[] = {0, 4, 8, 1, 5, 9, 2, 6, 10};
    for (int side = 1; side <= 8; ++side) {
        NativeRect rect{10, 20, 110, 220};
        NativeWindowMessage sizing;
        sizing.message = FramelessHelper::kWmSizing;
        sizing.wParam = side;
        sizing.lParam = reinterpret_cast<long long>(&rect);
        ASSERT_TRUE(helper.handleNativeMessage(&sizing, &result));
        EXPECT_EQ(window.sizingEdges, expectedEdges[side]) << side;
        EXPECT_EQ(rect.top, 21);
        EXPECT_EQ(rect.left, 9);
    }
    window.sizingEdges = -1;
    NativeWindowMessage outside;
    outside.message = FramelessHelper::kWmSizing;
    outside.wParam = 9;
    EXPECT_TRUE(helper.handleNativeMessage(&outside, &result));
    EXPECT_EQ(window.sizingEdges, -1);
    NativeWindowMessage other;
    other.message = 0x0F;
    EXPECT_FALSE(helper.handleNativeMessage(&other, &result));
}

TEST(FramelessHitTest, OnlyTheFirstHelperOfAWindowIsRegistered) {
    QWidget widget(nullptr, Qt::FramelessWindowHint);
    ScriptedWindow window;
    auto* first = new FramelessHelper(&widget, &window);
    widget.winId();  // creates the native window: WinIdChange registers
    const quintptr handle = widget.windowHandle()->winId();
    EXPECT_EQ(NativeEventFilter::helperFor(handle), first);
    FramelessHelper second(&widget, &window);
    NativeEventFilter::registerWindow(widget.windowHandle(), &second);
    EXPECT_EQ(NativeEventFilter::helperFor(handle), first);
    delete first;
    EXPECT_EQ(NativeEventFilter::helperFor(handle), nullptr);
}

TEST(FramelessHitTest, AWindowWithAFrameNeverRegisters) {
    QWidget widget;
    ScriptedWindow window;
    FramelessHelper helper(&widget, &window);
    widget.winId();
    EXPECT_EQ(NativeEventFilter::helperFor(widget.windowHandle()->winId()), nullptr);
}

// Bubbles, tips and dialogs at the screen's edges, at each scale: moved as
// little as it takes, cut to the area only where larger than it.
TEST(ScreenFit, RectanglesAreKeptInsideTheAvailableArea) {
    const QRect area(0, 0, 1920, 1040);            // a task bar below
    const QRect right(1920, 0, 1280, 1024);        // a second screen
    for (const double s : {1.0, 1.25, 1.5}) {
        const QSize bubble(int(280 * s), int(100 * s));
        const QSize help(int(700 * s), int(800 * s));
        const int lift = int(120 * s);
        const struct {
            const char* what;
            QRect rect, area, expected;
        } cases[] = {
            {"bubble inside", QRect(QPoint(300, 700), bubble), area, QRect(QPoint(300, 700), bubble)},
            {"bubble past the left edge", QRect(QPoint(-lift + 75, 700), bubble), area, QRect(QPoint(0, 700), bubble)},
            {"bubble past the top", QRect(QPoint(300, -40), bubble), area, QRect(QPoint(300, 0), bubble)},
            {"bubble past the right", QRect(QPoint(1900, 700), bubble), area,
             QRect(QPoint(1920 - bubble.width(), 700), bubble)},
            {"tip past the bottom", QRect(QPoint(10, 1030), QSize(int(160 * s), int(60 * s))), area,
             QRect(QPoint(10, 1040 - int(60 * s)), QSize(int(160 * s), int(60 * s)))},
            {"bubble on the second screen's left", QRect(QPoint(1900, 300), bubble), right,
             QRect(QPoint(1920, 300), bubble)},
            {"help page", QRect(QPoint(610, 120), help), area,
             help.height() > 1040 ? QRect(610, 0, help.width(), 1040)
                                  : QRect(QPoint(610, std::min(120, 1040 - help.height())), help)},
            {"help page on a small screen", QRect(QPoint(-20, -20), help), QRect(0, 0, 800, 600),
             QRect(0, 0, std::min(help.width(), 800), 600)},
            {"no screen", QRect(-50, -50, 10, 10), QRect(), QRect(-50, -50, 10, 10)},
        };
        for (const auto& c : cases) {
            const QRect fitted = screen_fit::FitInto(c.rect, c.area);
            EXPECT_EQ(fitted, c.expected) << c.what << " at " << s;
            if (!c.area.isEmpty()) {
                EXPECT_TRUE(c.area.contains(fitted)) << c.what << " at " << s;
            }
        }
    }
}

// The screenshot tip beside the first-use guide: never over it while there
// is room on the screen.
TEST(ScreenFit, ATipGoesClearOfTheGuide) {
    const QRect area(0, 0, 1920, 1040);
    for (const double s : {1.0, 1.25, 1.5}) {
        const QSize tip(int(160 * s), int(60 * s));
        const QRect guide(0, 600, int(280 * s), int(100 * s));
        const struct {
            const char* what;
            QRect rect, obstacle, expected;
        } cases[] = {
            {"clear already", QRect(QPoint(900, 600), tip), guide, QRect(QPoint(900, 600), tip)},
            {"no guide", QRect(QPoint(100, 620), tip), QRect(), QRect(QPoint(100, 620), tip)},
            {"over the guide: above it", QRect(QPoint(100, 620), tip), guide,
             QRect(QPoint(100, 600 - tip.height()), tip)},
            {"guide at the screen's top: right of it", QRect(QPoint(100, 10), tip), guide.translated(0, -600),
             QRect(QPoint(guide.width(), 10), tip)},
            {"past the left edge and over the guide", QRect(QPoint(-30, 620), tip), guide,
             QRect(QPoint(0, 600 - tip.height()), tip)},
            {"no room anywhere", QRect(QPoint(10, 10), tip), area, QRect(QPoint(10, 10), tip)},
        };
        for (const auto& c : cases) {
            EXPECT_EQ(screen_fit::FitClearOf(c.rect, c.obstacle, area), c.expected) << c.what << " at " << s;
        }
    }
}

// A fixed-size window larger than the screen is fitted (size and place)
// before it reaches the screen.
TEST(ScreenFit, AWindowLargerThanTheScreenIsFittedWhenShown) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget window(nullptr, Qt::Dialog | Qt::FramelessWindowHint);
    window.setFixedSize(area.width() / 2, area.height() + 170);
    window.move(area.left() - 45, area.top() + 40);
    screen_fit::KeepOnScreenWhenShown(&window);
    window.show();
    EXPECT_EQ(window.geometry(), QRect(area.left(), area.top(), area.width() / 2, area.height()));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
}

class MessageBoxTest : public testing::Test {
protected:
    void SetUp() override { InitResourceBundle(); }
    void TearDown() override { MessageBoxDialog::setAnswerHook(nullptr); }
};

TEST_F(MessageBoxTest, ResultsByClickAndByTitleBarClose) {
    const struct {
        const char* button;
        int expected;
    } cases[] = {{"pushButton_ok", 1}, {"pushButton_cancel", 0}, {"pushButton_message_box_close", -1}};
    for (const auto& c : cases) {
        MessageBoxDialog::setAnswerHook([&](MessageBoxDialog& box) {
            QTest::mouseClick(box.findChild<QPushButton*>(c.button), Qt::LeftButton);
            return MessageBoxDialog::kUseClickResult;
        });
        MessageBoxDialog box(nullptr);
        box.SetMessage("question?");
        box.SetButtons(2, "OK", "Cancel");
        EXPECT_EQ(box.exec(), c.expected) << c.button;
    }
}

TEST_F(MessageBoxTest, ButtonCountsAndTheFrame) {
    MessageBoxDialog box(nullptr);
    EXPECT_TRUE(box.okVisible());
    EXPECT_TRUE(box.cancelVisible());
    box.SetButtons(1, "OK", "");
    EXPECT_TRUE(box.okVisible());
    EXPECT_FALSE(box.cancelVisible());
    box.SetButtons(3, "x", "y");  // unchanged
    EXPECT_TRUE(box.okVisible());
    EXPECT_FALSE(box.cancelVisible());
    EXPECT_EQ(box.findChild<QPushButton*>("pushButton_ok")->text(), "OK");
    box.SetButtons(0, "", "");
    EXPECT_FALSE(box.okVisible());
    EXPECT_FALSE(box.cancelVisible());

    EXPECT_EQ(box.windowFlags() & (Qt::Dialog | Qt::FramelessWindowHint), Qt::Dialog | Qt::FramelessWindowHint);
    EXPECT_EQ(box.property("header_visible").toBool(), false);
    EXPECT_EQ(box.property("header_height").toInt(), 40);
    const QVariantList buttons = box.property("header_btns").toList();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0].value<QObject*>(), box.findChild<QPushButton*>("pushButton_message_box_close"));
    EXPECT_TRUE(box.styleSheet().contains("#6BA7FF"));
}

TEST_F(MessageBoxTest, WidthIsTheWidestLinePlusSixtyAtLeast260) {
    MessageBoxDialog box(nullptr);
    box.SetMessage("");
    EXPECT_EQ(box.width(), 260);
    const QFontMetrics metrics(QFont("Microsoft YaHei", 10));
    QString wide;
    while (metrics.horizontalAdvance(wide) < 300) wide += "W";
    box.SetMessage("short\n" + wide + "\n");
    EXPECT_EQ(box.width(), metrics.horizontalAdvance(wide) + 60);
    EXPECT_EQ(box.message(), "short\n" + wide + "\n");
}

TEST_F(MessageBoxTest, EveryDialogIsHandedToTrevane) {
    zucam::test::TetherEnvironment tether;
    trevane::RegisterTrevaneLibrary();
    const char* const modules[] = {trevane::kLibraryName};
    ASSERT_EQ(tq::LoadModules(modules, 1, true), 1);
    const int before = trevane::TrevaneModule::framedDialogs();
    MessageBoxDialog box(nullptr);
    EXPECT_EQ(trevane::TrevaneModule::framedDialogs(), before + 1);
    box.SetMessage(QString::fromUtf8("确定要退出吗？"));
    zucam::test::ExpectHeaderDragMovesDialog(&box, "MessageBoxDialog");

    // The version check goes to the application's host, which cannot be
    // reached from the test's private network: the answer is an error reply,
    // never silence.
    bool replied = false;
    g_cd->call("Trevane", 311, tq::Value(), [&](const tq::Value& reply) {
        replied = reply.toMap()["errcode"].toInt() == -1;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return replied; }, 5000));
}

// Renders the message box for a look (ZUCAM_SCREENSHOT_DIR set); the main
// window has screenshots of its own (tests/ui/main_window_test.cpp).
TEST_F(MessageBoxTest, RendersForALook) {
    const QByteArray dir = qgetenv("ZUCAM_SCREENSHOT_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "set ZUCAM_SCREENSHOT_DIR to save the pictures";
    MessageBoxDialog box(nullptr);
    box.SetMessage(QString::fromUtf8("未安装虚拟麦克风驱动，需要先安装驱动才可使用，是否安装？\n安装后可能需要重启电脑才能正常使用。"));
    box.SetButtons(2, QString::fromUtf8("确定"), QString::fromUtf8("取消"));
    box.show();
    QApplication::processEvents();
    EXPECT_TRUE(box.grab().save(QDir(dir).filePath("message-box.png")));
}

}  // namespace
