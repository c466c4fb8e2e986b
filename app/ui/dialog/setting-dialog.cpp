#include "ui/dialog/setting-dialog.h"

#include <QCursor>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QHelpEvent>
#include <QMutex>
#include <QProcess>
#include <QRegExpValidator>
#include <QStyledItemDelegate>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QtConcurrent>
#include <algorithm>
#include <mutex>

#include "core/system/probe_write.h"
#include "core/system/system_info.h"
#include "core/tether/tq.h"
#include "core/tether/tq_config.h"
#include "devices/driver_install/driver_install.h"
#include "devices/driver_install/driver_tool.h"
#include "core/tether/tq_log.h"
#include "ui/dialog/camera-model-dialog.h"
#include "ui/dialog/desktop_open.h"
#include "ui/dialog/dialog_frame.h"
#include "ui/dialog/message-box-dialog.h"
#include "ui/dialog/modify-info-dialog.h"
#include "ui/dialog/name_rules.h"
#include "ui_setting-dialog.h"
#include "zucam.h"

namespace {

constexpr int kToolTipDurationMs = 600000;
constexpr int kVersionCheckDebounceMs = 500;
constexpr char kDriverModeCameraName[] = "Zu Camera Pro";

// Clicks of the version button; the request goes out 500 ms after the last.
quint32 versionCheckGeneration = 0;  // GUI thread only

SettingDialog::FolderChooser g_folderChooser;      // GUI thread only
std::function<void()> g_versionCheckRequest;       // GUI thread only
SettingDialog::DetachedStarter g_detachedStarter;  // GUI thread only

QMutex g_toolsMutex;  // guards g_toolsOverride
std::optional<CameraModeTools> g_toolsOverride;

// Held for the whole of a switch: two switches never run their tools at once
// (the dialog queues its own; this covers any other caller).
std::mutex g_switchMutex;

QString WithTrailingSlash(QString folder) {
    if (!folder.endsWith('/')) folder += '/';
    return folder;
}

void ShowNotice(QWidget* parent, const QString& text) {
    MessageBoxDialog box(parent);
    box.SetMessage(text);
    box.SetButtons(1, QString::fromUtf8("确定"), QString());
    box.exec();
}

// Runs one tool command and waits for it, up to timeoutMs; a run past that
// is killed. Exit code and output are not judged here.
void RunTool(const QString& command, int timeoutMs) {
    if (command.trimmed().isEmpty()) return;  // no such command on this system
    const DriverToolRun run = RunDriverTool(command, timeoutMs);
    if (!run.started) {
        qDebug() << "[camera mode] cannot start:" << command;
    } else if (!run.finished) {
        qDebug() << "[camera mode] still running after" << timeoutMs << "ms, killed:" << command;
    }
}

// Starts a program detached (the sound settings).
bool StartDetached(const QString& program, const QStringList& arguments) {
    if (g_detachedStarter) return g_detachedStarter(program, arguments);
    return QProcess::startDetached(program, arguments);
}

}  // namespace

const char SettingDialog::kCameraDriverMissingNotice[] =
    "切换失败：未找到虚拟摄像头设备“Zu Camera Pro”，请先创建：\n"
    "sudo modprobe v4l2loopback devices=1 card_label=\"Zu Camera Pro\" exclusive_caps=1";

// ---- the camera-mode switch ----------------------------------------------

int SettingDialog::ClampCameraMode(int mode) { return std::clamp(mode, 0, 1); }

CameraModeTools SettingDialog::DefaultCameraModeTools() {
    {
        QMutexLocker lock(&g_toolsMutex);
        if (g_toolsOverride) return *g_toolsOverride;
    }
    CameraModeTools tools;
    tools.checkCameraDriver = [] { return checkCameraDriver(kDriverToolTimeoutMs); };
    tools.installCameraDriverCommand = [] { return installCameraDriverCommand(); };
    tools.removeCameraDriverCommand = [] { return removeCameraDriverCommand(); };
    tools.registerCameraFilterCommand = [](const QString& bits) { return registerCameraFilterCommand(bits); };
    tools.unregisterCameraFilterCommand = [](const QString& bits) { return unregisterCameraFilterCommand(bits); };
    tools.toolTimeoutMs = kDriverToolTimeoutMs;
    return tools;
}

