// Copies a texture whose fourth byte is unused: alpha forced opaque.
Texture2D image : register(t0);
SamplerState point_sampler : register(s0);
float4 main(float4 pos : SV_POSITION, float2 uv : TEXCOORD0) : SV_TARGET {
    return float4(image.Sample(point_sampler, uv).rgb, 1.0);
}
