// The format test of the sinks that hand frames on unchanged: they take
// YUV420P only.
#pragma once

#include <atomic>

struct AVFrame;

// True for a non-null YUV420P frame. For a frame of another format it logs
// one warning per sink (the first time rejectionLogged is clear) naming the
// sink and the format, and returns false; null frames are dropped silently.
bool AcceptYuv420p(const AVFrame* frame, const char* sinkName, std::atomic<bool>* rejectionLogged);
