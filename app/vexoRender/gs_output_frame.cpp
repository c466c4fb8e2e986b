#include "gs_output_frame.h"

#include "core/tether/tq_log.h"
#include "ffmpeg_handles.h"
#include "video_sink/stream_video_sink.h"

GsOutputFrame::GsOutputFrame(GsScene* scene, uint32_t width, uint32_t height, int outputFormat,
                             std::vector<StreamVideoSink*> sinks)
    : GsOutputRaw(scene, width, height, outputFormat, nullptr), sinks_(std::move(sinks)) {}

GsOutputFrame::~GsOutputFrame() {
    Stop();
    video_scaler_free(scaler_.get());
}

void GsOutputFrame::OnRawFrame(const gs_raw_frame& raw) {
    if (!scaler_ || raw.width != scalerWidth_ || raw.height != scalerHeight_) {
        scalerWidth_ = raw.width;
        scalerHeight_ = raw.height;
        const int width = static_cast<int>(raw.width);
        const int height = static_cast<int>(raw.height);
        scaler_ = video_scaler_create({AV_PIX_FMT_YUV420P, width, height, AVCOL_RANGE_MPEG, AVCOL_SPC_BT709},
                                      {AV_PIX_FMT_RGBA, width, height, AVCOL_RANGE_JPEG, AVCOL_SPC_BT470BG});
    }

    AVFramePtr frame(av_frame_alloc());
    if (!frame) return;
    frame->width = static_cast<int>(raw.width);
    frame->height = static_cast<int>(raw.height);
    frame->format = AV_PIX_FMT_YUV420P;
    // What the conversion really produces.
    frame->color_range = AVCOL_RANGE_MPEG;
    frame->colorspace = AVCOL_SPC_BT709;
    if (av_frame_get_buffer(frame.get(), 32) < 0) return;

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
