#include "h264_test_stream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <cstdio>
#include <cstring>
#include <memory>

namespace zucam::test {

namespace {

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

constexpr int kFrameNumberStep = 8;
constexpr int kFrameNumberBase = 24;
constexpr int kFrameNumberCount = 26;  // 24 .. 224

bool IsFullRangeFormat(AVPixelFormat format) {
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
}

void FillPlane(uint8_t* plane, int lineSize, int x0, int y0, int x1, int y1, uint8_t value) {
    for (int y = y0; y < y1; ++y) std::memset(plane + y * lineSize + x0, value, static_cast<size_t>(x1 - x0));
}

// Noise that moves by a few pixels a frame: the encoder finds the motion,
// the decoder has real residuals to work through.
void DrawTexture(AVFrame* frame, int frameNumber) {
    const int w = frame->width;
    const int h = frame->height;
    for (int y = 0; y < h; ++y) {
        uint8_t* line = frame->data[0] + y * frame->linesize[0];
        for (int x = 0; x < w; ++x) {
            const uint32_t seed = static_cast<uint32_t>((x + 3 * frameNumber) * 73856093) ^
                                  static_cast<uint32_t>((y / 2) * 19349663);
            line[x] = static_cast<uint8_t>(64 + ((seed >> 13) & 63) + (x + y) / 32 % 64);
        }
    }
}

void DrawPattern(AVFrame* frame, const H264TestStreamSettings& settings, int frameNumber) {
    const int w = frame->width;
    const int h = frame->height;
    if (settings.textured) {
        DrawTexture(frame, frameNumber);
    } else {
        FillPlane(frame->data[0], frame->linesize[0], 0, 0, w, h / 2, FrameLuma(frameNumber));
        FillPlane(frame->data[0], frame->linesize[0], 0, h / 2, w / 2, h, settings.lowLuma);
        FillPlane(frame->data[0], frame->linesize[0], w / 2, h / 2, w, h, settings.highLuma);
    }
    const bool fullHeightChroma = settings.format == AV_PIX_FMT_YUV422P || settings.format == AV_PIX_FMT_YUVJ422P;
    const int chromaHeight = fullHeightChroma ? h : (h + 1) / 2;
    for (int plane = 1; plane <= 2; ++plane) {
        FillPlane(frame->data[plane], frame->linesize[plane], 0, 0, (w + 1) / 2, chromaHeight, 128);
    }
}

// Annex-B payload offsets with the start of each start code.
struct StartCode {
    size_t start;
    size_t payload;
};

std::vector<StartCode> FindStartCodes(const std::vector<uint8_t>& b) {
    std::vector<StartCode> codes;
    for (size_t j = 0; j + 2 < b.size(); ++j) {
        if (b[j] == 0 && b[j + 1] == 0 && b[j + 2] == 1) {
            codes.push_back({(j > 0 && b[j - 1] == 0) ? j - 1 : j, j + 3});
            j += 2;
        }
    }
    return codes;
}

}  // namespace

uint8_t FrameLuma(int frameNumber) {
    return static_cast<uint8_t>(kFrameNumberBase + kFrameNumberStep * (frameNumber % kFrameNumberCount));
}

int FrameNumberOfLuma(int luma) {
    const int steps = (luma - kFrameNumberBase + kFrameNumberStep / 2) / kFrameNumberStep;
    if (luma < kFrameNumberBase - kFrameNumberStep / 2 || steps >= kFrameNumberCount) return -1;
    return steps;
}

std::vector<H264TestAccessUnit> EncodeH264TestStream(const H264TestStreamSettings& settings) {
    std::vector<H264TestAccessUnit> units;
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) {
        std::fprintf(stderr, "libavcodec has no libx264\n");
        return units;
    }
    std::unique_ptr<AVCodecContext, CodecContextDeleter> context(avcodec_alloc_context3(codec));
    context->width = settings.width;
    context->height = settings.height;
    context->pix_fmt = settings.format;
    context->time_base = AVRational{1, 30};
    context->framerate = AVRational{30, 1};
    context->gop_size = settings.gop > 0 ? settings.gop : 100000;
    context->max_b_frames = 0;
    context->thread_count = settings.encoderThreads;
    context->color_range = IsFullRangeFormat(settings.format) ? AVCOL_RANGE_JPEG : settings.range;
    context->colorspace = settings.colorspace;
    if (settings.parameterSetsApart) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(context->priv_data, "preset", settings.preset.c_str(), 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "crf", std::to_string(settings.crf).c_str(), 0);
    // No scene cuts, so IDRs fall only where the gop puts them; threads
    // that work on whole pictures, so the slice count stays as asked.
    std::string params = "scenecut=0:sliced-threads=0:slices=" + std::to_string(settings.slices);
    if (settings.aud) params += ":aud=1";
    av_opt_set(context->priv_data, "x264-params", params.c_str(), 0);
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        std::fprintf(stderr, "libx264 refused %dx%d\n", settings.width, settings.height);
        return units;
    }
    if (settings.parameterSetsApart) {
        H264TestAccessUnit headers;
        headers.bytes.assign(context->extradata, context->extradata + context->extradata_size);
        units.push_back(std::move(headers));
    }

    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    frame->format = settings.format;
    frame->width = settings.width;
    frame->height = settings.height;
    frame->color_range = context->color_range;
    frame->colorspace = settings.colorspace;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        std::fprintf(stderr, "no picture buffer\n");
        return {};
    }
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    const auto collect = [&] {
        while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
            H264TestAccessUnit unit;
            unit.bytes.assign(packet->data, packet->data + packet->size);
            unit.keyFrame = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            units.push_back(std::move(unit));
            av_packet_unref(packet.get());
        }
    };
    for (int n = 0; n < settings.frames; ++n) {
        if (av_frame_make_writable(frame.get()) < 0) {
            std::fprintf(stderr, "picture not writable\n");
            return {};
        }
        DrawPattern(frame.get(), settings, settings.firstFrameNumber + n);
        frame->pts = n;
        if (avcodec_send_frame(context.get(), frame.get()) < 0) {
            std::fprintf(stderr, "libx264 refused frame %d\n", n);
            return {};
        }
        collect();
    }
    avcodec_send_frame(context.get(), nullptr);
    collect();
    return units;
}

std::vector<uint8_t> SwapStartCodeForms(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    size_t copied = 0;
    for (const StartCode& code : FindStartCodes(bytes)) {
        out.insert(out.end(), bytes.begin() + static_cast<long>(copied), bytes.begin() + static_cast<long>(code.start));
        if (code.payload - code.start == 4) {
            out.insert(out.end(), {0, 0, 1});
        } else {
            out.insert(out.end(), {0, 0, 0, 1});
        }
        copied = code.payload;
    }
    out.insert(out.end(), bytes.begin() + static_cast<long>(copied), bytes.end());
    return out;
}

std::vector<size_t> NalPayloadOffsets(const std::vector<uint8_t>& bytes) {
    std::vector<size_t> offsets;
    for (const StartCode& code : FindStartCodes(bytes)) offsets.push_back(code.payload);
    return offsets;
}

}  // namespace zucam::test
