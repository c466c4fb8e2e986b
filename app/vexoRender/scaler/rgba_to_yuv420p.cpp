#include "scaler/rgba_to_yuv420p.h"

#include "scaler/rgba_to_yuv420p_kernels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ZUC_X86_KERNELS 1
#else
#define ZUC_X86_KERNELS 0
#endif

namespace {

// BT.709 from full-range RGB to limited-range YCbCr:
//   Y  = 16  + 219/255 * (0.2126 R + 0.7152 G + 0.0722 B)
//   Cb = 128 + 224/255 * (B - Y') / 1.8556
//   Cr = 128 + 224/255 * (R - Y') / 1.5748
// in 15-bit fixed point.
constexpr int kShift = 15;
constexpr double kKr = 0.2126;
constexpr double kKb = 0.0722;
constexpr double kKg = 1.0 - kKr - kKb;
constexpr double kYScale = 219.0 / 255.0;
constexpr double kCScale = 224.0 / 255.0;

constexpr int Fixed(double value) {
    return static_cast<int>(value * (1 << kShift) + (value < 0 ? -0.5 : 0.5));
}

constexpr int kYr = Fixed(kYScale * kKr);
constexpr int kYg = Fixed(kYScale * kKg);
constexpr int kYb = Fixed(kYScale * kKb);
constexpr int kUr = Fixed(kCScale * -kKr / (2.0 * (1.0 - kKb)));
constexpr int kUg = Fixed(kCScale * -kKg / (2.0 * (1.0 - kKb)));
constexpr int kUb = Fixed(kCScale * 0.5);
constexpr int kVr = Fixed(kCScale * 0.5);
constexpr int kVg = Fixed(kCScale * -kKg / (2.0 * (1.0 - kKr)));
constexpr int kVb = Fixed(kCScale * -kKb / (2.0 * (1.0 - kKr)));

// 16 and the rounding half for luma; chroma sums are 16 times the mean, so
// its coefficients lose 4 bits of their shift.
constexpr int kLumaOffset = (16 << kShift) + (1 << (kShift - 1));
constexpr int kChromaShift = kShift + 4;
constexpr int kChromaOffset = (128 << kChromaShift) + (1 << (kChromaShift - 1));

// One pixel as a 32-bit word: R in the low byte on this little-endian
// machine (x86-64 and arm64 Linux). Whole-word loads with shifts vectorise
// far better than four byte loads.
inline uint32_t Pixel(const uint8_t* p) {
    uint32_t word;
    std::memcpy(&word, p, 4);
    return word;
}

// One picture row's luma and, per chroma column, the sums of each channel
// over the column pair (the last pixel counted twice for an odd width), in
// one pass over the row.
void LumaAndPairSums(const uint8_t* __restrict rgba, int width, uint8_t* __restrict luma, int16_t* __restrict r,
                     int16_t* __restrict g, int16_t* __restrict b) {
    constexpr int kOffset = kLumaOffset;
    const int pairs = width / 2;
    for (int x = 0; x < pairs; ++x) {
        const uint32_t p0 = Pixel(rgba + x * 8);
        const uint32_t p1 = Pixel(rgba + x * 8 + 4);
        const int r0 = static_cast<int>(p0 & 0xFF), g0 = static_cast<int>((p0 >> 8) & 0xFF),
                  b0 = static_cast<int>((p0 >> 16) & 0xFF);
        const int r1 = static_cast<int>(p1 & 0xFF), g1 = static_cast<int>((p1 >> 8) & 0xFF),
                  b1 = static_cast<int>((p1 >> 16) & 0xFF);
        luma[2 * x] = static_cast<uint8_t>((kYr * r0 + kYg * g0 + kYb * b0 + kOffset) >> kShift);
        luma[2 * x + 1] = static_cast<uint8_t>((kYr * r1 + kYg * g1 + kYb * b1 + kOffset) >> kShift);
        r[x] = static_cast<int16_t>(r0 + r1);
        g[x] = static_cast<int16_t>(g0 + g1);
        b[x] = static_cast<int16_t>(b0 + b1);
    }
    if ((width & 1) != 0) {
        const uint32_t p = Pixel(rgba + pairs * 8);
        const int r0 = static_cast<int>(p & 0xFF), g0 = static_cast<int>((p >> 8) & 0xFF),
                  b0 = static_cast<int>((p >> 16) & 0xFF);
        luma[2 * pairs] = static_cast<uint8_t>((kYr * r0 + kYg * g0 + kYb * b0 + kOffset) >> kShift);
        r[pairs] = static_cast<int16_t>(r0 * 2);
        g[pairs] = static_cast<int16_t>(g0 * 2);
        b[pairs] = static_cast<int16_t>(b0 * 2);
    }
}

// One chroma row from the pair sums of four rows, weighted 1, 3, 3, 1: each
// channel is then 16 times the mean.
void ChromaRow(const int16_t* const* __restrict rows, int chromaWidth, uint8_t* __restrict u,
               uint8_t* __restrict v) {
    constexpr int kOffset = kChromaOffset;
    const int16_t* r0 = rows[0];
    const int16_t* r1 = rows[1];
    const int16_t* r2 = rows[2];
    const int16_t* r3 = rows[3];
    const int16_t* g0 = rows[4];
    const int16_t* g1 = rows[5];
    const int16_t* g2 = rows[6];
    const int16_t* g3 = rows[7];
    const int16_t* b0 = rows[8];
    const int16_t* b1 = rows[9];
    const int16_t* b2 = rows[10];
    const int16_t* b3 = rows[11];
    for (int x = 0; x < chromaWidth; ++x) {
        const int r = r0[x] + 3 * (r1[x] + r2[x]) + r3[x];
        const int g = g0[x] + 3 * (g1[x] + g2[x]) + g3[x];
        const int b = b0[x] + 3 * (b1[x] + b2[x]) + b3[x];
        u[x] = static_cast<uint8_t>((kUr * r + kUg * g + kUb * b + kOffset) >> (kShift + 4));
        v[x] = static_cast<uint8_t>((kVr * r + kVg * g + kVb * b + kOffset) >> (kShift + 4));
    }
}


// The plain C++ set keeps each row's sums as three arrays: R, G and B.
void ScalarLumaAndPairSums(const uint8_t* rgba, int width, uint8_t* luma, int16_t* sums) {
    const size_t columns = static_cast<size_t>((width + 1) / 2);
    LumaAndPairSums(rgba, width, luma, sums, sums + columns, sums + 2 * columns);
}

void ScalarChromaRow(const int16_t* const sums[4], int width, uint8_t* u, uint8_t* v) {
    const int columns = (width + 1) / 2;
    const int16_t* rows[12];
    for (int k = 0; k < 4; ++k) {
        rows[k] = sums[k];
        rows[4 + k] = sums[k] + columns;
        rows[8 + k] = sums[k] + 2 * columns;
    }
    ChromaRow(rows, columns, u, v);
}

// One set of row kernels: a picture row's luma and pair sums, then a chroma
// row from the pair sums of four picture rows. The sums of a row take
// sumWords 16-bit words per chroma column, laid out as the set likes.
struct RowKernels {
    int sumWords;
    void (*lumaAndPairSums)(const uint8_t* rgba, int width, uint8_t* luma, int16_t* sums);
    void (*chromaRow)(const int16_t* const sums[4], int width, uint8_t* u, uint8_t* v);
};

constexpr RowKernels kScalarKernels = {3, ScalarLumaAndPairSums, ScalarChromaRow};

#if ZUC_X86_KERNELS

// How far ahead of its loads a vector luma pass asks for RGBA. The render
// output's pictures come from memory, not from a cache, and the hardware
// prefetcher alone left the pass waiting on it: a 1080p picture from memory
// took 1.4 ms with AVX2 without this, 1.03 ms with it (1, 3, 4 and 6 KiB did
// worse). A prefetch never faults, so asking past the picture's end is
// harmless.
constexpr int kPrefetchBytes = 2048;

// The vector sets keep a row's sums as two arrays of word pairs, one pair per
// chroma column: (R, B) then (G, A). That is how a pixel's 32-bit word splits
// without a shuffle: the word and 0x00FF00FF gives R and B as 16-bit words,
// the word's 16-bit halves shifted right by 8 give G and A. Multiplying such a
// pair by a pair of coefficients and adding (pmaddwd) is then exact 32-bit
// arithmetic with the 15-bit coefficients, the same integers as the plain
// loops. Two words of one pair can be added as one 32-bit word: no sum of a
// pixel pair (at most 510) carries into the upper word.

// The pair (low, high) of signed 16-bit words as one 32-bit word.
constexpr int32_t Words(int low, int high) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(low)) |
                                (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16));
}

