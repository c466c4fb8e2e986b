// StreamIProxyConnection: the iOS USB transport. Publishes the attached
// devices every 2 s, pairs with the one the user picks through lockdownd,
// opens the command channel to the phone's port and, after the hello, one
// video connection to the port the phone names. No audio connection.
//
// Threads: every operation and the timer on the hub's thread; the
// connections' reads on the reactor thread, reaching the hub only through
// its queued HandleEvent and HandleCommand.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>

#include "stream_receiver.h"

class AsyncReactor;
class CommandConneciton;
class StreamConneciton;
class StreamManager;

class StreamIProxyConnection : public QObject, public StreamReceiver {
    Q_OBJECT

public:
    static constexpr int kDeviceListIntervalMs = 2000;

    StreamIProxyConnection(uint16_t commandPort, AsyncReactor* reactor, StreamManager* hub);
    // Closes the connections without reporting an event.
    ~StreamIProxyConnection() override;

    bool Start() override;
    void ConnectDevice(const std::string& udid) override;
    void HandleEvent(int event) override;
    void Close() override;
    bool IsIProxy() override { return true; }
    void SendCommand(const std::string& json) override;
    bool OpenVideoReceiver(bool udp, uint16_t port, const std::string& key, const std::string& hwDecoder,
                           const std::vector<StreamAudioSink*>& audioSinks,
                           const std::vector<StreamVideoSink*>& videoSinks) override;
    uint16_t GetVideoPort() override { return 0; }

    // Publishes the device list once (the timer calls it).
    void ListDevices();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    const uint16_t commandPort_;
    std::string udid_;
    AsyncReactor* const reactor_;
    StreamManager* const hub_;
    int listTimerId_ = 0;
    bool listErrorLogged_ = false;
    std::unique_ptr<CommandConneciton> command_;
    std::unique_ptr<StreamConneciton> stream_;
};
