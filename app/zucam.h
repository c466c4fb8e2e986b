// ZuCam: the application object. One per process; every part of the program
// reaches it through the application instance (see zucamApp()).
//
// It holds the settings and the run-time flags shared by the windows, loads
// the settings on the first turn of the event loop (Initialize) and saves
// them when it is destroyed. A secondary instance never loads the settings
// and so never saves them.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/single_application/single_application_wrapper.h"
#include "stream_host.h"
#include "tether/value.h"

class VirtaulAudioDeviceManager;

class ZuCam : public SingleApplicationWrapper, public StreamHost {
    Q_OBJECT

public:
    ZuCam(int& argc, char** argv);
    ~ZuCam() override;

    // Reads every setting into the fields below, writing back the defaults of
    // missing keys, and mirrors the two names into Tether's UI values.
    void loadConfig();
    // Writes the fields back and flushes the configuration store. Does
    // nothing unless loadConfig ran in this process.
    void saveConfig();
    // "ZuCam[<host name>]".
    static QString defaultDeviceName();

    // Stores the name shown to the phone and refreshes the "zucam_device_name"
    // UI value; the main window gets it through its "SetDeviceName(QString)"
    // when it has one.
    void setDeviceName(const QString& name);
    // Stores the camera name and the "zucam_camera_name" UI value, and writes
    // it to the camera filter's "FriendlyName" in the 64-bit and the 32-bit
    // key of the registry file (cameraRegistryFile()), in each only where that
    // value is there already: nothing is created. A refused write goes
    // unnoticed (the file belongs to the administrator).
    void setCameraName(const QString& name);
    // Stores the flag; the main window, when there, gets or loses
    // Qt::WindowStaysOnTopHint and is shown again.
    void setWindowStaysOnTop(bool on);
    // Stores the flag only; it takes effect where the previews read it.
    void setUseHardwareRender(bool on) { useHardwareRender = on; }

    // Whether the iOS USB service (usbmuxd) is there: sets
    // appleMobileDeviceInstalled, refreshes the main window's tip button
    // and, when it is missing and showDialog is set, offers to install it:
    // once per run, and once more after each call with rearm.
    void checkAppleMobileDeviceSupport(bool showDialog, bool rearm);
    // True when the audio server lists the virtual microphone as a source (a
    // source, not a sink's monitor, whose name or description contains "Zu
    // Virtual Audio Device", case-sensitive). Asks pactl, waiting at most a
    // few seconds; no answer, or no such source, gives false.
    bool checkSystemMicForbid();
    // The same test over the text of "pactl list sources" (LC_ALL=C).
    static bool sourcesListVirtualMic(const QString& pactlSources);

    // Opens the virtual microphone. Without the audio driver: ask false gives
    // false silently; ask true offers to install it (OK installs, anything
    // else gives false). Any manager that was open is released before the
    // new one opens (the driver's link takes one writer). openVmic follows
    // the outcome; with ask set a failure is told in a message box.
    bool openVirtualMic(bool ask);
    // Releases the microphone and clears openVmic.
    void closeVirtualMic();
    // The open microphone, or null.
    const std::shared_ptr<VirtaulAudioDeviceManager>& virtualMic() const { return audioDeviceManager; }

    // Registers the composition's shader programs (the ":/hlsl/" texts) with
    // the default render device; nothing without a device.
    void registerShaders();
    // The whole resource, or an empty text when it cannot be opened.
    static std::string readResourceFile(const QString& path);
    // True when the system runs its power-saving profile: the ACPI platform
    // profile reads "low-power", or power-profiles-daemon's state file names
    // "power-saver". False when neither can be read.
    static bool isPowerSaverScheme();
    // The virtual microphone's level, 0 to 10; any thread (the audio
    // callback calls it). Handed to the main window's "UpdateVolumn" slot on
    // the GUI thread, so it never races the window's destruction.
    void updateVolume(int level);

    // Asks Trevane (command 311) for version information; the answer is
    // decided on the GUI thread (offer, hold back, ignore; manual: always an
    // answer). manual: the user asked.
    void requestVersionCheck(bool manual);
    void onVersionCheckReply(const tq::Value& reply, bool manual);
    static bool parseVersion(const std::string& text, uint64_t* number);

    double dpiScale = 1.0;
    QPointer<QWidget> mainWindow;
    QString saveDir;
    QString deviceName;
    QString cameraName;
    QString localIp;
    bool firstOpen = true;
    bool shotOpenDir = false;
    bool windowStaysOnTop = false;
    bool openVmic = false;
    bool playAudio = false;
    bool useHardwareRender = false;
    bool appleMobileDeviceInstalled = false;
    bool videoTransport = true;
    bool audioDriverInstalled = false;

    // Stores the folder of recordings and screenshots.
    void setSaveDir(const QString& folder);
    // Stores whether the picture goes to the virtual camera, then lets the
    // main window follow it (its "UpdateTransportBtnState(bool)", when it
    // has one).
    void setVideoTransport(bool on);
    // Stores the local address the diagnosis page shows.
    void setLocalIp(const QString& address) { localIp = address; }

    // What the stream hubs read on their threads: a copy of saveDir,
    // videoTransport, openVmic and audioDriverInstalled that the GUI thread
    // refreshes whenever one of them changes through ZuCam.
    QString RecordingFolder() const override;
    bool VideoTransportOn() const override;
    bool VirtualMicOpen() const override;
    bool AudioDriverInstalled() const override;

public slots:
    // Queued from the constructor: runs on the first turn of the event loop.
    void Initialize();
    void onReceivedMessage(quint32 instanceId, QByteArray message);

private:
    // GUI thread: copies the fields the hubs read into hubState_.
    void publishHubState();
    void updateIosServiceTip();

    // The open virtual microphone; released first at shutdown.
    std::shared_ptr<VirtaulAudioDeviceManager> audioDeviceManager;

    bool configLoaded_ = false;
    struct HubState {
        QString saveDir;
        bool videoTransport = true;
        bool openVmic = false;
        bool audioDriverInstalled = false;
    };
    mutable std::mutex hubStateMutex_;  // guards hubState_
    HubState hubState_;
};

// The application instance as ZuCam, or null when the application object is
// of another kind (the "--uninstall" run, tests).
ZuCam* zucamApp();

// The "--uninstall" routine; needs only a QApplication. Removes the audio
// driver, unregisters both camera filters and removes the camera driver,
// each tool run waited for, then names the programs that still hold a
// camera filter file in a warning box (and on standard error; only there
// when the application object is no QApplication).
void uninstallDrivers();
// Tests: while set, the warning goes to the hook instead of a modal box.
void setUninstallWarningHook(std::function<void(const QString& title, const QString& text)> hook);

// The file that stands for the registry keys of the camera filter (a
// QSettings INI file; the keys are its groups with "/" for "\"):
// /etc/ZuCam/registry.ini, machine-wide like the keys it stands for.
QString cameraRegistryFile();
// Tests: another file; empty restores the default.
void SetCameraRegistryFileForTesting(const QString& path);
// Tests: the power-profile files isPowerSaverScheme reads; empty texts
// restore the system's.
void SetPowerProfileFilesForTesting(const QString& platformProfile, const QString& daemonState);
