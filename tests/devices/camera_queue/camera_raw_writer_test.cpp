// CameraRawWriter's thread against the queue it feeds: a pushed picture is
// written at once; the latest picture is written again every period while
// enabled, and only then when no picture comes (the heartbeat); a disable publishes "stopped"
// and stops the counters; a new connection never shows the last one's
// picture; a second instance runs without a queue.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>
#include <functional>
#include <thread>

#include "devices/camera_queue/camera_queue_reader.h"
#include "devices/camera_queue/camera_raw_writer.h"
#include "raw_queue_view.h"
#include "scoped_queue_name.h"
#include "ffmpeg_handles.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {

constexpr size_t kFrameCounter = 0;
constexpr size_t kReadyIndex = 4;
constexpr size_t kState = 12;

// Generous: the writer needs 20 ms a frame, sanitizer builds under load more.
bool WaitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A full-range YUV420P picture with the same value in all of Y, and in U and V.
AVFramePtr MakePicture(const uint8_t y, const uint8_t chroma) {
    AVFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = 64;
    frame->height = 48;
    frame->color_range = AVCOL_RANGE_JPEG;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? 48 : 24;
        std::memset(frame->data[plane], plane == 0 ? y : chroma, static_cast<size_t>(frame->linesize[plane]) * rows);
    }
    return frame;
}

struct FirstBytes {
    uint8_t y = 0;
    uint8_t u = 0;
    uint32_t width = 0;
};

void TakeFirstBytes(const uint8_t* const planes[3], const uint32_t*, const uint32_t width, uint32_t, void* user) {
    auto* const bytes = static_cast<FirstBytes*>(user);
    bytes->y = planes[0][0];
    bytes->u = planes[1][0];
    bytes->width = width;
}

class CameraRawWriterTest : public testing::Test {
protected:
    void SetUp() override {
        writer_ = std::make_unique<CameraRawWriter>(name_.name());
        ASSERT_TRUE(writer_->hasQueue());
        view_ = RawQueueView::Open(name_.name());
        ASSERT_TRUE(view_);
        reader_ = CameraQueueReader::Open(name_.name());
        ASSERT_TRUE(reader_);
    }
    uint32_t Counter() const { return view_->Word(kFrameCounter); }
    uint32_t ReadyIndex() const { return view_->Word(kReadyIndex); }
    uint32_t State() const { return view_->Word(kState); }
    // Waits until the queue holds a frame whose first Y byte is y.
    bool WaitForPicture(const uint8_t y, const uint8_t u) {
        return WaitFor([&] {
            FirstBytes bytes;
            return reader_->ReadFrame(TakeFirstBytes, &bytes) && bytes.y == y && bytes.u == u && bytes.width == 64;
        });
    }
    void Push(const uint8_t y, const uint8_t chroma) {
        const AVFramePtr picture = MakePicture(y, chroma);
        ASSERT_TRUE(picture);
        writer_->renderDevice->Push(picture.get());
    }

    ScopedQueueName name_;
    std::unique_ptr<CameraRawWriter> writer_;
    std::unique_ptr<RawQueueView> view_;
    std::unique_ptr<CameraQueueReader> reader_;
};

TEST_F(CameraRawWriterTest, LatestPictureIsWrittenAgainEveryPeriodWhileEnabled) {
    EXPECT_EQ(State(), 0u);
    writer_->EnableOutput();
    Push(200, 90);
    ASSERT_TRUE(WaitForPicture(200, 90));
    EXPECT_EQ(State(), 2u);
    // No new picture: the counters still advance, with the same content.
    const uint32_t counter = Counter();
    ASSERT_TRUE(WaitFor([&] { return Counter() >= counter + 3; }));
    EXPECT_TRUE(WaitForPicture(200, 90));
}

TEST_F(CameraRawWriterTest, DisableStopsTheQueueAndEnableResumesIt) {
    writer_->EnableOutput();
    Push(200, 90);
    ASSERT_TRUE(WaitForPicture(200, 90));

    writer_->DisableOutput();
    ASSERT_TRUE(WaitFor([&] { return State() == 3u; }));
    const uint32_t stopped = Counter();
    std::this_thread::sleep_for(std::chrono::milliseconds(5 * CameraRawWriter::kPeriodMs));
    EXPECT_EQ(Counter(), stopped);
    EXPECT_EQ(State(), 3u);

    writer_->EnableOutput();
    EXPECT_TRUE(WaitFor([&] { return Counter() > stopped && State() == 2u; }));
}

