// Style sheets of the forms, written for 96 DPI, scaled to the screen.
#pragma once

#include <QObject>
#include <QString>

class QWidget;

// The primary screen's logical DPI divided by 96 (1.0 without a screen).
double dpiScaleFactor();

// A child object of the widget it styles: new QssManager(this), then loadQss.
class QssManager : public QObject {
public:
    explicit QssManager(QWidget* parent);
    ~QssManager() override = default;

    // Reads the sheet (a resource such as ":/qss/main-window.qss") and applies
    // it; a file that cannot be read leaves the widget's sheet as it was.
    void loadQss(const QString& path);
    // Scales text by dpiScaleFactor() and sets it on the parent widget.
    void applyStyleSheet(const QString& text);
    QString scaleStyleSheet(const QString& text) const;

    // Every size written as "<number>px;" times factor, rounded to whole
    // pixels (Qt ignores fractional pixel sizes). factor <= 1 changes nothing.
    // A number is taken whole: "1.5px;" is one size, never "5px;".
    static QString scaleStyleSheet(const QString& text, double factor);
};
