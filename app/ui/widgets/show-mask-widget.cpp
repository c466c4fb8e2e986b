#include "show-mask-widget.h"

#include <QTimerEvent>

#include "core/qss/qss_manager.h"
#include "ui_show-mask-widget.h"
#include "zucam.h"

ShowMaskWidget::ShowMaskWidget(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::ShowMaskWidget>()) {
    ui->setupUi(this);
    (new QssManager(this))->loadQss(":/qss/parts/show_mask_widget.css");
    ui->label_mask_note->setWordWrap(true);
    timerId_ = startTimer(kCheckIntervalMs, Qt::CoarseTimer);
}

ShowMaskWidget::~ShowMaskWidget() {
    if (timerId_ != 0) killTimer(timerId_);
}

bool ShowMaskWidget::noticeShown() const { return !ui->widget_video_stop->isHidden(); }

void ShowMaskWidget::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timerId_ || !isVisible()) return;
    const ZuCam* app = zucamApp();
    const bool pictureOn = app == nullptr || app->videoTransport;
    ui->widget_video_stop->setVisible(!pictureOn);
}
