// The bounded queues between the cache callbacks (producers) and the
// recorder's encoder threads (consumers).
#pragma once

#include <cstddef>
#include <list>

#include "core/system/thread.h"

struct AVFrame;

// Owns one frame (or none); moving hands it over, destruction frees it.
class FrameHolder {
public:
    FrameHolder() = default;
    explicit FrameHolder(AVFrame* frame) : frame_(frame) {}
    ~FrameHolder();
    FrameHolder(FrameHolder&& other) noexcept : frame_(other.frame_) { other.frame_ = nullptr; }
    FrameHolder& operator=(FrameHolder&& other) noexcept;
    FrameHolder(const FrameHolder&) = delete;
    FrameHolder& operator=(const FrameHolder&) = delete;

    AVFrame* get() const { return frame_; }
    explicit operator bool() const { return frame_ != nullptr; }

private:
    AVFrame* frame_ = nullptr;
};

// Producers never wait: a full queue drops its oldest entry, because the
// producers are the render output thread and the socket reactor, which must
// keep serving everything else. One consumer pops with a time-out.
class FrameQueue {
public:
    explicit FrameQueue(size_t capacity);
    ~FrameQueue();
    FrameQueue(const FrameQueue&) = delete;
    FrameQueue& operator=(const FrameQueue&) = delete;

    // Appends, dropping the oldest entries beyond the capacity (freed outside
    // the lock). Returns how many were dropped; a stopped queue takes nothing
    // and returns 0.
    size_t Push(FrameHolder frame);
    // Moves the oldest entry into *out; waits up to timeoutMs while the queue
    // is empty and not stopped. An entry present is popped even when stopped.
    bool Pop(FrameHolder* out, int timeoutMs);
    // Refuses further pushes and wakes a waiting Pop.
    void Stop();
    bool stopped() const;
    size_t size() const;

private:
    const size_t capacity_;
    mutable mutex_t mutex_;  // guards entries_ and stopped_
    cond_t notEmpty_;
    std::list<FrameHolder> entries_;
    bool stopped_ = false;
};