// The chroma offset rides in the unused A word of the (G, A) sums: A is set
// to kChromaOffsetWord and multiplied by kChromaOffsetScale.
constexpr int kChromaOffsetScale = 1 << 14;
constexpr int kChromaOffsetWord = kChromaOffset / kChromaOffsetScale;
static_assert(kChromaOffsetWord * kChromaOffsetScale == kChromaOffset, "the chroma offset splits exactly");

// Every coefficient fits a signed 16-bit word.
static_assert(kYr < 32768 && kYg < 32768 && kYb < 32768 && kUb < 32768 && kVr < 32768, "15-bit coefficients");
static_assert(kUr > -32768 && kUg > -32768 && kVg > -32768 && kVb > -32768, "15-bit coefficients");
// The weighted sums of four rows (8 x 510 at most) fit a signed 16-bit word,
// and luma (16..235) and chroma (16..240) never reach the saturation of the
// packs: they equal the plain loops' truncating casts.
static_assert(8 * 510 < 32768, "weighted sums fit 16 bits");
static_assert(((kYr + kYg + kYb) * 255 + kLumaOffset) >> kShift <= 255, "luma fits a byte unsaturated");
// Chroma is linear in sums of 0..4080: its extremes are the offset plus 4080
// times its positive (negative) coefficients.
static_assert((kUb * 4080 + kChromaOffset) >> kChromaShift <= 255 && (kUr + kUg) * 4080 + kChromaOffset >= 0,
              "U fits a byte unsaturated");
