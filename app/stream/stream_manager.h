// StreamManager: the hub of the streaming engine.
//
// A QThread that lives in its own thread: every public operation only queues
// a slot call (or runs it at once when called on the hub's thread), so the
// connection state below is touched on the hub's thread alone. It owns one
// socket reactor and the current phone transport, answers the phone's
// commands, starts and stops recordings and reports to the user interface
// through its signals. Socket callbacks, decoder threads and P2P threads
// reach it only through HandleCommand, HandleEvent, VideoArrive and
// VideoResolutionChanged, which queue.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>
#include <memory>
#include <string>
#include <vector>

#include "stream_receiver.h"

class AsyncReactor;
class QTimer;
class StreamAudioSink;
class StreamAudioSinkCache;
class StreamHost;
class StreamRecorder;
class StreamVideoSink;
class StreamVideoSinkCache;

namespace Json {
class Value;
}

class StreamManager : public QThread {
    Q_OBJECT

public:
    // host (borrowed, outlives the hub) answers the settings that replies and
    // recordings need; without one there is no save folder and every flag is
    // false.
    StreamManager(const std::vector<StreamAudioSink*>& audioSinks, const std::vector<StreamVideoSink*>& videoSinks,
                  StreamVideoSinkCache* recorderVideoCache, const StreamHost* host = nullptr);
    ~StreamManager() override;

    // Any thread.
    void Start(int transport);
    void CloseManager();
    void ConnectDevice(const QString& serial);
    void SetDeviceName(const QString& name);
    void StartRecord();
    void StopRecord();
    // From the command readers (reactor thread): one JSON text, UTF-8.
    // connection: the id of the connection it came from (0: not tagged); a
    // text from a connection the receiver no longer holds is ignored.
    void HandleCommand(const std::string& json, uint64_t connection = 0);
    // From connections and servers (reactor, P2P and hub threads); an event
    // tagged with a connection the receiver no longer holds changes nothing.
    void HandleEvent(int event, uint64_t connection = 0);
    // From the decoder thread.
    void VideoArrive(int width, int height);
    void VideoResolutionChanged(int width, int height);

    // The socket reactor of this hub; its transports register their sockets.
    AsyncReactor* reactor() const { return reactor_.get(); }

signals:
    void ShowLocalIpAddr(QStringList addr);
    void UsbDeviceList(QStringList devices);
    void OnNewConnection(QString name, int fps, int width, int height);
    void OnDisconnected();
    void OnDisconnectedDelay();
    void OnVideoArrive(int width, int height);
    void OnVideoResolutionChanged(int width, int height);
    void RecordStartSuccess();
    void RecordStartFailed(QString error);
    void RecordInterrupt();
    void RecordDurationChanged(qlonglong ms);
    void RecordStoped(QString path);
    void OnSwitchVideoTransport(bool type);
    void OnSwitchAudioTransport(bool type);
    void ScreenShot();
    void Error(QString error);

protected:
    void timerEvent(QTimerEvent* event) override;
    void run() override;

private slots:
    void ProbeHardwareCodec();
    void StartNetServer();
    void StartAdbServer();
    void StartIProxyConnection();
    void CloseManagerInternal();
    void HandleEventInternal(int event, quint64 connection);
    void HandleCommandInternal(QString cmd, quint64 connection);
    void ConnectDeviceInternal(QString serial);
    void StartRecordInternal();
    void StopRecordInternal();
    void SetDeviceNameInternal(QString name);
    void SetTransportInternal(int transport);
    void ShutdownConnection();

private:
    // Command handlers (hub thread); false closes the phone's channel.
    bool HandleHello(Json::Value data);
    bool HandleDisconnect(Json::Value data);
    bool HandleScreenShot(Json::Value data);
    bool HandleRecord(Json::Value data);
    bool HandleVideoState(Json::Value data);
    bool HandleAudioState(Json::Value data);
    void AnswerDeviceName();
    void SendReply(const Json::Value& message);
    void CloseChannel();
    void ReplaceReceiver(std::unique_ptr<StreamReceiver> receiver);
    // One attempt to start the Android transport; a failure schedules the next.
    void TryStartAdbServer();

    void OnProbeFinished(int exitCode);
    void OnProbeError(QProcess::ProcessError error);

    const StreamHost* const host_;
    int transport_ = kStreamTransportWifi;
    QString deviceName_;
    // The recorder's audio (48,000 Hz stereo float, 200 ms); last in
    // audioSinks_, declared first so that it outlives the list's users.
    std::unique_ptr<StreamAudioSinkCache> recorderAudioCache_;
    std::vector<StreamAudioSink*> audioSinks_;
    std::vector<StreamVideoSink*> videoSinks_;
    StreamVideoSinkCache* recorderVideoCache_;
    std::unique_ptr<AsyncReactor> reactor_;
    std::unique_ptr<StreamReceiver> receiver_;
    QProcess* probe_ = nullptr;
    std::string hardwareEncoder_;
    std::string hardwareDecoder_;
    std::string connectionKey_;
    bool helloSeen_ = false;
    bool disconnectExpected_ = false;
    std::unique_ptr<StreamRecorder> recorder_;
    // Retries of a failed Android start: the pending one, and how many ran
    // since the last Start (hub thread).
    QTimer* adbRetryTimer_ = nullptr;
    int adbStartRetries_ = 0;
};