void SettingDialog::SetCameraModeToolsForTesting(std::optional<CameraModeTools> tools) {
    QMutexLocker lock(&g_toolsMutex);
    g_toolsOverride = std::move(tools);
}

int SettingDialog::SwitchCameraModeWorker(int mode, const CameraModeTools& tools) {
    std::lock_guard<std::mutex> one(g_switchMutex);
    const int timeout = tools.toolTimeoutMs;
    auto run = [timeout](const std::function<QString()>& command) {
        if (command) RunTool(command(), timeout);
    };
    auto runFilter = [timeout](const std::function<QString(const QString&)>& command, const char* bits) {
        if (command) RunTool(command(QString::fromLatin1(bits)), timeout);
    };
    bool driverMissing = false;
    if (mode != 0) {
        const bool driverUsable = tools.checkCameraDriver ? tools.checkCameraDriver() : false;
        if (!driverUsable) {
            run(tools.installCameraDriverCommand);
            // The install may not bring the device (on Linux only the
            // administrator can make it): asked again, so a switch without
            // its camera is told as a failure.
            driverMissing = !(tools.checkCameraDriver && tools.checkCameraDriver());
        }
        runFilter(tools.unregisterCameraFilterCommand, "32");
        runFilter(tools.unregisterCameraFilterCommand, "64");
    } else {
        runFilter(tools.registerCameraFilterCommand, "32");
        runFilter(tools.registerCameraFilterCommand, "64");
        run(tools.removeCameraDriverCommand);
    }
    if (tools.settleMs > 0) QThread::msleep(static_cast<unsigned long>(tools.settleMs));
    return driverMissing ? mode | kCameraDriverMissing : mode;
}

void SettingDialog::RequestCameraModeSwitch(int mode) {
    if (switchRunning_) {
        pendingMode_ = mode;  // the newest wish replaces an older waiting one
        return;
    }
    StartCameraModeSwitch(mode);
}

void SettingDialog::StartCameraModeSwitch(int mode) {
    switchRunning_ = true;
    const CameraModeTools tools = DefaultCameraModeTools();
    switchWatcher_.setFuture(QtConcurrent::run([mode, tools] { return SwitchCameraModeWorker(mode, tools); }));
}

void SettingDialog::on_comboBox_camera_mode_currentIndexChanged(int mode) {
    if (mode < 0) return;  // the combo emptied
    RequestCameraModeSwitch(mode);
    if (busyDialog_ && !busyDialog_->isVisible()) {
        busyDialog_->SetText(QString::fromUtf8("正在切换模式...."));
        busyDialog_->move(x() + (width() - busyDialog_->width()) / 2, y() + (height() - busyDialog_->height()) / 2);
        busyDialog_->exec();
    }
}

void SettingDialog::slot_process_finished(int result) {
    const int mode = result & ~kCameraDriverMissing;
    const bool driverMissing = (result & kCameraDriverMissing) != 0;
    qDebug() << "ProJect" << mode;
    switchRunning_ = false;
    if (pendingMode_) {
        const int next = *pendingMode_;
        pendingMode_.reset();
        if (next != mode) {
            StartCameraModeSwitch(next);
            return;  // the busy notice stays until the last switch ends
        }
    }
    SetCameraModeUi(mode != 0);
    if (g_cd != nullptr) tq::SetConfig<int>(g_cd->config, "camera_mode", mode);
    if (driverMissing) LOG_E("camera driver mode: the camera device is missing");
    if (busyDialog_ && busyDialog_->isVisible()) {
        // The user's own switch: its end is told, a missing camera as a failure.
        busyDialog_->SetText(QString::fromUtf8(driverMissing ? "切换失败" : "切换完成"));
        busyDialog_->accept();
        if (driverMissing) ShowNotice(window(), QString::fromUtf8(kCameraDriverMissingNotice));
    } else if (busyDialog_) {
        busyDialog_->SetText(QString::fromUtf8("切换完成"));
        busyDialog_->accept();
    }
}

