#include "menu-state-form.h"

#include <QAction>
#include <QDialog>
#include <QEvent>
#include <QMenu>
#include <QStyle>
#include <QTimer>
#include <QtGlobal>
#include <algorithm>

#include "core/frameless/screen_fit.h"
#include "core/qss/qss_manager.h"
#include "ui/dialog/message-box-dialog.h"
#include "ui/form-dialogs.h"
#include "ui_menu-state-form.h"
#include "zucam.h"

namespace {

// The last microphone level given to any tool bar (-1: none yet).
int g_volumeLevel = -1;

constexpr int kMinVolumeLevel = -1;
constexpr int kMaxVolumeLevel = 10;

bool VirtualMicOpen() {
    const ZuCam* app = zucamApp();
    return app != nullptr && app->openVmic;
}

double AppDpiScale() {
    const ZuCam* app = zucamApp();
    return app != nullptr ? app->dpiScale : 1.0;
}

}  // namespace

MenuStateForm::MenuStateForm(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::MenuStateForm>()) {
    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint);
    (new QssManager(this))->loadQss(":/qss/parts/menu-state-form.qss");
    InitUi();
}

MenuStateForm::~MenuStateForm() = default;

void MenuStateForm::InitUi() {
    ui->pushButton_menu_camera_set->hide();
    ui->label_menu_time->hide();
    ui->label_menu_time->setText("00:00:00");
    ui->label_menu_state->setTextFormat(Qt::PlainText);
    ui->pushButton_menu_record->setCheckable(true);

    settingDialog = form_dialogs::CreateSettingDialog(window());
    frameAdjustmentDialog = form_dialogs::CreateFrameAdjustmentDialog(window());

    SetCaptureEnabled(false);
    SetTransportEnabled(false);

    ui->pushButton_menu_set->setToolTip(QString::fromUtf8("更多设置"));
    ui->pushButton_menu_help->setToolTip(QString::fromUtf8("使用帮助"));
    ui->pushButton_menu_aboutus->setToolTip(QString::fromUtf8("关于我们"));
    ui->pushButton_menu_cutscm->setToolTip(QString());
    ui->pushButton_menu_record->setToolTip(QString());
    UpdateMicToolTip();

    ui->pushButton_menu_volumn_img->installEventFilter(this);
    // The icon for the level known so far ("voice-null" before any), so the
    // button is never blank until the main window reports a level.
    UpdateVolumeIcon(0, false);
    ui->pushButton_video_transport->setCheckable(true);
    ui->pushButton_video_transport->setChecked(false);
}

void MenuStateForm::UpdateMicToolTip() {
    ui->pushButton_menu_volumn_img->setToolTip(VirtualMicOpen() ? QString::fromUtf8("虚拟麦克风:开")
                                                                : QString::fromUtf8("虚拟麦克风:关"));
}

void MenuStateForm::SetRecordingState(bool recording) {
    QPushButton* const button = ui->pushButton_menu_record;
    button->setProperty("recording", recording);
    // Property selectors are matched at polish time only.
    button->style()->unpolish(button);
    button->style()->polish(button);
    ui->label_menu_time->setVisible(recording);
    if (!recording) ui->label_menu_time->setText("00:00:00");
    update();
}

void MenuStateForm::SetRecordTime(const QString& text) { ui->label_menu_time->setText(text); }

void MenuStateForm::SetRecordDuration(qlonglong milliseconds) { SetRecordTime(FormatRecordTime(milliseconds)); }

QString MenuStateForm::FormatRecordTime(qint64 milliseconds) {
    const qint64 seconds = std::max<qint64>(milliseconds, 0) / 1000;
    return QString("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void MenuStateForm::SetCaptureEnabled(bool enabled) {
    ui->pushButton_menu_record->setChecked(false);
    ui->pushButton_menu_cutscm->setEnabled(enabled);
    ui->pushButton_menu_record->setEnabled(enabled);
    form_dialogs::SetCameraModeDisabled(settingDialog, enabled);
    ui->pushButton_menu_cutscm->setToolTip(enabled ? QString::fromUtf8("截屏") : QString());
    ui->pushButton_menu_record->setToolTip(enabled ? QString::fromUtf8("录屏") : QString());
}

void MenuStateForm::SetConnectState(const QString& name) {
    ui->label_menu_state->setText(name.isEmpty() ? QString::fromUtf8("未连接") : QString::fromUtf8("已连接%1").arg(name));
}

void MenuStateForm::SetTransportEnabled(bool enabled) { ui->pushButton_video_transport->setEnabled(enabled); }

int MenuStateForm::volumeLevel() { return g_volumeLevel; }

void MenuStateForm::UpdateVolumeIcon(int level, bool set) {
    if (set) g_volumeLevel = std::clamp(level, kMinVolumeLevel, kMaxVolumeLevel);
    const QString levelName = g_volumeLevel < 0 ? QString("null") : QString::number(g_volumeLevel);
    const QString sheet =
        QString("QPushButton#pushButton_menu_volumn_img {border-image: url(:/image/voice/voice-%1%2.png);}")
            .arg(levelName, volumeHover ? QString("_hover") : QString());
    // The level arrives about 25 times a second; restyling the button each
    // time would re-polish it for nothing.
    if (sheet == volumeSheet) return;
    volumeSheet = sheet;
    ui->pushButton_menu_volumn_img->setStyleSheet(sheet);
}

bool MenuStateForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->pushButton_menu_volumn_img &&
        (event->type() == QEvent::Enter || event->type() == QEvent::Leave)) {
        volumeHover = event->type() == QEvent::Enter;
        UpdateVolumeIcon(0, false);
    }
    return QWidget::eventFilter(watched, event);
}

