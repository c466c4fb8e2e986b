// The sinks that hand frames on unchanged take YUV420P only: a frame of
// another format changes nothing and is reported once per sink, not once per
// frame.
#include <functional>
#include <gtest/gtest.h>
#include <memory>

#include "video_sink/camera_queue.h"
#include "support/tether_environment.h"
#include "test_frames.h"
#include "video_sink/stream_render_device_impl.h"
#include "video_sink/stream_video_sink_cache_impl.h"

namespace {

class CountingCameraQueue : public CameraQueue {
public:
    void WriteFrame(const uint8_t* const[3], const int[3], int, int) override { ++writes; }
    int writes = 0;
};

struct RejectionCase {
    const char* name;
    const char* logText;
    std::function<std::unique_ptr<StreamVideoSink>()> make;
    // Whether the sink holds a picture to hand on.
    std::function<bool(StreamVideoSink*)> holdsPicture;
};

void PrintTo(const RejectionCase& c, std::ostream* out) { *out << c.name; }

class FormatRejection : public testing::TestWithParam<RejectionCase> {};

TEST_P(FormatRejection, DropsOtherFormatsWithOneLogLine) {
    zucam::test::TetherEnvironment tether;
    const RejectionCase& c = GetParam();
    const std::unique_ptr<StreamVideoSink> sink = c.make();
    sink->enabled = true;
    const AVFramePtr nv12 = zucam::test::MakeFrame(AV_PIX_FMT_NV12, 6, 4);
    const AVFramePtr rgba = zucam::test::MakeFrame(AV_PIX_FMT_RGBA, 6, 4);
    for (int i = 0; i < 3; ++i) {
        sink->Push(nv12.get());
        sink->Push(rgba.get());
    }
    EXPECT_FALSE(c.holdsPicture(sink.get()));
    EXPECT_EQ(zucam::test::CountInLog(c.logText), 1);

    sink->Push(zucam::test::MakePatternFrame(6, 4).get());
    EXPECT_TRUE(c.holdsPicture(sink.get()));
}

INSTANTIATE_TEST_SUITE_P(
    Sinks, FormatRejection,
    testing::Values(
        RejectionCase{"Cache", "render cache: dropping frames of pixel format nv12",
                      [] { return std::unique_ptr<StreamVideoSink>(StreamVideoSinkCacheImpl::Create(4)); },
                      [](StreamVideoSink* sink) {
                          AVFramePtr front(static_cast<StreamVideoSinkCache*>(sink)->CloneFront());
                          return front != nullptr;
                      }},
        RejectionCase{"RenderDevice", "render device: dropping frames of pixel format nv12",
                      [] { return std::unique_ptr<StreamVideoSink>(StreamRenderDeviceImpl::Create()); },
                      [](StreamVideoSink* sink) {
                          CountingCameraQueue queue;
                          static_cast<StreamRenderDevice*>(sink)->WriteTo(&queue);
                          return queue.writes == 1;
                      }}),
    [](const testing::TestParamInfo<RejectionCase>& testCase) { return std::string(testCase.param.name); });

}  // namespace
