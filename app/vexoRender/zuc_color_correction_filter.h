// Saturation and brightness over the input texture, with an optional
// red-blue swap, through the program "zuc_color_correction".
//
// The program's constant buffer (144 bytes): float4x4 format (bytes 0-63),
// float4x4 saturation (64-127), float brightness (128-131), zero padding.
// Matrices are column-major: each group of four floats is a column.
#pragma once

#include <array>
#include <memory>

#include "vexo/gs_constant_buffer.h"
#include "zuc_effect_filter.h"

class ZucColorCorrectionFilter final : public ZucEffectFilter {
public:
    static constexpr size_t kConstantBytes = 144;
    using Constants = std::array<float, kConstantBytes / sizeof(float)>;

    ZucColorCorrectionFilter(int width, int height);
    ~ZucColorCorrectionFilter() override;

    // Modes 2 and 3 swap red and blue before the saturation step.
    void SetChannelMode(int mode) { channelMode_ = mode; }
    // Drawing thread. A pass that would change nothing is skipped: see
    // IsIdentity.
    void Draw() override;
    // Saturation and brightness offsets 0 and no swap: the output would be
    // the input, and the pass's texture is left as it is.
    bool IsIdentity() const { return saturation == 0 && brightness == 0 && channelMode_ != 2 && channelMode_ != 3; }

    // The buffer for a saturation offset in percent (-100 grey, 0 unchanged,
    // clamped to 500) and a brightness in percent of full scale.
    static Constants MakeConstants(int saturation, int brightness, int channelMode);

    int saturation = 0;  // percent offset
    int brightness = 0;  // percent

private:
    int channelMode_ = 1;
    std::unique_ptr<GsConstantBuffer> constants_;  // made by the first Draw
};
