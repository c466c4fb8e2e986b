#include "ui/dialog/guid-widget.h"

#include <QPainter>
#include <QPolygonF>
#include <QRegion>
#include <QResizeEvent>

#include "ui/dialog/dialog_frame.h"
#include "ui_guid-widget.h"

GuidWidget::GuidWidget(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::GuidWidget>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    const double s = applicationDpiScale();
    setFixedSize(static_cast<int>(280 * s), static_cast<int>(100 * s));
    SetBackgroundColor(165, 197, 243, 255);
    SetArrow(4, 0.5);
    SetText(QString::fromUtf8("不知道怎么用，看这里哦！"), QColor());
    SetMargins(5, 5);
    ui_->label_ftip_text->setStyleSheet(
        "QLabel {font-family:\"Microsoft YaHei\"; font-size: 9pt; color: #FFFFFF;}");
    ui_->pushButton_ftip_close->setStyleSheet(
        "QPushButton {border: none;background-color: transparent;font-family:\"Microsoft YaHei\";font-size: 9pt;"
        "color: #ec372c;}QPushButton:hover {color: #FF0000;}QPushButton:pressed {color: #C00000;}");
}

GuidWidget::~GuidWidget() = default;

void GuidWidget::SetBackgroundColor(int r, int g, int b, int a) { fill_ = QColor(r, g, b, a); }

void GuidWidget::SetText(const QString& text, const QColor& colour) {
    ui_->label_ftip_text->setText(text);
    const QColor c = colour.isValid() ? colour : QColor(0, 0, 0);
    ui_->label_ftip_text->setStyleSheet(QString("color: rgb(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue()));
}

void GuidWidget::SetArrow(int side, double position) {
    side_ = side;
    position_ = position;
    UpdateMask();
}

void GuidWidget::SetMargins(int x, int y) {
    marginX_ = x;
    marginY_ = y;
    setContentsMargins(x + 20, y + 20, x + 20, y + 20);
}

QPainterPath GuidWidget::BodyPath() const {
    // The body leaves a 20-pixel transparent band on every side for the
    // pointer; its corners are 4% round (relative, in both directions).
    QPainterPath body;
    body.addRoundedRect(QRectF(20, 20, width() - 40, height() - 40), 4, 4, Qt::RelativeSize);
    return body;
}

QPolygonF GuidWidget::PointerPolygon() const {
    const qreal w = width();
    const qreal h = height();
    const qreal p = position_;
    QPolygonF pointer;
    switch (side_) {
        case 1: pointer << QPointF(20, h * p - 10) << QPointF(10, h * p) << QPointF(20, h * p + 10); break;
        case 2: pointer << QPointF(w * p - 10, 20) << QPointF(w * p, 10) << QPointF(w * p + 10, 20); break;
        case 3: pointer << QPointF(w - 20, h * p - 10) << QPointF(w - 10, h * p) << QPointF(w - 20, h * p + 10); break;
        case 4: pointer << QPointF(w * p - 10, h - 20) << QPointF(w * p, h - 10) << QPointF(w * p + 10, h - 20); break;
        default: break;
    }
    return pointer;
}

void GuidWidget::UpdateMask() {
    QRegion region;
    for (const QPolygonF& part : BodyPath().toFillPolygons()) region += QRegion(part.toPolygon());
    const QPolygonF pointer = PointerPolygon();
    if (!pointer.isEmpty()) region += QRegion(pointer.toPolygon());
    setMask(region);
}

void GuidWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    UpdateMask();
}

void GuidWidget::paintEvent(QPaintEvent* event) {
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill_);
    painter.drawPath(BodyPath());
    const QPolygonF pointer = PointerPolygon();
    if (!pointer.isEmpty()) painter.drawPolygon(pointer, Qt::OddEvenFill);
}

void GuidWidget::on_pushButton_ftip_close_clicked() { emit sig_firstClose(); }
