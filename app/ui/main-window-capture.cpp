// The main window's capture functions: screenshots of the composed picture
// and the recording buttons with the hubs' feedback. GUI thread only; the
// saving itself runs on the thread pool (ScreenShotSaver).
#include <QCoreApplication>
#include <QString>

#include "core/tether/tq.h"
#include "core/tether/tq_log.h"
#include "stream_manager.h"
#include "ui/dialog/message-box-dialog.h"
#include "ui/main-window.h"
#include "ui/menu-state-form.h"
#include "ui/screenshot-saver.h"
#include "video_sink/stream_video_sink_cache.h"
#include "zucam.h"

namespace {

void ShowMessage(QWidget* parent, const QString& text) {
    MessageBoxDialog box(parent);
    box.SetMessage(text);
    box.SetButtons(1, QCoreApplication::translate("MainWindow", "确定"), QString());
    box.exec();
}

void OpenFileLocation(const QString& path) {
    tq::Interface* const cd = g_cd;
    if (cd != nullptr && cd->system != nullptr) cd->system->openFileLocation(path.toUtf8().constData());
}

}  // namespace

void MainWindow::ScreenShot() {
    if (!screenShotSaver_) return;
    // The folder is read here, on the GUI thread that changes it.
    const ZuCam* const app = zucamApp();
    screenShotSaver_->Start(screenshotCache.get(), app != nullptr ? app->saveDir : QString());
}

void MainWindow::WaitForScreenShots() {
    if (screenShotSaver_) screenShotSaver_->WaitForPending();
}

void MainWindow::ShowScreenShotResult(QString path, QString error) {
    if (!error.isEmpty()) {
        ShowMessage(this, error);
    } else if (!path.isEmpty()) {
        const ZuCam* const app = zucamApp();
        if (app != nullptr && app->shotOpenDir) {
            OpenFileLocation(path);
        } else if (MenuStateForm* const menu = menuForm()) {
            menu->ShowScreenShotTip();
        }
    } else {
        ShowMessage(this, tr("截图失败"));
    }
}

void MainWindow::StartRecord() {
    if (streamManager) streamManager->StartRecord();
    if (usbManager) usbManager->StartRecord();
}

void MainWindow::StopRecord() {
    if (streamManager) streamManager->StopRecord();
    if (usbManager) usbManager->StopRecord();
}

void MainWindow::OnRecordStartSuccess() {
    if (MenuStateForm* const menu = menuForm()) menu->SetRecordingState(true);
}

void MainWindow::OnRecordStartFailed(QString text) {
    if (MenuStateForm* const menu = menuForm()) menu->SetRecordingState(false);
    ShowMessage(this, text);
}

void MainWindow::OnRecordInterrupt() {
    // The tool bar returns to idle with the RecordStoped that follows.
    auto* const hub = qobject_cast<StreamManager*>(sender());
    if (hub != nullptr && (hub == streamManager.get() || hub == usbManager.get())) hub->StopRecord();
    ShowMessage(this, tr("录制过程出现错误，录制已停止"));
}

void MainWindow::OnRecordStoped(QString path) {
    if (MenuStateForm* const menu = menuForm()) menu->SetRecordingState(false);
    OpenFileLocation(path);
}
