// The colour correction: the format matrix, the saturation matrix, then the
// brightness offset.
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
