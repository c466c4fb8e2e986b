// The built-in kernels. Each reads the source pixel that the pass maps to a
// target pixel (nearest sampling) and writes RGBA bytes.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "vexo/gs_kernel.h"

namespace {

const uint8_t* SourceRow(const GsKernelPass& pass, int y) {
    return pass.source + static_cast<size_t>(pass.sourceRow[y - pass.y0]) * pass.sourceStride;
}

uint8_t* TargetRow(const GsKernelPass& pass, int y) {
    return pass.target + static_cast<size_t>(y) * pass.targetStride + static_cast<size_t>(pass.x0) * 4;
}

void CopyKernel(const GsKernelPass& pass, int rowBegin, int rowEnd, bool opaque) {
    if (pass.source == nullptr) return;
    const int width = pass.x1 - pass.x0;
    for (int y = rowBegin; y < rowEnd; ++y) {
        const uint8_t* source = SourceRow(pass, y);
        uint8_t* target = TargetRow(pass, y);
        if (pass.identity) {
            std::memcpy(target, source, static_cast<size_t>(width) * 4);
        } else {
            for (int x = 0; x < width; ++x) std::memcpy(target + x * 4, source + pass.sourceColumn[x] * 4, 4);
        }
        if (opaque) {
            for (int x = 0; x < width; ++x) target[x * 4 + 3] = 255;
        }
    }
}

void RgbaKernel(const GsKernelPass& pass, int rowBegin, int rowEnd) { CopyKernel(pass, rowBegin, rowEnd, false); }

void BgrxKernel(const GsKernelPass& pass, int rowBegin, int rowEnd) { CopyKernel(pass, rowBegin, rowEnd, true); }

// Constant buffer: float4x4 format, float4x4 saturation (column-major: each
// group of four floats is a column), float brightness; 144 bytes.
constexpr size_t kColorCorrectionBytes = 144;

void ColorCorrectionKernel(const GsKernelPass& pass, int rowBegin, int rowEnd) {
    if (pass.source == nullptr || pass.constants == nullptr || pass.constantsSize < kColorCorrectionBytes) return;
    float format[16];
    float saturation[16];
    float brightness = 0.0f;
    std::memcpy(format, pass.constants, sizeof format);
    std::memcpy(saturation, pass.constants + 64, sizeof saturation);
    std::memcpy(&brightness, pass.constants + 128, sizeof brightness);
    // out = saturation * (format * c): fold both into one 3x3 matrix (rows
    // are the output channels); alpha passes through.
    float m[3][3];
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            float sum = 0.0f;
            for (int k = 0; k < 3; ++k) sum += saturation[k * 4 + row] * format[col * 4 + k];
            m[row][col] = sum;
        }
    }
    bool identity = std::fabs(brightness) < 1e-7f;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            identity = identity && std::fabs(m[row][col] - (row == col ? 1.0f : 0.0f)) < 1e-7f;
        }
    }
    if (identity) {
        CopyKernel(pass, rowBegin, rowEnd, false);
        return;
    }
    // On byte values: out = m * c + 255 * brightness, rounded and clamped.
    const float offset = brightness * 255.0f + 0.5f;
    const int width = pass.x1 - pass.x0;
    for (int y = rowBegin; y < rowEnd; ++y) {
        const uint8_t* sourceRow = SourceRow(pass, y);
        uint8_t* target = TargetRow(pass, y);
        for (int x = 0; x < width; ++x) {
            const uint8_t* in = sourceRow + (pass.identity ? x : pass.sourceColumn[x]) * 4;
            const float r = in[0];
            const float g = in[1];
            const float b = in[2];
            for (int c = 0; c < 3; ++c) {
                const float v = m[c][0] * r + m[c][1] * g + m[c][2] * b + offset;
                target[x * 4 + c] = static_cast<uint8_t>(std::clamp(v, 0.0f, 255.0f));
            }
            target[x * 4 + 3] = in[3];
        }
    }
}

}  // namespace

GsKernel FindBuiltInKernel(const std::string& name) {
    if (name == "zuc_rgba") return RgbaKernel;
    if (name == "zuc_bgrx") return BgrxKernel;
    if (name == "zuc_color_correction") return ColorCorrectionKernel;
    return nullptr;
}

bool KernelWritesWholePass(GsKernel kernel, const GsKernelPass& pass) {
    if (pass.source == nullptr) return false;
    if (kernel == RgbaKernel || kernel == BgrxKernel) return true;
    if (kernel == ColorCorrectionKernel) return pass.constants != nullptr && pass.constantsSize >= kColorCorrectionBytes;
    return false;
}

bool KernelIsPlainCopy(GsKernel kernel) { return kernel == RgbaKernel; }