static_assert((kVr * 4080 + kChromaOffset) >> kChromaShift <= 255 && (kVg + kVb) * 4080 + kChromaOffset >= 0,
              "V fits a byte unsaturated");

uint8_t LumaOf(uint32_t pixel) {
    const int r = static_cast<int>(pixel & 0xFF), g = static_cast<int>((pixel >> 8) & 0xFF),
              b = static_cast<int>((pixel >> 16) & 0xFF);
    return static_cast<uint8_t>((kYr * r + kYg * g + kYb * b + kLumaOffset) >> kShift);
}

// The plain loop over the columns from pixel x (even) on, for the tails the
// vectors leave, in the vector sets' layout.
void PairLumaAndPairSumsFrom(const uint8_t* rgba, int x, int width, uint8_t* luma, int16_t* rb, int16_t* ga) {
    for (; x < width; x += 2) {
        const uint32_t p0 = Pixel(rgba + static_cast<ptrdiff_t>(x) * 4);
        const uint32_t p1 = x + 1 < width ? Pixel(rgba + static_cast<ptrdiff_t>(x) * 4 + 4) : p0;
        luma[x] = LumaOf(p0);
        if (x + 1 < width) luma[x + 1] = LumaOf(p1);
        const int column = x / 2;
        rb[2 * column] = static_cast<int16_t>((p0 & 0xFF) + (p1 & 0xFF));
        rb[2 * column + 1] = static_cast<int16_t>(((p0 >> 16) & 0xFF) + ((p1 >> 16) & 0xFF));
        ga[2 * column] = static_cast<int16_t>(((p0 >> 8) & 0xFF) + ((p1 >> 8) & 0xFF));
        ga[2 * column + 1] = static_cast<int16_t>((p0 >> 24) + (p1 >> 24));
    }
}

void PairChromaFrom(const int16_t* const rb[4], const int16_t* const ga[4], int column, int columns, uint8_t* u,
                    uint8_t* v) {
    const auto Weighted = [](const int16_t* const rows[4], int i) {
        return rows[0][i] + 3 * (rows[1][i] + rows[2][i]) + rows[3][i];
    };
    for (; column < columns; ++column) {
        const int r = Weighted(rb, 2 * column);
        const int b = Weighted(rb, 2 * column + 1);
        const int g = Weighted(ga, 2 * column);
        u[column] = static_cast<uint8_t>((kUr * r + kUg * g + kUb * b + kChromaOffset) >> kChromaShift);
        v[column] = static_cast<uint8_t>((kVr * r + kVg * g + kVb * b + kChromaOffset) >> kChromaShift);
    }
}

// --- SSE2, four pixels or four chroma columns a vector.

__m128i LumaSse2(__m128i rb, __m128i ga) {
    const __m128i sum = _mm_add_epi32(_mm_madd_epi16(rb, _mm_set1_epi32(Words(kYr, kYb))),
                                      _mm_madd_epi16(ga, _mm_set1_epi32(Words(kYg, 0))));
    return _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(kLumaOffset)), kShift);
}

