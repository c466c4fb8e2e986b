// The software sink: converts each picture to RGBA on the producer's thread
// and keeps the newest one for GetImage.
//
// Three images take turns: the producer converts into workImage_ with no
// reader involved, then swaps it with backImage_ under imageMutex_; GetImage
// swaps backImage_ with frontImage_ and hands out a (shared) copy of the
// front. A reader therefore never sees a half-written picture and never
// waits for a conversion.
#pragma once

#include <QImage>
#include <QMutex>
#include <memory>
#include <optional>

#include "ffmpeg_handles.h"
#include "video_sink/stream_video_sink_sw.h"
#include "video_sink/yuv420p_to_rgba.h"

class StreamVideoSinkSwImpl final : public StreamVideoSinkSw {
public:
    static std::unique_ptr<StreamVideoSinkSw> Create();
    ~StreamVideoSinkSwImpl() override = default;
    StreamVideoSinkSwImpl(const StreamVideoSinkSwImpl&) = delete;
    StreamVideoSinkSwImpl& operator=(const StreamVideoSinkSwImpl&) = delete;

    // Any source format; ignored unless enabled.
    void Push(AVFrame* frame) override;
    // A black picture of the last converted size; nothing before the first.
    void ShowBlack() override;
    // Converts with the current context (nothing before the first Push); a
    // frame that does not fit the context gets a new one.
    void SetFrame(AVFrame* frame) override;
    QImage GetImage() override;

private:
    StreamVideoSinkSwImpl() = default;

    bool ContextFits(const AVFrame& frame) const;
    // Builds the context for frame; false (context gone) on failure.
    bool RebuildContext(const AVFrame& frame);
    void Convert(const AVFrame& frame);

    // Lock order: conversionMutex_, then imageMutex_.
    QMutex conversionMutex_;  // guards the members down to workImage_
    SwsContextPtr context_;
    std::optional<Yuv420pToRgbaTable> directTable_;  // our own converter's, where it gives swscale's bytes
    bool errorLogged_ = false;  // context errors are logged once until a conversion succeeds
    int lastFormat_ = -1;
    int lastWidth_ = 0;
    int lastHeight_ = 0;
    int lastRange_ = -1;       // swscale range flag the context was built for
    int lastColourSpace_ = -1;  // AVColorSpace the context was built for
    QImage workImage_;

    QMutex imageMutex_;  // guards backImage_, imageReady_ and frontImage_
    QImage backImage_;
    bool imageReady_ = false;  // backImage_ holds a picture GetImage has not taken
    QImage frontImage_;
};
