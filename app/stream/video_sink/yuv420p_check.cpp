#include "video_sink/yuv420p_check.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include "core/tether/tq_log.h"

bool AcceptYuv420p(const AVFrame* frame, const char* sinkName, std::atomic<bool>* rejectionLogged) {
    if (frame == nullptr) return false;
    if (frame->format == AV_PIX_FMT_YUV420P) return true;
    if (!rejectionLogged->exchange(true)) {
        const char* const formatName = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
        LOG_W("render %s: dropping frames of pixel format %s, only yuv420p is taken", sinkName,
              formatName != nullptr ? formatName : "unknown");
    }
    return false;
}
