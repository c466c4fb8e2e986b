#include <gtest/gtest.h>
#include <vector>

#include "video_sink/camera_queue.h"
#include "test_frames.h"
#include "video_sink/stream_render_device_impl.h"

namespace {

using zucam::test::MakeFrame;
using zucam::test::MakePatternFrame;
using zucam::test::PlaneBytes;

// Copies what it is given: the planes are borrowed only for the call.
class RecordingCameraQueue : public CameraQueue {
public:
    struct Write {
        const uint8_t* planes[3];
        int strides[3];
        int width;
        int height;
        std::vector<uint8_t> bytes[3];  // visible bytes of each plane
    };

    void WriteFrame(const uint8_t* const planes[3], const int strides[3], int width, int height) override {
        Write write{};
        write.width = width;
        write.height = height;
        for (int plane = 0; plane < 3; ++plane) {
            write.planes[plane] = planes[plane];
            write.strides[plane] = strides[plane];
            const int planeWidth = plane == 0 ? width : (width + 1) / 2;
            const int rows = plane == 0 ? height : (height + 1) / 2;
            write.bytes[plane] = PlaneBytes(planes[plane], strides[plane], planeWidth, rows);
        }
        writes.push_back(std::move(write));
    }
    bool RepublishLastFrame() override {
        if (!canRepublish) return false;
        ++republished;
        return true;
    }

    std::vector<Write> writes;
    bool canRepublish = false;
    int republished = 0;
};

class RenderDevice : public testing::Test {
protected:
    RenderDevice() : device_(StreamRenderDeviceImpl::Create()) { device_->enabled = true; }

    void ExpectWrote(const RecordingCameraQueue::Write& write, const AVFrame& frame) {
        EXPECT_EQ(write.width, frame.width);
        EXPECT_EQ(write.height, frame.height);
        for (int plane = 0; plane < 3; ++plane) {
            EXPECT_EQ(write.strides[plane], frame.linesize[plane]) << "plane " << plane;
            EXPECT_EQ(write.bytes[plane], PlaneBytes(frame, plane)) << "plane " << plane;
        }
    }

    std::unique_ptr<StreamRenderDevice> device_;
    RecordingCameraQueue queue_;
};

// The latest frame goes out, by reference (the pusher's planes, no copy),
// and again on every WriteTo until a newer one comes.
TEST_F(RenderDevice, WritesTheLatestFrameOnEveryCall) {
    const AVFramePtr first = MakePatternFrame(5, 3, 1);
    const AVFramePtr second = MakePatternFrame(5, 3, 2);
    device_->Push(first.get());
    device_->Push(second.get());
    device_->WriteTo(&queue_);
    device_->WriteTo(&queue_);
    ASSERT_EQ(queue_.writes.size(), 2u);
    for (const auto& write : queue_.writes) {
        ExpectWrote(write, *second);
        EXPECT_EQ(write.planes[0], second->data[0]);
    }
}

// The heartbeat of an unchanged picture is an announcement where the queue
// still holds it; a new picture, or another queue, gets a real write.
TEST_F(RenderDevice, AnUnchangedPictureIsRepublishedNotCopied) {
    queue_.canRepublish = true;
    const AVFramePtr first = MakePatternFrame(6, 4, 1);
    device_->Push(first.get());
    device_->WriteTo(&queue_);
    device_->WriteTo(&queue_);
    device_->WriteTo(&queue_);
    ASSERT_EQ(queue_.writes.size(), 1u);
    EXPECT_EQ(queue_.republished, 2);

    const AVFramePtr second = MakePatternFrame(6, 4, 2);
    device_->Push(second.get());
    device_->WriteTo(&queue_);
    ASSERT_EQ(queue_.writes.size(), 2u);
    ExpectWrote(queue_.writes[1], *second);

    // The same bytes pushed again are a new picture: written, not assumed.
    device_->Push(second.get());
    device_->WriteTo(&queue_);
    EXPECT_EQ(queue_.writes.size(), 3u);

    RecordingCameraQueue other;
    other.canRepublish = true;
    device_->WriteTo(&other);
    EXPECT_EQ(other.writes.size(), 1u);
    EXPECT_EQ(other.republished, 0);
}

TEST_F(RenderDevice, KeepsItsPictureAfterThePusherFreesTheFrame) {
    {
        const AVFramePtr pushed = MakePatternFrame(6, 4, 3);
        device_->Push(pushed.get());
    }
    device_->WriteTo(&queue_);
    ASSERT_EQ(queue_.writes.size(), 1u);
    ExpectWrote(queue_.writes[0], *MakePatternFrame(6, 4, 3));
}

TEST_F(RenderDevice, WritesNothingWithoutAUsablePicture) {
    device_->WriteTo(&queue_);
    device_->WriteTo(nullptr);

    // Planes present but an empty width or height.
    for (const auto& [width, height] : {std::pair{0, 2}, std::pair{4, 0}}) {
        AVFramePtr empty = MakePatternFrame(4, 2);
        empty->width = width;
        empty->height = height;
        device_->Push(empty.get());
        device_->WriteTo(&queue_);
    }
    EXPECT_TRUE(queue_.writes.empty());

    device_->Push(MakePatternFrame(4, 2).get());
    device_->WriteTo(nullptr);  // no queue: nothing to write to, no crash
}

// Disabled, other formats and null frames change nothing: the earlier
// picture stays.
TEST_F(RenderDevice, IgnoresDisabledPushesAndOtherFormats) {
    const AVFramePtr kept = MakePatternFrame(5, 3, 4);
    device_->Push(kept.get());

    device_->enabled = false;
    device_->Push(MakePatternFrame(5, 3, 5).get());
    device_->enabled = true;
    const AVFramePtr nv12 = MakeFrame(AV_PIX_FMT_NV12, 6, 4);
    device_->Push(nv12.get());
    device_->SetFrame(nv12.get());
    device_->Push(nullptr);

    device_->WriteTo(&queue_);
    ASSERT_EQ(queue_.writes.size(), 1u);
    ExpectWrote(queue_.writes[0], *kept);
}

TEST_F(RenderDevice, ShowBlackReplacesThePictureByBlackOfItsSize) {
    device_->ShowBlack();
    device_->WriteTo(&queue_);
    EXPECT_TRUE(queue_.writes.empty());

    device_->Push(MakePatternFrame(5, 3).get());
    device_->ShowBlack();
    device_->WriteTo(&queue_);
    ASSERT_EQ(queue_.writes.size(), 1u);
    const auto& write = queue_.writes[0];
    EXPECT_EQ(write.width, 5);
    EXPECT_EQ(write.height, 3);
    EXPECT_EQ(write.bytes[0], std::vector<uint8_t>(15, 0));
    EXPECT_EQ(write.bytes[1], std::vector<uint8_t>(6, 128));
    EXPECT_EQ(write.bytes[2], std::vector<uint8_t>(6, 128));
}

}  // namespace
