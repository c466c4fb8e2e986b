#include "window_drag/caption_drag.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>
#include <utility>

namespace window_drag {
namespace {

SystemMove& systemMove() {
    static SystemMove move;  // GUI thread only
    return move;
}

bool startSystemMove(QWindow* window) {
    if (window == nullptr) return false;
    return systemMove() ? systemMove()(window) : window->startSystemMove();
}

}  // namespace

bool DragStep(const QPoint& global, const QPoint& dragOffset, const QPoint& windowPos, int threshold, bool started,
              QPoint* target) {
    const QPoint wanted = global - dragOffset;
    if (wanted == windowPos) return false;
    // The distance the window would move, not where it would land: a window
    // near the screen's origin must move as readily as one far from it.
    if (!started && (wanted - windowPos).manhattanLength() <= threshold) return false;
    *target = wanted;
    return true;
}

CaptionDrag::CaptionDrag(QWidget* window, CaptionTest isCaption)
    : QObject(window), window_(window), isCaption_(std::move(isCaption)) {
    window_->installEventFilter(this);
}

void CaptionDrag::SetSystemMove(SystemMove move) { systemMove() = std::move(move); }

bool CaptionDrag::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_) return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !isCaption_ || !isCaption_(mouse->globalPos())) break;
        pressed_ = true;
        following_ = false;
        dragOffset_ = mouse->globalPos() - window_->pos();
        return true;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!pressed_) break;
        if (!(mouse->buttons() & Qt::LeftButton)) {  // released outside our sight
            pressed_ = following_ = false;
            break;
        }
        QPoint target;
        if (!DragStep(mouse->globalPos(), dragOffset_, window_->pos(), QApplication::startDragDistance(), following_,
                      &target)) {
            return true;
        }
        if (!following_) {
            if (startSystemMove(window_->windowHandle())) {
                // The window system follows the cursor from here and ends the
                // move itself; the release may never reach us.
                pressed_ = false;
                return true;
            }
            following_ = true;
        }
        window_->move(target);
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (pressed_ && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            pressed_ = following_ = false;
            return true;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace window_drag
