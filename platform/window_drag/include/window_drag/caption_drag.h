// Moving a frameless window by its caption, as the window system does on
// Windows once the hit test answers "caption". Here a left press on the
// caption arms the drag; once the cursor has gone the drag distance the move
// is handed to the window system (QWindow::startSystemMove), which then
// follows the cursor itself. Where the window system refuses (an X server
// without a window manager that offers the move, the offscreen platform) the
// window follows the cursor by moving itself until the button is released.
// All of it runs on the GUI thread.
#pragma once

#include <QObject>
#include <QPoint>
#include <functional>

class QWidget;
class QWindow;

namespace window_drag {

// One step of dragging a window: the press left `dragOffset` (press position
// minus window position); with the cursor now at `global` the window belongs
// at global - dragOffset. A drag starts once that target lies more than
// `threshold` pixels (Manhattan length) from where the window stands, so a
// click that wobbles does not move it; once started (`started`), the window
// follows every step. Returns true and sets *target when the window should
// move.
bool DragStep(const QPoint& global, const QPoint& dragOffset, const QPoint& windowPos, int threshold, bool started,
              QPoint* target);

// Answers whether a point (screen coordinates) lies on the caption.
using CaptionTest = std::function<bool(const QPoint& global)>;

// Hands a window's move to the window system; true when it took it.
using SystemMove = std::function<bool(QWindow* window)>;

// The caption drag of one top-level widget: an event filter on it and its
// child (it dies with the widget). Presses the widget's children accept
// (buttons, edits) never reach it; presses they pass on do, as on Windows.
class CaptionDrag : public QObject {
public:
    CaptionDrag(QWidget* window, CaptionTest isCaption);
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Replaces how moves are handed to the window system (tests); a null
    // function restores QWindow::startSystemMove.
    static void SetSystemMove(SystemMove move);

private:
    QWidget* window_;
    CaptionTest isCaption_;
    bool pressed_ = false;    // a left press on the caption, not yet released
    bool following_ = false;  // the window system refused: the window moves itself
    QPoint dragOffset_;       // press position minus window position
};

}  // namespace window_drag
