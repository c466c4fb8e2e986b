// The OpenGL preview: uploads the newest picture of its own OpenGL sink as
// three plane textures and draws them through a YUV-to-RGB shader, every
// 40 ms while visible. GUI thread only; the render output pushes into the
// sink on its own thread.
#pragma once

#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLVertexArrayObject>
#include <QOpenGLWidget>
#include <QSize>
#include <QSizeF>
#include <memory>

class QOpenGLShaderProgram;
class QOpenGLTexture;
class StreamVideoSinkGL;

class OpenGLWidget : public QOpenGLWidget, protected QOpenGLFunctions {
    Q_OBJECT

public:
    static constexpr int kRepaintIntervalMs = 40;

    explicit OpenGLWidget(QWidget* parent = nullptr);
    ~OpenGLWidget() override;

    void SetStretch(bool stretch);
    bool stretch() const { return stretch_; }
    StreamVideoSinkGL* Sink() const { return sink_.get(); }

    // The size in pixels at which a frame is drawn, centred, in a widget:
    // the widget with stretch; else fitted with its aspect ratio when
    // scaleShow ("Video.ScaleShow"), or the frame's own size otherwise.
    static QSizeF PictureScale(const QSize& frame, const QSize& widget, bool stretch, bool scaleShow);

signals:
    void sigEscape();

public slots:
    void cleanup();

protected:
    void timerEvent(QTimerEvent* event) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    std::unique_ptr<StreamVideoSinkGL> sink_;
    int timerId_ = 0;
    QOpenGLTexture* textureY_ = nullptr;
    QOpenGLTexture* textureU_ = nullptr;
    QOpenGLTexture* textureV_ = nullptr;
    QOpenGLShaderProgram* program_ = nullptr;
    int modelLocation_ = -1;
    int viewLocation_ = -1;
    int projectionLocation_ = -1;
    int texYLocation_ = -1;
    int texULocation_ = -1;
    int texVLocation_ = -1;
    QOpenGLVertexArrayObject vertexArray_;
    QOpenGLBuffer vertexBuffer_;
    QMatrix4x4 projection_;
    bool stretch_ = false;
};
