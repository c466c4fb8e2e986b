#include "ui/main-window.h"

#include <QLabel>
#include <QVBoxLayout>

#include "core/qss/qss_manager.h"
#include "ui/dialog/dialog_frame.h"

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {
    setObjectName("MainWindow");
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle(QString::fromUtf8("Zu虚拟摄像头"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    title_ = new QWidget(this);
    title_->setObjectName("widget_main_title");
    auto* titleLayout = new QHBoxLayout(title_);
    titleLayout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(windowTitle(), title_);
    label->setObjectName("label_main_title");
    titleLayout->addWidget(label);
    layout->addWidget(title_);
    layout->addStretch(1);
    (new QssManager(this))->loadQss(":/qss/main-window.qss");
    const double s = applicationDpiScale();
    resize(static_cast<int>(900 * s), static_cast<int>(600 * s));
    new FramelessHelper(this, this);
}

MainWindow::~MainWindow() = default;

bool MainWindow::isTopEdge(int, int y) { return y - frameGeometry().top() < kBorder; }
bool MainWindow::isBottomEdge(int, int y) { return frameGeometry().bottom() - y < kBorder; }
bool MainWindow::isLeftEdge(int x, int) { return x - frameGeometry().left() < kBorder; }
bool MainWindow::isRightEdge(int x, int) { return frameGeometry().right() - x < kBorder; }
bool MainWindow::isCaption(int x, int y) { return title_->rect().contains(title_->mapFromGlobal(QPoint(x, y))); }

void MainWindow::UpdateVolumn(int level) { lastVolume_ = level; }
