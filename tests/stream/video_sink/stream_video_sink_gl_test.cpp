#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLFunctions_1_0>
#include <QOpenGLTexture>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

#include "gl_test_environment.h"
#include "test_frames.h"
#include "video_sink/stream_video_sink_gl_impl.h"

// Case names such as "5x3" in CTest instead of the bytes of a QSize.
static void PrintTo(const QSize& size, std::ostream* out) { *out << size.width() << "x" << size.height(); }

namespace {

using zucam::test::MakeFrame;
using zucam::test::MakePatternFrame;
using zucam::test::MakeUniformYuvFrame;
using zucam::test::PlaneBytes;

// A current GL context on an offscreen surface, three plane textures and a
// framebuffer to read them back through (GLES has no glGetTexImage).
class GLSink : public testing::Test {
protected:
    void SetUp() override {
        if (!zucam::test::GlSkipReason().empty()) GTEST_SKIP() << zucam::test::GlSkipReason();
        surface_.create();
        ASSERT_TRUE(surface_.isValid());
        ASSERT_TRUE(context_.create());
        ASSERT_TRUE(context_.makeCurrent(&surface_));
        gl_ = context_.functions();
        for (auto& texture : textures_) {
            texture = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
            ASSERT_TRUE(texture->create());
        }
        gl_->glGenFramebuffers(1, &framebuffer_);
        sink_ = StreamVideoSinkGLImpl::Create();
        sink_->enabled = true;
    }

    void TearDown() override {
        if (gl_ == nullptr) return;
        gl_->glDeleteFramebuffers(1, &framebuffer_);
        for (auto& texture : textures_) texture.reset();
        context_.doneCurrent();
    }

    QSize Render() { return sink_->Render(gl_, textures_[0].get(), textures_[1].get(), textures_[2].get()); }

    // The top-left width x rows texels of a single-channel texture.
    std::vector<uint8_t> ReadTexture(int plane, int width, int rows) {
        gl_->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        gl_->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                                    textures_[plane]->textureId(), 0);
        std::vector<uint8_t> bytes(static_cast<size_t>(width) * rows, 0xEE);
        EXPECT_EQ(gl_->glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));
        gl_->glPixelStorei(GL_PACK_ALIGNMENT, 1);
        gl_->glReadPixels(0, 0, width, rows, GL_RED, GL_UNSIGNED_BYTE, bytes.data());
        gl_->glBindFramebuffer(GL_FRAMEBUFFER, context_.defaultFramebufferObject());
        EXPECT_EQ(gl_->glGetError(), GLenum(GL_NO_ERROR));
        return bytes;
    }

    // The texture's width and height where the context offers the query
    // (desktop GL); an empty size otherwise.
    QSize TextureSize(int plane) {
        auto* const legacy = context_.versionFunctions<QOpenGLFunctions_1_0>();
        if (legacy == nullptr) return QSize();
        GLint width = 0;
        GLint height = 0;
        textures_[plane]->bind();
        legacy->glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        legacy->glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
        textures_[plane]->release();
        return QSize(width, height);
    }

    void ExpectTexturesHold(const AVFrame& frame) {
        for (int plane = 0; plane < 3; ++plane) {
            const int width = zucam::test::PlaneWidth(frame, plane);
            const int rows = zucam::test::PlaneRows(frame, plane);
            const QSize size = TextureSize(plane);
            if (!size.isEmpty()) {
                EXPECT_EQ(size, QSize(width, rows)) << "plane " << plane;
            }
            EXPECT_EQ(ReadTexture(plane, width, rows), PlaneBytes(frame, plane)) << "plane " << plane;
        }
    }

    QOffscreenSurface surface_;
    QOpenGLContext context_;
    QOpenGLFunctions* gl_ = nullptr;
    std::unique_ptr<QOpenGLTexture> textures_[3];
    GLuint framebuffer_ = 0;
    std::unique_ptr<StreamVideoSinkGL> sink_;
};

class GLSinkSizes : public GLSink, public testing::WithParamInterface<QSize> {};

