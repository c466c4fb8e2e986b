#include "recording_sink.h"

extern "C" {
#include <libavutil/frame.h>
}

#include "h264_test_stream.h"

namespace zucam::test {

namespace {

int Sample(const AVFrame& frame, int plane, int x, int y) { return frame.data[plane][y * frame.linesize[plane] + x]; }

}  // namespace

void RecordingSink::Push(AVFrame* frame) {
    RecordedFrame record;
    record.pushedAt = std::chrono::steady_clock::now();
    if (!countOnly_) {
        record.format = frame->format;
        record.width = frame->width;
        record.height = frame->height;
        record.colorRange = frame->color_range;
        record.colorSpace = frame->colorspace;
        if (frame->format == AV_PIX_FMT_YUV420P && frame->width >= 16 && frame->height >= 16) {
            const int w = frame->width;
            const int h = frame->height;
            record.upperLuma = Sample(*frame, 0, w / 2, h / 4);
            record.frameNumber = FrameNumberOfLuma(record.upperLuma);
            record.lowLuma = Sample(*frame, 0, w / 4, 3 * h / 4);
            record.highLuma = Sample(*frame, 0, 3 * w / 4, 3 * h / 4);
            record.chromaU = Sample(*frame, 1, w / 4, h / 4);
            record.chromaV = Sample(*frame, 2, w / 4, h / 4);
        }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    frames_.push_back(record);
    changed_.notify_all();
    if (holdNext_) {
        holdNext_ = false;
        held_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !held_; });
    }
}

void RecordingSink::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.clear();
}

std::vector<RecordedFrame> RecordingSink::frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

std::vector<int> RecordingSink::frameNumbers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int> numbers;
    for (const RecordedFrame& frame : frames_) numbers.push_back(frame.frameNumber);
    return numbers;
}

size_t RecordingSink::count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
}

bool RecordingSink::WaitForCount(size_t count, std::chrono::seconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

bool RecordingSink::WaitForFrameNumber(int frameNumber, std::chrono::seconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        for (const RecordedFrame& frame : frames_) {
            if (frame.frameNumber == frameNumber) return true;
        }
        return false;
    });
}

void RecordingSink::HoldNextPush() {
    std::lock_guard<std::mutex> lock(mutex_);
    holdNext_ = true;
}

bool RecordingSink::WaitUntilHeld(std::chrono::seconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return held_; });
}

void RecordingSink::Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    holdNext_ = false;
    held_ = false;
    changed_.notify_all();
}

}  // namespace zucam::test
