// The offer of Apple's mobile-device support, shown when the iOS USB service
// is missing: "取消" or "安装". "安装" starts the support package that lies in
// the program's folder ("AppleMobileDeviceSupport64.msi" on a 64-bit system,
// "AppleMobileDeviceSupport.msi" otherwise) and, once it really started,
// ends the program with exit code 0; when it cannot start, a message says
// why and the offer stays open. Without a package beside the program (so
// always on Linux) it tells which package brings the service (usbmuxd)
// instead, with one button, "知道了", that closes it (result 0).
//
// Results: 1 the installer started, 0 "取消", -1 the title-bar close.
// GUI thread only.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class IosUsbServerDialog;
}

class IosUsbServerDialog : public QDialog {
    Q_OBJECT

public:
    explicit IosUsbServerDialog(QWidget* parent);
    ~IosUsbServerDialog() override;
    int exec() override;

    // The package path: the program's folder (or the test's, below) and the
    // package name for this system.
    static QString InstallerPath();
    // Starts the package: run directly when it is executable, else handed to
    // the desktop's handler for its type. False with the reason (for the
    // user) when it does not start.
    static bool StartInstaller(const QString& path, QString* reason);
    // Tests: the folder to look for the package in; empty: the program's.
    static void SetInstallerFolderForTesting(const QString& folder);
    // What the dialog says when there is no package to start.
    static const char kServiceNotice[];

private:
    bool serviceNotice_ = false;

private slots:
    void on_pushButton_close_clicked();
    void on_pushButton_cancel_clicked();
    void on_pushButton_ok_clicked();

private:
    std::unique_ptr<Ui::IosUsbServerDialog> ui_;
};