// The pair sums of pixels 0-3 (a) and 4-7 (b): chroma columns 0-3.
__m128i PairSumsSse2(__m128i a, __m128i b) {
    const __m128 fa = _mm_castsi128_ps(a);
    const __m128 fb = _mm_castsi128_ps(b);
    return _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0))),
                         _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1))));
}

void Sse2LumaAndPairSums(const uint8_t* rgba, int width, uint8_t* luma, int16_t* sums) {
    const int columns = (width + 1) / 2;
    int16_t* rb = sums;
    int16_t* ga = sums + 2 * columns;
    const __m128i low = _mm_set1_epi32(0x00FF00FF);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        _mm_prefetch(reinterpret_cast<const char*>(rgba + 4 * x + kPrefetchBytes), _MM_HINT_T0);
        __m128i rbv[4], gav[4], y[4];
        for (int k = 0; k < 4; ++k) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgba + 4 * (x + 4 * k)));
            rbv[k] = _mm_and_si128(p, low);
            gav[k] = _mm_srli_epi16(p, 8);
            y[k] = LumaSse2(rbv[k], gav[k]);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + x),
                         _mm_packus_epi16(_mm_packs_epi32(y[0], y[1]), _mm_packs_epi32(y[2], y[3])));
        __m128i* rbOut = reinterpret_cast<__m128i*>(rb + x);
        __m128i* gaOut = reinterpret_cast<__m128i*>(ga + x);
        _mm_storeu_si128(rbOut, PairSumsSse2(rbv[0], rbv[1]));
        _mm_storeu_si128(rbOut + 1, PairSumsSse2(rbv[2], rbv[3]));
        _mm_storeu_si128(gaOut, PairSumsSse2(gav[0], gav[1]));
        _mm_storeu_si128(gaOut + 1, PairSumsSse2(gav[2], gav[3]));
    }
    PairLumaAndPairSumsFrom(rgba, x, width, luma, rb, ga);
}

__m128i LoadSse2(const int16_t* words) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(words));
}

// Rows 0 + 3 + 3 x (rows 1 + 2) of four columns' word pairs.
__m128i WeightedSse2(const int16_t* const rows[4], int column) {
    const int i = 2 * column;
    return _mm_add_epi16(_mm_add_epi16(LoadSse2(rows[0] + i), LoadSse2(rows[3] + i)),
                         _mm_mullo_epi16(_mm_add_epi16(LoadSse2(rows[1] + i), LoadSse2(rows[2] + i)),
                                         _mm_set1_epi16(3)));
}

void ChromaSse2(const int16_t* const rb[4], const int16_t* const ga[4], int column, __m128i* u, __m128i* v) {
    const __m128i rbw = WeightedSse2(rb, column);
    const __m128i gaw = _mm_or_si128(_mm_and_si128(WeightedSse2(ga, column), _mm_set1_epi32(0xFFFF)),
                                     _mm_set1_epi32(Words(0, kChromaOffsetWord)));
    *u = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(rbw, _mm_set1_epi32(Words(kUr, kUb))),
                                      _mm_madd_epi16(gaw, _mm_set1_epi32(Words(kUg, kChromaOffsetScale)))),
                        kChromaShift);
    *v = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(rbw, _mm_set1_epi32(Words(kVr, kVb))),
                                      _mm_madd_epi16(gaw, _mm_set1_epi32(Words(kVg, kChromaOffsetScale)))),
                        kChromaShift);
}

void Sse2ChromaRow(const int16_t* const sums[4], int width, uint8_t* u, uint8_t* v) {
    const int columns = (width + 1) / 2;
    const int16_t* rb[4];
    const int16_t* ga[4];
    for (int k = 0; k < 4; ++k) {
        rb[k] = sums[k];
        ga[k] = sums[k] + 2 * columns;
    }
    int column = 0;
    for (; column + 8 <= columns; column += 8) {
        __m128i u0, v0, u1, v1;
        ChromaSse2(rb, ga, column, &u0, &v0);
        ChromaSse2(rb, ga, column + 4, &u1, &v1);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(u0, u1), _mm_packs_epi32(v0, v1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(u + column), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(v + column), _mm_srli_si128(bytes, 8));
    }
    PairChromaFrom(rb, ga, column, columns, u, v);
}

