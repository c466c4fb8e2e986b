#include "ui/dialog/net-check-dialog.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTimer>
#include <QTimerEvent>
#include <QUrl>

#include "net_check_page.h"
#include "ui/dialog/dialog_answer.h"
#include "ui/dialog/dialog_frame.h"
#include "ui_net-check-dialog.h"
#include "zucam.h"
#include "ui/dialog/desktop_open.h"

namespace {
QString LocalIp() {
    const ZuCam* app = zucamApp();
    return app != nullptr ? app->localIp : QString();
}
}  // namespace

NetCheckDialog::NetCheckDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::NetCheckDialog>()) {
    ui_->setupUi(this);
    setWindowTitle(QString::fromUtf8("网络诊断"));
    ApplyDialogFrame(this, ":/qss/dialog/net-check-dialog.css", ui_->widget_titie, 40, {ui_->pushButton_close});
    const double s = applicationDpiScale();
    setFixedSize(static_cast<int>(448 * s), static_cast<int>(266 * s));
    Init();
}

NetCheckDialog::~NetCheckDialog() {
    StopPollTimer();
    HttpServer::StopInBackground(std::move(server_));
}

int NetCheckDialog::exec() { return dialog_answer::Exec(*this); }

void NetCheckDialog::Init() {
    SetTestUrlVisible(false);
    ui_->pushButton_left_spacer->setEnabled(false);
    ui_->pushButton_open_check->setCheckable(true);
    connect(ui_->label_url, SIGNAL(linkActivated(QString)), this, SLOT(slot_openUrl(QString)));
}

void NetCheckDialog::SetTestUrlVisible(bool visible) {
    ui_->label_url->setVisible(visible);
    ui_->pushButton_copy_url->setVisible(visible);
    ui_->label_note->setVisible(visible);
}

void NetCheckDialog::ShowTestUrl() {
    if (!server_) return;
    shownIp_ = LocalIp();
    if (shownIp_.isEmpty()) {
        // "http://:9801" leads nowhere: say why there is no address yet.
        ui_->label_url->setTextFormat(Qt::PlainText);
        ui_->label_url->setText(QString::fromUtf8("测试地址：未获取到本机局域网地址，请检查网络连接"));
        ui_->pushButton_copy_url->hide();
        return;
    }
    testUrl_ = QString("http://%1:%2").arg(shownIp_).arg(server_->Port());
    ui_->label_url->setTextFormat(Qt::RichText);
    ui_->label_url->setText(QString::fromUtf8("测试地址：<a href=\"%1\" style=\"color:#279FFD;\">%1</a>")
                                .arg(testUrl_.toHtmlEscaped()));
    ui_->pushButton_copy_url->show();
}

void NetCheckDialog::StopPollTimer() {
    if (pollTimerId_ != 0) killTimer(pollTimerId_);
    pollTimerId_ = 0;
}

void NetCheckDialog::on_pushButton_open_check_clicked(bool checked) {
    ui_->pushButton_open_check->setEnabled(false);
    // The old server is let go first, whatever comes next; its stop finishes
    // on a pool thread, so a client that holds it never freezes the window.
    HttpServer::StopInBackground(std::move(server_));
    StopPollTimer();
    if (checked) {
        server_ = StartHttpServerOnFirstFreePort(this, kNetCheckFirstPort, kNetCheckLastPort);
        if (server_) {
            ShowTestUrl();
            pollTimerId_ = startTimer(kAddressPollMs, Qt::CoarseTimer);
        } else {
            ui_->label_url->setTextFormat(Qt::PlainText);
            ui_->label_url->setText(QString::fromUtf8("服务开启失败，请重试"));
            ui_->pushButton_copy_url->hide();
        }
        ui_->pushButton_open_check->setText(QString::fromUtf8("关闭测试服务监听"));
    } else {
        ui_->pushButton_open_check->setText(QString::fromUtf8("开启测试服务监听"));
        ui_->pushButton_copy_url->hide();
    }
    ui_->label_url->setVisible(checked);
    ui_->label_note->setVisible(checked);
    ui_->pushButton_open_check->setEnabled(true);
}

void NetCheckDialog::on_pushButton_copy_url_clicked() {
    ui_->pushButton_copy_url->setText(QString::fromUtf8("复制成功"));
    ui_->pushButton_copy_url->setEnabled(false);
    QGuiApplication::clipboard()->setText(testUrl_, QClipboard::Clipboard);
    QTimer::singleShot(kCopiedMs, Qt::PreciseTimer, this, [this] {
        ui_->pushButton_copy_url->setText(QString::fromUtf8("复制地址"));
        ui_->pushButton_copy_url->setEnabled(true);
    });
}

void NetCheckDialog::on_pushButton_close_clicked() { accept(); }

void NetCheckDialog::slot_openUrl(const QString& url) { OpenWithDesktop(this, QUrl(url)); }

void NetCheckDialog::timerEvent(QTimerEvent* event) {
    if (event->timerId() != pollTimerId_ || pollTimerId_ == 0) return;
    if (server_ && LocalIp() != shownIp_) ShowTestUrl();
}

std::string NetCheckDialog::OnRequest(int event, void* eventData) {
    Q_UNUSED(event);
    Q_UNUSED(eventData);
    return NetCheckPage();
}
