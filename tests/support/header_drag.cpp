#include "support/header_drag.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

#include "trevane/dialog_header.h"
#include "window_drag/caption_drag.h"

namespace zucam::test {
namespace {

// Widgets that pass a press on to their window.
bool PassesPresses(const QWidget* widget) {
    if (widget == nullptr || !widget->isEnabled()) return true;
    const QString type = widget->metaObject()->className();
    return type == "QWidget" || type == "QFrame" || type == "QLabel";
}

// Counts the moves handed to the window system, answering `accept`.
class SystemMoveRecorder {
public:
    explicit SystemMoveRecorder(bool accept) {
        window_drag::CaptionDrag::SetSystemMove([this, accept](QWindow*) {
            ++asked;
            return accept;
        });
    }
    ~SystemMoveRecorder() { window_drag::CaptionDrag::SetSystemMove(nullptr); }
    int asked = 0;
};

}  // namespace

std::optional<QPoint> HeaderDragPoint(QWidget* dialog) {
    for (int y = 1; y < dialog->height(); y += 3) {
        for (int x = 1; x < dialog->width(); x += 3) {
            const QPoint at(x, y);
            if (trevane::HitTestDialogHeader(dialog, dialog->mapToGlobal(at)) != trevane::HeaderHit::kMove) continue;
            if (PassesPresses(dialog->childAt(at))) return at;
        }
    }
    return std::nullopt;
}

void DragThroughWindow(QWidget* dialog, const QPoint& from, const QPoint& delta, const std::function<void()>& afterPress) {
    QWindow* const window = dialog->windowHandle();
    ASSERT_NE(window, nullptr);
    // The cursor goes a path on the screen; QTest takes window coordinates,
    // which change as the window follows.
    const QPoint start = window->mapToGlobal(from);
    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, from);
    if (afterPress) afterPress();
    const int steps = 6;
    for (int i = 1; i <= steps; ++i) QTest::mouseMove(window, window->mapFromGlobal(start + delta * i / steps));
    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, window->mapFromGlobal(start + delta));
}

void ExpectHeaderDragMovesDialog(QWidget* dialog, const std::string& name) {
    dialog->move(100, 80);
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog)) << name;
    const QPoint delta(3 * QApplication::startDragDistance() + 7, 2 * QApplication::startDragDistance() + 5);
    const std::optional<QPoint> header = HeaderDragPoint(dialog);

    if (!header) {
        EXPECT_EQ(dialog->property("header_height").toInt(), 0) << name << ": a header without a point to drag";
        SystemMoveRecorder recorder(false);
        const QPoint before = dialog->pos();
        DragThroughWindow(dialog, QPoint(dialog->width() / 2, dialog->height() / 2), delta);
        EXPECT_EQ(recorder.asked, 0) << name;
        EXPECT_EQ(dialog->pos(), before) << name;
        return;
    }
    {
        SystemMoveRecorder recorder(true);  // the window system takes the move
        const QPoint before = dialog->pos();
        DragThroughWindow(dialog, *header, delta);
        EXPECT_EQ(recorder.asked, 1) << name << " at " << header->x() << "," << header->y();
        EXPECT_EQ(dialog->pos(), before) << name;
    }
    {
        SystemMoveRecorder recorder(false);  // it refuses: the dialog follows
        const QPoint before = dialog->pos();
        DragThroughWindow(dialog, *header, delta);
        EXPECT_EQ(recorder.asked, 1) << name;
        EXPECT_EQ(dialog->pos(), before + delta) << name;
    }
    const QVariantList buttons = dialog->property("header_btns").toList();
    for (const QVariant& entry : buttons) {
        auto* const button = qobject_cast<QWidget*>(entry.value<QObject*>());
        ASSERT_NE(button, nullptr) << name;
        if (!button->isVisibleTo(dialog)) continue;
        const QPoint centre = button->mapTo(dialog, button->rect().center());
        EXPECT_EQ(trevane::HitTestDialogHeader(dialog, dialog->mapToGlobal(centre)), trevane::HeaderHit::kButton)
            << name << ": " << button->objectName().toStdString();
        SystemMoveRecorder recorder(false);
        const QPoint before = dialog->pos();
        // Dragged off the button before the release, so that nothing is clicked.
        DragThroughWindow(dialog, centre, delta, [&] {
            if (auto* pushable = qobject_cast<QAbstractButton*>(button)) {
                EXPECT_TRUE(pushable->isDown()) << name << ": " << button->objectName().toStdString();
            }
        });
        EXPECT_EQ(recorder.asked, 0) << name << ": " << button->objectName().toStdString();
        EXPECT_EQ(dialog->pos(), before) << name << ": " << button->objectName().toStdString();
    }
}

}  // namespace zucam::test
