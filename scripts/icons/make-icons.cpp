// Draws every image of the main window's resource bundle as a flat icon in
// the theme colour and writes them as PNG files (twice the logical size, so
// they stay sharp on scaled screens). Run by scripts/make-icons.sh; the
// images it writes are committed under app/resources/image/.
//
//   make-icons <output folder>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cstdio>
#include <functional>

#include "icon_painting.h"

namespace {

using icons::Draw;
using icons::kTheme;
using icons::SavePng;
using icons::Stroke;
const QColor kThemeHover("#33B4FF");
const QColor kThemePress("#007FDF");
const QColor kGrey("#666666");
const QColor kDisabled("#C4C4C4");
const QColor kRed("#CC3D3D");
const QColor kRedHover("#E05555");
const QColor kRedPress("#A82E2E");
constexpr int kScale = 2;

QString outputDir;
int written = 0;

void Save(const QString& name, int width, int height, const Draw& draw) {
    SavePng(outputDir + "/" + name + ".png", width, height, kScale, draw);
    ++written;
}

// ---- title bar (18 x 18) and floating buttons (27 x 27) -------------------

void TitleGlyph(QPainter& p, const QSizeF& s, const QString& kind, const QColor& c) {
    const qreal w = s.width();
    const qreal m = w * 0.2;  // margin
    p.setPen(Stroke(c, w / 10.0));
    p.setBrush(Qt::NoBrush);
    if (kind == "min") {
        p.drawLine(QPointF(m, w / 2), QPointF(w - m, w / 2));
    } else if (kind == "max") {
        p.drawRoundedRect(QRectF(m, m, w - 2 * m, w - 2 * m), w / 18, w / 18);
    } else if (kind == "max_on") {  // restore: two overlapping windows
        const qreal d = w * 0.14;
        p.drawRoundedRect(QRectF(m, m + d, w - 2 * m - d, w - 2 * m - d), w / 18, w / 18);
        QPainterPath back;
        back.moveTo(m + d, m + d);
        back.lineTo(m + d, m);
        back.lineTo(w - m, m);
        back.lineTo(w - m, w - m - d);
        back.lineTo(w - m - d, w - m - d);
        p.drawPath(back);
    } else if (kind == "close") {
        p.drawLine(QPointF(m, m), QPointF(w - m, w - m));
        p.drawLine(QPointF(w - m, m), QPointF(m, w - m));
    } else if (kind == "hide") {  // borderless: a frame with its corners only
        const qreal l = w * 0.22;
        const QRectF r(m, m, w - 2 * m, w - 2 * m);
        for (const QPointF& corner : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()}) {
            const qreal dx = corner.x() < w / 2 ? l : -l;
            const qreal dy = corner.y() < w / 2 ? l : -l;
            p.drawLine(corner, corner + QPointF(dx, 0));
            p.drawLine(corner, corner + QPointF(0, dy));
        }
        p.setBrush(c);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(w / 2, w / 2), w / 10, w / 10);
    }
}

