// The tool bar along the bottom of the main window: the "more" menu
// (settings, picture adjustment, network diagnosis), help, about,
// screenshot, record with its running time, the connection label, the
// picture on/off switch and the virtual-microphone switch with its level
// icon; also the screenshot tip and the first-use guide bubble. The main
// window owns it, enables and labels it as phones come and go, and feeds it
// the recording state, the recording time and the microphone level. GUI
// thread only.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

namespace Ui {
class MenuStateForm;
}

class QDialog;
class QMenu;

class MenuStateForm : public QWidget {
    Q_OBJECT

public:
    // How long the microphone switch stays locked after a click.
    static constexpr int kMicLockoutMs = 500;
    // How long a screenshot tip stays up.
    static constexpr int kScreenShotTipMs = 2000;

    explicit MenuStateForm(QWidget* parent = nullptr);
    ~MenuStateForm() override;

    // "recording" on the record button (its image and what a click does);
    // the running time is shown only while recording and reset after.
    void SetRecordingState(bool recording);
    // The running time's text as it stands.
    void SetRecordTime(const QString& text);
    // Screenshot and record buttons on or off (and the settings' camera-mode
    // switch with them).
    void SetCaptureEnabled(bool enabled);
    // "未连接" for an empty name, else "已连接<name>" (shown as plain text).
    void SetConnectState(const QString& name);
    // The picture switch, usable while a phone is connected.
    void SetTransportEnabled(bool enabled);
    // The microphone icon for level (-1 none/off, 0 to 10; others are
    // clamped into that range) when set, else for the level last given.
    void UpdateVolumeIcon(int level, bool set);
    // A tip near the screenshot button that goes after two seconds.
    void ShowScreenShotTip();
    // Places (and on first use makes) the first-use guide bubble above the
    // help button; nothing once the guide was dismissed.
    void ShowGuidWidget();

    // A recording's running time as "HH:mm:ss"; the hours keep counting
    // past 24 ("25:00:00"); a negative duration reads "00:00:00".
    static QString FormatRecordTime(qint64 milliseconds);
    // The last level given to UpdateVolumeIcon (-1: none yet).
    static int volumeLevel();
    QMenu* moreMenuForTest() const { return moreMenu; }
    QWidget* guideWidgetForTest() const { return guideWidget; }

public slots:
    // The hub's recording time: FormatRecordTime into the time label.
    void SetRecordDuration(qlonglong milliseconds);
    // The picture switch follows ZuCam's picture flag (checked = off).
    void slot_updateTransportBtnState();
    // The microphone switch (also invoked by name for the phone's request).
    void on_pushButton_menu_volumn_img_clicked();

signals:
    void ScreenShot();
    void StartRecord();
    void StopRecord();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void on_pushButton_menu_set_clicked();
    void on_pushButton_menu_help_clicked();
    void on_pushButton_menu_aboutus_clicked();
    void on_pushButton_menu_cutscm_clicked();
    void on_pushButton_menu_record_clicked();
    void on_pushButton_video_transport_clicked(bool checked);
    void slot_closeHelpFresh();

private:
    void InitUi();
    void UpdateMicToolTip();

    std::unique_ptr<Ui::MenuStateForm> ui;
    // The dialogs are children of the top-level window and go with it.
    QDialog* settingDialog = nullptr;
    QPointer<QWidget> guideWidget;  // the first-use bubble while it is up
    QDialog* netCheckDialog = nullptr;
    QDialog* frameAdjustmentDialog = nullptr;
    QMenu* moreMenu = nullptr;
    bool volumeHover = false;
    QString volumeSheet;  // the microphone button's sheet as last set
};
