#include "support/phone/test_pattern_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <array>

namespace zucam::phone {

namespace {

// 75% colour bars in BT.601 limited-range YCbCr, left to right.
constexpr std::array<Yuv, TestPatternEncoder::kBarCount> kBars{{
    {180, 128, 128},  // white
    {162, 44, 142},   // yellow
    {131, 156, 44},   // cyan
    {112, 72, 58},    // green
    {84, 184, 198},   // magenta
    {65, 100, 212},   // red
    {35, 212, 114},   // blue
    {16, 128, 128},   // black
}};

std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace

void TestPatternEncoder::CodecContextDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}
void TestPatternEncoder::FrameDeleter::operator()(AVFrame* frame) const { av_frame_free(&frame); }
void TestPatternEncoder::PacketDeleter::operator()(AVPacket* packet) const { av_packet_free(&packet); }

TestPatternEncoder::TestPatternEncoder(const EncoderSettings& settings) : settings_(settings) {}

TestPatternEncoder::~TestPatternEncoder() = default;

bool TestPatternEncoder::fail(const std::string& what) {
    lastError_ = what;
    return false;
}

int TestPatternEncoder::TestRegionLuma(int64_t frameIndex) {
    return 16 + static_cast<int>((frameIndex * 8) % 200);
}

Rect TestPatternEncoder::TestRegion(int width, int height) {
    const int left = (width / 4) & ~1;
    const int top = (height / 4) & ~1;
    const int right = (3 * width / 4) & ~1;
    const int bottom = (3 * height / 4) & ~1;
    return {left, top, right - left, bottom - top};
}

Yuv TestPatternEncoder::BarColour(int bar) { return kBars.at(static_cast<std::size_t>(bar)); }

int TestPatternEncoder::BarAt(int x, int width) { return std::min(kBarCount - 1, x * kBarCount / width); }

Yuv TestPatternEncoder::PatternAt(int64_t frameIndex, int x, int y, int width, int height) {
    const Rect region = TestRegion(width, height);
    if (x >= region.x && x < region.x + region.width && y >= region.y && y < region.y + region.height)
        return {TestRegionLuma(frameIndex), 128, 128};
    return BarColour(BarAt(x, width));
}

bool TestPatternEncoder::open() {
    if (context_) return true;
    if (settings_.width <= 0 || settings_.height <= 0 || settings_.fps <= 0 || settings_.gop <= 0)
        return fail("width, height, fps and gop must be positive");
    // x264 refuses odd 4:2:0 sizes too, but leaks on that way out; say it here.
    if (settings_.width % 2 != 0 || settings_.height % 2 != 0)
        return fail("4:2:0 needs an even width and height, not " + std::to_string(settings_.width) + "x" +
                    std::to_string(settings_.height));

    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) return fail("libavcodec has no libx264 encoder");
    std::unique_ptr<AVCodecContext, CodecContextDeleter> context(avcodec_alloc_context3(codec));
    if (!context) return fail("avcodec_alloc_context3 failed");

    context->width = settings_.width;
    context->height = settings_.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, settings_.fps};
    context->framerate = AVRational{settings_.fps, 1};
    context->gop_size = settings_.gop;
    context->keyint_min = settings_.gop;
    context->max_b_frames = 0;
    context->thread_count = 1;  // the same bytes on every run
    context->color_range = settings_.fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    switch (settings_.matrix) {
    case ColourMatrix::Unspecified: break;
    case ColourMatrix::Bt601:
        context->colorspace = AVCOL_SPC_SMPTE170M;
        context->color_primaries = AVCOL_PRI_SMPTE170M;
        context->color_trc = AVCOL_TRC_SMPTE170M;
        break;
    case ColourMatrix::Bt709:
        context->colorspace = AVCOL_SPC_BT709;
        context->color_primaries = AVCOL_PRI_BT709;
        context->color_trc = AVCOL_TRC_BT709;
        break;
    }
    // No AV_CODEC_FLAG_GLOBAL_HEADER: SPS/PPS go in-band before every IDR.
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "crf", "18", 0);
    av_opt_set(context->priv_data, "forced-idr", "1", 0);
    av_opt_set(context->priv_data, "x264-params", "repeat-headers=1:scenecut=0:bframes=0", 0);

    const int opened = avcodec_open2(context.get(), codec, nullptr);
    if (opened < 0) return fail("libx264 refused " + std::to_string(settings_.width) + "x" +
                                std::to_string(settings_.height) + ": " + avError(opened));

    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!frame || !packet) return fail("out of memory");
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = settings_.width;
    frame->height = settings_.height;
    frame->color_range = context->color_range;
    frame->colorspace = context->colorspace;
    const int buffered = av_frame_get_buffer(frame.get(), 0);
    if (buffered < 0) return fail("av_frame_get_buffer: " + avError(buffered));

    context_ = std::move(context);
    frame_ = std::move(frame);
    packet_ = std::move(packet);
    return true;
}

void TestPatternEncoder::fillPicture(int64_t frameIndex) {
    const int width = settings_.width;
    const int height = settings_.height;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame_->data[0] + static_cast<std::ptrdiff_t>(y) * frame_->linesize[0];
        for (int x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(PatternAt(frameIndex, x, y, width, height).y);
    }
    // Each chroma sample takes the colour of the top-left luma sample it covers.
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    for (int cy = 0; cy < chromaHeight; ++cy) {
        uint8_t* uRow = frame_->data[1] + static_cast<std::ptrdiff_t>(cy) * frame_->linesize[1];
        uint8_t* vRow = frame_->data[2] + static_cast<std::ptrdiff_t>(cy) * frame_->linesize[2];
        for (int cx = 0; cx < chromaWidth; ++cx) {
            const Yuv colour = PatternAt(frameIndex, 2 * cx, 2 * cy, width, height);
            uRow[cx] = static_cast<uint8_t>(colour.u);
            vRow[cx] = static_cast<uint8_t>(colour.v);
        }
    }
}

std::optional<AccessUnit> TestPatternEncoder::nextAccessUnit() {
    if (!open()) return std::nullopt;
    for (;;) {
        const int received = avcodec_receive_packet(context_.get(), packet_.get());
        if (received == 0) {
            AccessUnit unit;
            unit.bytes.assign(reinterpret_cast<const char*>(packet_->data), static_cast<std::size_t>(packet_->size));
            unit.keyFrame = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
            unit.pts = packet_->pts;
            av_packet_unref(packet_.get());
            return unit;
        }
        if (received != AVERROR(EAGAIN)) {
            fail("avcodec_receive_packet: " + avError(received));
            return std::nullopt;
        }
        const int writable = av_frame_make_writable(frame_.get());
        if (writable < 0) {
            fail("av_frame_make_writable: " + avError(writable));
            return std::nullopt;
        }
        fillPicture(nextFrame_);
        frame_->pts = nextFrame_;
        frame_->pict_type = forceKeyFrame_ ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        forceKeyFrame_ = false;
        const int sent = avcodec_send_frame(context_.get(), frame_.get());
        if (sent < 0) {
            fail("avcodec_send_frame: " + avError(sent));
            return std::nullopt;
        }
        ++nextFrame_;
    }
}

}  // namespace zucam::phone
