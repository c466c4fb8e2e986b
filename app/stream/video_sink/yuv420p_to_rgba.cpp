#include "video_sink/yuv420p_to_rgba.h"

#include <algorithm>
#include <cstdint>

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#if defined(__x86_64__) || defined(__i386__)
#define ZUCAM_RGBA_X86 1
#include <immintrin.h>
#else
#define ZUCAM_RGBA_X86 0
#endif

namespace {

constexpr int kChromaOffset = 128 << 3;  // U and V after the shift by 3

// swscale's rounding of a 16.16 value times 2^13 (or 2^3) to int16.
int16_t RoundToInt16(int64_t value) {
    const int64_t rounded = (value + (1 << 15)) >> 16;
    return static_cast<int16_t>(std::clamp<int64_t>(rounded, INT16_MIN, INT16_MAX));
}

int16_t Saturate16(int value) { return static_cast<int16_t>(std::clamp(value, INT16_MIN, INT16_MAX)); }
uint8_t SaturateU8(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }
// pmulhw: the signed high half of a 16 x 16 product (an arithmetic shift).
int MulHigh(int16_t a, int16_t b) { return (int32_t{a} * int32_t{b}) >> 16; }

struct Planes {
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
    uint8_t* out;
};

Planes RowOf(const AVFrame& frame, uint8_t* destination, int destinationStride, int row) {
    return Planes{frame.data[0] + static_cast<ptrdiff_t>(row) * frame.linesize[0],
                  frame.data[1] + static_cast<ptrdiff_t>(row / 2) * frame.linesize[1],
                  frame.data[2] + static_cast<ptrdiff_t>(row / 2) * frame.linesize[2],
                  destination + static_cast<ptrdiff_t>(row) * destinationStride};
}

// Pixels [from, width) of one line, one at a time.
void RowScalar(const Yuv420pToRgbaTable& t, const Planes& p, int from, int width) {
    for (int x = from; x < width; ++x) {
        const auto luma = static_cast<int16_t>((p.y[x] << 3) - t.yOffset);
        const int16_t u = Saturate16((p.u[x / 2] << 3) - kChromaOffset);
        const int16_t v = Saturate16((p.v[x / 2] << 3) - kChromaOffset);
        const int yTerm = MulHigh(luma, t.yCoeff);
        const int16_t green = Saturate16(MulHigh(u, t.ug) + MulHigh(v, t.vg));
        uint8_t* const pixel = p.out + static_cast<ptrdiff_t>(x) * 4;
        pixel[0] = SaturateU8(Saturate16(yTerm + MulHigh(v, t.vr)));
        pixel[1] = SaturateU8(Saturate16(yTerm + green));
        pixel[2] = SaturateU8(Saturate16(yTerm + MulHigh(u, t.ub)));
        pixel[3] = 255;
    }
}

#if ZUCAM_RGBA_X86

bool Aligned(const void* pointer, uintptr_t alignment) {
    return (reinterpret_cast<uintptr_t>(pointer) & (alignment - 1)) == 0;
}

// Sixteen pixels from 16 Y and 8 U and V, as four blocks of 4 RGBA pixels.
// Even and odd pixels are computed apart, like swscale, each with the chroma
// term of its block.
struct Sse2Constants {
    __m128i yCoeff, yOffset, vr, ub, ug, vg, chromaOffset, lowBytes, ones;
    explicit Sse2Constants(const Yuv420pToRgbaTable& t)
        : yCoeff(_mm_set1_epi16(t.yCoeff)),
          yOffset(_mm_set1_epi16(t.yOffset)),
          vr(_mm_set1_epi16(t.vr)),
          ub(_mm_set1_epi16(t.ub)),
          ug(_mm_set1_epi16(t.ug)),
          vg(_mm_set1_epi16(t.vg)),
          chromaOffset(_mm_set1_epi16(kChromaOffset)),
          lowBytes(_mm_set1_epi16(0x00FF)),
          ones(_mm_set1_epi8(-1)) {}
};

template <bool kStream>
void Store128(uint8_t* out, __m128i value) {
    if (kStream) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(out), value);
    } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), value);
    }
}

