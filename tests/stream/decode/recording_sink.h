// A video sink for the decoder tests: records what each pushed frame looks
// like (format, size, range tag, the pattern values of h264_test_stream.h)
// and when it came, and can hold the decoder thread inside Push so that a
// test controls what is still queued.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "video_sink/stream_video_sink.h"

namespace zucam::test {

struct RecordedFrame {
    int format = -1;
    int width = 0;
    int height = 0;
    int colorRange = -1;
    int colorSpace = -1;
    int frameNumber = -1;  // read from the upper half's luma
    int upperLuma = -1;
    int lowLuma = -1;      // lower left
    int highLuma = -1;     // lower right
    int chromaU = -1;
    int chromaV = -1;
    std::chrono::steady_clock::time_point pushedAt;
};

class RecordingSink : public StreamVideoSink {
public:
    void Push(AVFrame* frame) override;
    void ShowBlack() override {}
    void SetFrame(AVFrame*) override {}

    // Forgets the frames seen so far (between decoders).
    void Clear();
    std::vector<RecordedFrame> frames() const;
    std::vector<int> frameNumbers() const;
    size_t count() const;
    // False when the time runs out first.
    bool WaitForCount(size_t count, std::chrono::seconds timeout = std::chrono::seconds(30)) const;
    bool WaitForFrameNumber(int frameNumber, std::chrono::seconds timeout = std::chrono::seconds(30)) const;

    // The next Push records its frame, then waits inside until Release.
    void HoldNextPush();
    bool WaitUntilHeld(std::chrono::seconds timeout = std::chrono::seconds(30)) const;
    void Release();

    // Frames are only counted, not inspected (benchmarks).
    void set_countOnly(bool countOnly) { countOnly_ = countOnly; }

private:
    mutable std::mutex mutex_;  // guards everything below
    mutable std::condition_variable changed_;
    std::vector<RecordedFrame> frames_;
    bool holdNext_ = false;
    bool held_ = false;
    bool countOnly_ = false;
};

}  // namespace zucam::test
