// The video sink interface: everything that consumes decoded or composed
// pictures. Producers hold plain pointers to sinks and call Push on each, in
// list order, from their own thread; the owner of a sink stops every producer
// before it frees the sink. A frame passed in is borrowed for the call; a
// sink that keeps a picture keeps its own reference-counted clone.
#pragma once

#include <atomic>

struct AVFrame;

class StreamVideoSink {
public:
    virtual ~StreamVideoSink() = default;
    // Offers the next picture (producer's thread). Each sink decides what it
    // accepts: a rejected frame is left alone.
    virtual void Push(AVFrame* frame) = 0;
    // Replaces what the sink shows or hands on by a black picture of the
    // last size, where the sink has seen one.
    virtual void ShowBlack() = 0;
    // Takes the picture in, skipping the enabled test of Push.
    virtual void SetFrame(AVFrame* frame) = 0;

    // Set by the owner on its thread, read by the producer on its own:
    // atomic for that reason. False after construction.
    std::atomic<bool> enabled{false};
};
