#include "opengl-widget.h"

#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>
#include <QTimerEvent>

#include "core/tether/tq.h"
#include "core/tether/tq_log.h"
#include "video_sink/stream_video_sink_gl_impl.h"

namespace {

// Position x, y then texture u, v of the four corners of a triangle strip;
// v runs downwards because the planes are stored top row first.
const float kQuad[16] = {
    -1.f, -1.f, 0.f, 1.f,  //
    1.f,  -1.f, 1.f, 1.f,  //
    -1.f, 1.f,  0.f, 0.f,  //
    1.f,  1.f,  1.f, 0.f,  //
};

const char kVertexShader[] = R"(
attribute vec4 vertexIn;
attribute vec2 textureIn;
varying vec2 textureOut;
uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;
void main(void)
{
    gl_Position = projection * view * model * vec4(vertexIn.xy, 0.0, 1.0);
    textureOut = textureIn;
}
)";

// Limited-range BT.709, the colour space of the render output (the matrix
// keeps its historical name). Outside the unit square: opaque red.
const char kFragmentShader[] = R"(
#ifdef GL_ES
precision mediump float;
#endif
varying vec2 textureOut;
uniform sampler2D tex_y;
uniform sampler2D tex_u;
uniform sampler2D tex_v;
void main(void)
{
    if (textureOut.x < 0.0 || textureOut.x > 1.0 || textureOut.y < 0.0 || textureOut.y > 1.0) {
        gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0);
        return;
    }
    mat4 bt601 = mat4(1.164384, 1.164384, 1.164384, 0.0,
                      0.0, -0.213249, 2.112402, 0.0,
                      1.792741, -0.532909, 0.0, 0.0,
                      -0.972945, 0.301483, -1.133402, 1.0);
    vec4 yuv = vec4(texture2D(tex_y, textureOut).r, texture2D(tex_u, textureOut).r,
                    texture2D(tex_v, textureOut).r, 1.0);
    vec4 rgb = bt601 * yuv;
    gl_FragColor = vec4(rgb.rgb, 1.0);
}
)";

QOpenGLTexture* MakePlaneTexture() {
    auto* texture = new QOpenGLTexture(QOpenGLTexture::Target2D);
    texture->create();
    texture->setWrapMode(QOpenGLTexture::ClampToEdge);
    texture->setMinMagFilters(QOpenGLTexture::Linear, QOpenGLTexture::Linear);
    return texture;
}

void DestroyTexture(QOpenGLTexture*& texture) {
    if (texture == nullptr) return;
    texture->destroy();
    delete texture;
    texture = nullptr;
}

}  // namespace

OpenGLWidget::OpenGLWidget(QWidget* parent)
    : QOpenGLWidget(parent), sink_(StreamVideoSinkGLImpl::Create()), vertexBuffer_(QOpenGLBuffer::VertexBuffer) {
    timerId_ = startTimer(kRepaintIntervalMs, Qt::CoarseTimer);
}

OpenGLWidget::~OpenGLWidget() {
    cleanup();
    if (context() != nullptr) {
        // The base destructor destroys the context; by then this is no longer
        // an OpenGLWidget, so its cleanup slot must not be called from there.
        disconnect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &OpenGLWidget::cleanup);
        makeCurrent();
        vertexBuffer_.destroy();
        vertexArray_.destroy();
        doneCurrent();
    }
}

void OpenGLWidget::SetStretch(bool stretch) { stretch_ = stretch; }

QSizeF OpenGLWidget::PictureScale(const QSize& frame, const QSize& widget, bool stretch, bool scaleShow) {
    if (stretch) return QSizeF(widget);
    if (!scaleShow) return QSizeF(frame);
    if (frame.isEmpty() || widget.isEmpty()) return QSizeF();
    const float frameRatio = static_cast<float>(frame.width()) / static_cast<float>(frame.height());
    const float widgetRatio = static_cast<float>(widget.width()) / static_cast<float>(widget.height());
    if (frameRatio >= widgetRatio) return QSizeF(widget.width(), static_cast<float>(widget.width()) / frameRatio);
    return QSizeF(frameRatio * static_cast<float>(widget.height()), widget.height());
}

