#include "painter-widget.h"

#include <QPainter>
#include <QTimerEvent>

#include "video_sink/stream_video_sink_sw_impl.h"

PainterWidget::PainterWidget(QWidget* parent) : QWidget(parent), sink_(StreamVideoSinkSwImpl::Create()) {
    timerId_ = startTimer(kRepaintIntervalMs, Qt::CoarseTimer);
}

PainterWidget::~PainterWidget() = default;

void PainterWidget::SetStretch(bool stretch) { stretch_ = stretch; }

QRect PainterWidget::TargetRect(const QSize& picture, const QSize& widget, bool stretch) {
    if (picture.isEmpty() || widget.isEmpty()) return QRect();
    if (stretch) return QRect(QPoint(0, 0), widget);
    const float pictureRatio = static_cast<float>(picture.width()) / static_cast<float>(picture.height());
    const float widgetRatio = static_cast<float>(widget.width()) / static_cast<float>(widget.height());
    if (pictureRatio >= widgetRatio) {
        const int height = static_cast<int>(static_cast<float>(widget.width()) / pictureRatio);
        return QRect(0, (widget.height() - height) / 2, widget.width(), height);
    }
    const int width = static_cast<int>(static_cast<float>(widget.height()) * pictureRatio);
    return QRect((widget.width() - width) / 2, 0, width, widget.height());
}

void PainterWidget::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timerId_ && isVisible()) update();
}

void PainterWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const QImage image = sink_->GetImage();
    if (image.isNull()) return;
    const QRect target = TargetRect(image.size(), size(), stretch_);
    if (target.isEmpty()) return;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawImage(target, image);
}
