#include "core/frameless/frameless_helper.h"

#include <QCoreApplication>
#include <QHash>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <QWindow>

#include "window_drag/caption_drag.h"

bool ResizeInterface::isTopEdge(int, int) { return false; }
bool ResizeInterface::isBottomEdge(int, int) { return false; }
bool ResizeInterface::isLeftEdge(int, int) { return false; }
bool ResizeInterface::isRightEdge(int, int) { return false; }
void ResizeInterface::onSizing(int, int*, int*, int*, int*) {}

namespace {

NativeEventFilter* g_filter = nullptr;         // made on the first registration, never removed
QHash<quintptr, FramelessHelper*> g_windows;  // GUI thread only

}  // namespace

FramelessHelper::FramelessHelper(QWidget* widget, ResizeInterface* handler)
    : QObject(widget), widget_(widget), handler_(handler) {
    if (widget_->windowFlags().testFlag(Qt::FramelessWindowHint)) {
        widget_->installEventFilter(this);
        // Filters run latest first: a press on the caption is the drag's,
        // every other press comes on to the edges below.
        new window_drag::CaptionDrag(widget_, [this](const QPoint& at) {
            return window_ != nullptr && handler_ != nullptr && hitTest(at.x(), at.y()) == kHitCaption;
        });
    }
    shadow_ = new ShadowProxy(widget_);
    shadow_->setShadowEnabled(false);
}

FramelessHelper::~FramelessHelper() {
    if (window_ != nullptr) NativeEventFilter::registerWindow(window_, nullptr);
}

bool FramelessHelper::eventFilter(QObject* watched, QEvent* event) {
    if (watched == widget_) {
        if (event->type() == QEvent::WinIdChange && window_ == nullptr && widget_->windowHandle() != nullptr) {
            window_ = widget_->windowHandle();
            NativeEventFilter::registerWindow(window_, this);
        } else if (event->type() == QEvent::MouseButtonPress && window_ != nullptr) {
            // No native hit-test messages here: the same answer starts the
            // window system's own resize (the caption drag moves).
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton) {
                const QPoint at = mouse->globalPos();
                Qt::Edges edges;
                switch (hitTest(at.x(), at.y())) {
                case kHitTopLeft: edges = Qt::TopEdge | Qt::LeftEdge; break;
                case kHitBottomLeft: edges = Qt::BottomEdge | Qt::LeftEdge; break;
                case kHitTopRight: edges = Qt::TopEdge | Qt::RightEdge; break;
                case kHitBottomRight: edges = Qt::BottomEdge | Qt::RightEdge; break;
                case kHitLeft: edges = Qt::LeftEdge; break;
                case kHitTop: edges = Qt::TopEdge; break;
                case kHitRight: edges = Qt::RightEdge; break;
                case kHitBottom: edges = Qt::BottomEdge; break;
                default: break;
                }
                if (edges != 0) return window_->startSystemResize(edges);
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

int FramelessHelper::hitTest(int x, int y) {
    const bool left = handler_->isLeftEdge(x, y);
    const bool top = handler_->isTopEdge(x, y);
    const bool right = handler_->isRightEdge(x, y);
    const bool bottom = handler_->isBottomEdge(x, y);
    if (left && top) return kHitTopLeft;
    if (left && bottom) return kHitBottomLeft;
    if (right && top) return kHitTopRight;
    if (right && bottom) return kHitBottomRight;
    if (left) return kHitLeft;
    if (top) return kHitTop;
    if (right) return kHitRight;
    if (bottom) return kHitBottom;
    return handler_->isCaption(x, y) ? kHitCaption : kHitClient;
}

bool FramelessHelper::handleNativeMessage(NativeWindowMessage* message, long* result) {
    if (handler_ == nullptr) return false;
    if (message->message == kWmNcHitTest) {
        const int x = static_cast<int16_t>(message->lParam & 0xFFFF);
        const int y = static_cast<int16_t>((message->lParam >> 16) & 0xFFFF);
        *result = hitTest(x, y);
        return true;
    }
    if (message->message == kWmSizing) {
        static const int kEdges[] = {0, 4, 8, 1, 5, 9, 2, 6, 10};
        if (message->wParam >= 1 && message->wParam <= 8 && message->lParam != 0) {
            auto* rect = reinterpret_cast<NativeRect*>(message->lParam);
            int top = rect->top, bottom = rect->bottom, left = rect->left, right = rect->right;
            handler_->onSizing(kEdges[message->wParam], &top, &bottom, &left, &right);
            rect->top = top, rect->bottom = bottom, rect->left = left, rect->right = right;
        }
        return true;
    }
    return false;
}

void NativeEventFilter::registerWindow(QWindow* window, FramelessHelper* helper) {
    if (g_filter == nullptr) {
        g_filter = new NativeEventFilter;
        QCoreApplication::instance()->installNativeEventFilter(g_filter);
    }
    if (window == nullptr) return;
    const quintptr handle = window->winId();
    if (helper == nullptr) {
        g_windows.remove(handle);
        return;
    }
    if (!g_windows.contains(handle)) g_windows.insert(handle, helper);
}

FramelessHelper* NativeEventFilter::helperFor(quintptr handle) { return g_windows.value(handle, nullptr); }

bool NativeEventFilter::nativeEventFilter(const QByteArray& eventType, void* message, long* result) {
#ifdef _WIN32
    (void)eventType;
    // MSG: hwnd, message, wParam, lParam.
    struct Msg {
        void* hwnd;
        unsigned message;
        unsigned long long wParam;
        long long lParam;
    };
    const auto* msg = static_cast<const Msg*>(message);
    FramelessHelper* helper = helperFor(reinterpret_cast<quintptr>(msg->hwnd));
    if (helper == nullptr) return false;
    NativeWindowMessage native{msg->message, msg->wParam, msg->lParam};
    return helper->handleNativeMessage(&native, result);
#else
    (void)eventType, (void)message, (void)result;
    return false;
#endif
}

ShadowProxy::ShadowProxy(QWidget* widget) : QObject(widget), widget_(widget) {
    widget_->installEventFilter(this);
    widget_->setContentsMargins(margin_, margin_, margin_, margin_);
}

void ShadowProxy::setShadowEnabled(bool on) {
    margin_ = on ? 5 : 0;
    widget_->setContentsMargins(margin_, margin_, margin_, margin_);
}

bool ShadowProxy::eventFilter(QObject* watched, QEvent* event) {
    if (watched == widget_) {
        if (event->type() == QEvent::Paint) {
            QPainter painter(widget_);
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.setPen(QColor(0, 0, 0, 30));
            painter.setBrush(QColor(255, 255, 255, 255));
            painter.drawRect(margin_, margin_, widget_->width() - 2 * margin_ - 1, widget_->height() - 2 * margin_ - 1);
        } else if (event->type() == QEvent::Show) {
            widget_->update();
        }
    }
    return QObject::eventFilter(watched, event);
}
