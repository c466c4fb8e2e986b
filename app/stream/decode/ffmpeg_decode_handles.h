// Owning handles for the FFmpeg objects of the decoder. unique_ptr owns; a
// raw pointer taken from one of these borrows.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

struct CodecContextFree {
    void operator()(AVCodecContext* context) const noexcept { avcodec_free_context(&context); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;

struct CodecParserClose {
    void operator()(AVCodecParserContext* parser) const noexcept { av_parser_close(parser); }
};
using CodecParserPtr = std::unique_ptr<AVCodecParserContext, CodecParserClose>;

struct PacketFree {
    void operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

struct FrameFree {
    void operator()(AVFrame* frame) const noexcept { av_frame_free(&frame); }
};
// Owns a frame and its references to the pixel buffers.
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

struct BufferRefUnref {
    void operator()(AVBufferRef* buffer) const noexcept { av_buffer_unref(&buffer); }
};
using BufferRefPtr = std::unique_ptr<AVBufferRef, BufferRefUnref>;

struct ScalerFree {
    void operator()(SwsContext* context) const noexcept { sws_freeContext(context); }
};
using ScalerPtr = std::unique_ptr<SwsContext, ScalerFree>;
