#include "gs_output_frame.h"

#include "core/tether/tq_log.h"

extern "C" {
#include <libavutil/macros.h>
}
#include "ffmpeg_handles.h"
#include "video_sink/stream_video_sink.h"

GsOutputFrame::GsOutputFrame(GsScene* scene, uint32_t width, uint32_t height, int outputFormat,
                             std::vector<StreamVideoSink*> sinks)
    : GsOutputRaw(scene, width, height, outputFormat, nullptr), sinks_(std::move(sinks)) {}

void GsOutputFrame::PoolDeleter::operator()(AVBufferPool* pool) const {
    // Buffers still held by sinks keep the pool until they come back.
    av_buffer_pool_uninit(&pool);
}

GsOutputFrame::~GsOutputFrame() {
    Stop();
    video_scaler_free(scaler_.get());
}

void GsOutputFrame::OnRawFrame(const gs_raw_frame& raw) {
    const int width = static_cast<int>(raw.width);
    const int height = static_cast<int>(raw.height);
    const bool newShape = !scaler_ || raw.width != scalerWidth_ || raw.height != scalerHeight_;
    if (newShape) {
        scalerWidth_ = raw.width;
        scalerHeight_ = raw.height;
        scaler_ = video_scaler_create({AV_PIX_FMT_YUV420P, width, height, AVCOL_RANGE_MPEG, AVCOL_SPC_BT709},
                                      {AV_PIX_FMT_RGBA, width, height, AVCOL_RANGE_JPEG, AVCOL_SPC_BT470BG});
    }
    if (newShape || !pool_) {
        // One buffer for the three planes, lines aligned to 32 bytes as
        // av_frame_get_buffer made them.
        poolLinesize_[0] = FFALIGN(width, 32);
        poolLinesize_[1] = poolLinesize_[2] = FFALIGN((width + 1) / 2, 32);
        planeOffset_[0] = 0;
        planeOffset_[1] = static_cast<size_t>(poolLinesize_[0]) * static_cast<size_t>(height);
        planeOffset_[2] = planeOffset_[1] + static_cast<size_t>(poolLinesize_[1]) * static_cast<size_t>((height + 1) / 2);
        // Padding for converters that write whole vector blocks.
        poolBytes_ = planeOffset_[2] + static_cast<size_t>(poolLinesize_[2]) * static_cast<size_t>((height + 1) / 2) + 64;
        pool_.reset(av_buffer_pool_init(poolBytes_, av_buffer_allocz));
    }
    if (!pool_) return;
    AVFramePtr frame(av_frame_alloc());
    if (!frame) return;
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_YUV420P;
    // What the conversion really produces.
    frame->color_range = AVCOL_RANGE_MPEG;
    frame->colorspace = AVCOL_SPC_BT709;
    frame->buf[0] = av_buffer_pool_get(pool_.get());
    if (frame->buf[0] == nullptr) return;
    for (int plane = 0; plane < 3; ++plane) {
        frame->data[plane] = frame->buf[0]->data + planeOffset_[plane];
        frame->linesize[plane] = poolLinesize_[plane];
    }

    const uint8_t* const source[4] = {raw.data[0], raw.data[1], raw.data[2], raw.data[3]};
    const int sourceLinesize[4] = {raw.linesize[0], raw.linesize[1], raw.linesize[2], raw.linesize[3]};
    if (!video_scaler_scale(scaler_.get(), frame->data, frame->linesize, source, sourceLinesize)) {
        // The buffers hold no picture: the virtual cameras must not get it.
        if (!failureLogged_) {
            LOG_E("[GsOutputFrame] conversion of a %ux%u read-back failed, frame skipped", raw.width, raw.height);
            failureLogged_ = true;
        }
        return;
    }
    failureLogged_ = false;
    frame->pts = static_cast<int64_t>(raw.timestamp / 1000);
    for (StreamVideoSink* sink : sinks_) sink->Push(frame.get());
}
