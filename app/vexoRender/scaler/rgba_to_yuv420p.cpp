#include "scaler/rgba_to_yuv420p.h"

#include <algorithm>
#include <cstddef>
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

// One picture row's luma.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void LumaRow(const uint8_t* __restrict rgba, int width, uint8_t* __restrict luma) {
    constexpr int kOffset = (16 << kShift) + (1 << (kShift - 1));
    for (int x = 0; x < width; ++x) {
        const int r = rgba[x * 4 + 0];
        const int g = rgba[x * 4 + 1];
        const int b = rgba[x * 4 + 2];
        luma[x] = static_cast<uint8_t>((kYr * r + kYg * g + kYb * b + kOffset) >> kShift);
    }
}

// Per chroma column, the sums of each channel over the column pair (the
// last pixel counted twice for an odd width).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void PairSums(const uint8_t* __restrict rgba, int width, int16_t* __restrict r, int16_t* __restrict g,
              int16_t* __restrict b) {
    const int pairs = width / 2;
    for (int x = 0; x < pairs; ++x) {
        const uint8_t* p = rgba + x * 8;
        r[x] = static_cast<int16_t>(p[0] + p[4]);
        g[x] = static_cast<int16_t>(p[1] + p[5]);
        b[x] = static_cast<int16_t>(p[2] + p[6]);
    }
    if ((width & 1) != 0) {
        const uint8_t* p = rgba + pairs * 8;
        r[pairs] = static_cast<int16_t>(p[0] * 2);
        g[pairs] = static_cast<int16_t>(p[1] * 2);
        b[pairs] = static_cast<int16_t>(p[2] * 2);
    }
}

// One chroma row from the pair sums of four rows, weighted 1, 3, 3, 1: each
// channel is then 16 times the mean.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
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

    // Pair sums of the picture rows 2j-1 .. 2j+2, kept in a ring of four.
    const size_t columns = static_cast<size_t>(chromaWidth);
    std::vector<int16_t> sums(columns * 3 * 4);
    int ringRow[4] = {-1000, -1000, -1000, -1000};
    const auto SumsOf = [&](int y, int16_t** channels) {
        const int clamped = std::clamp(y, 0, height - 1);
        const int slot = ((clamped % 4) + 4) % 4;
        int16_t* base = sums.data() + static_cast<size_t>(slot) * columns * 3;
        if (ringRow[slot] != clamped) {
            PairSums(Row(clamped), width, base, base + columns, base + 2 * columns);
            ringRow[slot] = clamped;
        }
        channels[0] = base;
        channels[1] = base + columns;
        channels[2] = base + 2 * columns;
    };

    for (int j = chromaRowBegin; j < chromaRowEnd; ++j) {
        for (int k = 0; k < 2; ++k) {
            const int y = 2 * j + k;
            if (y < height) LumaRow(Row(y), width, planes[0] + static_cast<ptrdiff_t>(y) * linesizes[0]);
        }
        const int16_t* rows[12];
        for (int k = 0; k < 4; ++k) {
            int16_t* channels[3];
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
