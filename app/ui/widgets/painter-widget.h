// The software preview: paints the newest picture of its own software sink
// with QPainter, every 40 ms while visible. The render output pushes into
// the sink on its thread; everything here runs on the GUI thread.
#pragma once

#include <QRect>
#include <QSize>
#include <QWidget>
#include <memory>

class StreamVideoSinkSw;

class PainterWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRepaintIntervalMs = 40;

    explicit PainterWidget(QWidget* parent = nullptr);
    ~PainterWidget() override;

    // True: the picture fills the widget; false: it keeps its aspect ratio.
    void SetStretch(bool stretch);
    bool stretch() const { return stretch_; }
    // The sink the main window puts in the render output's list; owned here.
    StreamVideoSinkSw* Sink() const { return sink_.get(); }

    // Where a picture of size picture lands in a widget of size widget:
    // the whole widget with stretch, else fitted and centred. Empty for an
    // empty picture or widget.
    static QRect TargetRect(const QSize& picture, const QSize& widget, bool stretch);

protected:
    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    std::unique_ptr<StreamVideoSinkSw> sink_;
    int timerId_ = 0;
    bool stretch_ = false;
};