void TitleButtons() {
    const QStringList kinds = {"min", "max", "close", "hide"};
    for (const QString& kind : kinds) {
        Save("main_title_" + kind, 18, 18, [&](QPainter& p, const QSizeF& s) { TitleGlyph(p, s, kind, kGrey); });
        Save("main_title_" + kind + "_hover", 18, 18,
             [&](QPainter& p, const QSizeF& s) { TitleGlyph(p, s, kind, kTheme); });
        Save("main_title_" + kind + "_press", 18, 18,
             [&](QPainter& p, const QSizeF& s) { TitleGlyph(p, s, kind, kThemePress); });
    }
    Save("main_title_max_on", 18, 18, [](QPainter& p, const QSizeF& s) { TitleGlyph(p, s, "max_on", kGrey); });
    Save("main_title_max_on_hover", 18, 18, [](QPainter& p, const QSizeF& s) { TitleGlyph(p, s, "max_on", kTheme); });
    Save("main_title_max_on_press", 18, 18,
         [](QPainter& p, const QSizeF& s) { TitleGlyph(p, s, "max_on", kThemePress); });
    Save("main_title_hide_forbid", 18, 18, [](QPainter& p, const QSizeF& s) { TitleGlyph(p, s, "hide", kDisabled); });

    // Floating mode: white glyphs on a round translucent disc, over the picture.
    for (const QString& kind : {QString("hide"), QString("min"), QString("close")}) {
        for (const bool hover : {false, true}) {
            Save("suspend_" + kind + (hover ? "_hover" : ""), 27, 27, [&](QPainter& p, const QSizeF& s) {
                p.setPen(Qt::NoPen);
                p.setBrush(hover ? kTheme : QColor(0, 0, 0, 140));
                p.drawEllipse(QRectF(0.5, 0.5, s.width() - 1, s.height() - 1));
                p.save();
                p.translate(s.width() * 0.2, s.height() * 0.2);
                TitleGlyph(p, s * 0.6, kind, Qt::white);
                p.restore();
            });
        }
    }
}

// ---- tool bar --------------------------------------------------------------

void Gear(QPainter& p, const QPointF& c, qreal r, const QColor& colour) {
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const qreal a0 = (i * 180.0 / teeth) - 90.0 / teeth;
        const qreal rr = (i % 2 == 0) ? r : r * 0.78;
        const qreal a1 = a0 + 180.0 / teeth;
        QRectF box(c.x() - rr, c.y() - rr, 2 * rr, 2 * rr);
        if (i == 0) gear.arcMoveTo(box, -a0);
        gear.arcTo(box, -a0, -(a1 - a0));
    }
    gear.closeSubpath();
    gear.addEllipse(c, r * 0.36, r * 0.36);
    gear.setFillRule(Qt::OddEvenFill);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(gear);
}

// A round tool button: a disc outline with a glyph.
void RoundButton(const QString& name, const std::function<void(QPainter&, const QPointF&, qreal, const QColor&)>& glyph) {
    struct Variant {
        const char* suffix;
        QColor colour;
        bool filled;
    };
    for (const Variant& v : {Variant{"", kTheme, false}, Variant{"_hover", kThemeHover, true},
                             Variant{"_press", kThemePress, true}}) {
        Save(name + v.suffix, 37, 37, [&](QPainter& p, const QSizeF& s) {
            const QPointF c(s.width() / 2, s.height() / 2);
            const qreal r = s.width() / 2 - 1.5;
            if (v.filled) {
                p.setPen(Qt::NoPen);
                p.setBrush(v.colour);
                p.drawEllipse(c, r, r);
                glyph(p, c, r, Qt::white);
            } else {
                p.setPen(Stroke(v.colour, 1.5));
                p.setBrush(Qt::NoBrush);
                p.drawEllipse(c, r, r);
                glyph(p, c, r, v.colour);
            }
        });
    }
}

void TextGlyph(QPainter& p, const QPointF& c, qreal r, const QColor& colour, const QString& text, bool italic) {
    QFont font("DejaVu Sans");
    font.setPixelSize(static_cast<int>(r * 1.15));
    font.setBold(true);
    font.setItalic(italic);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), Qt::AlignCenter, text);
}

