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
#include <mutex>

#include "core/single_application/single_application_wrapper.h"
#include "stream_host.h"
#include "tether/value.h"

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
    // UI value.
    void setDeviceName(const QString& name);
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
