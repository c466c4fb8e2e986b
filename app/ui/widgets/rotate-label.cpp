#include "rotate-label.h"

#include <QFile>
#include <QPainter>

namespace {
// GUI thread only, like every label that turns it.
double rotateAngle = 0.0;
}  // namespace

RotateLabel::RotateLabel(QWidget* parent) : QLabel(parent) {
    setWordWrap(true);
    connect(&timer_, &QTimer::timeout, this, &RotateLabel::Step);
}

double RotateLabel::angle() { return rotateAngle; }
void RotateLabel::resetAngle() { rotateAngle = 0.0; }

QPixmap RotateLabel::LoadScaled(const QString& path) const {
    QPixmap pixmap(path);
    if (pixmap.isNull()) return pixmap;
    return pixmap.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void RotateLabel::SetBackgroundPixmap(const QString& path) {
    if (!QFile::exists(path)) return;
    backgroundPixmap_ = LoadScaled(path);
}

void RotateLabel::SetRotatePixmap(const QString& path) {
    if (!QFile::exists(path)) return;
    rotatePixmap_ = LoadScaled(path);
}

void RotateLabel::Start() {
    Stop();
    timer_.start(interval_);
}

void RotateLabel::Stop() {
    if (timer_.isActive()) timer_.stop();
}

void RotateLabel::Step() {
    if (!isVisible()) return;
    QPixmap canvas = backgroundPixmap_;
    if (!canvas.isNull()) {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QPoint centre = rotatePixmap_.rect().center();
        painter.translate(centre);
        painter.rotate(rotateAngle);
        painter.translate(-centre);
        painter.drawPixmap(rotatePixmap_.rect(), rotatePixmap_);
    }
    setPixmap(canvas);
    rotateAngle += kStepDegrees;
    if (rotateAngle >= 360.0) rotateAngle -= 360.0;
}