void OpenGLWidget::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timerId_ && isVisible()) update();
}

void OpenGLWidget::cleanup() {
    if (context() == nullptr) return;
    makeCurrent();
    DestroyTexture(textureY_);
    DestroyTexture(textureU_);
    DestroyTexture(textureV_);
    delete program_;
    program_ = nullptr;
    doneCurrent();
}

void OpenGLWidget::initializeGL() {
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &OpenGLWidget::cleanup, Qt::UniqueConnection);
    initializeOpenGLFunctions();

    textureY_ = MakePlaneTexture();
    textureU_ = MakePlaneTexture();
    textureV_ = MakePlaneTexture();

    vertexArray_.create();
    QOpenGLVertexArrayObject::Binder binder(&vertexArray_);
    vertexBuffer_.create();
    vertexBuffer_.bind();
    vertexBuffer_.allocate(kQuad, sizeof(kQuad));
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float), nullptr);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float),
                          reinterpret_cast<const void*>(2 * sizeof(float)));

    program_ = new QOpenGLShaderProgram;
    program_->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader);
    program_->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader);
    program_->bindAttributeLocation("vertexIn", 0);
    program_->bindAttributeLocation("textureIn", 1);
    if (!program_->link()) LOG_E("preview shader link failed: %s", program_->log().toUtf8().constData());
    modelLocation_ = program_->uniformLocation("model");
    viewLocation_ = program_->uniformLocation("view");
    projectionLocation_ = program_->uniformLocation("projection");
    texYLocation_ = program_->uniformLocation("tex_y");
    texULocation_ = program_->uniformLocation("tex_u");
    texVLocation_ = program_->uniformLocation("tex_v");
    vertexBuffer_.release();
}

void OpenGLWidget::resizeGL(int w, int h) {
    projection_.setToIdentity();
    projection_.ortho(static_cast<float>(-w), static_cast<float>(w), static_cast<float>(-h), static_cast<float>(h),
                      0.1f, 100.f);
}

void OpenGLWidget::paintGL() {
    glClearColor(0.f, 0.f, 0.f, 1.f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    if (!sink_ || program_ == nullptr) return;

    QOpenGLVertexArrayObject::Binder binder(&vertexArray_);
    program_->bind();
    const QSize frame = sink_->Render(this, textureY_, textureU_, textureV_);
    if (frame.isEmpty()) {
        program_->release();
        return;
    }

    const bool scaleShow =
        g_cd == nullptr || g_cd->uiValues->get("Video.ScaleShow", tq::Value(true)).toBool(true);
    // resizeGL's projection is in device pixels: scale the picture likewise.
    const qreal ratio = devicePixelRatioF();
    const QSizeF scale = PictureScale(frame, size() * ratio, stretch_, scaleShow);

    QMatrix4x4 model;
    model.scale(static_cast<float>(scale.width()), static_cast<float>(scale.height()), 1.f);
    QMatrix4x4 view;
    view.translate(0.f, 0.f, -6.f);
    program_->setUniformValue(modelLocation_, model);
    program_->setUniformValue(viewLocation_, view);
    program_->setUniformValue(projectionLocation_, projection_);

    glActiveTexture(GL_TEXTURE0);
    textureY_->bind();
    glActiveTexture(GL_TEXTURE1);
    textureU_->bind();
    glActiveTexture(GL_TEXTURE2);
    textureV_->bind();
    program_->setUniformValue(texYLocation_, 0);
    program_->setUniformValue(texULocation_, 1);
    program_->setUniformValue(texVLocation_, 2);

    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glActiveTexture(GL_TEXTURE0);
    program_->release();
}
