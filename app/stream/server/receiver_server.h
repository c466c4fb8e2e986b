// ReceiverServer: a media port. Reads stream packets from its one
// connection, checks key packets against the key of the hello that opened
// it, feeds video packets to its decoder and audio to its sinks.
//
// Threads: OnAccept and OnRead on the reactor thread (the packet buffer, the
// decoder feed and the per-connection flags are used there only); SetKey
// and the rest on the hub's thread.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/single_connection_server.h"

class StreamAudioPacket;
class StreamAudioSink;
class StreamPacketBuffer;
class StreamVideoDecoder;
class StreamVideoSink;

class ReceiverServer : public SingleConnectionServer {
public:
    // The largest chunk one read of a media connection delivers.
    static constexpr int kMediaReadBufferSize = 256 * 1024;

    // Makes a decoder (CreateStreamVideoDecoder) only when videoSinks is not
    // empty. Sinks are borrowed; their owner outlives this server.
    ReceiverServer(const std::string& key, const std::string& hwDecoder, AsyncReactor* reactor, StreamManager* hub,
                   const std::vector<StreamAudioSink*>& audioSinks,
                   const std::vector<StreamVideoSink*>& videoSinks);
    ~ReceiverServer() override;

    // Hub thread. The key later key packets must carry (a repeated hello
    // hands out a new one).
    void SetKey(const std::string& key);

    void OnAccept(std::unique_ptr<AsyncSocket> socket) override;
    void OnRead(const char* data, int length) override;

protected:
    // Reactor thread: the per-connection state goes; true when the socket was
    // taken. Subclasses that announce a different event use it.
    bool AdoptMediaSocket(std::unique_ptr<AsyncSocket>& socket);

private:
    bool KeyMatches(const std::string& token);
    // Reactor thread: the connection is given up and the hub told.
    void Reject();

    // Guards key_: SetKey writes it on the hub's thread, OnRead compares on
    // the reactor thread.
    std::mutex keyMutex_;
    std::string key_;

    std::unique_ptr<StreamPacketBuffer> packetBuffer_;  // reactor thread; made with the first data
    std::unique_ptr<StreamVideoDecoder> decoder_;       // null: video packets are dropped
    const std::vector<StreamAudioSink*> audioSinks_;    // borrowed

    // Reactor thread, reset for each new connection.
    bool rejected_ = false;            // bad key or broken stream: nothing more is read
    bool badAudioLogged_ = false;      // one log line per connection for dropped audio
};
