#include "ui/dialog/ios-usb-server-dialog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include "core/system/system_info.h"
#include "core/tether/tq_log.h"
#include "ui/dialog/dialog_answer.h"
#include "ui/dialog/dialog_frame.h"
#include "ui/dialog/message-box-dialog.h"
#include "ui_ios-usb-server-dialog.h"

namespace {
QString g_installerFolder;  // tests only; GUI thread
}

const char IosUsbServerDialog::kServiceNotice[] =
    "未检测到IOS设备支持服务usbmuxd。为了保证IOS USB连接功能的正常使用，请先安装软件包usbmuxd：\n"
    "sudo apt install usbmuxd";

IosUsbServerDialog::IosUsbServerDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::IosUsbServerDialog>()) {
    ui_->setupUi(this);
    ApplyDialogFrame(this, ":/qss/dialog/ios-usb-server-dialog.qss", ui_->widget_title, 40, {ui_->pushButton_close});
    const double s = applicationDpiScale();
    setFixedSize(static_cast<int>(300 * s), static_cast<int>(220 * s));
    if (!QFileInfo(InstallerPath()).isFile()) {
        // No package beside the program (always so on Linux, where the
        // service is usbmuxd): say what to install instead of offering an
        // installer that is not there.
        serviceNotice_ = true;
        ui_->label_tips_note->setText(QString::fromUtf8(kServiceNotice));
        ui_->pushButton_cancel->hide();
        ui_->pushButton_ok->setText(QString::fromUtf8("知道了"));
    }
}

IosUsbServerDialog::~IosUsbServerDialog() = default;

int IosUsbServerDialog::exec() { return dialog_answer::Exec(*this); }

QString IosUsbServerDialog::InstallerPath() {
    const QString folder = g_installerFolder.isEmpty() ? QCoreApplication::applicationDirPath() : g_installerFolder;
    return folder + (Is64BitWindows() ? "/AppleMobileDeviceSupport64.msi" : "/AppleMobileDeviceSupport.msi");
}

bool IosUsbServerDialog::StartInstaller(const QString& path, QString* reason) {
    const QFileInfo file(path);
    if (!file.isFile()) {
        *reason = QString::fromUtf8("未找到安装包：\n%1").arg(path);
        return false;
    }
    if (file.isExecutable()) {
        if (QProcess::startDetached(path, {}, file.absolutePath())) return true;
        *reason = QString::fromUtf8("安装程序无法启动：\n%1").arg(path);
        return false;
    }
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return true;
    *reason = QString::fromUtf8("系统无法打开安装包：\n%1").arg(path);
    return false;
}

void IosUsbServerDialog::SetInstallerFolderForTesting(const QString& folder) { g_installerFolder = folder; }

void IosUsbServerDialog::on_pushButton_close_clicked() { done(-1); }
void IosUsbServerDialog::on_pushButton_cancel_clicked() { done(0); }

void IosUsbServerDialog::on_pushButton_ok_clicked() {
    if (serviceNotice_) {
        done(0);
        return;
    }
    const QString path = InstallerPath();
    LOG_E("cmd = %s", path.toUtf8().constData());
    QString reason;
    if (!StartInstaller(path, &reason)) {
        // Nothing started: the program stays, and the user learns why.
        LOG_E("installer not started: %s", reason.simplified().toUtf8().constData());
        MessageBoxDialog box(this);
        box.SetMessage(reason);
        box.SetButtons(1, QString::fromUtf8("确定"), QString());
        box.exec();
        return;
    }
    done(1);
    QCoreApplication::exit(0);
}
