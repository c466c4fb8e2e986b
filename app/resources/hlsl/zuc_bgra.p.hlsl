// Copies a BGRA texture, swapping red and blue.
Texture2D image : register(t0);
SamplerState point_sampler : register(s0);
float4 main(float4 pos : SV_POSITION, float2 uv : TEXCOORD0) : SV_TARGET {
    return image.Sample(point_sampler, uv).bgra;
}
