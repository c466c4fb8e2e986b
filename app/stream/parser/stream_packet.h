// StreamPacket: one packet of a phone's media stream, as the parser hands it
// to a receiver. Packets are owned through std::unique_ptr<StreamPacket>; the
// receiver switches on GetType() and downcasts to the matching class.
#pragma once

// The pkt_type values of the wire format.
enum StreamPacketType : int {
    kStreamPacketKey = 0,    // StreamTokenPacket
    kStreamPacketVideo = 1,  // StreamVideoPacket
    kStreamPacketAudio = 2,  // StreamAudioPacket
};

class StreamPacket {
public:
    virtual ~StreamPacket() = default;
    virtual int GetType() const = 0;

protected:
    StreamPacket() = default;
    StreamPacket(const StreamPacket&) = default;
    StreamPacket& operator=(const StreamPacket&) = default;
};
