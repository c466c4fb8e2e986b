// CameraRawWriter's readers' margin, replayed on a manual clock: arrival
// traces of pictures (steady 30, 29.97 and 60 a second, bursts behind a key
// frame, a flood) are pushed at their exact times, the writer's thread acts
// at its own deadlines in between, and every change of the queue's header
// is looked at the instant it happens. For every write: the slot it goes to
// was last published (written or announced) at least 40 ms before, and it
// holds the newest picture pushed. No picture is held once its slot is out
// of its margin, the last picture of every trace is published, the queue
// never goes 20 ms without a publication (40 ms while a picture waits for
// its margin), and the thread never has a write refused.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "devices/camera_queue/camera_raw_writer.h"
#include "ffmpeg_handles.h"
#include "raw_queue_view.h"
#include "scoped_queue_name.h"
#include "vexo/gs_manual_clock.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {

using Nanos = GsClock::Nanos;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr size_t kFrameCounter = 0;
constexpr size_t kReadyIndex = 4;
constexpr Nanos kMargin = milliseconds(40);
constexpr Nanos kBeat = milliseconds(CameraRawWriter::kPeriodMs);

// Picture number n as Y = n % 256 and chroma = n / 256, on a 16 x 8 picture.
AVFramePtr MakeNumberedPicture(const int number) {
    AVFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = 16;
    frame->height = 8;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    std::memset(frame->data[0], number % 256, static_cast<size_t>(frame->linesize[0]) * 8);
    std::memset(frame->data[1], number / 256, static_cast<size_t>(frame->linesize[1]) * 4);
    std::memset(frame->data[2], number / 256, static_cast<size_t>(frame->linesize[2]) * 4);
    return frame;
}

struct TraceCase {
    const char* name;
    std::vector<Nanos> arrivals;  // increasing
    int published;                // pictures the margin lets through
};

void PrintTo(const TraceCase& trace, std::ostream* out) { *out << trace.name; }

std::vector<Nanos> Steady(const double fps, const int count, const Nanos start = Nanos(0)) {
    std::vector<Nanos> times;
    for (int k = 0; k < count; ++k) times.push_back(start + Nanos(static_cast<int64_t>(k * 1e9 / fps)));
    return times;
}

