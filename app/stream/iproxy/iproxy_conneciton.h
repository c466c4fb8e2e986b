// The two usbmuxd connections of the iOS transport, each registered with the
// hub's reactor for its lifetime: CommandConneciton reads command frames,
// StreamConneciton reads media packets into the decoder and audio sinks.
//
// Threads: constructed, used for sends and destroyed on the hub's thread;
// OnRead on the reactor thread. Each most derived destructor takes the
// connection out of the reactor first (Detach), so no read reaches members
// that are already gone. A connection's loss is reported to the hub once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "iproxy/async_iproxy_connection.h"

class AsyncReactor;
class CommandFrameBuffer;
class MediaPacketRouter;
class StreamAudioSink;
class StreamManager;
class StreamVideoSink;

class IProxyConneciton : public AsyncIProxyConnection::Observer {
public:
    IProxyConneciton(int handle, int readBufferSize, AsyncReactor* reactor, StreamManager* hub);
    ~IProxyConneciton() override;
    IProxyConneciton(const IProxyConneciton&) = delete;
    IProxyConneciton& operator=(const IProxyConneciton&) = delete;

    // Hub thread.
    bool SendAll(const char* data, size_t length) { return connection_->SendAll(data, length); }

protected:
    // The most derived constructor registers the connection once its
    // members exist; its destructor takes it out before they go.
    void Attach();
    void Detach();
    // Reactor thread: reads stop and the hub hears of the loss, once.
    void ReportLost();
    // Reports to the hub (queued there). Tests replace it to watch events.
    virtual void NotifyHub(int event);

    AsyncReactor* const reactor_;
    StreamManager* const hub_;

private:
    std::unique_ptr<AsyncIProxyConnection> connection_;
    bool attached_ = false;
    bool lostReported_ = false;  // reactor thread
};

class CommandConneciton : public IProxyConneciton {
public:
    CommandConneciton(int handle, AsyncReactor* reactor, StreamManager* hub);
    ~CommandConneciton() override;
    void OnRead(const uint8_t* data, int n) override;

private:
    std::unique_ptr<CommandFrameBuffer> frameBuffer_;  // reactor thread
};

class StreamConneciton : public IProxyConneciton {
public:
    static constexpr int kReadBufferSize = 256 * 1024;

    StreamConneciton(int handle, const std::string& key, const std::string& hwDecoder, AsyncReactor* reactor,
                     StreamManager* hub, const std::vector<StreamAudioSink*>& audioSinks,
                     const std::vector<StreamVideoSink*>& videoSinks);
    ~StreamConneciton() override;
    void OnRead(const uint8_t* data, int n) override;

private:
    std::unique_ptr<MediaPacketRouter> router_;  // reactor thread (after construction)
};
