// What the Trevane module does with a dialog handed to it by command 100:
// the dialog's header moves it. The dialog describes its header with three
// properties: "header_height" (the band at its top, in pixels, that is the
// header; the whole dialog where it equals the dialog's height; none at 0),
// "header_btns" (the widgets inside that band that stay clickable, as a
// list of QObject*) and "header_visible" (whether the module draws a header
// of its own; the program always says false, and this stand-in never draws
// one). The properties are read at each press, so a dialog may change them.
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace trevane {

enum class HeaderHit {
    kOutside,  // not inside the dialog
    kClient,   // below the header: the dialog's own
    kButton,   // on a header button: the button's
    kMove,     // the header: a drag moves the dialog
};

// Where `local` (dialog coordinates) falls in a dialog of `size` whose header
// is `headerHeight` high and holds the buttons at `buttons` (dialog
// coordinates).
HeaderHit HitTestHeader(const QPoint& local, const QSize& size, int headerHeight, const QList<QRect>& buttons);

// The rectangles, in dialog coordinates, of the visible widgets named by the
// dialog's "header_btns" that are its own descendants (anything else in the
// list is passed over, unread).
QList<QRect> HeaderButtonRects(const QWidget* dialog);

// HitTestHeader for a point in screen coordinates, from the dialog's own
// properties.
HeaderHit HitTestDialogHeader(const QWidget* dialog, const QPoint& global);

// Lets the dialog's header move it (once per dialog; a second hand-over
// changes nothing). GUI thread.
void AttachHeaderDrag(QWidget* dialog);

}  // namespace trevane
