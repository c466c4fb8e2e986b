#include "recorder/frame_queue.h"

#include <utility>

extern "C" {
#include <libavutil/frame.h>
}

FrameHolder::~FrameHolder() { av_frame_free(&frame_); }

FrameHolder& FrameHolder::operator=(FrameHolder&& other) noexcept {
    if (this != &other) {
        av_frame_free(&frame_);
        frame_ = other.frame_;
        other.frame_ = nullptr;
    }
    return *this;
}

FrameQueue::FrameQueue(size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {
    mutex_init(&mutex_);
    cond_init(&notEmpty_);
}

FrameQueue::~FrameQueue() {
    cond_destroy(&notEmpty_);
    mutex_destroy(&mutex_);
}

size_t FrameQueue::Push(FrameHolder frame) {
    std::list<FrameHolder> dropped;
    mutex_lock(&mutex_);
    if (stopped_) {
        mutex_unlock(&mutex_);
        return 0;
    }
    entries_.push_back(std::move(frame));
    while (entries_.size() > capacity_) dropped.splice(dropped.end(), entries_, entries_.begin());
    cond_signal(&notEmpty_);
    mutex_unlock(&mutex_);
    return dropped.size();
}

bool FrameQueue::Pop(FrameHolder* out, int timeoutMs) {
    mutex_lock(&mutex_);
    if (entries_.empty() && !stopped_ && timeoutMs > 0) {
        // One bounded wait: the consumer loops and re-checks its own stop flag.
        cond_timedwait(&notEmpty_, &mutex_, timeoutMs);
    }
    if (entries_.empty()) {
        mutex_unlock(&mutex_);
        return false;
    }
    *out = std::move(entries_.front());
    entries_.pop_front();
    mutex_unlock(&mutex_);
    return true;
}

void FrameQueue::Stop() {
    mutex_lock(&mutex_);
    stopped_ = true;
    cond_broadcast(&notEmpty_);
    mutex_unlock(&mutex_);
}

bool FrameQueue::stopped() const {
    mutex_lock(&mutex_);
    const bool stopped = stopped_;
    mutex_unlock(&mutex_);
    return stopped;
}

size_t FrameQueue::size() const {
    mutex_lock(&mutex_);
    const size_t size = entries_.size();
    mutex_unlock(&mutex_);
    return size;
}
