// The latest picture of a sink that hands it on later (GL sink, render
// device). The producer stores, consumers load, on any threads; the lock is
// held only to swap or copy a pointer, so a slow consumer never holds up the
// producer and the other way round.
#pragma once

#include <QMutex>
#include <memory>

#include "ffmpeg_handles.h"

class LatestFrameSlot {
public:
    // Replaces the stored picture by a clone of frame (by reference, made
    // outside the lock). A clone that fails leaves the slot empty.
    void Store(const AVFrame* frame);
    // The stored picture, shared with the slot; null before the first one.
    // Stored pictures are never written to, so readers need no lock.
    std::shared_ptr<const AVFrame> Load() const;

private:
    mutable QMutex mutex_;  // guards frame_
    std::shared_ptr<const AVFrame> frame_;
};
