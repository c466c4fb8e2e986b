#include "core/frameless/screen_fit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace screen_fit {
namespace {

class ShowFilter : public QObject {
public:
    explicit ShowFilter(QWidget* window) : QObject(window), window_(window) { window_->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Show) KeepOnScreen(window_);
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* window_;
};

}  // namespace

QRect FitInto(const QRect& rect, const QRect& area) {
    if (area.isEmpty()) return rect;
    const int width = std::min(rect.width(), area.width());
    const int height = std::min(rect.height(), area.height());
    const int x = std::clamp(rect.x(), area.left(), area.left() + area.width() - width);
    const int y = std::clamp(rect.y(), area.top(), area.top() + area.height() - height);
    return QRect(x, y, width, height);
}

QRect FitClearOf(const QRect& rect, const QRect& obstacle, const QRect& area) {
    const QRect fitted = FitInto(rect, area);
    if (obstacle.isEmpty() || !fitted.intersects(obstacle)) return fitted;
    const QSize size = rect.size();
    const QRect candidates[] = {
        QRect(QPoint(rect.x(), obstacle.top() - size.height()), size),
        QRect(QPoint(obstacle.left() + obstacle.width(), rect.y()), size),
        QRect(QPoint(rect.x(), obstacle.top() + obstacle.height()), size),
        QRect(QPoint(obstacle.left() - size.width(), rect.y()), size),
    };
    for (const QRect& candidate : candidates) {
        const QRect placed = FitInto(candidate, area);
        if (!placed.intersects(obstacle)) return placed;
    }
    return fitted;
}

QRect AvailableAreaAt(const QPoint& point) {
    QScreen* screen = QGuiApplication::screenAt(point);
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

void KeepOnScreen(QWidget* window) {
    const QRect now = window->geometry();
    const QRect fitted = FitInto(now, AvailableAreaAt(now.center()));
    if (fitted.size() != now.size()) {
        if (window->minimumSize() == window->maximumSize()) {
            window->setFixedSize(fitted.size());
        } else {
            window->setMinimumSize(window->minimumSize().boundedTo(fitted.size()));
            window->resize(fitted.size());
        }
    }
    if (fitted.topLeft() != now.topLeft()) window->move(fitted.topLeft());
}

void KeepOnScreenWhenShown(QWidget* window) { new ShowFilter(window); }

}  // namespace screen_fit
