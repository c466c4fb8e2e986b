#include "download-dialog.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QUrl>

#include "core/tether/tq_log.h"
#include "ui/dialog/desktop_open.h"
#include "ui/dialog/dialog_frame.h"
#include "ui_download-dialog.h"
#include "updater_hand_off.h"

const char* const DownloadDialog::kDownloadErrorText = "安装包下载出错，可前往Zu虚拟摄像头官网手动下载最新版本";
const char* const DownloadDialog::kInstallErrorText = "启动安装程序出错，可前往Zu虚拟摄像头官网手动下载最新版本";

namespace {
const char kProductPage[] = "https://www.zucam.example/download";
}

DownloadDialog::DownloadDialog(const QString& downloadUrl, QWidget* parent, const QString& savePath)
    : QDialog(parent), ui(new Ui::DownloadDialog) {
    ui->setupUi(this);
    const double s = applicationDpiScale();
    const QSize size(static_cast<int>(420 * s), static_cast<int>(140 * s));
    ApplyDialogFrame(this, ":/qss/dialog/download-dialog.css", nullptr, 0,
                     {ui->pushButton_open_site, ui->pushButton_download_cancel, ui->pushButton_download_minimize},
                     size.height());
    setFixedSize(size);
    setAttribute(Qt::WA_DeleteOnClose);
    ui->pushButton_open_site->hide();
    const QString target =
        savePath.isEmpty() ? InstallerSavePath(QString::fromStdString(g_cd->logger->directory())) : savePath;
    thread_ = new DowloadThread(this, downloadUrl, target);
    thread_->start();
}

DownloadDialog::~DownloadDialog() {
    stopDownload();
    delete ui;
}

void DownloadDialog::stopDownload() {
    cancelled_ = true;
    if (thread_) {
        thread_->Cancel();
        thread_->wait();
    }
}

void DownloadDialog::OnDownloadProgress(int percent) { ui->progressBar->setValue(percent); }

void DownloadDialog::OnDownloadCompleted(QString installerPath) {
    if (cancelled_) return;  // the user cancelled after the last byte came
    ui->progressBar->setValue(100);
    const UpdaterHandOffResult result =
        HandOffToUpdater(QCoreApplication::applicationDirPath(), installerPath, QCoreApplication::applicationPid(),
                         QCoreApplication::applicationFilePath());
    if (!result.started) {
        LOG_E("copy updaer error: %s", result.error.toUtf8().constData());
        OnInstallError();
        return;
    }
    close();
    QCoreApplication::exit(0);
}

void DownloadDialog::showError(const char* text) {
    if (isMinimized()) showNormal();
    ui->pushButton_download_minimize->hide();
    ui->label_downloading->setText(QString::fromUtf8(text));
    ui->label_downloading->setStyleSheet("color:red;");
    ui->pushButton_open_site->show();
}

void DownloadDialog::OnDownloadError() { showError(kDownloadErrorText); }
void DownloadDialog::OnInstallError() { showError(kInstallErrorText); }

void DownloadDialog::on_pushButton_download_cancel_clicked() {
    stopDownload();
    close();
}

void DownloadDialog::on_pushButton_download_minimize_clicked() { showMinimized(); }

void DownloadDialog::on_pushButton_open_site_clicked() {
    OpenWithDesktop(this, QUrl(kProductPage));
    close();
}

void DownloadDialog::keyPressEvent(QKeyEvent* event) {
    // Escape and every other key leave the download running.
    event->ignore();
}
