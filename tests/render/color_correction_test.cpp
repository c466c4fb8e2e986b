// The camera source through its colour-correction pass on the CPU back
// end: exact pixels for the UI values, the red-blue swap, the buffer
// layout, and the pass rebuilt for a new picture size.
#include <gtest/gtest.h>

#include <cstring>

#include "core/tether/tq.h"
#include "ref_counted_object.h"
#include "render_test_support.h"
#include "support/tether_environment.h"
#include "vexo/gs_device.h"
#include "vexo/gs_scene.h"
#include "vexo/gs_texture.h"
#include "zuc_camera_video_source.h"
#include "zuc_color_correction_filter.h"

namespace {

class ColorCorrection : public RenderFixture {
protected:
    ColorCorrection() {
        source_ = new RefCountedObject<ZucCameraVideoSource>(QSize(4, 2), &provider_);
        source_->AddRef();
        source_->CreateItem();
    }
    ~ColorCorrection() override { source_->Release(); }

    static void SetUiValues(int color, int bright) {
        g_cd->uiValues->set("color_value", tq::Value(color));
        g_cd->uiValues->set("bright_value", tq::Value(bright));
    }

    // Composes one frame of a scene of the given size around the source's
    // current item and returns the read-back.
    std::vector<QRgb> ComposeScene(int width, int height) {
        auto* scene = new RefCountedObject<GsScene>(width, height, GsDevice::DefaultDevice());
        scene->AddRef();
        scene->AddItem(source_->item());
        ReadBackOutput output(scene, width, height);
        scene->Release();
        EXPECT_TRUE(output.Start());
        Compose();
        std::vector<QRgb> pixels;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) pixels.push_back(output.At(x, y));
        }
        return pixels;
    }

    zucam::test::TetherEnvironment tether_;
    FixedFrameProvider provider_;
    ZucCameraVideoSource* source_ = nullptr;  // one reference
};

struct PixelCase {
    const char* what;
    int color;
    int bright;
    QRgb in;
    QRgb out;
};

TEST_F(ColorCorrection, UiValuesGiveExactPixels) {
    const PixelCase cases[] = {
        {"unchanged", 0, 0, qRgb(200, 100, 50), qRgb(200, 100, 50)},
        // s = 0: luma 0.299*200 + 0.587*100 + 0.114*50 = 124.2.
        {"grey", -100, 0, qRgb(200, 100, 50), qRgb(124, 124, 124)},
        // s = 3.5 around luma 128.37.
        {"colour 250", 250, 0, qRgb(130, 128, 126), qRgb(134, 127, 120)},
        {"colour 500", 500, 0, qRgb(130, 128, 126), qRgb(138, 126, 114)},
        {"colour beyond 500 is clamped", 1000, 0, qRgb(130, 128, 126), qRgb(138, 126, 114)},
        {"colour below -100 is clamped", -400, 0, qRgb(200, 100, 50), qRgb(124, 124, 124)},
        {"channels clamp at 0 and 255", 500, 0, qRgb(200, 100, 50), qRgb(255, 0, 0)},
        {"brightness +0.5", 0, 50, qRgb(200, 100, 50), qRgb(255, 228, 178)},
        {"brightness -0.5", 0, -50, qRgb(200, 100, 50), qRgb(73, 0, 0)},
    };
    for (const PixelCase& c : cases) {
        SetUiValues(c.color, c.bright);
        provider_.SetImage(FixedFrameProvider::Solid(4, 2, c.in));
        const std::vector<QRgb> pixels = ComposeScene(4, 2);
        for (const QRgb pixel : pixels) {
            EXPECT_EQ(qRed(pixel), qRed(c.out)) << c.what;
            EXPECT_EQ(qGreen(pixel), qGreen(c.out)) << c.what;
            EXPECT_EQ(qBlue(pixel), qBlue(c.out)) << c.what;
            EXPECT_EQ(qAlpha(pixel), 255) << c.what;
        }
    }
}

TEST_F(ColorCorrection, NoPictureDrawsNothing) {
    const std::vector<QRgb> pixels = ComposeScene(4, 2);
    for (const QRgb pixel : pixels) EXPECT_EQ(pixel, qRgba(0, 0, 0, 255));
    EXPECT_EQ(source_->filter(), nullptr);
    EXPECT_EQ(source_->texture(), nullptr);
}