template <bool kStream>
int RowSse2(const Sse2Constants& c, const Planes& p, int from, int width) {
    const __m128i zero = _mm_setzero_si128();
    int x = from;
    for (; x + 16 <= width; x += 16) {
        const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p.y + x));
        __m128i u = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p.u + x / 2)), zero);
        __m128i v = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p.v + x / 2)), zero);
        u = _mm_subs_epi16(_mm_slli_epi16(u, 3), c.chromaOffset);
        v = _mm_subs_epi16(_mm_slli_epi16(v, 3), c.chromaOffset);
        __m128i even = _mm_sub_epi16(_mm_slli_epi16(_mm_and_si128(luma, c.lowBytes), 3), c.yOffset);
        __m128i odd = _mm_sub_epi16(_mm_slli_epi16(_mm_srli_epi16(luma, 8), 3), c.yOffset);
        even = _mm_mulhi_epi16(even, c.yCoeff);
        odd = _mm_mulhi_epi16(odd, c.yCoeff);
        const __m128i red = _mm_mulhi_epi16(v, c.vr);
        const __m128i blue = _mm_mulhi_epi16(u, c.ub);
        const __m128i green = _mm_adds_epi16(_mm_mulhi_epi16(u, c.ug), _mm_mulhi_epi16(v, c.vg));
        // [R even | B even], [R odd | B odd], [G even | 255], [G odd | 255]
        const __m128i rbEven = _mm_packus_epi16(_mm_adds_epi16(even, red), _mm_adds_epi16(even, blue));
        const __m128i rbOdd = _mm_packus_epi16(_mm_adds_epi16(odd, red), _mm_adds_epi16(odd, blue));
        const __m128i gEven = _mm_packus_epi16(_mm_adds_epi16(even, green), zero);
        const __m128i gOdd = _mm_packus_epi16(_mm_adds_epi16(odd, green), zero);
        const __m128i r = _mm_unpacklo_epi8(rbEven, rbOdd);
        const __m128i b = _mm_unpackhi_epi8(rbEven, rbOdd);
        const __m128i g = _mm_unpacklo_epi8(gEven, gOdd);
        const __m128i rgLow = _mm_unpacklo_epi8(r, g);
        const __m128i rgHigh = _mm_unpackhi_epi8(r, g);
        const __m128i baLow = _mm_unpacklo_epi8(b, c.ones);
        const __m128i baHigh = _mm_unpackhi_epi8(b, c.ones);
        uint8_t* const out = p.out + static_cast<ptrdiff_t>(x) * 4;
        Store128<kStream>(out, _mm_unpacklo_epi16(rgLow, baLow));
        Store128<kStream>(out + 16, _mm_unpackhi_epi16(rgLow, baLow));
        Store128<kStream>(out + 32, _mm_unpacklo_epi16(rgHigh, baHigh));
        Store128<kStream>(out + 48, _mm_unpackhi_epi16(rgHigh, baHigh));
    }
    return x;
}

void ConvertSse2(const Yuv420pToRgbaTable& t, const AVFrame& frame, uint8_t* destination, int stride,
                 bool stream) {
    const Sse2Constants c(t);
    for (int row = 0; row < frame.height; ++row) {
        const Planes p = RowOf(frame, destination, stride, row);
        const int done = stream && Aligned(p.out, 16) ? RowSse2<true>(c, p, 0, frame.width)
                                                      : RowSse2<false>(c, p, 0, frame.width);
        RowScalar(t, p, done, frame.width);
    }
    if (stream) _mm_sfence();
}

// The same on 32 pixels: each 128-bit lane does what the SSE2 code does on
// 16 pixels (lane 0 pixels 0-15, lane 1 pixels 16-31), the lanes are put in
// order when stored.
template <bool kStream>
__attribute__((target("avx2"))) void Store256(uint8_t* out, __m256i value) {
    if (kStream) {
        _mm256_stream_si256(reinterpret_cast<__m256i*>(out), value);
    } else {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), value);
    }
}

