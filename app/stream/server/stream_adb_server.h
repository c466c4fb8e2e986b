// StreamAdbServer: the Android USB transport. The Wi-Fi server without the
// beacon, on its own command port (11080 from the hub), reached by a phone on
// the USB cable through adb reverse mappings: every second, while no phone
// streams, it lists the attached devices and maps the phone's port 10080 to
// the command port (listed devices take turns; one whose mapping fails
// waits 1, 2, 4, 8 and then 16 polls before its next try, until it maps,
// leaves the list or is replugged); after each hello it maps the phone's video and audio
// ports to the same ports here, and holds the hello's reply until those
// mappings are in place, so the phone never dials a port that is not mapped.
//
// Thread: everything runs on the hub's thread (timer, adb results, receiver
// calls); the adb runs themselves are other processes.
#pragma once

#include <QPointer>
#include <QString>
#include <map>
#include <string>
#include <vector>

#include "server/stream_server.h"

namespace qsc {
class AdbProcess;
}

class StreamAdbServer : public StreamServer {
    Q_OBJECT

public:
    // The phone's side of the command mapping.
    static constexpr uint16_t kPhoneCommandPort = 10080;
    static constexpr int kPollIntervalMs = 1000;
    // The longest wait, in polls, of a device whose mapping keeps failing.
    static constexpr quint64 kMaxBackoffPolls = 16;
    // Replies held while a hello's mappings run; a phone that sends more
    // commands than this meanwhile is cut off.
    static constexpr size_t kMaxHeldCommands = 32;

    // Prepares the program's own adb copy and starts polling.
    StreamAdbServer(uint16_t port, AsyncReactor* reactor, StreamManager* hub);
    ~StreamAdbServer() override;

    void HandleEvent(int event) override;
    void Close() override;
    void SendCommand(const std::string& json) override;
    bool OpenVideoReceiver(bool udp, uint16_t port, const std::string& key, const std::string& hwDecoder,
                           const std::vector<StreamAudioSink*>& audioSinks,
                           const std::vector<StreamVideoSink*>& videoSinks) override;
    bool OpenAudioReceiver(bool udp, uint16_t port, const std::string& key,
                           const std::vector<StreamAudioSink*>& audioSinks) override;
    // No network to announce on.
    void Announce() override {}

    // The device whose command port is mapped; empty until a mapping
    // succeeded.
    QString currentSerial() const { return currentSerial_; }
    // Bounds every adb run started from now on.
    void setAdbTimeout(int ms) { adbTimeoutMs_ = ms; }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    qsc::AdbProcess* NewAdbProcess();
    void PollDevices();
    void ParseAdbDevices(qsc::AdbProcess* process, int result);
    void ReverseCommandPort(const QString& serial, const QString& transportId);
    // One mapping of the current hello; the reply waits for all of them.
    void ReverseMediaPort(uint16_t port, bool video);
    void MediaMappingDone(quint64 hello, bool video, bool ok);
    void ReleaseHeldCommands();
    void DropHeldCommands();

    QString adbPath_;
    int pollTimerId_ = 0;
    int adbTimeoutMs_;
    // A phone streams: polling pauses until its connection is lost or closed.
    bool videoPortMapped_ = false;
    QString currentSerial_;
    QString currentTransportId_;
    // At most one device poll and one command mapping run at a time.
    QPointer<qsc::AdbProcess> poll_;
    QPointer<qsc::AdbProcess> commandMapping_;
    // Listed devices whose command mapping was tried and did not succeed
    // yet, by serial; a device that keeps failing waits more polls before
    // its next try (doubling up to kMaxBackoffPolls).
    struct DeviceTries {
        QString transportId;
        int failures = 0;
        quint64 lastTryPoll = 0;  // the poll that chose it last
        quint64 nextTryPoll = 0;  // not chosen before this poll
    };
    std::map<QString, DeviceTries> tries_;
    quint64 pollNumber_ = 0;  // device lists read so far

    // The hello whose mappings are awaited (its number), how many are still
    // running, whether the video one failed, and the replies held meanwhile.
    quint64 helloNumber_ = 0;
    int mediaMappingsRunning_ = 0;
    bool videoMappingFailed_ = false;
    std::vector<std::string> heldCommands_;
};