TEST_F(CameraRawWriterTest, NewConnectionDoesNotShowThePreviousPicture) {
    writer_->EnableOutput();
    Push(200, 90);
    ASSERT_TRUE(WaitForPicture(200, 90));
    writer_->DisableOutput();
    ASSERT_TRUE(WaitFor([&] { return State() == 3u; }));

    // Pictures pushed while disabled are not kept.
    Push(50, 60);
    writer_->EnableOutput();
    const uint32_t resumed = Counter();
    ASSERT_TRUE(WaitFor([&] { return Counter() > resumed + 1; }));
    FirstBytes bytes;
    ASSERT_TRUE(reader_->ReadFrame(TakeFirstBytes, &bytes));
    EXPECT_EQ(bytes.y, 0u);  // black until the new connection's first picture
    EXPECT_EQ(bytes.u, 128u);

    Push(120, 140);
    EXPECT_TRUE(WaitForPicture(120, 140));
}

TEST_F(CameraRawWriterTest, SecondInstanceRunsWithoutAQueue) {
    writer_->EnableOutput();
    Push(200, 90);
    ASSERT_TRUE(WaitForPicture(200, 90));

    CameraRawWriter second(name_.name());
    EXPECT_FALSE(second.hasQueue());
    second.EnableOutput();
    const AVFramePtr other = MakePicture(10, 20);
    second.renderDevice->Push(other.get());
    std::this_thread::sleep_for(std::chrono::milliseconds(5 * CameraRawWriter::kPeriodMs));
    second.DisableOutput();
    // The first writer's queue shows only its own picture and stays published.
    EXPECT_TRUE(WaitForPicture(200, 90));
    EXPECT_EQ(State(), 2u);
}

// Each new picture is pushed right after a write, when the next heartbeat is
// a whole period away: it is in the queue long before that.
TEST_F(CameraRawWriterTest, APushedPictureIsWrittenAtOnce) {
    writer_->EnableOutput();
    Push(10, 90);
    ASSERT_TRUE(WaitForPicture(10, 90));
    std::vector<double> waits;
    for (uint8_t y = 20; y < 20 + 9 * 10; y += 10) {
        const uint32_t counter = Counter();
        ASSERT_TRUE(WaitFor([&] { return Counter() != counter; }));
        const auto pushed = std::chrono::steady_clock::now();
        Push(y, 90);
        ASSERT_TRUE(WaitForPicture(y, 90));
        waits.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - pushed).count());
    }
    std::sort(waits.begin(), waits.end());
    EXPECT_LT(waits[waits.size() / 2], CameraRawWriter::kPeriodMs / 2.0);
}

// A stalled source: the same picture again every period, no faster.
TEST_F(CameraRawWriterTest, HeartbeatEveryPeriodWithAStalledSource) {
    writer_->EnableOutput();
    Push(200, 90);
    ASSERT_TRUE(WaitForPicture(200, 90));
    // Publications as readers see them: changes of the ready index, watched
    // far more often than once a period.
    uint32_t readyIndex = ReadyIndex();
    int publications = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::milliseconds(25 * CameraRawWriter::kPeriodMs);
    while (std::chrono::steady_clock::now() < end) {
        const uint32_t now = ReadyIndex();
        if (now != readyIndex) ++publications;
        readyIndex = now;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    const double periods = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
                           CameraRawWriter::kPeriodMs;
    EXPECT_LE(publications, periods + 1);
    EXPECT_GE(publications, periods * 0.6);
    EXPECT_TRUE(WaitForPicture(200, 90));
    // The unchanged picture is announced again, not copied again: after the
    // first write it stays in its one slot.
    const uint32_t slot = ReadyIndex() % 3;
    for (int beat = 0; beat < 5; ++beat) {
        const uint32_t before = ReadyIndex();
        ASSERT_TRUE(WaitFor([&] { return ReadyIndex() != before; }));
        EXPECT_EQ(ReadyIndex() % 3, slot);
    }
}

TEST_F(CameraRawWriterTest, DestructionClosesTheQueue) {
    writer_->EnableOutput();
    Push(200, 90);
    ASSERT_TRUE(WaitForPicture(200, 90));
    writer_.reset();
    EXPECT_EQ(State(), 3u);
    EXPECT_FALSE(name_.Exists());
}

}  // namespace
