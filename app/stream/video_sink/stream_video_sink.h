// The video sink interface: everything that consumes decoded or composed
// pictures. Producers hold plain pointers to sinks and call Push on each, in
// list order, from their own thread; the owner of a sink stops every producer
// before it frees the sink. A frame passed in is borrowed for the call; a
// sink that keeps a picture keeps its own reference-counted clone.
#pragma once

struct AVFrame;

class StreamVideoSink {
public:
    virtual ~StreamVideoSink() = default;
    virtual void Push(AVFrame* frame) = 0;
    virtual void ShowBlack() = 0;
    virtual void SetFrame(AVFrame* frame) = 0;

    // Set by the owner; false after construction.
    bool enabled = false;
};

// The recorder's frame cache; its interface comes with the frame caches.
class StreamVideoSinkCache;
