// The decoder each video media connection owns. The connection pushes access
// units from the socket reactor's thread; the decoder works on a thread of
// its own and pushes pictures to its video sinks.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class StreamManager;
class StreamPacket;
class StreamVideoSink;

class StreamVideoDecoder {
public:
    virtual ~StreamVideoDecoder() = default;
    // Takes the packet over. A null packet marks the end of a stream: the
    // decoder drops its state and waits for a new stream's first key frame.
    virtual void PushPacket(std::unique_ptr<StreamPacket> packet) = 0;
};

// Makes the H.264 decoder for a new media connection. hwDecoder names a
// hardware device (empty: software). Returns null when this build has no
// decoder; the connection then drops its video packets.
std::unique_ptr<StreamVideoDecoder> CreateStreamVideoDecoder(const std::string& hwDecoder, StreamManager* hub,
                                                             const std::vector<StreamVideoSink*>& videoSinks);

// Replaces what CreateStreamVideoDecoder makes, for tests that watch the
// packets a connection hands on; an empty function restores the default.
using StreamVideoDecoderFactory = std::function<std::unique_ptr<StreamVideoDecoder>(
    const std::string& hwDecoder, StreamManager* hub, const std::vector<StreamVideoSink*>& videoSinks)>;
void SetStreamVideoDecoderFactoryForTesting(StreamVideoDecoderFactory factory);
