// Draws the dialogs' images (into the image folder) and the help page's
// pictures (into the help folder) as flat drawings in the theme colour. The
// USB help animation is written as numbered PNG frames into frameDir; the
// script joins them into a GIF (Qt writes no GIF).
#include <QDir>
#include <QFileInfo>
#include <QFont>
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
const QColor kThemeLight("#E5F5FF");
const QColor kLine("#D8DEE6");
const QColor kText("#4B5055");
const QColor kSoft("#F4F6F9");
const char kCjkFont[] = "WenQuanYi Micro Hei";

int g_written = 0;

void Save(const QString& path, int width, int height, int scale, const Draw& draw, const QColor& fill = Qt::transparent) {
    SavePng(path, width, height, scale, draw, fill);
    ++g_written;
}

void Text(QPainter& p, const QRectF& r, const QString& text, qreal px, const QColor& colour, bool bold = false,
          int flags = Qt::AlignCenter) {
    QFont font(kCjkFont);
    font.setPixelSize(qMax(1, qRound(px)));
    font.setBold(bold);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(r, flags, text);
}

// A phone outline whose screen is r less the bezel; returns the screen.
QRectF Phone(QPainter& p, const QRectF& r, const QColor& colour = kTheme) {
    p.setPen(Stroke(colour, 2));
    p.setBrush(Qt::white);
    p.drawRoundedRect(r, r.width() * 0.16, r.width() * 0.16);
    p.setPen(Stroke(colour, 1.5));
    p.drawLine(QPointF(r.center().x() - r.width() * 0.12, r.top() + 5), QPointF(r.center().x() + r.width() * 0.12, r.top() + 5));
    return r.adjusted(4, 10, -4, -10);
}

// A monitor; returns its screen.
QRectF Monitor(QPainter& p, const QRectF& r) {
    const QRectF screen(r.left(), r.top(), r.width(), r.height() * 0.8);
    p.setPen(Stroke(kTheme, 2));
    p.setBrush(Qt::white);
    p.drawRoundedRect(screen, 5, 5);
    p.drawLine(QPointF(r.center().x(), screen.bottom()), QPointF(r.center().x(), r.bottom() - 1));
    p.drawLine(QPointF(r.center().x() - r.width() * 0.18, r.bottom() - 1), QPointF(r.center().x() + r.width() * 0.18, r.bottom() - 1));
    return screen.adjusted(5, 5, -5, -5);
}

// A person's head and shoulders: what the camera sees.
void Person(QPainter& p, const QRectF& r) {
    p.save();
    p.setClipRect(r);
    p.setPen(Qt::NoPen);
    p.setBrush(kThemeLight);
    p.drawRect(r);
    p.setBrush(kTheme);
    const qreal u = qMin(r.width(), r.height());
    p.drawEllipse(QPointF(r.center().x(), r.top() + r.height() * 0.42), u * 0.17, u * 0.17);
    p.drawEllipse(QRectF(r.center().x() - u * 0.36, r.top() + r.height() * 0.68, u * 0.72, u * 0.6));
    p.restore();
}

void WifiWaves(QPainter& p, const QPointF& c, qreal r) {
    p.setPen(Stroke(kTheme, 2.2));
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 3; ++i) {
        const qreal rr = r * i / 3.0;
        p.drawArc(QRectF(c.x() - rr, c.y() - rr, 2 * rr, 2 * rr), 45 * 16, 90 * 16);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kTheme);
    p.drawEllipse(c, 2.2, 2.2);
}