void SettingDialog::SetCameraModeUi(bool driverMode) {
    ui_->label_camera_name->setEnabled(!driverMode);
    ui_->lineEdit_camera_name->setEnabled(!driverMode);
    if (driverMode) {
        ui_->lineEdit_camera_name->setText(QString::fromUtf8(kDriverModeCameraName));
        return;
    }
    ZuCam* const app = zucamApp();
    if (app == nullptr) return;
    // Applied again: the filter's registry entry follows the name.
    app->setCameraName(app->cameraName);
    ui_->lineEdit_camera_name->setText(app->cameraName);
}

void SettingDialog::SetCameraModeDisabled(bool disabled) { ui_->comboBox_camera_mode->setDisabled(disabled); }

// ---- construction ----------------------------------------------------------

SettingDialog::SettingDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::SettingDialog>()) {
    ui_->setupUi(this);
    const double s = applicationDpiScale();
    setFixedSize(static_cast<int>(400 * s), static_cast<int>(390 * s));
    ApplyDialogFrame(this, ":/qss/dialog/setting-dialog.qss", ui_->widget_set_title, 40, {ui_->pushButton_title_close});
    setWindowTitle(QString::fromUtf8("使用帮助"));
    connect(this, &SettingDialog::sig_process_finished, this, &SettingDialog::slot_process_finished);
    connect(&switchWatcher_, &QFutureWatcher<int>::finished, this,
            [this] { emit sig_process_finished(switchWatcher_.result()); });
    Init();
}

SettingDialog::~SettingDialog() = default;

void SettingDialog::Init() {
    ui_->pushButton_title_space->setEnabled(false);
    ui_->lineEdit_save_dir->setReadOnly(true);

    ui_->lineEdit_camera_name->setValidator(new QRegExpValidator(CameraNamePattern(), ui_->lineEdit_camera_name));
    ui_->lineEdit_camera_name->setPlaceholderText(QString::fromUtf8("置空则设置为默认名称\"Zu Camera\""));

    ZuCam* const app = zucamApp();
    ui_->checkBox_shotOpendir->setChecked(app != nullptr && app->shotOpenDir);
    ui_->checkBox_wintop->setChecked(app != nullptr && app->windowStaysOnTop);
    const bool micOpen = app != nullptr && app->openVmic;
    (micOpen ? ui_->radioButton_vmic_open : ui_->radioButton_vmic_close)->setChecked(true);

    ui_->comboBox_render_mode->addItem(QString::fromUtf8("硬件渲染"));
    ui_->comboBox_render_mode->addItem(QString::fromUtf8("软件渲染"));
    ui_->comboBox_render_mode->setItemDelegate(new QStyledItemDelegate(ui_->comboBox_render_mode));
    ui_->comboBox_render_mode->setCurrentIndex(app != nullptr && app->useHardwareRender ? 0 : 1);
    ui_->widget_space->hide();

    const struct {
        QPushButton* button;
        const char* tip;
    } tips[] = {
        {ui_->pushButton_tooltips, "手机端搜索电脑时显示的名称，修改后重启软件生效"},
        {ui_->pushButton_tooltips_2, "修改后重新连接生效"},
        {ui_->pushButton_tooltips_3,
         "在Dshow模式下，可修改摄像头名称，此名称为\n第三方软件调用摄像头时显示的名称，修改后请关\n闭本设置窗口再重启第三方软件\n*"
         "仅允许输入中文、字母、数字、空格和下划线*"},
        {ui_->pushButton_tooltips_4,
         "驱动模式:\n此模式摄像头名称为Zu Camera Pro。微信，qq调用优先选择\n此模式。不支持多软件同时调用以及更改摄像头名称\n\nDsho"
         "w模式:\n此模式摄像头名称为Zu Camera，多软件同时调用以及更改摄\n像头名称请选此模式。可能不支持微信，qq软件调用"},
    };
    for (const auto& t : tips) {
        t.button->setToolTip(QString::fromUtf8(t.tip));
        t.button->setToolTipDuration(kToolTipDurationMs);
    }

    if (app != nullptr) {
        // Set before the slots could act on it: the text is ZuCam's already.
        const QSignalBlocker quiet(ui_->lineEdit_device_name);
        ui_->lineEdit_device_name->setText(app->deviceName);
        ui_->lineEdit_save_dir->setText(app->saveDir);
    }
    ui_->pushButton_camera_modify->hide();

    // The stored camera mode, applied once at every start.
    if (!IsWindows10OrGreater()) {
        SetCameraModeUi(false);
        RequestCameraModeSwitch(0);
        ui_->widget_mode->hide();
    } else {
        const int stored = g_cd != nullptr ? tq::GetConfig<int>(g_cd->config, "camera_mode", 1, true) : 1;
        const int mode = ClampCameraMode(stored);
        if (mode != stored) qDebug() << "stored camera_mode" << stored << "taken as" << mode;
        SetCameraModeUi(mode != 0);
        if (ui_->comboBox_camera_mode->currentIndex() != mode) {
            ui_->comboBox_camera_mode->setCurrentIndex(mode);  // runs the switch through the slot
        } else {
            RequestCameraModeSwitch(mode);
        }
    }

    busyDialog_ = std::make_unique<CameraModelDialog>(nullptr);
}

