// What the two icon painters share: the theme colour, the drawing callback,
// writing a PNG at a scale, the round stroke and the product's camera logo.
#pragma once

#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace icons {

inline const QColor kTheme("#009FFF");

using Draw = std::function<void(QPainter&, const QSizeF&)>;

// Draws in logical coordinates on an image of scale times the size and
// writes it; a file that cannot be written ends the program.
inline void SavePng(const QString& path, int width, int height, int scale, const Draw& draw,
                    const QColor& fill = Qt::transparent) {
    QImage image(width * scale, height * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.scale(scale, scale);
    draw(painter, QSizeF(width, height));
    painter.end();
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

inline QPen Stroke(const QColor& colour, qreal width) {
    QPen pen(colour, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// The camera logo: a white camera body and lens on a rounded theme square,
// drawn for a square of side s (the shapes are laid out on 64 units).
inline void DrawCameraLogo(QPainter& p, qreal s) {
    p.save();
    p.scale(s / 64.0, s / 64.0);
    p.setPen(Qt::NoPen);
    p.setBrush(kTheme);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 14, 14);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(12, 20, 28, 24), 5, 5);
    QPainterPath lens;
    lens.moveTo(42, 28);
    lens.lineTo(53, 21);
    lens.lineTo(53, 43);
    lens.lineTo(42, 36);
    lens.closeSubpath();
    p.drawPath(lens);
    p.setBrush(kTheme);
    p.drawEllipse(QPointF(26, 32), 6, 6);
    p.restore();
}

}  // namespace icons