// After a rotation the picture has another size: texture and pass follow it,
// so every row of the new picture arrives in place.
TEST_F(ColorCorrection, NewPictureSizeRebuildsTextureAndPass) {
    SetUiValues(0, 0);
    provider_.SetImage(FixedFrameProvider::Solid(4, 2, qRgb(10, 20, 30)));
    ComposeScene(4, 2);
    const ZucColorCorrectionFilter* firstFilter = source_->filter();
    ASSERT_NE(firstFilter, nullptr);
    EXPECT_EQ(firstFilter->width(), 4);

    QImage rotated(2, 4, QImage::Format_RGBA8888);
    const QRgb rows[4] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 0)};
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 2; ++x) rotated.setPixelColor(x, y, QColor(rows[y]));
    }
    provider_.SetImage(rotated);
    source_->Resize(QSize(2, 4));
    const std::vector<QRgb> pixels = ComposeScene(2, 4);
    ASSERT_NE(source_->filter(), nullptr);
    EXPECT_EQ(source_->filter()->width(), 2);
    EXPECT_EQ(source_->filter()->height(), 4);
    EXPECT_EQ(source_->texture()->height(), 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 2; ++x) EXPECT_EQ(pixels[static_cast<size_t>(y * 2 + x)], rows[y]) << x << "," << y;
    }
}

TEST_F(ColorCorrection, ChannelModesTwoAndThreeSwapRedAndBlue) {
    const uint8_t in[4] = {200, 100, 50, 255};
    GsTexture texture(in, 4, kGsTextureRgba, 1, 1, GsDevice::DefaultDevice());
    // Brightness +1 % keeps the pass from being skipped as a no-op.
    const std::pair<int, QRgb> cases[] = {
        {1, qRgb(203, 103, 53)}, {2, qRgb(53, 103, 203)}, {3, qRgb(53, 103, 203)}, {0, qRgb(203, 103, 53)}};
    for (const auto& [mode, expected] : cases) {
        ZucColorCorrectionFilter filter(1, 1);
        filter.SetChannelMode(mode);
        filter.brightness = 1;
        filter.SetInput(&texture);
        filter.Attach();
        ComposeScene(1, 1);  // any composed scene runs the attached passes
        const uint8_t* out = filter.texture->pixels();
        EXPECT_EQ(qRgb(out[0], out[1], out[2]), expected) << mode;
    }
}

// Saturation and brightness offsets 0 change nothing: the pass is skipped
// unless it swaps channels, and the source then draws its input directly.
TEST_F(ColorCorrection, NoOpPassIsSkipped) {
    ZucColorCorrectionFilter filter(1, 1);
    EXPECT_TRUE(filter.IsIdentity());
    filter.SetChannelMode(2);
    EXPECT_FALSE(filter.IsIdentity());
    filter.SetChannelMode(1);
    filter.saturation = -1;
    EXPECT_FALSE(filter.IsIdentity());

    SetUiValues(0, 0);
    provider_.SetImage(FixedFrameProvider::Solid(4, 2, qRgba(10, 20, 30, 40)));
    const std::vector<QRgb> pixels = ComposeScene(4, 2);
    ASSERT_NE(source_->filter(), nullptr);
    EXPECT_EQ(source_->filter()->texture->pixels()[0], 0);  // never drawn
    for (const QRgb pixel : pixels) EXPECT_EQ(pixel, qRgba(10, 20, 30, 40));
}

TEST(ColorCorrectionConstants, LayoutOfTheProgramsBuffer) {
    const auto plain = ZucColorCorrectionFilter::MakeConstants(250, 30, 1);
    static_assert(sizeof(plain) == 144);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    EXPECT_EQ(std::memcmp(plain.data(), identity, sizeof identity), 0);
    // s = 3.5, k = -2.5: the first column and the diagonal.
    EXPECT_FLOAT_EQ(plain[16], 0.299f * -2.5f + 3.5f);
    EXPECT_FLOAT_EQ(plain[17], 0.299f * -2.5f);
    EXPECT_FLOAT_EQ(plain[21], 0.587f * -2.5f + 3.5f);
    EXPECT_FLOAT_EQ(plain[24], 0.114f * -2.5f);
    EXPECT_FLOAT_EQ(plain[26], 0.114f * -2.5f + 3.5f);
    EXPECT_EQ(plain[19], 0.0f);
    EXPECT_EQ(plain[31], 1.0f);
    EXPECT_FLOAT_EQ(plain[32], 0.3f);
    for (int i = 33; i < 36; ++i) EXPECT_EQ(plain[static_cast<size_t>(i)], 0.0f);

    const auto swapped = ZucColorCorrectionFilter::MakeConstants(0, 0, 2);
    const float swap[16] = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(std::memcmp(swapped.data(), swap, sizeof swap), 0);
}

}  // namespace
