// MediaPacketRouter: what a media connection does with the bytes it reads,
// for the connections that are not TCP servers (the P2P connection, the iOS
// stream connection). Reassembles media packets, checks key packets against
// the connection key, hands video to the decoder and audio to the sinks.
//
// Once the stream is found broken or presents a wrong key the router is
// closed: it drops everything that follows, so the owner reports the loss
// once and nothing after a wrong key reaches a consumer.
//
// Threads: Feed from one reading thread at a time (the caller serialises;
// the P2P connection guards it with its own lock). The decoder has its own
// queue lock; the audio sinks may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class StreamAudioPacket;
class StreamAudioSink;
class StreamManager;
class StreamPacketBuffer;
class StreamVideoDecoder;
class StreamVideoSink;

// Hands one audio packet to every sink, or drops it (one log line while
// *badAudioLogged is false) when its channels, rate or size are not what a
// phone may sensibly send. Used by every kind of media connection.
void DeliverPhoneAudio(const StreamAudioPacket& packet, const std::vector<StreamAudioSink*>& sinks,
                       bool* badAudioLogged);

class MediaPacketRouter {
public:
    enum class FeedResult {
        kOk,         // packets (if any) were handed on
        kClosed,     // the router was closed before: the bytes were dropped
        kBroken,     // the bytes do not form media packets; now closed
        kWrongKey,   // a key packet with another key; now closed
    };

    // Makes a decoder (CreateStreamVideoDecoder) only when videoSinks is not
    // empty. Sinks are borrowed; their owner outlives the router.
    MediaPacketRouter(const std::string& key, const std::string& hwDecoder, StreamManager* hub,
                      const std::vector<StreamAudioSink*>& audioSinks,
                      const std::vector<StreamVideoSink*>& videoSinks);
    ~MediaPacketRouter();
    MediaPacketRouter(const MediaPacketRouter&) = delete;
    MediaPacketRouter& operator=(const MediaPacketRouter&) = delete;

    // The 64 MiB reassembly buffer is made with the first bytes.
    FeedResult Feed(const char* data, int length);
    bool closed() const { return closed_; }
    // Stops the decoder's thread; video that arrives afterwards is dropped.
    void ReleaseDecoder();

private:
    const std::string key_;
    std::unique_ptr<StreamPacketBuffer> packetBuffer_;
    std::unique_ptr<StreamVideoDecoder> decoder_;  // null: video packets are dropped
    const std::vector<StreamAudioSink*> audioSinks_;
    bool closed_ = false;
    bool badAudioLogged_ = false;
};
