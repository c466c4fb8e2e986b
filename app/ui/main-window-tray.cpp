// The main window's tray icon, title-bar buttons, borderless dragging, the
// floating ("suspend") mode and its answers to the frameless-window
// questions. GUI thread only.
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QResizeEvent>
#include <QSystemTrayIcon>

#include "core/qss/qss_manager.h"
#include "core/tether/tq_log.h"
#include "stream_manager.h"
#include "ui/dialog/message-box-dialog.h"
#include "ui/floating-geometry.h"
#include "ui/form-dialogs.h"
#include "ui/main-form.h"
#include "ui/main-window.h"
#include "ui/menu-state-form.h"
#include "ui/screenshot-saver.h"
#include "ui_main-window.h"
#include "zucam.h"

namespace {

double DpiScale() {
    const ZuCam* const app = zucamApp();
    return app != nullptr ? app->dpiScale : 1.0;
}

}  // namespace

void MainWindow::setupWindowModes() {
    screenShotSaver_ = std::make_unique<ScreenShotSaver>();
    connect(screenShotSaver_.get(), &ScreenShotSaver::Finished, this, &MainWindow::ShowScreenShotResult);
    if (!trayIcon) InitTray();
    // The recording time counts past 24 hours ("25:00:00").
    if (MenuStateForm* const menu = menuForm()) {
        for (StreamManager* hub : {streamManager.get(), usbManager.get()}) {
            if (hub != nullptr) connect(hub, &StreamManager::RecordDurationChanged, menu, &MenuStateForm::SetRecordDuration);
        }
    }
    ui->pushButton_main_max->setCheckable(true);
}

// ---- Tray

void MainWindow::InitTray() {
    trayIcon = new QSystemTrayIcon(this);
    connect(trayIcon, SIGNAL(activated(QSystemTrayIcon::ActivationReason)), this,
            SLOT(slot_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason)));
    showAction = new QAction(tr("显示窗口"), this);
    trayMenu = new QMenu(this);
    quitAction = new QAction(tr("退出"), this);
    trayMenu->addAction(showAction);
    trayMenu->addAction(quitAction);
    connect(showAction, &QAction::triggered, this, [this] {
        LOG_D("QAction::triggered");
        ShowFromTray();
    });
    // The same confirmation as the close button.
    connect(quitAction, &QAction::triggered, this, &MainWindow::on_pushButton_main_close_clicked);
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setIcon(QIcon(":/image/logo_zucam.png"));
    UpdateTrayToolTip(false);
    // Without a system tray (some desktops, the offscreen platform) the icon
    // simply never shows; the window never hides itself into it.
    trayIcon->setVisible(true);
}

QMenu* MainWindow::trayMenuForTest() const { return trayMenu.data(); }

void MainWindow::ShowFromTray() {
    if (isMinimized()) showNormal();
    show();
    activateWindow();
}

void MainWindow::slot_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) ShowFromTray();
}

// ---- Title-bar buttons

void MainWindow::on_pushButton_main_close_clicked() {
    MessageBoxDialog box(this);
    box.SetMessage(QString::fromUtf8("您是否确定要关闭软件？"));
    box.SetButtons(2, tr("确定"), tr("取消"));
    if (box.exec() == 1) QCoreApplication::exit(0);
}

void MainWindow::on_pushButton_main_max_clicked() {
    if (!isMaximized()) {
        savedGeometry = saveGeometry();
        showMaximized();
    } else {
        restoreGeometry(savedGeometry);
        showNormal();
    }
    // The button shows the state, not its own toggle.
    ui->pushButton_main_max->setChecked(isMaximized());
}

void MainWindow::on_pushButton_main_min_clicked() { showMinimized(); }

void MainWindow::on_pushButton_main_hide_clicked() {
    if (isMaximized()) on_pushButton_main_max_clicked();
    SetSuspendMode(true, false);
}

void MainWindow::on_pushButton_suspend_hide_clicked() { SetSuspendMode(false, false); }

void MainWindow::on_pushButton_helpinfo_clicked() { form_dialogs::RunHelpInfoDialog(this); }

// ---- Floating mode

QWidget* MainWindow::GetSuspendWidget() {
    if (suspendWidget_) return suspendWidget_;
    auto* const widget = new QWidget(this);
    widget->setObjectName("suspend_widget");
    widget->setFocusPolicy(Qt::NoFocus);
    auto* const layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    const auto addButton = [widget, layout](const char* name) {
        auto* const button = new QPushButton(widget);
        button->setObjectName(name);
        button->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(button);
        return button;
    };
    connect(addButton("suspend_hide"), &QPushButton::clicked, this, &MainWindow::on_pushButton_suspend_hide_clicked);
    connect(addButton("suspend_min"), &QPushButton::clicked, this, &MainWindow::on_pushButton_main_min_clicked);
    connect(addButton("suspend_close"), &QPushButton::clicked, this, &MainWindow::on_pushButton_main_close_clicked);
    // The style sheet fixes its size; before that (or without it) the layout
    // gives it its hint.
    widget->adjustSize();
    widget->hide();
    suspendWidget_ = widget;
    return widget;
}

