// The audio sink interface: everything that consumes received phone audio.
// Producers (the media connections) call OnAudio on each sink of their list,
// in list order, from their own thread.
#pragma once

#include <cstdint>

class StreamAudioSink {
public:
    virtual ~StreamAudioSink() = default;
    // pcm: signed 16-bit samples, channels interleaved, borrowed for the call.
    virtual void OnAudio(const uint8_t* pcm, int samplesPerChannel, int sampleRate, int channels) = 0;
};