template <bool kStream>
__attribute__((target("avx2"))) int RowAvx2(const Yuv420pToRgbaTable& t, const Planes& p, int width) {
    const __m256i yCoeff = _mm256_set1_epi16(t.yCoeff);
    const __m256i yOffset = _mm256_set1_epi16(t.yOffset);
    const __m256i vr = _mm256_set1_epi16(t.vr);
    const __m256i ub = _mm256_set1_epi16(t.ub);
    const __m256i ug = _mm256_set1_epi16(t.ug);
    const __m256i vg = _mm256_set1_epi16(t.vg);
    const __m256i chromaOffset = _mm256_set1_epi16(kChromaOffset);
    const __m256i lowBytes = _mm256_set1_epi16(0x00FF);
    const __m256i ones = _mm256_set1_epi8(-1);
    const __m256i zero = _mm256_setzero_si256();
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p.y + x));
        __m256i u = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p.u + x / 2)));
        __m256i v = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p.v + x / 2)));
        u = _mm256_subs_epi16(_mm256_slli_epi16(u, 3), chromaOffset);
        v = _mm256_subs_epi16(_mm256_slli_epi16(v, 3), chromaOffset);
        __m256i even = _mm256_sub_epi16(_mm256_slli_epi16(_mm256_and_si256(luma, lowBytes), 3), yOffset);
        __m256i odd = _mm256_sub_epi16(_mm256_slli_epi16(_mm256_srli_epi16(luma, 8), 3), yOffset);
        even = _mm256_mulhi_epi16(even, yCoeff);
        odd = _mm256_mulhi_epi16(odd, yCoeff);
        const __m256i red = _mm256_mulhi_epi16(v, vr);
        const __m256i blue = _mm256_mulhi_epi16(u, ub);
        const __m256i green = _mm256_adds_epi16(_mm256_mulhi_epi16(u, ug), _mm256_mulhi_epi16(v, vg));
        const __m256i rbEven = _mm256_packus_epi16(_mm256_adds_epi16(even, red), _mm256_adds_epi16(even, blue));
        const __m256i rbOdd = _mm256_packus_epi16(_mm256_adds_epi16(odd, red), _mm256_adds_epi16(odd, blue));
        const __m256i gEven = _mm256_packus_epi16(_mm256_adds_epi16(even, green), zero);
        const __m256i gOdd = _mm256_packus_epi16(_mm256_adds_epi16(odd, green), zero);
        const __m256i r = _mm256_unpacklo_epi8(rbEven, rbOdd);
        const __m256i b = _mm256_unpackhi_epi8(rbEven, rbOdd);
        const __m256i g = _mm256_unpacklo_epi8(gEven, gOdd);
        const __m256i rgLow = _mm256_unpacklo_epi8(r, g);
        const __m256i rgHigh = _mm256_unpackhi_epi8(r, g);
        const __m256i baLow = _mm256_unpacklo_epi8(b, ones);
        const __m256i baHigh = _mm256_unpackhi_epi8(b, ones);
        const __m256i pixels0 = _mm256_unpacklo_epi16(rgLow, baLow);   // 0-3 | 16-19
        const __m256i pixels4 = _mm256_unpackhi_epi16(rgLow, baLow);   // 4-7 | 20-23
        const __m256i pixels8 = _mm256_unpacklo_epi16(rgHigh, baHigh);  // 8-11 | 24-27
        const __m256i pixels12 = _mm256_unpackhi_epi16(rgHigh, baHigh);  // 12-15 | 28-31
        uint8_t* const out = p.out + static_cast<ptrdiff_t>(x) * 4;
        Store256<kStream>(out, _mm256_permute2x128_si256(pixels0, pixels4, 0x20));
        Store256<kStream>(out + 32, _mm256_permute2x128_si256(pixels8, pixels12, 0x20));
        Store256<kStream>(out + 64, _mm256_permute2x128_si256(pixels0, pixels4, 0x31));
        Store256<kStream>(out + 96, _mm256_permute2x128_si256(pixels8, pixels12, 0x31));
    }
    return x;
}

