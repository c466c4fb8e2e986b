// The Trevane module's dialog header: which points move the dialog, and the
// drag itself on a dialog handed over by command 100.
#include <QDialog>
#include <QGuiApplication>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <memory>

#include "support/header_drag.h"
#include "trevane/dialog_header.h"
#include "trevane/trevane_module.h"
#include "window_drag/caption_drag.h"

namespace {

using trevane::HeaderHit;

TEST(DialogHeaderHitTest, HeaderButtonsAndTheRest) {
    const QSize size(300, 200);
    const QList<QRect> buttons = {QRect(270, 10, 14, 14), QRect(100, 150, 80, 30)};
    const struct {
        QPoint at;
        int headerHeight;
        HeaderHit expected;
    } cases[] = {
        {{5, 5}, 40, HeaderHit::kMove},        {{0, 0}, 40, HeaderHit::kMove},
        {{299, 39}, 40, HeaderHit::kMove},     {{5, 40}, 40, HeaderHit::kClient},
        {{270, 10}, 40, HeaderHit::kButton},   {{283, 23}, 40, HeaderHit::kButton},
        {{284, 23}, 40, HeaderHit::kMove},     {{150, 160}, 40, HeaderHit::kClient},
        {{150, 160}, 200, HeaderHit::kButton},  // the whole dialog is the header
        {{5, 199}, 200, HeaderHit::kMove},     {{5, 5}, 0, HeaderHit::kClient},
        {{-1, 5}, 40, HeaderHit::kOutside},    {{300, 5}, 40, HeaderHit::kOutside},
        {{5, -1}, 200, HeaderHit::kOutside},   {{5, 200}, 200, HeaderHit::kOutside},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(trevane::HitTestHeader(c.at, size, c.headerHeight, buttons), c.expected)
            << c.at.x() << "," << c.at.y() << " header " << c.headerHeight;
    }
}

// A dialog framed as the program frames its own: a 40-pixel header with a
// close button at its right, handed to the module.
class FramedDialog : public testing::Test {
protected:
    void SetUp() override {
        dialog = std::make_unique<QDialog>(nullptr, Qt::Dialog | Qt::FramelessWindowHint);
        dialog->setFixedSize(300, 200);
        close = new QPushButton(dialog.get());
        close->setGeometry(270, 13, 14, 14);
        hidden = new QPushButton(dialog.get());
        hidden->setGeometry(10, 10, 30, 20);
        hidden->hide();
        QVariantList buttons;
        buttons << QVariant::fromValue<QObject*>(close) << QVariant::fromValue<QObject*>(hidden);
        dialog->setProperty("header_btns", buttons);
        dialog->setProperty("header_visible", false);
        dialog->setProperty("header_height", 40);
        EXPECT_EQ(module.handle(trevane::kCommandFrameDialog, tq::Value(static_cast<void*>(static_cast<QWidget*>(dialog.get()))), {}).toBool(), true);
        dialog->move(200, 150);
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        window_drag::CaptionDrag::SetSystemMove([this](QWindow*) {
            ++systemMoves;
            return false;  // as a window system without the move
        });
    }
    void TearDown() override { window_drag::CaptionDrag::SetSystemMove(nullptr); }

    trevane::TrevaneModule module;
    std::unique_ptr<QDialog> dialog;
    QPushButton* close = nullptr;
    QPushButton* hidden = nullptr;
    int systemMoves = 0;
};

TEST_F(FramedDialog, HeaderDragFollowsTheCursorPastTheDragDistanceOnly) {
    const int threshold = QApplication::startDragDistance();
    zucam::test::DragThroughWindow(dialog.get(), QPoint(50, 20), QPoint(threshold / 2, 0));
    EXPECT_EQ(systemMoves, 0) << "a wobbling click moved the dialog";
    EXPECT_EQ(dialog->pos(), QPoint(200, 150));

    zucam::test::DragThroughWindow(dialog.get(), QPoint(50, 20), QPoint(-60, 45));
    EXPECT_EQ(systemMoves, 1);
    EXPECT_EQ(dialog->pos(), QPoint(140, 195));

    // After the release the cursor moves the dialog no more.
    QTest::mouseMove(dialog->windowHandle(), QPoint(120, 30));
    EXPECT_EQ(dialog->pos(), QPoint(140, 195));
}

// The offscreen platform has no window system to take the move, as an X
// server without a window manager: the real hand-over is refused and the
// dialog follows the cursor by itself.
TEST_F(FramedDialog, WhereTheWindowSystemRefusesTheDialogFollowsTheCursor) {
    if (QGuiApplication::platformName() != "offscreen") GTEST_SKIP() << "a window system that may take the move";
    window_drag::CaptionDrag::SetSystemMove(nullptr);
    zucam::test::DragThroughWindow(dialog.get(), QPoint(50, 20), QPoint(35, -25));
    EXPECT_EQ(dialog->pos(), QPoint(235, 125));
}

TEST_F(FramedDialog, BelowTheHeaderAndOnTheButtonNothingMoves) {
    zucam::test::DragThroughWindow(dialog.get(), QPoint(50, 60), QPoint(40, 40));
    zucam::test::DragThroughWindow(dialog.get(), QPoint(277, 20), QPoint(-40, 40),
                                   [this] { EXPECT_TRUE(close->isDown()); });
    EXPECT_EQ(systemMoves, 0);
    EXPECT_EQ(dialog->pos(), QPoint(200, 150));
    // A header button that is hidden is header like the rest.
    zucam::test::DragThroughWindow(dialog.get(), QPoint(20, 20), QPoint(40, 0));
    EXPECT_EQ(systemMoves, 1);
}

TEST_F(FramedDialog, AClickOnTheHeaderButtonStillClicksIt) {
    int clicks = 0;
    QObject::connect(close, &QPushButton::clicked, [&] { ++clicks; });
    QTest::mouseClick(dialog->windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(277, 20));
    EXPECT_EQ(clicks, 1);
}

TEST_F(FramedDialog, TheHeaderFollowsItsPropertiesAndASecondHandOverAddsNothing) {
    dialog->setProperty("header_height", 0);
    zucam::test::DragThroughWindow(dialog.get(), QPoint(50, 20), QPoint(40, 0));
    EXPECT_EQ(systemMoves, 0);

    dialog->setProperty("header_height", 200);
    module.handle(trevane::kCommandFrameDialog, tq::Value(static_cast<void*>(static_cast<QWidget*>(dialog.get()))), {});
    zucam::test::DragThroughWindow(dialog.get(), QPoint(50, 150), QPoint(40, 0));
    EXPECT_EQ(systemMoves, 1) << "one drag, one hand-over to the window system";
    EXPECT_EQ(dialog->pos(), QPoint(240, 150));
}

TEST(TrevaneFrameCommand, ANullDialogOrOneOfAnotherThreadIsRefused) {
    trevane::TrevaneModule module;
    EXPECT_FALSE(module.handle(trevane::kCommandFrameDialog, tq::Value(static_cast<void*>(nullptr)), {}).toBool());
    QWidget widget;
    QThread other;
    bool answer = true;
    QObject::connect(&other, &QThread::started, [&] {
        answer = module.handle(trevane::kCommandFrameDialog, tq::Value(static_cast<void*>(&widget)), {}).toBool();
        other.quit();
    });
    other.start();
    ASSERT_TRUE(other.wait(5000));
    EXPECT_FALSE(answer);
    EXPECT_EQ(widget.findChildren<QObject*>().size(), 0);
}

}  // namespace
