// Owning handles for the FFmpeg objects of the engine (decoder, sinks,
// render output). A unique_ptr owns; a raw pointer taken from one borrows.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

struct AVFrameDeleter {
    void operator()(AVFrame* frame) const noexcept { av_frame_free(&frame); }
};
// Owns a frame and its references to the pixel buffers.
using AVFramePtr = std::unique_ptr<AVFrame, AVFrameDeleter>;

struct SwsContextDeleter {
    void operator()(SwsContext* context) const noexcept { sws_freeContext(context); }
};
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const noexcept { avcodec_free_context(&context); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

struct CodecParserDeleter {
    void operator()(AVCodecParserContext* parser) const noexcept { av_parser_close(parser); }
};
using CodecParserPtr = std::unique_ptr<AVCodecParserContext, CodecParserDeleter>;

struct PacketDeleter {
    void operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

struct BufferRefDeleter {
    void operator()(AVBufferRef* buffer) const noexcept { av_buffer_unref(&buffer); }
};
using BufferRefPtr = std::unique_ptr<AVBufferRef, BufferRefDeleter>;

// A new reference to frame's buffers with its properties; null for a null
// frame or when FFmpeg cannot allocate.
inline AVFramePtr CloneFrame(const AVFrame* frame) {
    return AVFramePtr(frame != nullptr ? av_frame_clone(frame) : nullptr);
}
