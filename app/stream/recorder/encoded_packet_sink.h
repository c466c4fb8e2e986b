// Where the recorder's encoders hand their packets: the muxer side of
// FFmpegRecorder. Called on the encoder threads.
#pragma once

struct AVPacket;

class EncodedPacketSink {
public:
    virtual ~EncodedPacketSink() = default;
    // pts in microseconds since the recording's first picture. The packet is
    // borrowed. False when the file can take no more (the recording is then
    // interrupted).
    virtual bool WriteVideoPacket(AVPacket* packet) = 0;
    // pts in samples (1 / sample rate of the audio encoder).
    virtual bool WriteAudioPacket(AVPacket* packet) = 0;
    // An encoder failed for good; the text goes to the log.
    virtual void EncoderFailed(const char* what) = 0;
};