// ---- the controls ------------------------------------------------------------

void SettingDialog::on_checkBox_shotOpendir_clicked(bool checked) {
    if (ZuCam* app = zucamApp()) app->shotOpenDir = checked;
}

void SettingDialog::on_checkBox_wintop_clicked(bool checked) {
    if (ZuCam* app = zucamApp()) app->setWindowStaysOnTop(checked);
}

void SettingDialog::on_comboBox_render_mode_activated(int index) {
    // Takes effect at the next connection.
    if (ZuCam* app = zucamApp()) app->setUseHardwareRender(index == 0);
}

void SettingDialog::on_lineEdit_device_name_textChanged(const QString& text) {
    if (ZuCam* app = zucamApp()) app->setDeviceName(text);
}

void SettingDialog::on_lineEdit_camera_name_textChanged(const QString& text) {
    qDebug() << "[new_camera_name]:" << text;
}

void SettingDialog::on_pushButton_camera_modify_clicked() {
    ModifyInfoDialog dialog(this);
    const QString oldName = ui_->lineEdit_camera_name->text();
    dialog.SetOldName(oldName);
    if (dialog.exec() != 1) return;
    const QString newName = dialog.GetNewName();
    if (newName == oldName) return;
    ui_->lineEdit_camera_name->setText(newName);
    if (ZuCam* app = zucamApp()) app->setCameraName(newName);
}