void ToolBar() {
    RoundButton("menu_set", [](QPainter& p, const QPointF& c, qreal r, const QColor& col) { Gear(p, c, r * 0.58, col); });
    RoundButton("menu_help",
                [](QPainter& p, const QPointF& c, qreal r, const QColor& col) { TextGlyph(p, c, r, col, "?", false); });
    RoundButton("menu_about",
                [](QPainter& p, const QPointF& c, qreal r, const QColor& col) { TextGlyph(p, c, r, col, "i", false); });

    // Screenshot (48 x 37): a camera body with a lens.
    struct Variant {
        const char* suffix;
        QColor colour;
    };
    for (const Variant& v : {Variant{"", kTheme}, Variant{"_hover", kThemeHover}, Variant{"_press", kThemePress},
                             Variant{"_disabled", kDisabled}}) {
        Save(QString("menu_scmcut") + v.suffix, 48, 37, [&](QPainter& p, const QSizeF& s) {
            const QRectF body(5, 9, s.width() - 10, s.height() - 15);
            p.setPen(Stroke(v.colour, 2.0));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(body, 4, 4);
            QPainterPath hump;
            hump.moveTo(body.center().x() - 8, body.top());
            hump.lineTo(body.center().x() - 5, body.top() - 4);
            hump.lineTo(body.center().x() + 5, body.top() - 4);
            hump.lineTo(body.center().x() + 8, body.top());
            p.drawPath(hump);
            p.drawEllipse(body.center(), 6.5, 6.5);
            p.setPen(Qt::NoPen);
            p.setBrush(v.colour);
            p.drawEllipse(body.center(), 3, 3);
            p.drawEllipse(QPointF(body.right() - 5, body.top() + 4.5), 1.5, 1.5);
        });
    }

    // Record (37 x 37): a dot in a ring; while recording a square in a ring.
    for (const Variant& v : {Variant{"", kRed}, Variant{"_hover", kRedHover}, Variant{"_press", kRedPress},
                             Variant{"_disable", kDisabled}}) {
        Save(QString("menu_record") + v.suffix, 37, 37, [&](QPainter& p, const QSizeF& s) {
            const QPointF c(s.width() / 2, s.height() / 2);
            p.setPen(Stroke(v.colour, 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(c, s.width() / 2 - 1.5, s.width() / 2 - 1.5);
            p.setPen(Qt::NoPen);
            p.setBrush(v.colour);
            p.drawEllipse(c, s.width() * 0.24, s.width() * 0.24);
        });
    }
    for (const Variant& v : {Variant{"", kRed}, Variant{"_hover", kRedHover}, Variant{"_press", kRedPress}}) {
        Save(QString("menu_record_stop") + v.suffix, 37, 37, [&](QPainter& p, const QSizeF& s) {
            const QPointF c(s.width() / 2, s.height() / 2);
            p.setPen(Qt::NoPen);
            p.setBrush(v.colour);
            p.drawEllipse(c, s.width() / 2 - 1, s.width() / 2 - 1);
            p.setBrush(Qt::white);
            const qreal h = s.width() * 0.16;
            p.drawRoundedRect(QRectF(c.x() - h, c.y() - h, 2 * h, 2 * h), 2, 2);
        });
    }

    // The picture switch (24 x 40): a phone; "off" crosses it out.
    struct PhoneVariant {
        const char* suffix;
        QColor colour;
        bool off;
    };
    for (const PhoneVariant& v :
         {PhoneVariant{"", kTheme, false}, PhoneVariant{"_hover", kThemeHover, false},
          PhoneVariant{"_disable", kDisabled, false}, PhoneVariant{"_off", kGrey, true},
          PhoneVariant{"_off_hover", kTheme, true}}) {
        Save(QString("menu_phone") + v.suffix, 24, 40, [&](QPainter& p, const QSizeF& s) {
            const QRectF phone(4, 6, s.width() - 8, s.height() - 12);
            p.setPen(Stroke(v.colour, 1.8));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(phone, 3, 3);
            p.drawLine(QPointF(phone.center().x() - 2, phone.top() + 3), QPointF(phone.center().x() + 2, phone.top() + 3));
            p.setPen(Qt::NoPen);
            p.setBrush(v.colour);
            p.drawEllipse(QPointF(phone.center().x(), phone.center().y()), 2.6, 2.6);  // the camera lens
            if (v.off) {
                p.setPen(Stroke(kRed, 2.0));
                p.drawLine(QPointF(2, 8), QPointF(s.width() - 2, s.height() - 8));
            }
        });
    }

    // The virtual microphone (24 x 40): a microphone whose level bars fill
    // from the bottom; "null" is the microphone crossed out.
    auto mic = [](const QString& name, int level, bool hover) {
        Save(name, 24, 40, [=](QPainter& p, const QSizeF& s) {
            const QColor colour = level < 0 ? (hover ? kTheme : kGrey) : (hover ? kThemeHover : kTheme);
            const QRectF capsule(s.width() / 2 - 5, 7, 10, 17);
            p.setPen(Stroke(colour, 1.6));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(capsule, 5, 5);
            if (level > 0) {  // the capsule fills with the level
                const qreal fill = capsule.height() * level / 10.0;
                QPainterPath clip;
                clip.addRoundedRect(capsule.adjusted(1.5, 1.5, -1.5, -1.5), 3.5, 3.5);
                p.save();
                p.setClipPath(clip);
                p.fillRect(QRectF(capsule.left(), capsule.bottom() - fill, capsule.width(), fill), colour);
                p.restore();
            }
            QPainterPath stand;
            stand.moveTo(s.width() / 2 - 8, 18);
            stand.cubicTo(s.width() / 2 - 8, 31, s.width() / 2 + 8, 31, s.width() / 2 + 8, 18);
            p.drawPath(stand);
            p.drawLine(QPointF(s.width() / 2, 28.5), QPointF(s.width() / 2, 33));
            p.drawLine(QPointF(s.width() / 2 - 4, 33), QPointF(s.width() / 2 + 4, 33));
            if (level < 0) {
                p.setPen(Stroke(kRed, 1.8));
                p.drawLine(QPointF(3, 8), QPointF(s.width() - 3, 32));
            }
        });
    };
    mic("voice/voice-null", -1, false);
    mic("voice/voice-null_hover", -1, true);
    for (int level = 0; level <= 10; ++level) {
        mic(QString("voice/voice-%1").arg(level), level, false);
        mic(QString("voice/voice-%1_hover").arg(level), level, true);
    }
}

// ---- connection pages --------------------------------------------------------

void DrawPhone(QPainter& p, const QRectF& r, const QColor& colour, qreal pen) {
    p.setPen(Stroke(colour, pen));
    p.setBrush(Qt::white);
    p.drawRoundedRect(r, r.width() * 0.14, r.width() * 0.14);
    p.drawLine(QPointF(r.center().x() - r.width() * 0.12, r.top() + r.height() * 0.06),
               QPointF(r.center().x() + r.width() * 0.12, r.top() + r.height() * 0.06));
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QPointF(r.center().x(), r.center().y()), r.width() * 0.14, r.width() * 0.14);
}

void DrawMonitor(QPainter& p, const QRectF& r, const QColor& colour, qreal pen) {
    p.setPen(Stroke(colour, pen));
    p.setBrush(Qt::white);
    const QRectF screen(r.left(), r.top(), r.width(), r.height() * 0.78);
    p.drawRoundedRect(screen, 6, 6);
    p.drawLine(QPointF(r.center().x(), screen.bottom()), QPointF(r.center().x(), r.bottom() - 2));
    p.drawLine(QPointF(r.center().x() - r.width() * 0.18, r.bottom() - 2),
               QPointF(r.center().x() + r.width() * 0.18, r.bottom() - 2));
}

void Pages() {
    // The waiting page: a phone before a monitor (164 x 140).
    Save("display_device", 164, 140, [](QPainter& p, const QSizeF& s) {
        DrawMonitor(p, QRectF(8, 14, s.width() - 46, s.height() - 30), kTheme, 4);
        DrawPhone(p, QRectF(s.width() - 58, 44, 46, 84), kTheme, 4);
    });
    // The ring under the turning cursor (280 x 280) and the cursor itself.
    Save("display_waitting", 280, 280, [](QPainter& p, const QSizeF& s) {
        p.setPen(QPen(QColor("#D6EEFF"), 10));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(s.width() / 2, s.height() / 2), 128, 128);
    });
    Save("display_waitting_cursor", 280, 280, [](QPainter& p, const QSizeF& s) {
        QConicalGradient gradient(QPointF(s.width() / 2, s.height() / 2), 90);
        // The arc runs from the right (transparent) to the top (full colour).
        gradient.setColorAt(0.0, kTheme);
        gradient.setColorAt(0.75, QColor(0, 159, 255, 0));
        gradient.setColorAt(1.0, kTheme);
        QPen pen(QBrush(gradient), 10);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(s.width() / 2 - 128, s.height() / 2 - 128, 256, 256), 0, 90 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(kTheme);
        p.drawEllipse(QPointF(s.width() / 2, s.height() / 2 - 128), 7, 7);
    });
    // Connected (420 x 140): phone, link with a check, monitor.
    Save("display_success", 420, 140, [](QPainter& p, const QSizeF& s) {
        DrawPhone(p, QRectF(70, 24, 52, 94), kTheme, 4);
        DrawMonitor(p, QRectF(s.width() - 190, 18, 130, 108), kTheme, 4);
        QPen dash = Stroke(kTheme, 4);
        dash.setDashPattern({1.5, 2.5});
        p.setPen(dash);
        p.drawLine(QPointF(140, 70), QPointF(s.width() - 208, 70));
        const QPointF c(s.width() / 2 - 16, 70);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor("#2DBE60"));
        p.drawEllipse(c, 20, 20);
        p.setPen(Stroke(Qt::white, 4.5));
        p.drawPolyline(QPolygonF({c + QPointF(-9, 0), c + QPointF(-3, 7), c + QPointF(10, -7)}));
    });

    // Small marks of the USB page.
    Save("android_logo", 14, 18, [](QPainter& p, const QSizeF& s) {
        const QColor green("#3DDC84");
        p.setPen(Qt::NoPen);
        p.setBrush(green);
        QPainterPath head;
        head.moveTo(1.5, 8);
        head.arcTo(QRectF(1.5, 2.5, 11, 11), 180, -180);
        head.closeSubpath();
        p.drawPath(head);
        p.drawRoundedRect(QRectF(1.5, 9, 11, 7.5), 1.5, 1.5);
        p.setPen(Stroke(green, 1.0));
        p.drawLine(QPointF(4, 3.5), QPointF(3, 1.5));
        p.drawLine(QPointF(10, 3.5), QPointF(11, 1.5));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(5, 5.8), 0.9, 0.9);
        p.drawEllipse(QPointF(9, 5.8), 0.9, 0.9);
        (void)s;
    });
    Save("ios_logo", 14, 18, [](QPainter& p, const QSizeF& s) {  // a phone outline: no maker's mark
        DrawPhone(p, QRectF(2.5, 1.5, s.width() - 5, s.height() - 3), kGrey, 1.4);
    });
    for (int step = 1; step <= 4; ++step) {
        Save(QString("usb_step_%1").arg(step), 18, 12, [=](QPainter& p, const QSizeF& s) {
            p.setPen(Qt::NoPen);
            p.setBrush(kTheme);
            p.drawRoundedRect(QRectF(0.5, 0.5, s.width() - 1, s.height() - 1), 6, 6);
            QFont font("DejaVu Sans");
            font.setPixelSize(9);
            font.setBold(true);
            p.setFont(font);
            p.setPen(Qt::white);
            p.drawText(QRectF(0, 0, s.width(), s.height()), Qt::AlignCenter, QString::number(step));
        });
    }
    Save("admin_check_img", 20, 20, [](QPainter& p, const QSizeF& s) {  // the warning mark
        p.setPen(Qt::NoPen);
        p.setBrush(QColor("#FF9F1A"));
        p.drawEllipse(QRectF(1, 1, s.width() - 2, s.height() - 2));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(s.width() / 2 - 1.3, 4.5, 2.6, 7.5), 1.2, 1.2);
        p.drawEllipse(QPointF(s.width() / 2, 14.8), 1.5, 1.5);
    });

    // The iOS steps: a trust prompt, an arrow, a passcode pad (158 x 89).
    Save("ios_demo_1", 158, 89, [](QPainter& p, const QSizeF& s) {
        p.setPen(Stroke(QColor("#CCCCCC"), 1));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(0.5, 0.5, s.width() - 1, s.height() - 1), 8, 8);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor("#E5E5E5"));
        p.drawRoundedRect(QRectF(24, 14, 110, 6), 3, 3);
        p.drawRoundedRect(QRectF(36, 26, 86, 5), 2.5, 2.5);
        p.setPen(Stroke(QColor("#DDDDDD"), 1));
        p.drawLine(QPointF(0.5, 44), QPointF(s.width() - 0.5, 44));
        p.drawLine(QPointF(s.width() / 2, 44), QPointF(s.width() / 2, s.height() - 0.5));
        p.setPen(Qt::NoPen);
        p.setBrush(kTheme);
        p.drawRoundedRect(QRectF(14, 60, 52, 12), 6, 6);
        p.setBrush(QColor("#BBBBBB"));
        p.drawRoundedRect(QRectF(s.width() / 2 + 14, 62, 52, 8), 4, 4);
    });
    Save("ios_demo_2", 20, 20, [](QPainter& p, const QSizeF& s) {
        p.setPen(Stroke(kTheme, 2.2));
        p.drawLine(QPointF(3, s.height() / 2), QPointF(s.width() - 4, s.height() / 2));
        p.drawPolyline(QPolygonF({QPointF(s.width() - 9, 5), QPointF(s.width() - 4, s.height() / 2),
                                  QPointF(s.width() - 9, s.height() - 5)}));
    });
    Save("ios_demo_3", 158, 89, [](QPainter& p, const QSizeF& s) {
        p.setPen(Stroke(QColor("#CCCCCC"), 1));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(0.5, 0.5, s.width() - 1, s.height() - 1), 8, 8);
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 6; ++i) {
            p.setBrush(i < 4 ? kTheme : QColor("#DDDDDD"));
            p.drawEllipse(QPointF(44 + i * 14, 18), 4, 4);
        }
        p.setBrush(QColor("#EEEEEE"));
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) p.drawEllipse(QPointF(51 + col * 28, 38 + row * 17), 7, 7);
        }
    });

    // The tray and window icon (64 x 64).
    Save("logo_zucam", 64, 64, [](QPainter& p, const QSizeF& s) { icons::DrawCameraLogo(p, s.width()); });
}


