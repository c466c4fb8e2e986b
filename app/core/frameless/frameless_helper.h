// Frameless top-level windows: edge and corner sizing, moving by the caption
// and the painted white background with its faint outline.
//
// The window answers where its edges and caption are (ResizeInterface);
// FramelessHelper turns a point into a hit-test code the way the Windows
// non-client hit test does. On Windows the native messages drive it; on
// Linux there are none, so a left press inside the window asks the same hit
// test and hands the drag to the window system (QWindow::startSystemResize;
// on the caption, the caption drag of window_drag). All of it runs on the
// GUI thread.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

class QWidget;
class QWindow;
class ShadowProxy;

class ResizeInterface {
public:
    virtual ~ResizeInterface() = default;
    // x and y are screen coordinates.
    virtual bool isTopEdge(int x, int y);
    virtual bool isBottomEdge(int x, int y);
    virtual bool isLeftEdge(int x, int y);
    virtual bool isRightEdge(int x, int y);
    virtual bool isCaption(int x, int y) = 0;
    // edges: 1 top, 2 bottom, 4 left, 8 right; the rectangle may be changed.
    virtual void onSizing(int edges, int* top, int* bottom, int* left, int* right);
};

// The Windows hit-test codes the helper answers with.
enum HitTestCode {
    kHitClient = 1,
    kHitCaption = 2,
    kHitLeft = 10,
    kHitRight = 11,
    kHitTop = 12,
    kHitTopLeft = 13,
    kHitTopRight = 14,
    kHitBottom = 15,
    kHitBottomLeft = 16,
    kHitBottomRight = 17,
};

// The Windows message fields the helper reads (MSG), so that the message
// handling stays one piece of code on both systems.
struct NativeWindowMessage {
    unsigned message = 0;
    unsigned long long wParam = 0;
    long long lParam = 0;  // WM_SIZING: points to a NativeRect
};
struct NativeRect {
    long left, top, right, bottom;
};

class FramelessHelper : public QObject {
public:
    static constexpr unsigned kWmNcHitTest = 0x84;
    static constexpr unsigned kWmSizing = 0x214;

    // Made in the window's constructor after its flags are set; a child of
    // widget. handler is borrowed (the window itself).
    FramelessHelper(QWidget* widget, ResizeInterface* handler);
    ~FramelessHelper() override;

    bool eventFilter(QObject* watched, QEvent* event) override;
    int hitTest(int x, int y);
    // True when the message is consumed; *result takes the answer.
    bool handleNativeMessage(NativeWindowMessage* message, long* result);

private:
    QWindow* window_ = nullptr;
    QWidget* widget_;
    ResizeInterface* handler_;
    ShadowProxy* shadow_;
};

// The one process-wide native event filter, routing by window handle.
class NativeEventFilter : public QAbstractNativeEventFilter {
public:
    // A null helper removes the window's entry; an entry already there stays.
    static void registerWindow(QWindow* window, FramelessHelper* helper);
    // The helper registered for the native handle, or null.
    static FramelessHelper* helperFor(quintptr handle);
    // X11 and Wayland deliver no Windows messages: only a Windows build would
    // route here; elsewhere it lets every event pass.
    bool nativeEventFilter(const QByteArray& eventType, void* message, long* result) override;
};

// Paints the window's background: white, with a 1-pixel outline of black at
// alpha 30, inside `margin` (5 with the shadow on, else 0).
class ShadowProxy : public QObject {
    Q_OBJECT

public:
    explicit ShadowProxy(QWidget* widget);
    ~ShadowProxy() override = default;
    void setShadowEnabled(bool on);
    int margin() const { return margin_; }
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* widget_;
    int margin_ = 5;
};
