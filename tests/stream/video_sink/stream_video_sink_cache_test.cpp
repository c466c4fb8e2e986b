#include <QMutex>
#include <QWaitCondition>
#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "conversion_cases.h"
#include "test_frames.h"
#include "video_sink/stream_video_sink_cache_impl.h"

namespace {

using zucam::test::ConversionCase;
using zucam::test::FirstPixelOff;
using zucam::test::kConversionTolerance;
using zucam::test::MakeFrame;
using zucam::test::MakeUniformYuvFrame;
using zucam::test::PlaneBytes;

// Frames told apart by their pts.
AVFramePtr NumberedFrame(int64_t number, int width = 4, int height = 2) {
    AVFramePtr frame = MakeUniformYuvFrame(width, height, {uint8_t(20 + number), 128, 128});
    frame->pts = number;
    return frame;
}

class CountingCallback : public StreamVideoSinkCache::NewFrameCallback {
public:
    void OnNewFrame() override { ++calls; }
    std::atomic<int> calls{0};
};

class FrameCache : public testing::Test {
protected:
    std::unique_ptr<StreamVideoSinkCache> MakeCache(uint64_t maxFrames) {
        auto cache = StreamVideoSinkCacheImpl::Create(maxFrames);
        cache->enabled = true;
        return cache;
    }

    // The pts of the frames TakeFrame hands out until the cache is empty.
    static std::vector<int64_t> Drain(StreamVideoSinkCache* cache) {
        std::vector<int64_t> numbers;
        while (AVFrame* taken = cache->TakeFrame()) {
            numbers.push_back(taken->pts);
            av_frame_free(&taken);
        }
        return numbers;
    }
};

TEST_F(FrameCache, KeepsTheNewestFramesUpToTheMaximum) {
    const auto single = MakeCache(1);
    for (int64_t n = 1; n <= 3; ++n) single->Push(NumberedFrame(n).get());
    AVFramePtr front(single->CloneFront());
    ASSERT_TRUE(front);
    EXPECT_EQ(front->pts, 3);
    EXPECT_EQ(Drain(single.get()), std::vector<int64_t>{3});
    EXPECT_EQ(single->TakeFrame(), nullptr);
    EXPECT_EQ(single->CloneFront(), nullptr);

    const auto pair = MakeCache(2);
    for (int64_t n = 1; n <= 5; ++n) pair->Push(NumberedFrame(n).get());
    EXPECT_EQ(Drain(pair.get()), (std::vector<int64_t>{4, 5}));
}

// The queue holds its own references: the pusher may free its frame.
TEST_F(FrameCache, QueuedFramesOutliveThePushedOnes) {
    const auto cache = MakeCache(2);
    {
        const AVFramePtr pushed = zucam::test::MakePatternFrame(5, 3, 9);
        cache->Push(pushed.get());
    }
    AVFramePtr taken(cache->TakeFrame());
    ASSERT_TRUE(taken);
    const AVFramePtr expected = zucam::test::MakePatternFrame(5, 3, 9);
    for (int plane = 0; plane < 3; ++plane) EXPECT_EQ(PlaneBytes(*taken, plane), PlaneBytes(*expected, plane));
}

TEST_F(FrameCache, CloneFrontLeavesTheFrameQueued) {
    const auto cache = MakeCache(3);
    cache->Push(NumberedFrame(1).get());
    cache->Push(NumberedFrame(2).get());
    AVFramePtr clone(cache->CloneFront());
    ASSERT_TRUE(clone);
    EXPECT_EQ(clone->pts, 1);
    EXPECT_EQ(Drain(cache.get()), (std::vector<int64_t>{1, 2}));
}

TEST_F(FrameCache, ClearEmptiesTheQueue) {
    const auto cache = MakeCache(3);
    for (int64_t n = 1; n <= 3; ++n) cache->Push(NumberedFrame(n).get());
    cache->Clear();
    EXPECT_EQ(cache->TakeFrame(), nullptr);
    cache->Push(NumberedFrame(4).get());
    EXPECT_EQ(Drain(cache.get()), std::vector<int64_t>{4});
    // Frames still queued at destruction are freed (LeakSanitizer checks).
    cache->Push(NumberedFrame(5).get());
}

// While disabled, a black frame of the pushed size stands in for the
// picture, and the recorder is still told.
TEST_F(FrameCache, DisabledCacheQueuesBlackFramesOfThePushedSize) {
    const auto cache = MakeCache(2);
    cache->enabled = false;
    CountingCallback callback;
    cache->SetNewFrameCallback(&callback);
    for (const QSize size : {QSize(1280, 720), QSize(5, 3)}) {
        cache->Push(MakeUniformYuvFrame(size.width(), size.height(), {200, 50, 60}).get());
    }
    EXPECT_EQ(callback.calls, 2);
    for (const QSize size : {QSize(1280, 720), QSize(5, 3)}) {
        AVFramePtr taken(cache->TakeFrame());
        ASSERT_TRUE(taken);
        EXPECT_EQ(QSize(taken->width, taken->height), size);
        EXPECT_EQ(taken->format, AV_PIX_FMT_YUV420P);
        const uint8_t expected[3] = {0, 128, 128};
        for (int plane = 0; plane < 3; ++plane) {
            const std::vector<uint8_t> bytes = PlaneBytes(*taken, plane);
            EXPECT_EQ(bytes, std::vector<uint8_t>(bytes.size(), expected[plane])) << "plane " << plane;
        }
    }
    cache->ClearNewFrameCallback();
}

TEST_F(FrameCache, IgnoresNullAndOtherFormats) {
    const auto cache = MakeCache(2);
    CountingCallback callback;
    cache->SetNewFrameCallback(&callback);
    cache->Push(nullptr);
    const AVFramePtr nv12 = MakeFrame(AV_PIX_FMT_NV12, 4, 2);
    cache->Push(nv12.get());
    cache->SetFrame(nv12.get());
    cache->enabled = false;
    cache->Push(nv12.get());
    EXPECT_EQ(cache->TakeFrame(), nullptr);
    EXPECT_EQ(callback.calls, 0);
    cache->ClearNewFrameCallback();
}

TEST_F(FrameCache, CallbackRunsOncePerQueuedFrameUntilCleared) {
    const auto cache = MakeCache(1);
    CountingCallback callback;
    cache->SetNewFrameCallback(&callback);
    for (int64_t n = 1; n <= 4; ++n) cache->Push(NumberedFrame(n).get());
    EXPECT_EQ(callback.calls, 4);
    cache->ClearNewFrameCallback();
    cache->Push(NumberedFrame(5).get());
    EXPECT_EQ(callback.calls, 4);
}

// The recorder's callback takes the frame it is told about; it runs with no
// queue lock held, or this would deadlock.
TEST_F(FrameCache, CallbackMayTakeTheFrame) {
    struct TakingCallback : StreamVideoSinkCache::NewFrameCallback {
        void OnNewFrame() override {
            AVFrame* frame = cache->TakeFrame();
            if (frame != nullptr) taken.push_back(frame->pts);
            av_frame_free(&frame);
        }
        StreamVideoSinkCache* cache = nullptr;
        std::vector<int64_t> taken;
    };
    const auto cache = MakeCache(2);
    TakingCallback callback;
    callback.cache = cache.get();
    cache->SetNewFrameCallback(&callback);

    std::promise<void> pushed;
    std::future<void> done = pushed.get_future();
    std::thread producer([&] {
        for (int64_t n = 1; n <= 3; ++n) cache->Push(NumberedFrame(n).get());
        pushed.set_value();
    });
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "Push did not return: the callback ran under the queue lock";
        std::abort();
    }
    producer.join();
    EXPECT_EQ(callback.taken, (std::vector<int64_t>{1, 2, 3}));
    cache->ClearNewFrameCallback();
}

