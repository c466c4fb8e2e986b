// One producer thread pushes against consumers on other threads, for about
// half a second each: nothing may crash (ASan, UBSan) and no consumer may see
// a mixture of two pictures. Every pushed picture is uniform, so every
// image or frame read must be uniform too.
#include <QImage>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "video_sink/camera_queue.h"
#include "test_frames.h"
#include "video_sink/stream_render_device_impl.h"
#include "video_sink/stream_video_sink_cache_impl.h"
#include "video_sink/stream_video_sink_sw_impl.h"

namespace {

using zucam::test::IsUniform;
using zucam::test::MakeUniformYuvFrame;
using zucam::test::PlaneBytes;

constexpr int kWidth = 64;
constexpr int kHeight = 36;
constexpr auto kRunTime = std::chrono::milliseconds(500);
constexpr int kMinimumReads = 20;

// Uniform full-range greys 10, 20, ... and their frame numbers in pts.
std::vector<AVFramePtr> MakeGreys() {
    std::vector<AVFramePtr> frames;
    for (int i = 0; i < 24; ++i) {
        frames.push_back(MakeUniformYuvFrame(kWidth, kHeight, {uint8_t(10 * (i + 1)), 128, 128}, AVCOL_RANGE_JPEG));
    }
    return frames;
}

// Runs produce(i) for i = 0, 1, ... on a thread of its own while consume()
// runs here, until the run time is over and consume has run often enough.
template <typename Produce, typename Consume>
void RunAgainstEachOther(Produce produce, Consume consume) {
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        for (int64_t i = 0; !stop; ++i) produce(i);
    });
    const auto end = std::chrono::steady_clock::now() + kRunTime;
    int reads = 0;
    while (std::chrono::steady_clock::now() < end || reads < kMinimumReads) {
        consume();
        ++reads;
    }
    stop = true;
    producer.join();
}

bool IsUniformBytes(const std::vector<uint8_t>& bytes) {
    for (const uint8_t byte : bytes) {
        if (byte != bytes.front()) return false;
    }
    return !bytes.empty();
}

TEST(SinkThreads, SoftwareSinkImagesAreNeverTorn) {
    const std::vector<AVFramePtr> greys = MakeGreys();
    const auto sink = StreamVideoSinkSwImpl::Create();
    sink->enabled = true;
    std::atomic<bool> stopBlack{false};
    // ShowBlack may come from yet another thread.
    std::thread blanker([&] {
        while (!stopBlack) {
            sink->ShowBlack();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    int torn = 0;
    int seen = 0;
    RunAgainstEachOther([&](int64_t i) { sink->Push(greys[i % greys.size()].get()); },
                        [&] {
                            const QImage image = sink->GetImage();
                            if (image.isNull()) return;
                            ++seen;
                            if (!IsUniform(image)) ++torn;
                        });
    stopBlack = true;
    blanker.join();
    EXPECT_GT(seen, 0);
    EXPECT_EQ(torn, 0) << "of " << seen << " images";
}

TEST(SinkThreads, CacheHandsOutFramesInOrder) {
    const std::vector<AVFramePtr> greys = MakeGreys();
    const auto cache = StreamVideoSinkCacheImpl::Create(2);
    cache->enabled = true;
    int64_t lastTaken = -1;
    int outOfOrder = 0;
    int tornScreenshots = 0;
    int taken = 0;
    RunAgainstEachOther(
        [&](int64_t i) {
            AVFrame* const frame = greys[i % greys.size()].get();
            frame->pts = i;
            cache->Push(frame);
        },
        [&] {
            if (AVFrame* frame = cache->TakeFrame()) {
                ++taken;
                if (frame->pts <= lastTaken || !IsUniformBytes(PlaneBytes(*frame, 0))) ++outOfOrder;
                lastTaken = frame->pts;
                av_frame_free(&frame);
            }
            AVFrame* clone = cache->CloneFront();
            av_frame_free(&clone);
            const QImage screenshot = cache->Screenshot();
            if (!screenshot.isNull() && !IsUniform(screenshot)) ++tornScreenshots;
        });
    EXPECT_GT(taken, 0);
    EXPECT_EQ(outOfOrder, 0) << "of " << taken << " frames";
    EXPECT_EQ(tornScreenshots, 0);
}

TEST(SinkThreads, RenderDeviceWritesWholePictures) {
    class CheckingQueue : public CameraQueue {
    public:
        void WriteFrame(const uint8_t* const planes[3], const int strides[3], int width, int height) override {
            ++writes;
            if (width != kWidth || height != kHeight ||
                !IsUniformBytes(PlaneBytes(planes[0], strides[0], width, height)) ||
                !IsUniformBytes(PlaneBytes(planes[1], strides[1], (width + 1) / 2, (height + 1) / 2))) {
                ++bad;
            }
        }
        int writes = 0;
        int bad = 0;
    };
    const std::vector<AVFramePtr> greys = MakeGreys();
    const auto device = StreamRenderDeviceImpl::Create();
    device->enabled = true;
    CheckingQueue queue;
    RunAgainstEachOther(
        [&](int64_t i) {
            device->Push(greys[i % greys.size()].get());
            if (i % 16 == 0) device->ShowBlack();
        },
        [&] { device->WriteTo(&queue); });
    EXPECT_GT(queue.writes, 0);
    EXPECT_EQ(queue.bad, 0) << "of " << queue.writes << " writes";
}

}  // namespace
