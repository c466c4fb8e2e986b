#include "video_sink/stream_video_sink_gl_impl.h"

#include <QOpenGLFunctions>
#include <QOpenGLTexture>

extern "C" {
#include <libavutil/common.h>
}

#include "core/tether/tq_log.h"
#include "video_sink/make_black_frame.h"
#include "video_sink/yuv420p_check.h"

namespace {
// Alignment 1: line lengths equal the plane widths.
constexpr int kNoLinePadding = 1;

void UploadPlane(QOpenGLFunctions* functions, QOpenGLTexture* texture, int width, int rows, const uint8_t* plane) {
    texture->bind();
    functions->glTexImage2D(GL_TEXTURE_2D, 0, GL_RED, width, rows, 0, GL_RED, GL_UNSIGNED_BYTE, plane);
    texture->release();
}
}  // namespace

std::unique_ptr<StreamVideoSinkGL> StreamVideoSinkGLImpl::Create() {
    return std::unique_ptr<StreamVideoSinkGL>(new StreamVideoSinkGLImpl());
}

void StreamVideoSinkGLImpl::Push(AVFrame* frame) {
    if (!enabled || !AcceptYuv420p(frame, "gl", &rejectionLogged_)) return;
    SetFrame(frame);
}

void StreamVideoSinkGLImpl::ShowBlack() {
    const std::shared_ptr<const AVFrame> stored = latest_.Load();
    if (!stored) return;
    const AVFramePtr black = MakeBlackFrame(stored.get());
    if (black) SetFrame(black.get());
}

void StreamVideoSinkGLImpl::SetFrame(AVFrame* frame) {
    if (frame != nullptr) latest_.Store(frame);
}

QSize StreamVideoSinkGLImpl::Render(QOpenGLFunctions* functions, QOpenGLTexture* y, QOpenGLTexture* u,
                                    QOpenGLTexture* v) {
    if (functions == nullptr || y == nullptr || u == nullptr || v == nullptr) return QSize();
    const std::shared_ptr<const AVFrame> stored = latest_.Load();
    if (!stored) return QSize();
    const AVFramePtr packed = PackPlanes(*stored);
    if (!packed) return QSize();

    const int chromaRows = AV_CEIL_RSHIFT(packed->height, 1);
    // Odd chroma widths make lines that are not 4-byte multiples; the
    // caller's unpack alignment is restored for its own uploads.
    GLint savedAlignment = 4;
    functions->glGetIntegerv(GL_UNPACK_ALIGNMENT, &savedAlignment);
    functions->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    UploadPlane(functions, y, packed->linesize[0], packed->height, packed->data[0]);
    UploadPlane(functions, u, packed->linesize[1], chromaRows, packed->data[1]);
    UploadPlane(functions, v, packed->linesize[2], chromaRows, packed->data[2]);
    functions->glPixelStorei(GL_UNPACK_ALIGNMENT, savedAlignment);
    return QSize(packed->width, packed->height);
}

AVFramePtr StreamVideoSinkGLImpl::PackPlanes(const AVFrame& picture) {
    if (picture.width < 1 || picture.height < 1) return nullptr;
    AVFramePtr packed(av_frame_alloc());
    if (!packed) return nullptr;
    packed->format = AV_PIX_FMT_YUV420P;
    packed->width = picture.width;
    packed->height = picture.height;
    if (av_frame_get_buffer(packed.get(), kNoLinePadding) < 0) {
        LOG_E("render gl: no memory for a %dx%d picture", picture.width, picture.height);
        return nullptr;
    }
    QMutexLocker lock(&packMutex_);
    packContext_.reset(sws_getCachedContext(packContext_.release(), picture.width, picture.height,
                                            static_cast<AVPixelFormat>(picture.format), picture.width,
                                            picture.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                            nullptr));
    if (!packContext_) {
        LOG_E("render gl: no swscale context for %dx%d", picture.width, picture.height);
        return nullptr;
    }
    const int result = sws_scale(packContext_.get(), picture.data, picture.linesize, 0, picture.height,
                                 packed->data, packed->linesize);
    if (result <= 0) {
        LOG_W("render gl: sws_scale failed: %d", result);
        return nullptr;
    }
    return packed;
}
