#include "zuc_color_correction_filter.h"

#include <algorithm>

#include "vexo/gs_context_default.h"
#include "vexo/gs_device.h"

ZucColorCorrectionFilter::ZucColorCorrectionFilter(int width, int height) : ZucEffectFilter(width, height) {}

ZucColorCorrectionFilter::~ZucColorCorrectionFilter() { Detach(); }

ZucColorCorrectionFilter::Constants ZucColorCorrectionFilter::MakeConstants(int saturationPercent,
                                                                             int brightnessPercent,
                                                                             int channelMode) {
    Constants c{};
    const bool swap = channelMode == 2 || channelMode == 3;
    // format: identity or the red-blue swap.
    c[swap ? 2 : 0] = 1.0f;
    c[5] = 1.0f;
    c[swap ? 8 : 10] = 1.0f;
    c[15] = 1.0f;

    const float s = std::clamp(static_cast<float>(saturationPercent) / 100.0f + 1.0f, 0.0f, 6.0f);
    const float k = 1.0f - s;
    const float luma[3] = {0.299f, 0.587f, 0.114f};
    for (int column = 0; column < 3; ++column) {
        for (int row = 0; row < 3; ++row) {
            c[16 + column * 4 + row] = luma[column] * k + (row == column ? s : 0.0f);
        }
    }
    c[31] = 1.0f;
    c[32] = static_cast<float>(brightnessPercent) / 100.0f;
    return c;
}

void ZucColorCorrectionFilter::Draw() {
    if (input() == nullptr || IsIdentity()) return;
    const Constants constants = MakeConstants(saturation, brightness, channelMode_);
    if (!constants_) {
        constants_ = std::make_unique<GsConstantBuffer>(constants.data(), kConstantBytes, GsDevice::DefaultDevice());
    } else {
        constants_->Update(constants.data(), kConstantBytes);
    }
    GsContextDefault::SetViewport(0, 0, width(), height());
    const GsTextureBinder binder(input());
    if (GsContextDefault::BindShader("zuc_color_correction")) {
        if (constants_->Bind(0)) {
            const gs_vec2 size{static_cast<float>(width()), static_cast<float>(height())};
            GsContextDefault::DrawRect({{0.0f, 0.0f}, size, 0.0f}, size);
            constants_->Unbind();
        }
        GsContextDefault::UnbindShader();
    }
}