// 60 a second, with a key frame every second that holds the decoder up for
// stallUs: the pictures queued behind it come spacingUs apart, then the
// steady pace resumes.
std::vector<Nanos> KeyFrameBursts(const int seconds, const int64_t stallUs, const std::vector<int64_t>& spacingUs) {
    std::vector<Nanos> times;
    const Nanos period = Nanos(16'666'667);
    for (int second = 0; second < seconds; ++second) {
        const Nanos key = Nanos(static_cast<int64_t>(second) * 1'000'000'000) + period * 10;
        for (int k = 0; k < 60; ++k) {
            const Nanos due = Nanos(static_cast<int64_t>(second) * 1'000'000'000) + period * k;
            Nanos at = due;
            if (due >= key && due < key + microseconds(stallUs)) {
                // Queued behind the key frame: it leaves with the burst.
                int64_t offset = stallUs;
                const int index = static_cast<int>((due - key) / period);
                for (int i = 0; i < index && i < static_cast<int>(spacingUs.size()); ++i) offset += spacingUs[i];
                at = key + microseconds(offset);
            }
            if (!times.empty() && at <= times.back()) at = times.back() + microseconds(100);
            times.push_back(at);
        }
    }
    return times;
}

// 30 a second with three pictures bunched a few ms apart now and then.
std::vector<Nanos> SteadyWithBunches(const int count) {
    std::vector<Nanos> times = Steady(30, count);
    for (size_t k = 5; k + 2 < times.size(); k += 10) {
        times[k + 1] = times[k] + milliseconds(2);
        times[k + 2] = times[k] + milliseconds(5);
    }
    return times;
}

class CameraRawWriterMarginTest : public testing::TestWithParam<TraceCase> {
protected:
    void SetUp() override {
        auto clock = std::make_unique<GsManualClock>();
        clock_ = clock.get();
        clock_->AdvanceTo(milliseconds(1000));  // time 0 of the traces is 1 s in
        writer_ = std::make_unique<CameraRawWriter>(name_.name(), std::move(clock));
        ASSERT_TRUE(writer_->hasQueue());
        view_ = RawQueueView::Open(name_.name());
        ASSERT_TRUE(view_);
        writer_->EnableOutput();
        clock_->WaitForSleeperAfterWake();
        Observe();
    }

    Nanos Now() const { return clock_->Now(); }

    // The picture a slot holds.
    int SlotPicture(const uint32_t slot) const {
        const uint8_t* const data = view_->bytes() + view_->Word(28 + 4 * slot);
        const uint32_t lineY = view_->Word(view_->Word(16 + 4 * slot) + 8);
        return data[0] + 256 * data[8 * lineY];
    }

    // Looks at the header after the writer's thread acted at Now().
    void Observe() {
        const uint32_t counter = view_->Word(kFrameCounter);
        const uint32_t ready = view_->Word(kReadyIndex);
        const Nanos now = Now();
        // Whether the newest picture waited for its margin until now.
        const bool waited = pushedAny_ && !newestPublished_;
        if (counter != counter_ || ready != ready_) {
            ASSERT_EQ(ready, counter) << "a write left unfinished at " << Ms(now);
            const uint32_t slot = ready % 3;
            if (counter == counter_ + 1) {
                // A write: its slot was out of its margin when it began.
                if (published_[slot]) {
                    EXPECT_GE(now - publishedAt_[slot], kMargin)
                        << "slot " << slot << " written " << Ms(now - publishedAt_[slot]) << " ms after its publication";
                }
                const int picture = SlotPicture(slot);
                EXPECT_EQ(picture, newest_) << "a write at " << Ms(now) << " is not of the newest picture";
                if (picture == newest_ && !newestPublished_) {
                    newestPublished_ = true;
                    ++picturesPublished_;
                }
            } else {
                ASSERT_EQ(counter, counter_ + 3) << "more than one publication at " << Ms(now);
                EXPECT_TRUE(anyPublished_) << "an announcement before any write";
            }
            published_[slot] = true;
            publishedAt_[slot] = now;
            if (anyPublished_) ExpectHeartbeat(now, waited, "before");
            anyPublished_ = true;
            lastPublication_ = now;
            counter_ = counter;
            ready_ = ready;
        } else if (anyPublished_) {
            ExpectHeartbeat(now, waited, "at");
        }
        // The newest picture waits only for its slot's margin.
        const uint32_t next = (counter + 1) % 3;
        if (pushedAny_ && !newestPublished_) {
            EXPECT_TRUE(published_[next] && now - publishedAt_[next] < kMargin)
                << "picture " << newest_ << " still waits at " << Ms(now) << " with slot " << next << " free";
        }
    }

    // 20 ms between publications; up to the margin while the newest
    // picture waits for it.
    void ExpectHeartbeat(const Nanos now, const bool waited, const char* when) const {
        EXPECT_LE(now - lastPublication_, waited ? kMargin : kBeat) << "no heartbeat " << when << " " << Ms(now);
    }

    // Lets the writer act at each of its deadlines up to until.
    void RunUntil(const Nanos until) {
        for (;;) {
            const Nanos deadline = clock_->WaitForSleeper();
            if (deadline > until) break;
            clock_->AdvanceTo(deadline);
            clock_->WaitForSleeper();
            Observe();
            if (testing::Test::HasFatalFailure()) return;
        }
        clock_->AdvanceTo(until);
    }

    void Push(const int number) {
        const AVFramePtr picture = MakeNumberedPicture(number);
        ASSERT_TRUE(picture);
        newest_ = number;
        newestPublished_ = false;
        pushedAny_ = true;
        writer_->renderDevice->Push(picture.get());
        clock_->WaitForSleeperAfterWake();
        Observe();
    }

    static double Ms(const Nanos time) { return std::chrono::duration<double, std::milli>(time).count(); }

    ScopedQueueName name_;
    GsManualClock* clock_ = nullptr;  // owned by the writer
    std::unique_ptr<CameraRawWriter> writer_;
    std::unique_ptr<RawQueueView> view_;

    uint32_t counter_ = 0;
    uint32_t ready_ = 0;
    bool published_[3] = {};
    Nanos publishedAt_[3] = {};
    bool anyPublished_ = false;
    Nanos lastPublication_{0};
    int newest_ = -1;
    bool newestPublished_ = false;
    bool pushedAny_ = false;
    int picturesPublished_ = 0;
};

TEST_P(CameraRawWriterMarginTest, EveryWriteKeepsTheMarginAndTheNewestPictureFollows) {
    const TraceCase& trace = GetParam();
    const Nanos origin = Now();
    int number = 0;
    for (const Nanos arrival : trace.arrivals) {
        RunUntil(origin + arrival);
        if (HasFatalFailure()) return;
        Push(number++);
        if (HasFatalFailure()) return;
    }
    // The last picture of the trace comes out, and the heartbeat goes on.
    RunUntil(Now() + milliseconds(200));
    EXPECT_TRUE(newestPublished_) << "the last picture was never published";
    EXPECT_EQ(picturesPublished_, trace.published) << "of " << trace.arrivals.size();
    EXPECT_EQ(writer_->writesHeldBack(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Traces, CameraRawWriterMarginTest,
    testing::Values(TraceCase{"Steady30", Steady(30, 90), 90}, TraceCase{"Steady2997", Steady(29.97, 90), 90},
                    TraceCase{"Steady60", Steady(60, 180), 180},
                    TraceCase{"ThreeBunchedAt30", SteadyWithBunches(90), 90},
                    // 1440p60: four pictures 2.5 to 6.6 ms apart behind a 60 ms key frame.
                    TraceCase{"KeyFrameBurstsOfFour", KeyFrameBursts(3, 60000, {2500, 6600, 4000}), 174},
                    TraceCase{"KeyFrameBurstsOfThree", KeyFrameBursts(3, 40000, {3000, 3000}), 177},
                    TraceCase{"Flood200PerSecond", Steady(200, 200), 76}),
    [](const testing::TestParamInfo<TraceCase>& param) { return std::string(param.param.name); });

}  // namespace
