// The size arithmetic of the main window's modes, kept free of widgets so
// that each rule can be checked with a table: the floating ("suspend") window
// that shrinks to the bare preview at the picture's aspect ratio, the
// aspect-keeping resize while floating, the drag of the borderless window
// and the sizing borders of the frameless window.
#pragma once

#include <QPoint>
#include <QSize>

#include "window_drag/caption_drag.h"

namespace window_geometry {

// The border of the frameless window where a press sizes it, in logical
// pixels before DPI scaling.
constexpr int kResizeBorder = 5;

// Edge bits of a sizing drag, as the frameless helper passes them.
enum SizingEdge { kSizingTop = 1, kSizingBottom = 2, kSizingLeft = 4, kSizingRight = 8 };

// A usable aspect ratio (width / height): positive and finite.
bool IsUsableAspect(float aspect);

// The floating window's size for a preview area of `preview` pixels showing
// a picture of `videoAspect`: the preview's side that limits the picture is
// cut down to a multiple of 4 and the other side follows the picture's
// ratio (truncated). A landscape-enough picture keeps the width, a narrower
// one keeps the height. An unusable picture ratio (no picture yet) keeps
// the preview's own shape; an empty preview gives an empty size.
QSize FloatingWindowSize(const QSize& preview, float videoAspect);

// The smallest floating window: 200 logical pixels wide, the height at the
// picture's ratio. scale is the DPI scale. An unusable ratio gives a square.
QSize FloatingMinimumSize(double scale, float videoAspect);

// Keeps a window rectangle that is being sized at `aspect` (width / height):
// portrait pictures follow the height when the top or bottom edge moves,
// landscape pictures follow the width when the left or right edge moves; a
// corner drag thus follows the height in portrait and the width in
// landscape. edges is a set of SizingEdge bits. An unusable aspect leaves
// the rectangle alone.
void KeepAspectWhileSizing(int edges, float aspect, int* top, int* bottom, int* left, int* right);

// The size a floating window that the window system resized from `before`
// to `now` should take to keep `aspect`: the side that changed more leads,
// as KeepAspectWhileSizing does for that edge. `now` itself when it is
// within a pixel of the ratio (so that corrections settle), when it is empty
// or when the aspect is unusable.
QSize KeepAspectAfterResize(const QSize& before, const QSize& now, float aspect);

// One step of dragging the borderless window (the press left dragOffset,
// the drag starts past threshold): the caption drag's own rule.
using window_drag::DragStep;

// Which sizing borders a point inside a window of `size` lies on; `local` is
// in window coordinates. scale is the DPI scale. No border answers while the
// window is maximised or full screen.
struct BorderHits {
    bool top = false;
    bool bottom = false;
    bool left = false;
    bool right = false;
};
BorderHits BordersAt(const QPoint& local, const QSize& size, double scale, bool maximisedOrFullScreen);

}  // namespace window_geometry