constexpr RowKernels kSse2Kernels = {4, Sse2LumaAndPairSums, Sse2ChromaRow};

// --- AVX2, eight pixels or eight chroma columns a vector. Its 128-bit halves
// work apart: in each whole block of 16 pixels the sums of the 8 chroma
// columns are kept in the order the halves leave them, 0 1 4 5 2 3 6 7 (the
// columns after the last whole block in order), and the chroma row puts them
// back in order when it packs its bytes. That spares a lane-crossing shuffle
// (the scarcest unit) per block in the pass that runs on every picture row.

#define ZUC_AVX2 __attribute__((target("avx2")))

ZUC_AVX2 inline __m256i LumaAvx2(__m256i rb, __m256i ga) {
    const __m256i sum = _mm256_add_epi32(_mm256_madd_epi16(rb, _mm256_set1_epi32(Words(kYr, kYb))),
                                         _mm256_madd_epi16(ga, _mm256_set1_epi32(Words(kYg, 0))));
    return _mm256_srai_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(kLumaOffset)), kShift);
}

// The pair sums of pixels 0-7 (a) and 8-15 (b): chroma columns 0 1 4 5 2 3 6 7.
ZUC_AVX2 inline __m256i PairSumsAvx2(__m256i a, __m256i b) {
    return _mm256_hadd_epi32(a, b);
}

// Pixels 0-15: their pair sums stored, their luma returned as 16-bit words
// (pixels 0-3 8-11 | 4-7 12-15). One block at a time keeps the registers
// from spilling.
ZUC_AVX2 inline __m256i BlockAvx2(const uint8_t* rgba, int16_t* rb, int16_t* ga) {
    const __m256i low = _mm256_set1_epi32(0x00FF00FF);
    const __m256i p0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rgba));
    const __m256i p1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rgba + 32));
    const __m256i rb0 = _mm256_and_si256(p0, low);
    const __m256i rb1 = _mm256_and_si256(p1, low);
    const __m256i ga0 = _mm256_srli_epi16(p0, 8);
    const __m256i ga1 = _mm256_srli_epi16(p1, 8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(rb), PairSumsAvx2(rb0, rb1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(ga), PairSumsAvx2(ga0, ga1));
    return _mm256_packs_epi32(LumaAvx2(rb0, ga0), LumaAvx2(rb1, ga1));
}

ZUC_AVX2 void Avx2LumaAndPairSums(const uint8_t* rgba, int width, uint8_t* luma, int16_t* sums) {
    const int columns = (width + 1) / 2;
    int16_t* rb = sums;
    int16_t* ga = sums + 2 * columns;
    // Packing 32-bit lanes to bytes within the halves leaves groups of four
    // pixels in the order 0 2 4 6 1 3 5 7.
    const __m256i inOrder = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        _mm_prefetch(reinterpret_cast<const char*>(rgba + 4 * x + kPrefetchBytes), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(rgba + 4 * x + kPrefetchBytes + 64), _MM_HINT_T0);
        const __m256i words0 = BlockAvx2(rgba + 4 * x, rb + x, ga + x);
        const __m256i words1 = BlockAvx2(rgba + 4 * x + 64, rb + x + 16, ga + x + 16);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(luma + x),
                            _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words0, words1), inOrder));
    }
    if (x + 16 <= width) {
        const __m256i words = BlockAvx2(rgba + 4 * x, rb + x, ga + x);
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words, words), inOrder);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + x), _mm256_castsi256_si128(bytes));
        x += 16;
    }
    PairLumaAndPairSumsFrom(rgba, x, width, luma, rb, ga);
}

ZUC_AVX2 inline __m256i LoadAvx2(const int16_t* words) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words));
}

// Rows 0 + 3 + 3 x (rows 1 + 2) of eight columns' word pairs.
ZUC_AVX2 inline __m256i WeightedAvx2(const int16_t* const rows[4], int column) {
    const int i = 2 * column;
    return _mm256_add_epi16(
        _mm256_add_epi16(LoadAvx2(rows[0] + i), LoadAvx2(rows[3] + i)),
        _mm256_mullo_epi16(_mm256_add_epi16(LoadAvx2(rows[1] + i), LoadAvx2(rows[2] + i)), _mm256_set1_epi16(3)));
}