void MenuStateForm::on_pushButton_menu_set_clicked() {
    const double scale = dpiScaleFactor();
    if (moreMenu == nullptr) {
        moreMenu = new QMenu(window());
        moreMenu->setObjectName("menu_more");
        QAction* settings = moreMenu->addAction(QString::fromUtf8("   设置"));
        QAction* adjustment = moreMenu->addAction(QString::fromUtf8("画面调节"));
        QAction* netCheck = moreMenu->addAction(QString::fromUtf8("网络诊断"));
        connect(settings, &QAction::triggered, this, [this] {
            if (settingDialog != nullptr) settingDialog->exec();
        });
        connect(adjustment, &QAction::triggered, this, [this] {
            if (frameAdjustmentDialog != nullptr) frameAdjustmentDialog->exec();
        });
        connect(netCheck, &QAction::triggered, this, [this] {
            if (netCheckDialog == nullptr) netCheckDialog = form_dialogs::CreateNetCheckDialog(window());
            netCheckDialog->exec();
        });
        moreMenu->setStyleSheet(styleSheet());
        moreMenu->setFixedHeight(static_cast<int>(scale * 30.0 * moreMenu->actions().size()));
    }
    // Placed anew at every click: the window may have moved. The form's own
    // top-left corner on the screen, whichever widget it sits in.
    const QPoint p = mapToGlobal(QPoint(0, 0));
    moreMenu->move(p.x() - static_cast<int>(-5.0 * scale), p.y() - moreMenu->height());
    moreMenu->show();
}

void MenuStateForm::on_pushButton_menu_help_clicked() {
    slot_closeHelpFresh();
    form_dialogs::RunHelpDialog(window());
}

void MenuStateForm::on_pushButton_menu_aboutus_clicked() { form_dialogs::RunAboutUsDialog(window()); }

void MenuStateForm::on_pushButton_menu_cutscm_clicked() { emit ScreenShot(); }

void MenuStateForm::on_pushButton_menu_record_clicked() {
    // The property, not the button's checked state, tells what a click does.
    if (ui->pushButton_menu_record->property("recording").toBool()) {
        emit StopRecord();
    } else {
        emit StartRecord();
    }
}

void MenuStateForm::on_pushButton_video_transport_clicked(bool checked) {
    // Checked means the picture is off. With the microphone off as well the
    // phone would send nothing at all, so that is refused.
    if (checked && !VirtualMicOpen()) {
        MessageBoxDialog box(parentWidget());
        box.SetMessage(QString::fromUtf8("请先开启声音后，再关闭摄像头画面"));
        box.SetButtons(1, QString::fromUtf8("确定"), QString());
        box.exec();
        ui->pushButton_video_transport->setChecked(false);
        return;
    }
    if (ZuCam* app = zucamApp()) app->setVideoTransport(!checked);
}

void MenuStateForm::on_pushButton_menu_volumn_img_clicked() {
    ui->pushButton_menu_volumn_img->setEnabled(false);
    if (settingDialog != nullptr) form_dialogs::ToggleVirtualMic(settingDialog);
    QTimer::singleShot(kMicLockoutMs, this, [this] {
        ui->pushButton_menu_volumn_img->setEnabled(true);
        UpdateMicToolTip();
    });
}

void MenuStateForm::slot_updateTransportBtnState() {
    const ZuCam* app = zucamApp();
    ui->pushButton_video_transport->setChecked(app != nullptr && !app->videoTransport);
}

void MenuStateForm::slot_closeHelpFresh() {
    if (ZuCam* app = zucamApp()) app->firstOpen = false;
    // Cleared before the close: closing the bubble reports back here.
    QWidget* const bubble = guideWidget.data();
    guideWidget = nullptr;
    if (bubble != nullptr) {
        bubble->close();
        bubble->deleteLater();
    }
}

void MenuStateForm::ShowScreenShotTip() {
    QWidget* const anchor = ui->pushButton_menu_cutscm;
    QPointer<QWidget> tip =
        form_dialogs::CreateScreenShotTip(anchor, QString::fromUtf8("截屏成功，可在\n设置中打开目录查看"));
    const double scale = AppDpiScale();
    const QPoint p = anchor->mapToGlobal(QPoint(0, 0));
    const QRect wanted(QPoint(p.x() - qRound(scale * 50.0), p.y() - qRound(scale * 60.0)), tip->size());
    // On the screen, and never over the first-use guide while it is up (its
    // link must stay clickable).
    const QRect guide = guideWidget != nullptr && guideWidget->isVisible() ? guideWidget->geometry() : QRect();
    tip->move(screen_fit::FitClearOf(wanted, guide, screen_fit::AvailableAreaAt(p)).topLeft());
    tip->show();
    QTimer::singleShot(kScreenShotTipMs, this, [tip] {
        if (tip) {
            tip->hide();
            tip->deleteLater();
        }
    });
}

void MenuStateForm::ShowGuidWidget() {
    const ZuCam* app = zucamApp();
    if (app == nullptr || !app->firstOpen) return;
    if (guideWidget == nullptr) {
        QPointer<MenuStateForm> self(this);
        guideWidget = form_dialogs::CreateGuideBubble(window(), [self] {
            if (self) self->slot_closeHelpFresh();
        });
    }
    const QPoint p = ui->pushButton_menu_help->mapToGlobal(QPoint(0, 0));
    const QRect wanted(QPoint(p.x() + static_cast<int>(-120.0 * dpiScaleFactor()), p.y() - guideWidget->height()),
                       guideWidget->size());
    form_dialogs::PlaceGuideBubble(guideWidget, wanted);
    guideWidget->show();
}
