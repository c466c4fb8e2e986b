#include "preview_window_wrapper.h"

#include <QDebug>
#include <QGridLayout>

#include "preview_window.h"
#include "ui_preview_window_wrapper.h"

PreviewWindowWrapper::PreviewWindowWrapper(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::PreviewWindowWrapper>()) {
    ui_->setupUi(this);
    connect(ui_->widget_main_view, &PreviewWindow::ViewCreated, this, [] { qDebug() << "[CreateView success!]"; });
}

PreviewWindowWrapper::~PreviewWindowWrapper() = default;

PreviewWindow* PreviewWindowWrapper::GetPreviewWindow() const { return ui_->widget_main_view; }

void PreviewWindowWrapper::paintEvent(QPaintEvent* event) {
    delete layout();
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(ui_->widget_main_view, 0, 0, 1, 1);
    QWidget::paintEvent(event);
}