// ---- settings and picture-adjustment dialogs ------------------------------

// A chevron pointing up or down, centred in the image.
void Chevron(QPainter& p, const QSizeF& s, bool up, const QColor& c, qreal width) {
    p.setPen(Stroke(c, width));
    p.setBrush(Qt::NoBrush);
    const qreal mx = s.width() * 0.18, my = s.height() * 0.22;
    const qreal top = my, bottom = s.height() - my;
    if (up) {
        p.drawPolyline(QPolygonF({QPointF(mx, bottom), QPointF(s.width() / 2, top), QPointF(s.width() - mx, bottom)}));
    } else {
        p.drawPolyline(QPolygonF({QPointF(mx, top), QPointF(s.width() / 2, bottom), QPointF(s.width() - mx, top)}));
    }
}

// The settings dialog's 25 x 25 icon buttons: a round question mark, a
// folder with "..." (choose), an open folder with an arrow (show).
void SettingGlyph(QPainter& p, const QSizeF& s, const QString& kind, const QColor& c) {
    const qreal w = s.width();
    if (kind == "tooltips") {
        p.setPen(Stroke(c, 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(w / 2, w / 2), w * 0.36, w * 0.36);
        QPainterPath hook;
        hook.moveTo(w * 0.40, w * 0.40);
        hook.cubicTo(w * 0.40, w * 0.28, w * 0.60, w * 0.28, w * 0.60, w * 0.40);
        hook.cubicTo(w * 0.60, w * 0.48, w * 0.50, w * 0.49, w * 0.50, w * 0.58);
        p.drawPath(hook);
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawEllipse(QPointF(w * 0.50, w * 0.70), 1.1, 1.1);
        return;
    }
    // The folder body shared by both folder icons.
    QPainterPath folder;
    folder.moveTo(w * 0.14, w * 0.26);
    folder.lineTo(w * 0.40, w * 0.26);
    folder.lineTo(w * 0.48, w * 0.34);
    folder.lineTo(w * 0.86, w * 0.34);
    folder.lineTo(w * 0.86, w * 0.76);
    folder.lineTo(w * 0.14, w * 0.76);
    folder.closeSubpath();
    p.setPen(Stroke(c, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawPath(folder);
    if (kind == "select_dir") {
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        for (int i = 0; i < 3; ++i) p.drawEllipse(QPointF(w * (0.36 + 0.14 * i), w * 0.56), 1.3, 1.3);
    } else {  // open_dir: an arrow out of the folder
        p.drawLine(QPointF(w * 0.42, w * 0.64), QPointF(w * 0.62, w * 0.46));
        p.drawPolyline(QPolygonF({QPointF(w * 0.50, w * 0.45), QPointF(w * 0.63, w * 0.45), QPointF(w * 0.63, w * 0.58)}));
    }
}

void SettingDialogs() {
    for (const QString& kind : {QString("tooltips"), QString("select_dir"), QString("open_dir")}) {
        Save("setting_" + kind, 25, 25, [&](QPainter& p, const QSizeF& s) { SettingGlyph(p, s, kind, kTheme); });
        Save("setting_" + kind + "_hover", 25, 25,
             [&](QPainter& p, const QSizeF& s) { SettingGlyph(p, s, kind, kThemeHover); });
        Save("setting_" + kind + "_press", 25, 25,
             [&](QPainter& p, const QSizeF& s) { SettingGlyph(p, s, kind, kThemePress); });
    }
    // The combo boxes' drop-down arrow (12 x 8).
    Save("xia", 12, 8, [](QPainter& p, const QSizeF& s) { Chevron(p, s, false, QColor("#999999"), 1.5); });
    Save("xia_hover", 12, 8, [](QPainter& p, const QSizeF& s) { Chevron(p, s, false, kTheme, 1.5); });
    Save("xia_press", 12, 8, [](QPainter& p, const QSizeF& s) { Chevron(p, s, false, kThemePress, 1.5); });
    // The spin boxes' up and down buttons (10 x 6).
    Save("new_up", 10, 6, [](QPainter& p, const QSizeF& s) { Chevron(p, s, true, kTheme, 1.3); });
    Save("new_up_disabled", 10, 6, [](QPainter& p, const QSizeF& s) { Chevron(p, s, true, kDisabled, 1.3); });
    Save("new_down", 10, 6, [](QPainter& p, const QSizeF& s) { Chevron(p, s, false, kTheme, 1.3); });
    Save("new_down_disabled", 10, 6, [](QPainter& p, const QSizeF& s) { Chevron(p, s, false, kDisabled, 1.3); });
}

}  // namespace

// The dialogs' images, the help page's pictures and the USB help animation's
// frames (make-dialog-icons.cpp).
int MakeDialogImages(const QString& imageDir, const QString& helpDir, const QString& frameDir);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: make-icons <output folder> [<help folder> <animation frame folder>]\n");
        return 2;
    }
    outputDir = QString::fromLocal8Bit(argv[1]);
    TitleButtons();
    ToolBar();
    Pages();
    if (argc == 4) {
        written += MakeDialogImages(outputDir, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    SettingDialogs();
    std::printf("%d images written to %s\n", written, qPrintable(outputDir));
    return 0;
}
