// Encodes a synthetic, deterministic picture sequence to H.264 the way the
// phone sends it: libx264, ultrafast/zerolatency, no B-frames, an IDR exactly
// every gop frames (no scene cuts) with SPS/PPS in-band before each, Annex-B
// start codes, one access unit out for each frame in.
//
// The picture: 8 vertical colour bars (75% bars, BT.601 limited values)
// across the frame, and a grey test region in the middle whose luma steps by
// 8 each frame (TestRegionLuma), so a decoder test can tell which frame it
// got and whether its levels survived. The sample values are the same in
// both range tags; fullRange only changes what the stream says about them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace zucam::phone {

enum class ColourMatrix { Unspecified, Bt601, Bt709 };

struct EncoderSettings {
    int width = 320;   // any even size (4:2:0); no need for multiples of 16
    int height = 240;
    int fps = 30;
    int gop = 30;      // frames from one IDR to the next
    bool fullRange = false;  // tag as full (JPEG) range instead of limited
    ColourMatrix matrix = ColourMatrix::Bt601;
};

struct AccessUnit {
    std::string bytes;  // Annex-B: start codes, then NAL units
    bool keyFrame = false;
    int64_t pts = 0;    // frame number, in 1/fps units
};

struct Yuv {
    int y = 0;
    int u = 0;
    int v = 0;
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

class TestPatternEncoder {
public:
    static constexpr int kBarCount = 8;

    explicit TestPatternEncoder(const EncoderSettings& settings = {});
    ~TestPatternEncoder();
    TestPatternEncoder(const TestPatternEncoder&) = delete;
    TestPatternEncoder& operator=(const TestPatternEncoder&) = delete;

    // Opens the encoder; false (reason in lastError) when libx264 is missing
    // or refuses the settings. nextAccessUnit() opens on first use.
    bool open();
    // Encodes the next frame of the pattern.
    std::optional<AccessUnit> nextAccessUnit();
    // Makes the next frame an IDR (with SPS/PPS) whatever the GOP says.
    void requestKeyFrame() { forceKeyFrame_ = true; }

    const EncoderSettings& settings() const { return settings_; }
    int64_t framesEncoded() const { return nextFrame_; }
    const std::string& lastError() const { return lastError_; }

    // Luma of the test region in frame n: 16 + (n*8 % 200).
    static int TestRegionLuma(int64_t frameIndex);
    // The middle half of the frame in each direction, on even coordinates.
    static Rect TestRegion(int width, int height);
    static Yuv BarColour(int bar);
    static int BarAt(int x, int width);
    // What pixel (x, y) of frame n holds before encoding.
    static Yuv PatternAt(int64_t frameIndex, int x, int y, int width, int height);

private:
    struct CodecContextDeleter {
        void operator()(AVCodecContext* context) const;
    };
    struct FrameDeleter {
        void operator()(AVFrame* frame) const;
    };
    struct PacketDeleter {
        void operator()(AVPacket* packet) const;
    };

    void fillPicture(int64_t frameIndex);
    bool fail(const std::string& what);

    const EncoderSettings settings_;
    std::unique_ptr<AVCodecContext, CodecContextDeleter> context_;
    std::unique_ptr<AVFrame, FrameDeleter> frame_;
    std::unique_ptr<AVPacket, PacketDeleter> packet_;
    int64_t nextFrame_ = 0;
    bool forceKeyFrame_ = false;
    std::string lastError_;
};

}  // namespace zucam::phone
