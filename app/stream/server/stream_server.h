// StreamServer: the Wi-Fi transport. A TCP command server on a fixed port,
// TCP media servers on the first free ports above it (or a P2P media
// connection), and a UDP beacon that announces this computer on the local
// networks once a second. Every operation runs on the hub's thread; the
// servers' socket callbacks run on the reactor thread and reach the hub only
// through its queued HandleEvent and HandleCommand.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "stream_receiver.h"

class AsyncReactor;
class AudioReceiverServer;
class CommandServer;
class ReceiverServer;
class StreamManager;
class Zup2pConnection;

class StreamServer : public QObject, public StreamReceiver {
    Q_OBJECT

public:
    // Reads the local adapters once (virtual ones are left out), starts the
    // beacon timer and reports the addresses to the hub (ShowLocalIpAddr).
    StreamServer(uint16_t port, AsyncReactor* reactor, StreamManager* hub);
    // Destroys the servers without reporting any event to the hub.
    ~StreamServer() override;

    bool Start() override;
    void HandleEvent(int event) override;
    void Close() override;
    void SendCommand(const std::string& json) override;
    bool OpenVideoReceiver(bool udp, uint16_t port, const std::string& key, const std::string& hwDecoder,
                           const std::vector<StreamAudioSink*>& audioSinks,
                           const std::vector<StreamVideoSink*>& videoSinks) override;
    uint16_t GetVideoPort() override;
    bool OpenAudioReceiver(bool udp, uint16_t port, const std::string& key,
                           const std::vector<StreamAudioSink*>& audioSinks) override;
    uint16_t GetAudioPort() override;
    bool IsCurrentConnection(uint64_t connection) override;

    // Sends the beacon datagrams once; the timer calls it every second. The
    // Android transport, which has no network to announce on, replaces it.
    virtual void Announce();

protected:
    void timerEvent(QTimerEvent* event) override;

    uint16_t basePort_;
    AsyncReactor* reactor_;
    StreamManager* hub_;
    std::unique_ptr<CommandServer> commandServer_;
    std::unique_ptr<ReceiverServer> videoServer_;
    std::unique_ptr<AudioReceiverServer> audioServer_;
    std::unique_ptr<Zup2pConnection> p2pConnection_;  // the media path of a hello with "udpPort"
    std::vector<std::string> localAddresses_;
    int beaconTimerId_ = 0;
    int watchTimerId_ = 0;  // drops a command client that holds the slot for nothing
};
