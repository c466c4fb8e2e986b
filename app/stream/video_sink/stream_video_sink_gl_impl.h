// The OpenGL preview's sink: the producer stores the latest YUV420P picture;
// the preview's paint (GUI thread) uploads it with Render.
#pragma once

#include <QMutex>
#include <atomic>
#include <memory>

#include "ffmpeg_handles.h"
#include "video_sink/latest_frame_slot.h"
#include "video_sink/stream_video_sink_gl.h"

class StreamVideoSinkGLImpl final : public StreamVideoSinkGL {
public:
    static std::unique_ptr<StreamVideoSinkGL> Create();
    ~StreamVideoSinkGLImpl() override = default;
    StreamVideoSinkGLImpl(const StreamVideoSinkGLImpl&) = delete;
    StreamVideoSinkGLImpl& operator=(const StreamVideoSinkGLImpl&) = delete;

    // YUV420P only, and only while enabled.
    void Push(AVFrame* frame) override;
    // A black picture of the stored picture's size; nothing without one.
    void ShowBlack() override;
    void SetFrame(AVFrame* frame) override;
    QSize Render(QOpenGLFunctions* functions, QOpenGLTexture* y, QOpenGLTexture* u, QOpenGLTexture* v) override;

private:
    StreamVideoSinkGLImpl() = default;

    // Copies picture into a new YUV420P frame whose line lengths equal the
    // plane widths, so each plane uploads as a texture of exactly its width.
    AVFramePtr PackPlanes(const AVFrame& picture);

    LatestFrameSlot latest_;  // kept until replaced: every Render re-uses it
    std::atomic<bool> rejectionLogged_{false};

    QMutex packMutex_;  // guards packContext_ (Render may come from more than one paint)
    SwsContextPtr packContext_;
};