ZUC_AVX2 inline void ChromaAvx2(const int16_t* const rb[4], const int16_t* const ga[4], int column, __m256i* u,
                                __m256i* v) {
    const __m256i rbw = WeightedAvx2(rb, column);
    const __m256i gaw = _mm256_blend_epi16(WeightedAvx2(ga, column), _mm256_set1_epi32(Words(0, kChromaOffsetWord)),
                                           0xAA);
    *u = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(rbw, _mm256_set1_epi32(Words(kUr, kUb))),
                                            _mm256_madd_epi16(gaw, _mm256_set1_epi32(Words(kUg, kChromaOffsetScale)))),
                           kChromaShift);
    *v = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(rbw, _mm256_set1_epi32(Words(kVr, kVb))),
                                            _mm256_madd_epi16(gaw, _mm256_set1_epi32(Words(kVg, kChromaOffsetScale)))),
                           kChromaShift);
}

ZUC_AVX2 void Avx2ChromaRow(const int16_t* const sums[4], int width, uint8_t* u, uint8_t* v) {
    const int columns = (width + 1) / 2;
    const int blocks = width / 16;
    const int16_t* rb[4];
    const int16_t* ga[4];
    for (int k = 0; k < 4; ++k) {
        rb[k] = sums[k];
        ga[k] = sums[k] + 2 * columns;
    }
    const __m256i inOrder = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int block = 0;
    for (; block + 2 <= blocks; block += 2) {
        const int column = 8 * block;
        __m256i u0, v0, u1, v1;
        ChromaAvx2(rb, ga, column, &u0, &v0);
        ChromaAvx2(rb, ga, column + 8, &u1, &v1);
        // Words 0 1 4 5 8 9 12 13 | 2 3 6 7 10 11 14 15, then in order.
        const __m256i uWords = _mm256_permutevar8x32_epi32(_mm256_packs_epi32(u0, u1), inOrder);
        const __m256i vWords = _mm256_permutevar8x32_epi32(_mm256_packs_epi32(v0, v1), inOrder);
        // U 0-7 V 0-7 | U 8-15 V 8-15, then U 0-15 | V 0-15.
        const __m256i bytes =
            _mm256_permute4x64_epi64(_mm256_packus_epi16(uWords, vWords), _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u + column), _mm256_castsi256_si128(bytes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + column), _mm256_extracti128_si256(bytes, 1));
    }
    if (block < blocks) {
        const int column = 8 * block;
        __m256i u0, v0;
        ChromaAvx2(rb, ga, column, &u0, &v0);
        // Columns 0 1 4 5 2 3 6 7 in order.
        u0 = _mm256_permute4x64_epi64(u0, _MM_SHUFFLE(3, 1, 2, 0));
        v0 = _mm256_permute4x64_epi64(v0, _MM_SHUFFLE(3, 1, 2, 0));
        // U 0-3 V 0-3 U 0-3 V 0-3 | U 4-7 V 4-7 U 4-7 V 4-7, then U 0-7 V 0-7.
        const __m256i words = _mm256_packs_epi32(u0, v0);
        const __m128i bytes =
            _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(_mm256_packus_epi16(words, words), inOrder));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(u + column), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(v + column), _mm_srli_si128(bytes, 8));
        ++block;
    }
    PairChromaFrom(rb, ga, 8 * blocks, columns, u, v);
}

constexpr RowKernels kAvx2Kernels = {4, Avx2LumaAndPairSums, Avx2ChromaRow};

bool HasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}

#endif  // ZUC_X86_KERNELS

const RowKernels* KernelsFor(RgbaToYuv420pKernels kernels) {
    switch (kernels) {
    case RgbaToYuv420pKernels::kScalar:
        return &kScalarKernels;
#if ZUC_X86_KERNELS
    case RgbaToYuv420pKernels::kSse2:
        return &kSse2Kernels;
    case RgbaToYuv420pKernels::kAvx2:
        return HasAvx2() ? &kAvx2Kernels : nullptr;
#else
    default:
        break;
#endif
    }
    return nullptr;
}

// The fastest set, chosen once (a function-local static: thread-safe, and
// no load-time resolver, which ThreadSanitizer builds cannot run).
RgbaToYuv420pKernels ChooseBestKernels() {
#if ZUC_X86_KERNELS
    return HasAvx2() ? RgbaToYuv420pKernels::kAvx2 : RgbaToYuv420pKernels::kSse2;
#else
    return RgbaToYuv420pKernels::kScalar;
#endif
}

