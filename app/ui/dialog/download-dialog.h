// The installer download: progress, cancel, minimise, and on completion the
// hand-over to the updater (the program then quits with 0).
//
// The dialog owns its download for as long as it lives: closing or deleting
// it cancels the download and waits for it (bounded, about 100 ms), so the
// thread never calls a freed dialog, and a completion that arrives after a
// cancel starts nothing.
#pragma once

#include <QDialog>
#include <QPointer>

#include "dowload_thread.h"

namespace Ui {
class DownloadDialog;
}

class DownloadDialog : public QDialog {
    Q_OBJECT

public:
    // savePath empty: "installer.exe" one folder above the log folder.
    DownloadDialog(const QString& downloadUrl, QWidget* parent, const QString& savePath = QString());
    ~DownloadDialog() override;

    static const char* const kDownloadErrorText;
    static const char* const kInstallErrorText;

public slots:
    void OnDownloadProgress(int percent);
    void OnDownloadCompleted(QString installerPath);
    void OnDownloadError();
    void OnInstallError();

private slots:
    void on_pushButton_download_cancel_clicked();
    void on_pushButton_download_minimize_clicked();
    void on_pushButton_open_site_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void stopDownload();
    void showError(const char* text);

    Ui::DownloadDialog* ui;
    QPointer<DowloadThread> thread_;
    bool cancelled_ = false;
};
