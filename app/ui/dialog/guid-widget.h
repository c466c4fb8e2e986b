// The first-use guide: a frameless, translucent speech bubble with a pointer
// on one side, saying where help is, and a link-style button that dismisses
// it for good (sig_firstClose; the owner closes and deletes the bubble).
// GUI thread only.
#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPolygonF>
#include <QWidget>
#include <memory>

namespace Ui {
class GuidWidget;
}

class GuidWidget : public QWidget {
    Q_OBJECT

public:
    explicit GuidWidget(QWidget* parent);
    ~GuidWidget() override;

    void SetBackgroundColor(int r, int g, int b, int a);
    // The text and its colour (an invalid colour paints black).
    void SetText(const QString& text, const QColor& colour);
    // side: 1 left, 2 top, 3 right, 4 bottom (any other draws no pointer);
    // position: where along that side the tip stands, as a fraction of the
    // height (left, right) or width (top, bottom). No repaint is requested.
    void SetArrow(int side, double position);
    // Content margins x + 20, y + 20: the body is drawn 20 pixels inside.
    void SetMargins(int x, int y);

    QColor backgroundColor() const { return fill_; }
    int arrowSide() const { return side_; }
    double arrowPosition() const { return position_; }

signals:
    void sig_firstClose();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void on_pushButton_ftip_close_clicked();

private:
    // The body and the pointer (none for an unknown side) at the current size.
    QPainterPath BodyPath() const;
    QPolygonF PointerPolygon() const;
    // The window is also masked to the bubble, so a window system without a
    // compositor shows no dark band where the background is translucent.
    void UpdateMask();

    std::unique_ptr<Ui::GuidWidget> ui_;
    QColor fill_{255, 0, 255, 255};
    int side_ = 4;
    double position_ = 0.75;
    int marginX_ = 5;
    int marginY_ = 5;
};
