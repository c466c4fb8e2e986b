// A sink that keeps the latest YUV420P picture for the OpenGL preview, which
// uploads it as three single-channel plane textures.
#pragma once

#include <QSize>

#include "video_sink/stream_video_sink.h"

class QOpenGLFunctions;
class QOpenGLTexture;

class StreamVideoSinkGL : public StreamVideoSink {
public:
    // Uploads the latest picture's Y, U and V planes into the given 2D
    // textures (GL_RED, one byte per texel, each texture as wide as its
    // plane) and returns the picture size; an invalid size, with no texture
    // touched, while there is no picture. Called inside the preview's paint
    // with its GL context current; the textures must already be created.
    virtual QSize Render(QOpenGLFunctions* functions, QOpenGLTexture* y, QOpenGLTexture* u,
                         QOpenGLTexture* v) = 0;
};
