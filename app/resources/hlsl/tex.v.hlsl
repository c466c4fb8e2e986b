// The one vertex shader of the composition: passes position and texture
// coordinates through.
struct VertexIn { float4 pos : POSITION; float2 uv : TEXCOORD0; };
struct VertexOut { float4 pos : SV_POSITION; float2 uv : TEXCOORD0; };
VertexOut main(VertexIn v) { VertexOut o; o.pos = v.pos; o.uv = v.uv; return o; }
