// Exact pixels of the CPU back end: placement and nearest sampling, row 0 on
// top, the copy kernels, and the colour-correction kernel's buffer layout.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>

#include "vexo/gs_constant_buffer.h"
#include "vexo/gs_context_default.h"
#include "vexo/gs_device.h"
#include "vexo/gs_filter.h"
#include "vexo/gs_manual_clock.h"
#include "vexo/gs_texture.h"
#include "vexo_test_objects.h"

namespace {

using Pixel = std::array<uint8_t, 4>;

class VexoDrawing : public ::testing::Test {
protected:
    VexoDrawing() : device_(std::make_unique<GsManualClock>()) {
        for (const char* name : {"zuc_rgba", "zuc_bgrx", "zuc_color_correction"}) device_.AddShader(name, "", "");
    }

    // Composes one frame of a width x height scene whose only item runs draw.
    std::vector<uint8_t> Compose(uint32_t width, uint32_t height, std::function<void()> draw) {
        auto* scene = new Counted<GsScene>(width, height, &device_);
        auto* item = new Counted<LambdaItem>(static_cast<float>(width), static_cast<float>(height), &device_);
        item->onDraw = std::move(draw);
        scene->AddItem(item);
        RecordingOutput output(scene, width, height, &device_);
        EXPECT_TRUE(output.Start());
        device_.ComposeFrame(0);
        return output.last;
    }

    static Pixel At(const std::vector<uint8_t>& picture, int width, int x, int y) {
        Pixel p;
        std::memcpy(p.data(), picture.data() + (static_cast<size_t>(y) * width + x) * 4, 4);
        return p;
    }

    GsDevice device_;
};

// 2x2 texture: red, green on top; blue, half-transparent white below.
const uint8_t kQuad[16] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 128};

TEST_F(VexoDrawing, TextureStretchedOverTheRectangleWithRowZeroOnTop) {
    GsTexture texture(kQuad, 8, kGsTextureRgba, 2, 2, &device_);
    const auto picture = Compose(4, 4, [&] {
        const GsTextureBinder binder(&texture);
        ASSERT_TRUE(GsContextDefault::BindShader("zuc_rgba"));
        GsContextDefault::DrawRect({{0, 0}, {4, 4}, 0}, {4, 4});
        GsContextDefault::UnbindShader();
    });
    ASSERT_EQ(picture.size(), 64u);
    EXPECT_EQ(At(picture, 4, 0, 0), (Pixel{255, 0, 0, 255}));
    EXPECT_EQ(At(picture, 4, 1, 1), (Pixel{255, 0, 0, 255}));
    EXPECT_EQ(At(picture, 4, 3, 0), (Pixel{0, 255, 0, 255}));
    EXPECT_EQ(At(picture, 4, 0, 3), (Pixel{0, 0, 255, 255}));
    EXPECT_EQ(At(picture, 4, 3, 3), (Pixel{255, 255, 255, 128}));
}

TEST_F(VexoDrawing, RectangleAndViewportPlaceThePicture) {
    GsTexture texture(kQuad, 8, kGsTextureRgba, 2, 2, &device_);
    // A 2x2 target mapped onto the scene's right half: the rectangle at
    // (1, 0) of size 1x2 covers column 3 only.
    const auto picture = Compose(4, 2, [&] {
        GsContextDefault::SetViewport(2, 0, 2, 2);
        const GsTextureBinder binder(&texture);
        ASSERT_TRUE(GsContextDefault::BindShader("zuc_bgrx"));
        GsContextDefault::DrawRect({{1, 0}, {1, 2}, 0}, {2, 2});
    });
    const Pixel background{0, 0, 0, 255};
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(At(picture, 4, x, 0), background) << x;
        EXPECT_EQ(At(picture, 4, x, 1), background) << x;
    }
    // One column samples the texture at its middle (u = 0.5: the right
    // column); bgrx forces alpha opaque.
    EXPECT_EQ(At(picture, 4, 3, 0), (Pixel{0, 255, 0, 255}));
    EXPECT_EQ(At(picture, 4, 3, 1), (Pixel{255, 255, 255, 255}));
}

