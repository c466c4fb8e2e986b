#include "video_sink/stream_video_sink_sw_impl.h"

#include <utility>

#include "core/tether/tq_log.h"
#include "video_sink/make_black_frame.h"
#include "video_sink/rgba_conversion.h"

std::unique_ptr<StreamVideoSinkSw> StreamVideoSinkSwImpl::Create() {
    return std::unique_ptr<StreamVideoSinkSw>(new StreamVideoSinkSwImpl());
}

void StreamVideoSinkSwImpl::Push(AVFrame* frame) {
    if (!enabled || frame == nullptr) return;
    QMutexLocker lock(&conversionMutex_);
    if (!ContextFits(*frame) && !RebuildContext(*frame)) return;
    Convert(*frame);
}

void StreamVideoSinkSwImpl::ShowBlack() {
    QMutexLocker lock(&conversionMutex_);
    if (!context_) return;
    AVFramePtr lastShape(av_frame_alloc());
    if (!lastShape) return;
    lastShape->format = lastFormat_;
    lastShape->width = lastWidth_;
    lastShape->height = lastHeight_;
    const AVFramePtr black = MakeBlackFrame(lastShape.get());
    if (!black) return;
    // The black frame is full-range YUV420P, which the context of the
    // stream may not be built for.
    if (!ContextFits(*black) && !RebuildContext(*black)) return;
    Convert(*black);
}

void StreamVideoSinkSwImpl::SetFrame(AVFrame* frame) {
    if (frame == nullptr) return;
    QMutexLocker lock(&conversionMutex_);
    if (!context_) return;
    // A context made for another size would read past the frame's planes.
    if (!ContextFits(*frame) && !RebuildContext(*frame)) return;
    Convert(*frame);
}

QImage StreamVideoSinkSwImpl::GetImage() {
    QMutexLocker lock(&imageMutex_);
    if (imageReady_) {
        std::swap(backImage_, frontImage_);
        imageReady_ = false;
    }
    return frontImage_;
}

bool StreamVideoSinkSwImpl::ContextFits(const AVFrame& frame) const {
    return context_ && frame.format == lastFormat_ && frame.width == lastWidth_ && frame.height == lastHeight_ &&
           SwsRangeOf(frame) == lastRange_ && frame.colorspace == lastColourSpace_;
}

bool StreamVideoSinkSwImpl::RebuildContext(const AVFrame& frame) {
    context_.reset();
    RgbaContext built = CreateRgbaContext(frame);
    if (built.allocationFailed) {
        if (!errorLogged_) LOG_E("render sw: Could not create " "swscale");
        errorLogged_ = true;
        return false;
    }
    if (!built.context) {
        if (!errorLogged_) LOG_E("render sw: sws_init_context failed error: %s", FfmpegErrorText(built.initError).c_str());
        errorLogged_ = true;
        return false;
    }
    if (built.colourDetailsRefused) LOG_E("render sw: sws_setColorspaceDetails failed, ignoring");
    context_ = std::move(built.context);
    directTable_ = built.direct;
    lastFormat_ = frame.format;
    lastWidth_ = frame.width;
    lastHeight_ = frame.height;
    lastRange_ = SwsRangeOf(frame);
    lastColourSpace_ = frame.colorspace;
    return true;
}

void StreamVideoSinkSwImpl::Convert(const AVFrame& frame) {
    // A work image still shared with a reader's copy is replaced, not
    // written: writing would first copy it.
    if (workImage_.isNull() || workImage_.width() != frame.width || workImage_.height() != frame.height ||
        !workImage_.isDetached()) {
        workImage_ = AllocateRgbaImage(frame.width, frame.height);
        if (workImage_.isNull()) {
            LOG_E("render sw: no memory for a %dx%d picture", frame.width, frame.height);
            return;
        }
    }
    // The picture goes to the reader's thread: streaming stores.
    const int result = ConvertToRgba(context_.get(), directTable_, frame, &workImage_, RgbaStores::kStreaming);
    if (result <= 0) {
        LOG_W("render sw: sws_scale failed: %d", result);
        return;
    }
    errorLogged_ = false;
    QMutexLocker lock(&imageMutex_);
    std::swap(workImage_, backImage_);
    imageReady_ = true;
}
