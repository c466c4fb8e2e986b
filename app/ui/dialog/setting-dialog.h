// The "更多设置" dialog. Made once by the tool bar, run with exec() each time
// and hidden on close; every control acts at once on ZuCam (there is no OK
// button), the camera name when the dialog is closed.
//
// It also owns the camera-mode switch between the DirectShow filter (mode 0)
// and the camera driver (mode 1): the driver and filter tools run on Qt's
// global thread pool, one switch at a time, and the stored "camera_mode" is
// applied once while the dialog is built, so every start re-applies it. A
// switch the user asks for while another runs waits for it; the modal busy
// notice stays until the last one has ended. GUI thread only, but for the
// tool runs.
#pragma once

#include <QDialog>
#include <QFutureWatcher>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class SettingDialog;
}
class CameraModelDialog;

// What a camera-mode switch runs: the driver check and the tool command
// texts (an empty text is skipped), each run waited for up to toolTimeoutMs
// and killed past it. The functions are called on the worker thread and
// must not reach the dialog.
struct CameraModeTools {
    std::function<bool()> checkCameraDriver;
    std::function<QString()> installCameraDriverCommand;
    std::function<QString()> removeCameraDriverCommand;
    std::function<QString(const QString& bits)> registerCameraFilterCommand;    // bits: "32" or "64"
    std::function<QString(const QString& bits)> unregisterCameraFilterCommand;  // bits: "32" or "64"
    int toolTimeoutMs = 30000;
    int settleMs = 500;  // the pause after the last tool, before the switch reports its end
};

class SettingDialog : public QDialog {
    Q_OBJECT

public:
    explicit SettingDialog(QWidget* parent);
    ~SettingDialog() override;

    // Greys out the camera-mode choice (while a phone streams).
    void SetCameraModeDisabled(bool disabled);
    // The tool bar's microphone button: the microphone off when it is on,
    // else on, with the same rules as the two radio buttons.
    void ToggleVirtualMic();

    // A stored "camera_mode" outside 0 and 1 is taken as the nearer of the
    // two.
    static int ClampCameraMode(int mode);
    // The tools of the driver installation; SetCameraModeToolsForTesting
    // replaces them (nullopt restores them). Any thread may read them.
    static CameraModeTools DefaultCameraModeTools();
    static void SetCameraModeToolsForTesting(std::optional<CameraModeTools> tools);
    // Runs one switch on the calling thread: the commands of the mode in
    // their order, then the settle pause. Switches never overlap, whoever
    // runs them. Returns mode, with kCameraDriverMissing added when the
    // driver mode's camera is still not there after its install.
    static constexpr int kCameraDriverMissing = 0x100;
    // Told when the user's switch to the driver mode finds no camera device.
    static const char kCameraDriverMissingNotice[];
    static int SwitchCameraModeWorker(int mode, const CameraModeTools& tools);

    // Tests, GUI thread only: what stands in for the folder chooser (caption,
    // start folder; returns the chosen folder or an empty text), for the
    // version request, and for starting the sound settings detached.
    using FolderChooser = std::function<QString(QWidget* parent, const QString& caption, const QString& start)>;
    static void SetFolderChooserForTesting(FolderChooser chooser);
    static void SetVersionCheckRequestForTesting(std::function<void()> request);
    using DetachedStarter = std::function<bool(const QString& program, const QStringList& arguments)>;
    static void SetDetachedStarterForTesting(DetachedStarter starter);

    // Whether a switch is running or waiting (tests).
    bool cameraModeSwitchBusy() const { return switchRunning_ || pendingMode_.has_value(); }
    CameraModelDialog* busyDialog() const { return busyDialog_.get(); }

signals:
    void sig_process_finished(int mode);

public slots:
    // Esc closes the dialog as its close button does.
    void reject() override;

private slots:
    void on_checkBox_shotOpendir_clicked(bool checked);
    void on_checkBox_wintop_clicked(bool checked);
    void on_radioButton_vmic_open_clicked();
    void on_radioButton_vmic_close_clicked();
    void on_comboBox_render_mode_activated(int index);
    void on_lineEdit_device_name_textChanged(const QString& text);
    void on_lineEdit_camera_name_textChanged(const QString& text);
    void on_pushButton_camera_modify_clicked();
    void on_comboBox_camera_mode_currentIndexChanged(int mode);
    void on_pushButton_select_dir_clicked();
    void on_pushButton_open_dir_clicked();
    void on_pushButton_versioncheck_clicked();
    void on_pushButton_tooltips_clicked();
    void on_pushButton_tooltips_2_clicked();
    void on_pushButton_tooltips_3_clicked();
    void on_pushButton_tooltips_4_clicked();
    void on_label_no_voice_help_linkActivated(const QString& link);
    void on_pushButton_title_close_clicked();
    void slot_process_finished(int result);

private:
    void Init();
    void SetCameraModeUi(bool driverMode);
    // Starts a switch now, or, while one runs, makes mode the next one.
    void RequestCameraModeSwitch(int mode);
    void StartCameraModeSwitch(int mode);
    void ShowOwnToolTip(QWidget* button);

    std::unique_ptr<Ui::SettingDialog> ui_;
    std::unique_ptr<CameraModelDialog> busyDialog_;  // made at the end of Init; no parent
    // The running switch; its end is dropped with the watcher when the
    // dialog goes first.
    QFutureWatcher<int> switchWatcher_;
    bool switchRunning_ = false;
    std::optional<int> pendingMode_;  // asked for while a switch ran
};