void MainWindow::SetSuspendMode(bool on, bool keepSaved) {
    const double s = DpiScale();
    QWidget* const floating = GetSuspendWidget();
    suspend = on;
    ui->widget_title->setVisible(!on);
    ui->widget_menu->setVisible(!on);
    QLayout* const central = ui->centralWidget->layout();
    if (on) {
        const bool haveSaved =
            !savedMinimumSize_.isEmpty() && !savedGeometryRect_.isEmpty() && !savedPreviewSize_.isEmpty();
        if (!keepSaved || !haveSaved) {
            savedMinimumSize_ = minimumSize();
            savedGeometryRect_ = geometry();
            savedPreviewSize_ = ui->widget_main->size();
        }
        const QSize size = window_geometry::FloatingWindowSize(savedPreviewSize_, videoAspect);
        setMinimumSize(window_geometry::FloatingMinimumSize(s, videoAspect));
        setGeometry(x(), y(), size.width(), size.height());
        floating->move(width() - floating->width(), 0);
        floating->show();
        floating->raise();
        mainForm()->SetPreviewStretch(true);
        if (central != nullptr) central->setContentsMargins(0, 0, 0, 0);
    } else {
        floating->hide();
        // Leaving a floating mode that was never entered keeps the window.
        if (!savedGeometryRect_.isEmpty()) {
            setMinimumSize(savedMinimumSize_);
            setGeometry(savedGeometryRect_);
        }
        if (central != nullptr) central->setContentsMargins(1, 1, 1, 1);
        mainForm()->SetPreviewStretch(false);
    }
}

void MainWindow::onSizing(int edges, int* top, int* bottom, int* left, int* right) {
    if (!suspend) return;
    if (videoAspect < 1.0f) {
        LOG_D("resizeto: %d %d %d %d %d", edges, *top, *bottom, *left, *right);
    }
    window_geometry::KeepAspectWhileSizing(edges, videoAspect, top, bottom, left, right);
}

// ---- Events

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) ui->pushButton_main_max->setChecked(isMaximized());
    QMainWindow::changeEvent(event);
}

void MainWindow::enterEvent(QEvent* event) {
    if (suspend) GetSuspendWidget()->show();
    QMainWindow::enterEvent(event);
}

void MainWindow::leaveEvent(QEvent* event) {
    if (suspend) GetSuspendWidget()->hide();
    QMainWindow::leaveEvent(event);
}

int MainWindow::titleHeight() const { return ui->widget_title->height(); }

void MainWindow::mousePressEvent(QMouseEvent* event) {
    if (suspend || event->pos().y() <= titleHeight()) {
        dragging = true;
        dragMoving_ = false;
        dragOffset = event->globalPos() - pos();
    }
    QMainWindow::mousePressEvent(event);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    if (isMaximized()) return;
    QPoint target;
    if (dragging && event->buttons() != Qt::NoButton &&
        window_geometry::DragStep(event->globalPos(), dragOffset, pos(), QApplication::startDragDistance(), dragMoving_,
                                  &target)) {
        dragMoving_ = true;
        move(target);
        dragOffset = event->globalPos() - pos();
    }
    QMainWindow::mouseMoveEvent(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent*) {
    dragging = false;
    dragMoving_ = false;
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    LOG_D("[pos]: %d %d title %d", event->pos().x(), event->pos().y(), titleHeight());
    if (event->pos().y() <= titleHeight() && !suspend) on_pushButton_main_max_clicked();
}

void MainWindow::moveEvent(QMoveEvent* event) {
    if (MenuStateForm* const menu = menuForm()) menu->ShowGuidWidget();
    QMainWindow::moveEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (!suspend) return;
    if (suspendWidget_) suspendWidget_->move(width() - suspendWidget_->width(), 0);
    // Sizing by the window system (Linux has no sizing message to answer
    // in onSizing): bring the window back to the picture's ratio.
    const QSize fitted = window_geometry::KeepAspectAfterResize(event->oldSize(), event->size(), videoAspect);
    if (fitted != event->size()) resize(fitted);
}

// ---- Frameless-window answers

namespace {

window_geometry::BorderHits BordersOf(const QWidget& window, int x, int y) {
    const bool maximised = window.isMaximized() || window.isFullScreen();
    return window_geometry::BordersAt(window.mapFromGlobal(QPoint(x, y)), window.size(), dpiScaleFactor(), maximised);
}

}  // namespace

bool MainWindow::isTopEdge(int x, int y) { return BordersOf(*this, x, y).top; }
bool MainWindow::isBottomEdge(int x, int y) { return BordersOf(*this, x, y).bottom; }
bool MainWindow::isLeftEdge(int x, int y) { return BordersOf(*this, x, y).left; }
bool MainWindow::isRightEdge(int x, int y) { return BordersOf(*this, x, y).right; }