void SettingDialog::on_pushButton_select_dir_clicked() {
    const QString start = WithTrailingSlash(ui_->lineEdit_save_dir->text());
    const QString caption = QString::fromUtf8("选择保存文件目录");
    const QString folder = g_folderChooser
                               ? g_folderChooser(this, caption, start)
                               : QFileDialog::getExistingDirectory(this, caption, start, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return;
    if (!ProbeFolderWritable(QFile::encodeName(folder).toStdString())) {
        ShowNotice(window(), QString::fromUtf8("当前选择路径无写入权限！"));
        return;
    }
    if (ZuCam* app = zucamApp()) app->setSaveDir(folder);
    ui_->lineEdit_save_dir->setText(folder);
}

void SettingDialog::on_pushButton_open_dir_clicked() {
    OpenWithDesktop(this, QUrl::fromLocalFile(WithTrailingSlash(ui_->lineEdit_save_dir->text())));
}

void SettingDialog::on_pushButton_versioncheck_clicked() {
    const quint32 generation = ++versionCheckGeneration;
    QTimer::singleShot(kVersionCheckDebounceMs, [generation] {
        if (generation != versionCheckGeneration) return;
        versionCheckGeneration = 0;
        if (g_versionCheckRequest) {
            g_versionCheckRequest();
        } else if (ZuCam* app = zucamApp()) {
            app->requestVersionCheck(true);
        }
    });
}

void SettingDialog::ShowOwnToolTip(QWidget* button) {
    QCoreApplication::postEvent(button, new QHelpEvent(QEvent::ToolTip, QPoint(0, 0), QCursor::pos()));
}

void SettingDialog::on_pushButton_tooltips_clicked() {
    qDebug() << "on_pushButton_tooltips_clocked";
    ShowOwnToolTip(ui_->pushButton_tooltips);
}
void SettingDialog::on_pushButton_tooltips_2_clicked() { ShowOwnToolTip(ui_->pushButton_tooltips_2); }
void SettingDialog::on_pushButton_tooltips_3_clicked() { ShowOwnToolTip(ui_->pushButton_tooltips_3); }
void SettingDialog::on_pushButton_tooltips_4_clicked() { ShowOwnToolTip(ui_->pushButton_tooltips_4); }

void SettingDialog::on_label_no_voice_help_linkActivated(const QString& link) { OpenWithDesktop(this, QUrl(link)); }

void SettingDialog::on_pushButton_title_close_clicked() {
    if (ui_->lineEdit_camera_name->isEnabled()) {
        ZuCam* const app = zucamApp();
        QString name = ui_->lineEdit_camera_name->text().trimmed();
        qDebug() << "[camera_name]" << name << (app != nullptr ? app->cameraName : QString());
        if (name.isEmpty()) {
            name = QString::fromUtf8(kCameraNameDefault);
            ui_->lineEdit_camera_name->setText(name);
        }
        if (app != nullptr && name != app->cameraName) {
            qDebug() << "[update_new_camera_name]";
            app->setCameraName(name);
        }
    }
    hide();
}

void SettingDialog::reject() { on_pushButton_title_close_clicked(); }

// ---- the virtual microphone --------------------------------------------------

void SettingDialog::on_radioButton_vmic_open_clicked() {
    if (!IsWindows10OrGreater()) {
        ShowNotice(window(), QString::fromUtf8("虚拟麦克风只支持win10及以上版本的系统"));
        ui_->radioButton_vmic_close->setChecked(true);
        return;
    }
    ZuCam* const app = zucamApp();
    if (app == nullptr || app->openVmic) return;
    if (!app->openVirtualMic(true)) {
        ui_->radioButton_vmic_close->setChecked(true);  // ZuCam told why
        return;
    }
    if (!app->checkSystemMicForbid()) {
        // The device is there but the audio server offers no source for it.
        MessageBoxDialog question(app->mainWindow.data());
        question.SetMessage(QString::fromUtf8(
            "检测到麦克风被系统禁用，请右键点击启用\"Zu Virtual Audio Device\"，启用后可听到声音。"));
        question.SetButtons(2, QString::fromUtf8("去启用"), QString::fromUtf8("不启用"));
        // The sound settings on their input-devices page.
        if (question.exec() == 1) StartDetached("pavucontrol", {"--tab=4"});
    }
    QTimer::singleShot(100, app, [app] { app->updateVolume(0); });
}

void SettingDialog::on_radioButton_vmic_close_clicked() {
    ZuCam* const app = zucamApp();
    if (app == nullptr || !app->openVmic) return;
    if (!app->videoTransport) {
        // Without the picture and the sound the phone would send nothing.
        ShowNotice(parentWidget(), QString::fromUtf8("请先开启摄像头画面后，再关闭麦克风"));
        ui_->radioButton_vmic_open->setChecked(true);
        return;
    }
    app->closeVirtualMic();
    QTimer::singleShot(100, app, [app] { app->updateVolume(-1); });
}

void SettingDialog::ToggleVirtualMic() {
    ZuCam* const app = zucamApp();
    if (app == nullptr) return;
    if (app->openVmic) {
        qDebug() << "[关闭虚拟麦克风]";
        on_radioButton_vmic_close_clicked();
    } else {
        qDebug() << "[开启虚拟麦克风]";
        on_radioButton_vmic_open_clicked();
    }
    (app->openVmic ? ui_->radioButton_vmic_open : ui_->radioButton_vmic_close)->setChecked(true);
}

// ---- test hooks --------------------------------------------------------------

void SettingDialog::SetFolderChooserForTesting(FolderChooser chooser) { g_folderChooser = std::move(chooser); }
void SettingDialog::SetVersionCheckRequestForTesting(std::function<void()> request) {
    g_versionCheckRequest = std::move(request);
}
void SettingDialog::SetDetachedStarterForTesting(DetachedStarter starter) { g_detachedStarter = std::move(starter); }