void ConvertRows(const RowKernels& kernels, const uint8_t* rgba, int rgbaStride, int width, int height,
                 uint8_t* const planes[3], const int linesizes[3], int chromaRowBegin, int chromaRowEnd) {
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    chromaRowBegin = std::max(0, chromaRowBegin);
    chromaRowEnd = std::min(chromaHeight, chromaRowEnd);
    if (chromaRowBegin >= chromaRowEnd) return;
    const auto Row = [&](int y) { return rgba + static_cast<ptrdiff_t>(std::clamp(y, 0, height - 1)) * rgbaStride; };

    // Pair sums of the picture rows 2j-1 .. 2j+2, kept in a ring of four;
    // a row's luma is written when its sums are made (rows outside the range
    // of this call, read for its first and last chroma rows, only for sums).
    const size_t columns = static_cast<size_t>(chromaWidth);
    const size_t rowWords = columns * static_cast<size_t>(kernels.sumWords);
    std::vector<int16_t> sums(rowWords * 4);
    std::vector<uint8_t> scratchLuma(static_cast<size_t>(width));
    int ringRow[4] = {-1000, -1000, -1000, -1000};
    const int ownFirst = 2 * chromaRowBegin;
    const int ownLast = std::min(height, 2 * chromaRowEnd) - 1;
    const auto SumsOf = [&](int y) -> const int16_t* {
        const int clamped = std::clamp(y, 0, height - 1);
        const int slot = clamped % 4;
        int16_t* base = sums.data() + static_cast<size_t>(slot) * rowWords;
        if (ringRow[slot] != clamped) {
            uint8_t* luma = clamped >= ownFirst && clamped <= ownLast
                                ? planes[0] + static_cast<ptrdiff_t>(clamped) * linesizes[0]
                                : scratchLuma.data();
            kernels.lumaAndPairSums(Row(clamped), width, luma, base);
            ringRow[slot] = clamped;
        }
        return base;
    };

    for (int j = chromaRowBegin; j < chromaRowEnd; ++j) {
        const int16_t* rows[4];
        for (int k = 0; k < 4; ++k) rows[k] = SumsOf(2 * j - 1 + k);
        kernels.chromaRow(rows, width, planes[1] + static_cast<ptrdiff_t>(j) * linesizes[1],
                          planes[2] + static_cast<ptrdiff_t>(j) * linesizes[2]);
    }
}

}  // namespace

bool RgbaToYuv420pKernelsAvailable(RgbaToYuv420pKernels kernels) {
    return KernelsFor(kernels) != nullptr;
}

RgbaToYuv420pKernels RgbaToYuv420pBestKernels() {
    static const RgbaToYuv420pKernels best = ChooseBestKernels();
    return best;
}

void ConvertRgbaToYuv420pBt709RowsWith(RgbaToYuv420pKernels kernels, const uint8_t* rgba, int rgbaStride, int width,
                                       int height, uint8_t* const planes[3], const int linesizes[3],
                                       int chromaRowBegin, int chromaRowEnd) {
    const RowKernels* chosen = KernelsFor(kernels);
    if (chosen == nullptr) chosen = KernelsFor(RgbaToYuv420pBestKernels());
    ConvertRows(*chosen, rgba, rgbaStride, width, height, planes, linesizes, chromaRowBegin, chromaRowEnd);
}

void ConvertRgbaToYuv420pBt709Rows(const uint8_t* rgba, int rgbaStride, int width, int height, uint8_t* const planes[3],
                                   const int linesizes[3], int chromaRowBegin, int chromaRowEnd) {
    static const RowKernels& best = *KernelsFor(RgbaToYuv420pBestKernels());
    ConvertRows(best, rgba, rgbaStride, width, height, planes, linesizes, chromaRowBegin, chromaRowEnd);
}

bool RgbaToYuv420pBt709Matches(int width, int height) {
    return width >= 2 && width % 2 == 0 && height >= 8 && height % 2 == 0;
}

bool ConvertRgbaToYuv420pBt709(const uint8_t* rgba, int rgbaStride, int width, int height, uint8_t* const planes[3],
                               const int linesizes[3]) {
    if (rgba == nullptr || width < 1 || height < 1 || planes[0] == nullptr || planes[1] == nullptr ||
        planes[2] == nullptr) {
        return false;
    }
    ConvertRgbaToYuv420pBt709Rows(rgba, rgbaStride, width, height, planes, linesizes, 0, (height + 1) / 2);
    return true;
}
