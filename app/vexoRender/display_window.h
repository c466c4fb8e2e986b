// A native child widget that the render library's view draws into. The view
// is made on the widget's window handle the first time AttachRender finds
// one (paint, resize, or an explicit call) and lives as long as the widget.
// GUI thread only.
#pragma once

#include <QDebug>
#include <QPaintEvent>
#include <QResizeEvent>
#include <QWidget>
#include <memory>

#include "vexo/gs_device.h"

template <typename View>
class DisplayWindow : public QWidget {
public:
    explicit DisplayWindow(QWidget* parent = nullptr) : QWidget(parent) {
        setAttribute(Qt::WA_PaintOnScreen);
        setAttribute(Qt::WA_NoSystemBackground);
        setAttribute(Qt::WA_StaticContents);
        setAttribute(Qt::WA_DontCreateNativeAncestors);
        setAttribute(Qt::WA_NativeWindow);
    }
    ~DisplayWindow() override {
        if (view_) view_->Detach();
    }

    // The library paints; Qt must not.
    QPaintEngine* paintEngine() const override { return nullptr; }

    // True when this call made the view.
    virtual bool AttachRender() {
        const WId handle = winId();
        if (handle == 0 || view_) return false;
        view_ = std::make_unique<View>(static_cast<uintptr_t>(handle), width(), height(), GsDevice::DefaultDevice());
        view_->Attch();
        view_->SetBackgroundColor(0.5f, 0.196f, 0.196f, 1.0f);
        qDebug() << "[Begin to Attch Render!]";
        return true;
    }

    View* view() const { return view_.get(); }

protected:
    void paintEvent(QPaintEvent* event) override {
        AttachRender();
        QWidget::paintEvent(event);
    }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        AttachRender();
        if (isVisible() && view_) view_->Resize(width(), height());
    }

private:
    std::unique_ptr<View> view_;
};
