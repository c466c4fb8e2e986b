// The header of a dialog that the Trevane module framed, driven as a user
// would: through the window's mouse events.
#pragma once

#include <QPoint>
#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace zucam::test {

// A point of the dialog's header (dialog coordinates) where a press reaches
// the header rather than a control: the first, row by row, that the module's
// hit test calls header and whose widget takes no presses of its own.
std::optional<QPoint> HeaderDragPoint(QWidget* dialog);

// Presses the left button at `from` (dialog coordinates), moves in steps of
// a few pixels by `delta` on the screen and releases, through the dialog's
// window; afterPress runs while the button is down, before the first move.
void DragThroughWindow(QWidget* dialog, const QPoint& from, const QPoint& delta,
                       const std::function<void()>& afterPress = {});

// On a shown dialog: a drag on its header hands the move to the window
// system once (and nothing else moves the dialog then); where the window
// system refuses, the dialog follows the cursor; a press and drag on each
// header button neither asks for a move nor moves the dialog, and presses
// the button. A dialog without a header is never moved. `name` labels the
// failures.
void ExpectHeaderDragMovesDialog(QWidget* dialog, const std::string& name);

}  // namespace zucam::test