void Cable(QPainter& p, const QPointF& from, const QPointF& to) {
    QPainterPath path(from);
    path.cubicTo(QPointF(from.x(), from.y() + 30), QPointF(to.x() - 40, to.y()), to);
    p.setPen(Stroke(kTheme, 2.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.setPen(Qt::NoPen);
    p.setBrush(kTheme);
    p.drawRoundedRect(QRectF(to.x() - 2, to.y() - 4, 8, 8), 1.5, 1.5);
}

void Caption(QPainter& p, const QSizeF& s, const QString& text) {
    Text(p, QRectF(0, s.height() - 20, s.width(), 18), text, 11, kText);
}

// ---- the dialogs' images ------------------------------------------------

void DialogImages(const QString& imageDir) {
    const auto image = [&](const QString& name) { return imageDir + "/" + name + ".png"; };
    Save(image("about_appimg"), 60, 60, 2, [](QPainter& p, const QSizeF& s) { icons::DrawCameraLogo(p, s.width()); });
    for (int step : {1, 2}) {
        Save(image(QString("help_step_%1").arg(step)), 22, 12, 2, [=](QPainter& p, const QSizeF& s) {
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
    // Where to get the phone app (100 x 100): the platform's mark and where
    // to look. No code to scan: the product has no real download page here.
    const auto storeCard = [&](const QString& name, bool ios) {
        Save(image(name), 100, 100, 2, [=](QPainter& p, const QSizeF& s) {
            p.setPen(Stroke(kLine, 1));
            p.setBrush(Qt::white);
            p.drawRoundedRect(QRectF(0.5, 0.5, s.width() - 1, s.height() - 1), 8, 8);
            if (ios) {
                Phone(p, QRectF(38, 10, 24, 42));
                p.setPen(Qt::NoPen);
                p.setBrush(kTheme);
                p.drawRoundedRect(QRectF(45, 46, 10, 2.5), 1.2, 1.2);
            } else {
                // A robot head: a half disc with two feelers and eyes.
                p.setPen(Qt::NoPen);
                p.setBrush(QColor("#3DDC84"));
                p.drawPie(QRectF(30, 18, 40, 40), 0, 180 * 16);
                p.drawRoundedRect(QRectF(30, 40, 40, 14), 3, 3);
                p.setPen(Stroke(QColor("#3DDC84"), 2));
                p.drawLine(QPointF(38, 22), QPointF(34, 15));
                p.drawLine(QPointF(62, 22), QPointF(66, 15));
                p.setPen(Qt::NoPen);
                p.setBrush(Qt::white);
                p.drawEllipse(QPointF(41, 30), 2.4, 2.4);
                p.drawEllipse(QPointF(59, 30), 2.4, 2.4);
            }
            Text(p, QRectF(0, 60, s.width(), 16), QString::fromUtf8(ios ? "App Store 搜索" : "应用商店搜索"), 10, kText);
            Text(p, QRectF(0, 76, s.width(), 16), QString::fromUtf8("Zu虚拟摄像头"), 11, kTheme, true);
        });
    };
    storeCard("android_qrcode", false);
    storeCard("ios_qrcode", true);
}

// ---- the USB help animation (217 x 235), frame by frame ------------------

void UsbHelpFrames(const QString& frameDir) {
    struct Screen {
        QString title;
        QStringList rows;
        int highlighted;
        bool switchOn;
    };
    const QStringList settings = {QString::fromUtf8("WLAN"), QString::fromUtf8("蓝牙"), QString::fromUtf8("显示和亮度"),
                                  QString::fromUtf8("系统和更新"), QString::fromUtf8("关于手机")};
    const QStringList system = {QString::fromUtf8("语言和输入法"), QString::fromUtf8("日期和时间"),
                                QString::fromUtf8("开发人员选项"), QString::fromUtf8("重置")};
    const QStringList developer = {QString::fromUtf8("开发人员选项"), QString::fromUtf8("USB调试"),
                                   QString::fromUtf8("USB安装")};
    const QList<Screen> screens = {
        {QString::fromUtf8("设置"), settings, -1, false},
        {QString::fromUtf8("设置"), settings, 3, false},
        {QString::fromUtf8("系统和更新"), system, -1, false},
        {QString::fromUtf8("系统和更新"), system, 2, false},
        {QString::fromUtf8("开发人员选项"), developer, 1, false},
        {QString::fromUtf8("开发人员选项"), developer, 1, true},
        {QString::fromUtf8("开发人员选项"), developer, -1, true},
    };
    QDir().mkpath(frameDir);
    int index = 0;
    for (const Screen& screen : screens) {
        Save(QString("%1/frame_%2.png").arg(frameDir).arg(index++, 2, 10, QChar('0')), 217, 235, 1,
             [&](QPainter& p, const QSizeF& s) {
                 const QRectF display = Phone(p, QRectF(48, 6, 121, s.height() - 12));
                 p.setPen(Qt::NoPen);
                 p.setBrush(kSoft);
                 p.drawRect(display);
                 Text(p, QRectF(display.left() + 6, display.top() + 4, display.width() - 12, 18), screen.title, 11,
                      kText, true, Qt::AlignLeft | Qt::AlignVCenter);
                 qreal y = display.top() + 26;
                 for (int row = 0; row < screen.rows.size(); ++row) {
                     const QRectF r(display.left() + 4, y, display.width() - 8, 24);
                     p.setPen(Qt::NoPen);
                     p.setBrush(row == screen.highlighted ? kThemeLight : QColor(Qt::white));
                     p.drawRoundedRect(r, 4, 4);
                     Text(p, r.adjusted(6, 0, -6, 0), screen.rows[row], 9.5, kText, false, Qt::AlignLeft | Qt::AlignVCenter);
                     const bool isSwitch = screen.title == QString::fromUtf8("开发人员选项") && row > 0;
                     if (isSwitch) {
                         const bool on = row == 1 && screen.switchOn;
                         const QRectF track(r.right() - 26, r.center().y() - 6, 20, 12);
                         p.setBrush(on ? kTheme : QColor("#CCCCCC"));
                         p.drawRoundedRect(track, 6, 6);
                         p.setBrush(Qt::white);
                         p.drawEllipse(QPointF(on ? track.right() - 6 : track.left() + 6, track.center().y()), 4.5, 4.5);
                     } else {
                         p.setPen(Stroke(QColor("#BBBBBB"), 1.2));
                         p.drawPolyline(QPolygonF({QPointF(r.right() - 10, r.center().y() - 3.5),
                                                   QPointF(r.right() - 6.5, r.center().y()),
                                                   QPointF(r.right() - 10, r.center().y() + 3.5)}));
                     }
                     if (row == screen.highlighted) {  // the tapping finger, on the switch where there is one
                         const QPointF tap(isSwitch ? r.right() - 16 : r.right() - 30, r.center().y() + 4);
                         p.setPen(Qt::NoPen);
                         p.setBrush(QColor(0, 159, 255, 90));
                         p.drawEllipse(tap, 9, 9);
                         p.setBrush(kTheme);
                         p.drawEllipse(tap, 4, 4);
                     }
                     y += 28;
                 }
             },
             Qt::white);
    }
}

// ---- the help page's pictures ---------------------------------------------

void HelpPictures(const QString& helpDir) {
    const auto picture = [&](const QString& name) { return helpDir + "/" + name + ".png"; };
    const QColor white(Qt::white);

    // Wi-Fi: phone and computer on one network (320 x 130).
    Save(picture("wifi"), 320, 130, 1, [](QPainter& p, const QSizeF& s) {
        Phone(p, QRectF(40, 20, 44, 80));
        const QRectF screen = Monitor(p, QRectF(200, 22, 100, 80));
        Person(p, screen);
        WifiWaves(p, QPointF(s.width() / 2 - 8, 64), 30);
        Caption(p, s, QString::fromUtf8("手机和电脑连接同一个Wi-Fi"));
    }, white);

    // The phone app lists the computer it found (120 x 200).
    Save(picture("phone1"), 120, 200, 1, [](QPainter& p, const QSizeF&) {
        const QRectF d = Phone(p, QRectF(14, 4, 92, 192));
        p.setPen(Qt::NoPen);
        p.setBrush(kSoft);
        p.drawRect(d);
        Text(p, QRectF(d.left(), d.top() + 4, d.width(), 16), QString::fromUtf8("发现设备"), 11, kText, true);
        for (int i = 0; i < 2; ++i) {
            const QRectF row(d.left() + 4, d.top() + 28 + i * 30, d.width() - 8, 24);
            p.setPen(Qt::NoPen);
            p.setBrush(i == 0 ? kThemeLight : QColor(Qt::white));
            p.drawRoundedRect(row, 4, 4);
            Text(p, row.adjusted(4, 0, -28, 0), i == 0 ? QString("ZuCam[PC]") : QString("ZuCam[NB]"), 7.5, kText,
                 false, Qt::AlignLeft | Qt::AlignVCenter);
            p.setBrush(kTheme);
            p.setPen(Qt::NoPen);
            p.drawRoundedRect(QRectF(row.right() - 27, row.top() + 5, 23, 14), 7, 7);
            Text(p, QRectF(row.right() - 27, row.top() + 5, 23, 14), QString::fromUtf8("连接"), 8, Qt::white);
        }
    }, white);

    // Connected: the phone's camera picture on the computer (260 x 150).
    Save(picture("pc2"), 260, 150, 1, [](QPainter& p, const QSizeF& s) {
        const QRectF screen = Monitor(p, QRectF(70, 10, 170, 118));
        Person(p, screen);
        const QRectF phone = Phone(p, QRectF(14, 40, 44, 80));
        Person(p, phone);
        p.setPen(Stroke(kTheme, 2));
        p.drawLine(QPointF(60, 80), QPointF(72, 80));
        Caption(p, s, QString::fromUtf8("画面实时显示在电脑上"));
    }, white);

    // Android over USB: the cable and the debugging switch (320 x 130).
    Save(picture("android_usb"), 320, 130, 1, [](QPainter& p, const QSizeF& s) {
        const QRectF d = Phone(p, QRectF(40, 12, 48, 88));
        p.setPen(Qt::NoPen);
        p.setBrush(kSoft);
        p.drawRect(d);
        Text(p, QRectF(d.left(), d.top() + 16, d.width(), 14), QString::fromUtf8("USB调试"), 8.5, kText);
        const QRectF track(d.center().x() - 10, d.top() + 36, 20, 12);
        p.setPen(Qt::NoPen);
        p.setBrush(kTheme);
        p.drawRoundedRect(track, 6, 6);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(track.right() - 6, track.center().y()), 4.5, 4.5);
        Monitor(p, QRectF(200, 18, 100, 80));
        Cable(p, QPointF(64, 100), QPointF(196, 92));
        Caption(p, s, QString::fromUtf8("开启USB调试，用USB线连接电脑"));
    }, white);

    // iPhone over USB: the trust prompt (320 x 130).
    Save(picture("ios_usb"), 320, 130, 1, [](QPainter& p, const QSizeF& s) {
        const QRectF d = Phone(p, QRectF(34, 10, 60, 92));
        p.setPen(Stroke(kLine, 1));
        p.setBrush(Qt::white);
        const QRectF prompt(d.left() + 1, d.top() + 14, d.width() - 2, 40);
        p.drawRoundedRect(prompt, 4, 4);
        Text(p, QRectF(prompt.left(), prompt.top() + 2, prompt.width(), 16), QString::fromUtf8("信任此电脑？"), 7, kText);
        p.setPen(Qt::NoPen);
        p.setBrush(kTheme);
        p.drawRoundedRect(QRectF(prompt.left() + 4, prompt.bottom() - 16, prompt.width() - 8, 12), 6, 6);
        Text(p, QRectF(prompt.left() + 4, prompt.bottom() - 16, prompt.width() - 8, 12), QString::fromUtf8("信任"), 7,
             Qt::white);
        Monitor(p, QRectF(200, 18, 100, 80));
        Cable(p, QPointF(64, 102), QPointF(196, 92));
        Caption(p, s, QString::fromUtf8("点“信任”并输入密码"));
    }, white);

    // Another program's camera choice (300 x 150).
    Save(picture("pc3"), 300, 150, 1, [](QPainter& p, const QSizeF&) {
        p.setPen(Stroke(kLine, 1));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(10.5, 8.5, 279, 133), 6, 6);
        p.setPen(Qt::NoPen);
        p.setBrush(kSoft);
        p.drawRoundedRect(QRectF(11, 9, 278, 22), 6, 6);
        Text(p, QRectF(20, 9, 200, 22), QString::fromUtf8("视频设置"), 10, kText, true, Qt::AlignLeft | Qt::AlignVCenter);
        Text(p, QRectF(24, 44, 60, 22), QString::fromUtf8("摄像头"), 10, kText, false, Qt::AlignLeft | Qt::AlignVCenter);
        p.setPen(Stroke(kTheme, 1.2));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(86.5, 44.5, 180, 22), 3, 3);
        Text(p, QRectF(94, 44, 150, 22), QString("Zu Camera Pro"), 10, kText, false, Qt::AlignLeft | Qt::AlignVCenter);
        p.setPen(Stroke(kTheme, 1.6));
        p.drawPolyline(QPolygonF({QPointF(250, 52), QPointF(255, 57), QPointF(260, 52)}));
        Text(p, QRectF(24, 78, 60, 22), QString::fromUtf8("麦克风"), 10, kText, false, Qt::AlignLeft | Qt::AlignVCenter);
        p.setPen(Stroke(kLine, 1.2));
        p.drawRoundedRect(QRectF(86.5, 78.5, 180, 22), 3, 3);
        Text(p, QRectF(94, 78, 170, 22), QString("Zu Virtual Audio Device"), 9, kText, false,
             Qt::AlignLeft | Qt::AlignVCenter);
        p.setPen(Qt::NoPen);
        p.setBrush(kTheme);
        p.drawRoundedRect(QRectF(206, 110, 60, 22), 4, 4);
        Text(p, QRectF(206, 110, 60, 22), QString::fromUtf8("确定"), 10, Qt::white);
    }, white);

    // The picture inside that program (200 x 150).
    Save(picture("cam3"), 200, 150, 1, [](QPainter& p, const QSizeF&) {
        p.setPen(Stroke(kLine, 1));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(0.5, 0.5, 199, 149), 6, 6);
        Person(p, QRectF(10, 10, 180, 104));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor("#E5484D"));
        p.drawEllipse(QPointF(22, 22), 4, 4);
        Text(p, QRectF(10, 118, 180, 24), QString::fromUtf8("正在使用 Zu Camera Pro"), 10, kText);
    }, white);
}

}  // namespace

// Called by make-icons' main.
int MakeDialogImages(const QString& imageDir, const QString& helpDir, const QString& frameDir) {
    DialogImages(imageDir);
    UsbHelpFrames(frameDir);
    HelpPictures(helpDir);
    return g_written;
}
