// Keeping top-level windows (dialogs, tips, bubbles) inside the screen's
// available area, the part of the screen that panels and task bars leave.
// GUI thread only.
#pragma once

#include <QPoint>
#include <QRect>

class QWidget;

namespace screen_fit {

// `rect` moved as little as it takes to lie inside `area`, and first cut to
// the area's size where it is larger. An empty area leaves it alone.
QRect FitInto(const QRect& rect, const QRect& area);

// `rect` kept inside `area` (FitInto) and clear of `obstacle` where it can
// be: where it would cover the obstacle it goes above it, else right of it,
// below it or left of it, the first of those that fits the area without
// covering it; where none does, it stays where FitInto put it.
QRect FitClearOf(const QRect& rect, const QRect& obstacle, const QRect& area);

// The available area of the screen under `point`; the primary screen's when
// no screen holds it.
QRect AvailableAreaAt(const QPoint& point);

// Fits the top-level widget into the available area of the screen under its
// centre: moved, and where it is larger than that area made smaller (its
// fixed size too).
void KeepOnScreen(QWidget* window);

// KeepOnScreen each time the widget is shown (before it reaches the screen),
// after the placement of whoever showed it.
void KeepOnScreenWhenShown(QWidget* window);

}  // namespace screen_fit