TEST_F(VexoDrawing, NothingIsDrawnWithoutAProgramOrOutsideAFrame) {
    GsTexture texture(kQuad, 8, kGsTextureRgba, 2, 2, &device_);
    EXPECT_FALSE(GsContextDefault::BindShader("zuc_rgba"));  // no frame on this thread
    const auto picture = Compose(2, 2, [&] {
        const GsTextureBinder binder(&texture);
        EXPECT_FALSE(GsContextDefault::BindShader("zuc_unknown"));
        GsContextDefault::DrawRect({{0, 0}, {2, 2}, 0}, {2, 2});
    });
    for (int i = 0; i < 4; ++i) EXPECT_EQ(At(picture, 2, i % 2, i / 2), (Pixel{0, 0, 0, 255}));
}

// The colour-correction kernel reads two column-major 4x4 matrices and a
// brightness offset; a filter renders into its own texture.
TEST_F(VexoDrawing, ColorCorrectionKernelAppliesFormatSaturationAndBrightness) {
    const uint8_t source[4] = {200, 100, 50, 77};
    GsTexture input(source, 4, kGsTextureRgba, 1, 1, &device_);
    float constants[36] = {};
    // format: red-blue swap.
    constants[2] = constants[5] = constants[8] = constants[15] = 1.0f;
    // saturation: s = 2 (k = -1).
    const float s = 2.0f, k = 1.0f - s;
    const float weights[3] = {0.299f, 0.587f, 0.114f};
    for (int column = 0; column < 3; ++column) {
        for (int row = 0; row < 3; ++row) constants[16 + column * 4 + row] = weights[column] * k + (row == column ? s : 0.0f);
    }
    constants[31] = 1.0f;
    constants[32] = 0.1f;  // brightness
    GsConstantBuffer buffer(constants, sizeof constants, &device_);

    class Pass final : public GsFilter {
    public:
        Pass(GsDevice* d, GsTexture* in, GsConstantBuffer* cb) : GsFilter(1, 1, d), in_(in), cb_(cb) {}
        ~Pass() override { Detach(); }
        void Draw() override {
            const GsTextureBinder binder(in_);
            if (GsContextDefault::BindShader("zuc_color_correction") && cb_->Bind(0)) {
                GsContextDefault::DrawRect({{0, 0}, {1, 1}, 0}, {1, 1});
                cb_->Unbind();
            }
        }

    private:
        GsTexture* in_;
        GsConstantBuffer* cb_;
    } pass(&device_, &input, &buffer);
    pass.Attach();
    Compose(1, 1, [] {});

    // After the swap (50, 100, 200): luma 0.299*50 + 0.587*100 + 0.114*200.
    const float luma = 0.299f * 50 + 0.587f * 100 + 0.114f * 200;
    const float expected[3] = {2 * 50 - luma + 25.5f, 2 * 100 - luma + 25.5f, 2 * 200 - luma + 25.5f};
    const uint8_t* out = pass.texture->pixels();
    for (int c = 0; c < 3; ++c) {
        const float clamped = std::min(255.0f, std::max(0.0f, expected[c]));
        EXPECT_NEAR(out[c], clamped, 0.51f) << c;
    }
    EXPECT_EQ(out[3], 77);
}

}  // namespace

namespace {

// The background fill is left out only when the first draw overwrites every
// pixel: a frame after a full-picture one never shows what that one drew.
TEST_F(VexoDrawing, BackgroundLeftOutOnlyUnderAWholePictureDraw) {
    std::vector<uint8_t> red(4 * 4 * 4);
    for (size_t i = 0; i < red.size(); ++i) red[i] = (i % 4 == 0 || i % 4 == 3) ? 255 : 0;
    GsTexture texture(red.data(), 16, kGsTextureRgba, 4, 4, &device_);
    const Pixel black{0, 0, 0, 255};
    const Pixel redPixel{255, 0, 0, 255};
    const auto draw = [&](const char* program, gs_vec2 position, gs_vec2 size) {
        return [&texture, program, position, size] {
            const GsTextureBinder binder(&texture);
            ASSERT_TRUE(GsContextDefault::BindShader(program));
            GsContextDefault::DrawRect({position, size, 0}, {4, 4});
            GsContextDefault::UnbindShader();
        };
    };
    auto picture = Compose(4, 4, draw("zuc_rgba", {0, 0}, {4, 4}));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(At(picture, 4, i % 4, i / 4), redPixel) << i;
    // Half the picture: the other half is background, not the last frame.
    picture = Compose(4, 4, draw("zuc_rgba", {0, 0}, {2, 4}));
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(At(picture, 4, 1, y), redPixel) << y;
        EXPECT_EQ(At(picture, 4, 2, y), black) << y;
    }
    Compose(4, 4, draw("zuc_rgba", {0, 0}, {4, 4}));
    // The colour correction without its constants writes nothing.
    picture = Compose(4, 4, draw("zuc_color_correction", {0, 0}, {4, 4}));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(At(picture, 4, i % 4, i / 4), black) << i;
    Compose(4, 4, draw("zuc_rgba", {0, 0}, {4, 4}));
    // No draw at all.
    picture = Compose(4, 4, [] {});
    for (int i = 0; i < 16; ++i) EXPECT_EQ(At(picture, 4, i % 4, i / 4), black) << i;
}

