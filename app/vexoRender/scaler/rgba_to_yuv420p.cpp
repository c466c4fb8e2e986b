#include "scaler/rgba_to_yuv420p.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

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

// Not under ThreadSanitizer: the clones are chosen by an ifunc resolver, which
// runs before the sanitizer runtime is up and crashes the program at load.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define ZUC_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZUC_VECTOR_CLONES
#endif

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
ZUC_VECTOR_CLONES
void LumaAndPairSums(const uint8_t* __restrict rgba, int width, uint8_t* __restrict luma, int16_t* __restrict r,
                     int16_t* __restrict g, int16_t* __restrict b) {
    constexpr int kOffset = (16 << kShift) + (1 << (kShift - 1));
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
ZUC_VECTOR_CLONES
void ChromaRow(const int16_t* const* __restrict rows, int chromaWidth, uint8_t* __restrict u,
               uint8_t* __restrict v) {
    // Sums are 16x: the coefficients lose 4 bits of their shift.
    constexpr int kOffset = (128 << (kShift + 4)) + (1 << (kShift + 3));
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

}  // namespace

void ConvertRgbaToYuv420pBt709Rows(const uint8_t* rgba, int rgbaStride, int width, int height, uint8_t* const planes[3],
                                   const int linesizes[3], int chromaRowBegin, int chromaRowEnd) {
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
    std::vector<int16_t> sums(columns * 3 * 4);
    std::vector<uint8_t> scratchLuma(static_cast<size_t>(width));
    int ringRow[4] = {-1000, -1000, -1000, -1000};
    const int ownFirst = 2 * chromaRowBegin;
    const int ownLast = std::min(height, 2 * chromaRowEnd) - 1;
    const auto SumsOf = [&](int y, const int16_t** channels) {
        const int clamped = std::clamp(y, 0, height - 1);
        const int slot = clamped % 4;
        int16_t* base = sums.data() + static_cast<size_t>(slot) * columns * 3;
        if (ringRow[slot] != clamped) {
            uint8_t* luma = clamped >= ownFirst && clamped <= ownLast
                                ? planes[0] + static_cast<ptrdiff_t>(clamped) * linesizes[0]
                                : scratchLuma.data();
            LumaAndPairSums(Row(clamped), width, luma, base, base + columns, base + 2 * columns);
            ringRow[slot] = clamped;
        }
        channels[0] = base;
        channels[1] = base + columns;
        channels[2] = base + 2 * columns;
    };

    for (int j = chromaRowBegin; j < chromaRowEnd; ++j) {
        const int16_t* rows[12];
        for (int k = 0; k < 4; ++k) {
            const int16_t* channels[3];
            SumsOf(2 * j - 1 + k, channels);
            rows[k] = channels[0];
            rows[4 + k] = channels[1];
            rows[8 + k] = channels[2];
        }
        ChromaRow(rows, chromaWidth, planes[1] + static_cast<ptrdiff_t>(j) * linesizes[1],
                  planes[2] + static_cast<ptrdiff_t>(j) * linesizes[2]);
    }
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