// Odd widths make chroma lines that are not a multiple of 4 bytes long: they
// only arrive intact with an unpack alignment of 1.
TEST_P(GLSinkSizes, UploadsEachPlaneAsATextureOfItsWidth) {
    const QSize size = GetParam();
    const AVFramePtr frame = MakePatternFrame(size.width(), size.height(), 5);
    sink_->Push(frame.get());
    EXPECT_EQ(Render(), size);
    ExpectTexturesHold(*frame);
}

INSTANTIATE_TEST_SUITE_P(OddAndEven, GLSinkSizes,
                         testing::Values(QSize(5, 3), QSize(4, 2), QSize(7, 7), QSize(33, 5), QSize(1, 1)),
                         [](const testing::TestParamInfo<QSize>& testCase) {
                             return testing::PrintToString(testCase.param);
                         });

TEST_F(GLSink, RestoresTheCallersUnpackAlignment) {
    sink_->Push(MakePatternFrame(5, 3).get());
    gl_->glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    EXPECT_EQ(Render(), QSize(5, 3));
    GLint alignment = 0;
    gl_->glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 8);
}

TEST_F(GLSink, RenderWithoutAPictureTouchesNoTexture) {
    const std::vector<uint8_t> earlier(4, 0x55);
    textures_[0]->bind();
    gl_->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl_->glTexImage2D(GL_TEXTURE_2D, 0, GL_RED, 2, 2, 0, GL_RED, GL_UNSIGNED_BYTE, earlier.data());
    textures_[0]->release();

    EXPECT_FALSE(Render().isValid());
    EXPECT_EQ(ReadTexture(0, 2, 2), earlier);
}

// The latest picture stays until a newer one: disabled pushes and other
// formats do not replace it.
TEST_F(GLSink, RendersTheLatestAcceptedPictureAgain) {
    sink_->enabled = false;
    sink_->Push(MakePatternFrame(5, 3).get());
    EXPECT_FALSE(Render().isValid());

    sink_->enabled = true;
    const AVFramePtr kept = MakePatternFrame(5, 3, 11);
    sink_->Push(kept.get());
    const AVFramePtr nv12 = MakeFrame(AV_PIX_FMT_NV12, 6, 4);
    sink_->Push(nv12.get());
    sink_->enabled = false;
    sink_->Push(MakePatternFrame(5, 3, 12).get());

    EXPECT_EQ(Render(), QSize(5, 3));
    EXPECT_EQ(Render(), QSize(5, 3));
    ExpectTexturesHold(*kept);
}

TEST_F(GLSink, ShowBlackUploadsBlackOfTheLastSize) {
    sink_->ShowBlack();
    EXPECT_FALSE(Render().isValid());

    sink_->Push(MakePatternFrame(5, 3).get());
    sink_->ShowBlack();
    EXPECT_EQ(Render(), QSize(5, 3));
    EXPECT_EQ(ReadTexture(0, 5, 3), std::vector<uint8_t>(15, 0));
    EXPECT_EQ(ReadTexture(1, 3, 2), std::vector<uint8_t>(6, 128));
    EXPECT_EQ(ReadTexture(2, 3, 2), std::vector<uint8_t>(6, 128));
}

// A producer thread pushes uniform pictures while the paint renders: every
// upload holds one whole picture.
TEST_F(GLSink, RenderDuringPushesUploadsWholePictures) {
    std::vector<AVFramePtr> greys;
    for (int i = 0; i < 16; ++i) greys.push_back(MakeUniformYuvFrame(33, 9, {uint8_t(10 * (i + 1)), 128, 128}));
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        for (size_t i = 0; !stop; ++i) sink_->Push(greys[i % greys.size()].get());
    });
    int mixed = 0;
    int rendered = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < end || rendered < 10) {
        if (!Render().isValid()) continue;
        ++rendered;
        const std::vector<uint8_t> luma = ReadTexture(0, 33, 9);
        for (const uint8_t byte : luma) {
            if (byte != luma.front()) {
                ++mixed;
                break;
            }
        }
    }
    stop = true;
    producer.join();
    EXPECT_EQ(mixed, 0) << "of " << rendered << " uploads";
}

}  // namespace