__attribute__((target("avx2"))) void ConvertAvx2(const Yuv420pToRgbaTable& t, const AVFrame& frame,
                                                 uint8_t* destination, int stride, bool stream) {
    const Sse2Constants c(t);
    for (int row = 0; row < frame.height; ++row) {
        const Planes p = RowOf(frame, destination, stride, row);
        const bool streamRow = stream && Aligned(p.out, 32);
        int done = streamRow ? RowAvx2<true>(t, p, frame.width) : RowAvx2<false>(t, p, frame.width);
        done = streamRow ? RowSse2<true>(c, p, done, frame.width) : RowSse2<false>(c, p, done, frame.width);
        RowScalar(t, p, done, frame.width);
    }
    if (stream) _mm_sfence();
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

#endif  // ZUCAM_RGBA_X86

void ConvertScalar(const Yuv420pToRgbaTable& t, const AVFrame& frame, uint8_t* destination, int stride) {
    for (int row = 0; row < frame.height; ++row) RowScalar(t, RowOf(frame, destination, stride, row), 0, frame.width);
}

}  // namespace

Yuv420pToRgbaTable MakeYuv420pToRgbaTable(const int* coefficients, int sourceRange) {
    int64_t crv = coefficients[0];
    int64_t cbu = coefficients[1];
    int64_t cgu = -coefficients[2];
    int64_t cgv = -coefficients[3];
    int64_t cy = 1 << 16;
    int64_t oy = 0;
    if (sourceRange == 0) {
        cy = cy * 255 / 219;
        oy = int64_t{16} << 16;
    } else {
        crv = crv * 224 / 255;
        cbu = cbu * 224 / 255;
        cgu = cgu * 224 / 255;
        cgv = cgv * 224 / 255;
    }
    Yuv420pToRgbaTable table;
    table.yCoeff = RoundToInt16(cy * (1 << 13));
    table.yOffset = RoundToInt16(oy * (1 << 3));
    table.vr = RoundToInt16(crv * (1 << 13));
    table.ub = RoundToInt16(cbu * (1 << 13));
    table.ug = RoundToInt16(cgu * (1 << 13));
    table.vg = RoundToInt16(cgv * (1 << 13));
    return table;
}

bool Yuv420pFastPathApplies(const AVFrame& frame) {
#if ZUCAM_RGBA_X86
    const bool formatFits = frame.format == AV_PIX_FMT_YUV420P || frame.format == AV_PIX_FMT_YUVJ420P;
    return formatFits && frame.width > 0 && frame.height > 0 && frame.height % 2 == 0 &&
           (av_get_cpu_flags() & AV_CPU_FLAG_SSSE3) != 0;
#else
    (void)frame;
    return false;
#endif
}

bool ConvertYuv420pToRgbaWith(RgbaIsa isa, const Yuv420pToRgbaTable& table, const AVFrame& frame,
                              uint8_t* destination, int destinationStride, RgbaStores stores) {
    const bool stream = stores == RgbaStores::kStreaming;
    switch (isa) {
    case RgbaIsa::kScalar: ConvertScalar(table, frame, destination, destinationStride); return true;
#if ZUCAM_RGBA_X86
    case RgbaIsa::kSse2: ConvertSse2(table, frame, destination, destinationStride, stream); return true;
    case RgbaIsa::kAvx2:
        if (!HasAvx2()) return false;
        ConvertAvx2(table, frame, destination, destinationStride, stream);
        return true;
#else
    case RgbaIsa::kSse2:
    case RgbaIsa::kAvx2: (void)stream; return false;
#endif
    }
    return false;
}

void ConvertYuv420pToRgba(const Yuv420pToRgbaTable& table, const AVFrame& frame, uint8_t* destination,
                          int destinationStride, RgbaStores stores) {
#if ZUCAM_RGBA_X86
    const RgbaIsa isa = HasAvx2() ? RgbaIsa::kAvx2 : RgbaIsa::kSse2;
#else
    const RgbaIsa isa = RgbaIsa::kScalar;
#endif
    ConvertYuv420pToRgbaWith(isa, table, frame, destination, destinationStride, stores);
}
