// StreamIProxyConnection: the iOS USB transport. Publishes the attached
// devices every 2 s, pairs with the one the user picks through lockdownd,
// opens the command channel to the phone's port and, after the hello, one
// video connection to the port the phone names. No audio connection.
//
// Threads: every operation and the timer on the hub's thread; the calls that
// wait on usbmuxd or lockdownd (listing, pairing, connecting) on the
// transport's worker thread, one at a time, their results queued back to
// the hub's thread (a result of a connection that has since closed or been
// replaced is dropped); the connections' reads on the reactor thread,
// reaching the hub only through its queued HandleEvent and HandleCommand.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "stream_receiver.h"

class AsyncReactor;
class CommandConneciton;
class IProxyWorker;
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

    // Lists the devices on the worker thread and publishes the list once
    // (the timer calls it); a listing still running is not joined by another.
    void ListDevices();

    // Replies held while the hello's video connection is being made; a
    // phone that sends more commands than this meanwhile is cut off.
    static constexpr size_t kMaxHeldCommands = 32;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    struct ListResult;
    struct ConnectResult;
    void PublishDevices(const ListResult& result);
    void CommandConnected(quint64 session, const std::string& udid, ConnectResult& result);
    void StreamConnected(quint64 session, ConnectResult& result, const std::string& key, const std::string& hwDecoder,
                         const std::vector<StreamAudioSink*>& audioSinks,
                         const std::vector<StreamVideoSink*>& videoSinks);
    void SendNow(const std::string& json);

    const uint16_t commandPort_;
    std::string udid_;
    AsyncReactor* const reactor_;
    StreamManager* const hub_;
    int listTimerId_ = 0;
    bool listErrorLogged_ = false;
    std::unique_ptr<CommandConneciton> command_;
    std::unique_ptr<StreamConneciton> stream_;
    std::unique_ptr<IProxyWorker> worker_;
    // Bumped by every pick of a device and every close: worker results of
    // an earlier session are dropped.
    quint64 session_ = 0;
    bool listRunning_ = false;
    int streamConnectsRunning_ = 0;  // of this session
    std::vector<std::string> heldCommands_;
};
