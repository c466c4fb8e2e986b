#include "zuc_shaders.h"

#include "vexo/gs_device.h"

namespace {

// The programs' source, kept with the device; the CPU back end runs its
// kernels of the same names.
constexpr const char* kVertex = R"(
struct VertexIn { float4 pos : POSITION; float2 uv : TEXCOORD0; };
struct VertexOut { float4 pos : SV_POSITION; float2 uv : TEXCOORD0; };
VertexOut main(VertexIn v) { VertexOut o; o.pos = v.pos; o.uv = v.uv; return o; }
)";

constexpr const char* kRgba = R"(
Texture2D image : register(t0);
SamplerState point_sampler : register(s0);
float4 main(float4 pos : SV_POSITION, float2 uv : TEXCOORD0) : SV_TARGET {
    return image.Sample(point_sampler, uv);
}
)";

constexpr const char* kBgrx = R"(
Texture2D image : register(t0);
SamplerState point_sampler : register(s0);
float4 main(float4 pos : SV_POSITION, float2 uv : TEXCOORD0) : SV_TARGET {
    return float4(image.Sample(point_sampler, uv).rgb, 1.0);
}
)";

constexpr const char* kColorCorrection = R"(
Texture2D image : register(t0);
SamplerState point_sampler : register(s0);
cbuffer ColorCorrection : register(b0) {
    float4x4 format;
    float4x4 saturation;
    float brightness;
};
float4 main(float4 pos : SV_POSITION, float2 uv : TEXCOORD0) : SV_TARGET {
    float4 c = mul(format, image.Sample(point_sampler, uv));
    c = mul(saturation, c);
    return float4(c.rgb + brightness, c.a);
}
)";

}  // namespace

bool RegisterZucShaders(GsDevice* device) {
    if (device == nullptr) return false;
    bool all = device->AddShader("zuc_rgba", kVertex, kRgba);
    all = device->AddShader("zuc_bgrx", kVertex, kBgrx) && all;
    all = device->AddShader("zuc_color_correction", kVertex, kColorCorrection) && all;
    return all;
}