// A shared texture draws from the caller's pixels (padded rows), holds them
// until replaced, and becomes a copy again when it is written.
TEST_F(VexoDrawing, SharedTextureDrawsTheCallersPixelsUntilReplaced) {
    auto pixels = std::make_shared<std::vector<uint8_t>>(2 * 12, 0);  // 2x2, rows of 12 bytes
    const uint8_t green[4] = {0, 255, 0, 255};
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) std::memcpy(pixels->data() + y * 12 + x * 4, green, 4);
    }
    GsTexture texture(nullptr, 8, kGsTextureRgba, 2, 2, &device_);
    const uint8_t* bits = pixels->data();
    std::weak_ptr<std::vector<uint8_t>> watch = pixels;
    ASSERT_TRUE(texture.Share(std::move(pixels), bits, 12, kGsTextureRgba, 2, 2));
    EXPECT_FALSE(texture.Share(std::make_shared<int>(0), bits, 12, kGsTextureRgba, 3, 2));
    EXPECT_EQ(texture.stride(), 12);
    const auto picture = Compose(2, 2, [&] {
        const GsTextureBinder binder(&texture);
        ASSERT_TRUE(GsContextDefault::BindShader("zuc_rgba"));
        GsContextDefault::DrawRect({{0, 0}, {2, 2}, 0}, {2, 2});
        GsContextDefault::UnbindShader();
    });
    for (int i = 0; i < 4; ++i) EXPECT_EQ(At(picture, 2, i % 2, i / 2), (Pixel{0, 255, 0, 255})) << i;
    EXPECT_FALSE(watch.expired());
    // Written as a render target: copied in, the caller's pixels let go.
    uint8_t* target = texture.pixels();
    EXPECT_EQ(target[1], 255);
    EXPECT_EQ(texture.stride(), 8);
    EXPECT_TRUE(watch.expired());
    // Update copies and replaces a share.
    auto again = std::make_shared<std::vector<uint8_t>>(24, 7);
    ASSERT_TRUE(texture.Share(again, again->data(), 12, kGsTextureRgba, 2, 2));
    const uint8_t blue[16] = {0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255};
    ASSERT_TRUE(texture.Update(blue, 8, kGsTextureRgba, 2, 2));
    EXPECT_EQ(again.use_count(), 1);
    EXPECT_EQ(static_cast<const GsTexture&>(texture).pixels()[2], 255);
}

}  // namespace

namespace {

// A whole-picture plain copy is left out (the frame is the texture), but a
// draw after it still finds that picture in the target under its own.
TEST_F(VexoDrawing, LeftOutWholeCopyIsThereForTheNextDraw) {
    std::vector<uint8_t> red(4 * 4 * 4);
    for (size_t i = 0; i < red.size(); ++i) red[i] = (i % 4 == 0 || i % 4 == 3) ? 255 : 0;
    const uint8_t blue[4] = {0, 0, 255, 255};
    GsTexture whole(red.data(), 16, kGsTextureRgba, 4, 4, &device_);
    GsTexture dot(blue, 4, kGsTextureRgba, 1, 1, &device_);
    const auto picture = Compose(4, 4, [&] {
        ASSERT_TRUE(GsContextDefault::BindShader("zuc_rgba"));
        {
            const GsTextureBinder binder(&whole);
            GsContextDefault::DrawRect({{0, 0}, {4, 4}, 0}, {4, 4});
        }
        {
            const GsTextureBinder binder(&dot);
            GsContextDefault::DrawRect({{3, 3}, {1, 1}, 0}, {4, 4});
        }
        GsContextDefault::UnbindShader();
    });
    EXPECT_EQ(At(picture, 4, 0, 0), (Pixel{255, 0, 0, 255}));
    EXPECT_EQ(At(picture, 4, 2, 3), (Pixel{255, 0, 0, 255}));
    EXPECT_EQ(At(picture, 4, 3, 3), (Pixel{0, 0, 255, 255}));
}

}  // namespace