// Clearing the callback waits for a running OnNewFrame, so the recorder may
// free its callback right after.
TEST_F(FrameCache, ClearingTheCallbackWaitsForARunningCall) {
    struct BlockingCallback : StreamVideoSinkCache::NewFrameCallback {
        void OnNewFrame() override {
            QMutexLocker lock(&mutex);
            entered = true;
            changed.wakeAll();
            while (!release) changed.wait(&mutex);
        }
        QMutex mutex;  // guards entered and release
        QWaitCondition changed;
        bool entered = false;
        bool release = false;
    };
    const auto cache = MakeCache(1);
    BlockingCallback callback;
    cache->SetNewFrameCallback(&callback);
    std::thread producer([&] { cache->Push(NumberedFrame(1).get()); });
    {
        QMutexLocker lock(&callback.mutex);
        while (!callback.entered) callback.changed.wait(&callback.mutex);
    }
    std::atomic<bool> cleared{false};
    std::thread clearer([&] {
        cache->ClearNewFrameCallback();
        cleared = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(cleared) << "ClearNewFrameCallback returned while OnNewFrame ran";
    {
        QMutexLocker lock(&callback.mutex);
        callback.release = true;
        callback.changed.wakeAll();
    }
    producer.join();
    clearer.join();
    EXPECT_TRUE(cleared);
}

class FrameCacheScreenshot : public FrameCache, public testing::WithParamInterface<ConversionCase> {};

TEST_P(FrameCacheScreenshot, GivesExactRgbaOfTheOldestFrame) {
    const ConversionCase& c = GetParam();
    const auto cache = MakeCache(2);
    cache->Push(MakeUniformYuvFrame(c.width, c.height, {uint8_t(c.y), uint8_t(c.u), uint8_t(c.v)}, c.range, c.space)
                    .get());
    cache->Push(MakeUniformYuvFrame(c.width + 2, c.height, {128, 10, 10}).get());
    const QImage screenshot = cache->Screenshot();
    ASSERT_EQ(screenshot.size(), QSize(c.width, c.height));
    EXPECT_EQ(screenshot.format(), QImage::Format_RGBA8888);
    EXPECT_EQ(FirstPixelOff(screenshot, c.r, c.g, c.b, kConversionTolerance), "");
    // The screenshot leaves the queue as it was.
    AVFramePtr front(cache->TakeFrame());
    ASSERT_TRUE(front);
    EXPECT_EQ(front->width, c.width);
}

INSTANTIATE_TEST_SUITE_P(RangesAndSpaces, FrameCacheScreenshot, testing::ValuesIn(zucam::test::kConversionCases),
                         zucam::test::ConversionCaseName);

TEST_F(FrameCache, ScreenshotOfAnEmptyCacheIsNull) {
    EXPECT_TRUE(MakeCache(1)->Screenshot().isNull());
}

}  // namespace
