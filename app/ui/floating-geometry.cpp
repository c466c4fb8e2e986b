#include "ui/floating-geometry.h"

#include <cmath>
#include <cstdlib>

namespace window_geometry {

bool IsUsableAspect(float aspect) { return std::isfinite(aspect) && aspect > 0.0f; }

QSize FloatingWindowSize(const QSize& preview, float videoAspect) {
    if (preview.width() <= 0 || preview.height() <= 0) return QSize();
    const float previewAspect = static_cast<float>(preview.width()) / static_cast<float>(preview.height());
    if (!IsUsableAspect(videoAspect)) videoAspect = previewAspect;
    const int w4 = preview.width() / 4 * 4;
    const int h4 = preview.height() / 4 * 4;
    // Only the limiting side is a multiple of 4; the ratio is held as a
    // float, so 640 / (16/9 as a float) comes out just below 360 and
    // truncates to 359.
    if (videoAspect >= previewAspect) return QSize(w4, static_cast<int>(w4 / static_cast<double>(videoAspect)));
    return QSize(static_cast<int>(static_cast<float>(h4) * videoAspect), h4);
}

QSize FloatingMinimumSize(double scale, float videoAspect) {
    const double width = 200 * scale;
    if (!IsUsableAspect(videoAspect)) return QSize(static_cast<int>(width), static_cast<int>(width));
    return QSize(static_cast<int>(width), static_cast<int>(width / static_cast<double>(videoAspect)));
}

void KeepAspectWhileSizing(int edges, float aspect, int* top, int* bottom, int* left, int* right) {
    if (!IsUsableAspect(aspect)) return;
    const bool vertical = (edges & (kSizingTop | kSizingBottom)) != 0;
    const bool horizontal = (edges & (kSizingLeft | kSizingRight)) != 0;
    const auto widthFromHeight = [&] { *right = *left + static_cast<int>((*bottom - *top) * aspect); };
    const auto heightFromWidth = [&] { *bottom = *top + static_cast<int>((*right - *left) / aspect); };
    if (aspect < 1.0f) {
        if (vertical) {
            widthFromHeight();
        } else if (horizontal) {
            heightFromWidth();
        }
    } else if (horizontal) {
        heightFromWidth();
    } else if (vertical) {
        widthFromHeight();
    }
}

QSize KeepAspectAfterResize(const QSize& before, const QSize& now, float aspect) {
    if (!IsUsableAspect(aspect) || now.isEmpty()) return now;
    const int widthChange = std::abs(now.width() - before.width());
    const int heightChange = std::abs(now.height() - before.height());
    int top = 0, left = 0, bottom = now.height(), right = now.width();
    KeepAspectWhileSizing(widthChange >= heightChange ? kSizingRight : kSizingBottom, aspect, &top, &bottom, &left,
                          &right);
    const QSize fitted(right - left, bottom - top);
    if (std::abs(fitted.width() - now.width()) <= 1 && std::abs(fitted.height() - now.height()) <= 1) return now;
    return fitted;
}

BorderHits BordersAt(const QPoint& local, const QSize& size, double scale, bool maximisedOrFullScreen) {
    BorderHits hits;
    if (maximisedOrFullScreen) return hits;
    const double border = kResizeBorder * scale;
    hits.top = local.y() <= border;
    hits.bottom = local.y() >= size.height() - border;
    hits.left = local.x() <= border;
    hits.right = local.x() >= size.width() - border;
    return hits;
}

}  // namespace window_geometry
