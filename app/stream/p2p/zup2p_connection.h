// Zup2pConnection: the media path through the P2P library. Binds the
// library, reports its bound UDP port (sent to the phone as "port" and
// "udpPort") and reads the delivered bytes as the media packet stream,
// feeding the decoder and the audio sinks as a TCP media server does.
//
// Threads: the constructor, Init, BindPort and the destructor on the hub's
// thread; onData on the library's threads. routerMutex_ serialises the
// library's calls against each other and against the destructor's release
// of the router. The hub is reached only through its queued HandleEvent.
#pragma once

#include <zup2p/zup2p.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/media_packet_router.h"

class StreamAudioSink;
class StreamManager;
class StreamVideoSink;

class Zup2pConnection : public zu::DataListener {
public:
    Zup2pConnection(const std::string& key, const std::string& hwDecoder, StreamManager* hub,
                    const std::vector<StreamAudioSink*>& audioSinks,
                    const std::vector<StreamVideoSink*>& videoSinks);
    // The library stops (no callback runs afterwards) before the router goes.
    ~Zup2pConnection() override;
    Zup2pConnection(const Zup2pConnection&) = delete;
    Zup2pConnection& operator=(const Zup2pConnection&) = delete;

    // Starts a new library object (an earlier one is stopped first). The
    // library chooses its own port; port is not passed on. False when the
    // library could not start: there is then no port to announce.
    bool Init(uint16_t port);
    // The library's bound UDP port, 0 without a running library.
    int BindPort() const;

    // Library thread. A sender becomes the phone with a first message of
    // whole media packets whose key packets, if any, carry this key.
    bool acceptPeer(const char* data, int length) override;
    void onData(int peer, int messageNumber, const char* data, int length) override;

protected:
    // Reports to the hub (queued there). Tests replace it to watch events.
    virtual void NotifyHub(int event);
    // Stops the library (joins its thread). A subclass that replaces
    // NotifyHub calls it first in its destructor.
    void StopLibrary();

private:
    std::unique_ptr<zu::Zup2p> library_;
    const std::string key_;
    StreamManager* const hub_;
    std::mutex routerMutex_;  // guards router_ (and its packet buffer)
    std::unique_ptr<MediaPacketRouter> router_;
};
