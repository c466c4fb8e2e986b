// YUV420P -> full-range RGBA with swscale's own fixed-point arithmetic, bit
// for bit, but faster: AVX2 where the processor has it, SSE2 otherwise, and
// optionally with streaming stores that bypass the cache.
//
// swscale (SWS_FAST_BILINEAR, no SWS_ACCURATE_RND) converts an unscaled
// YUV420P picture of even height on x86 with its SSSE3 converter, which works
// in 16-bit fixed point:
//   y' = (Y << 3) - yOffset                 (wrapping 16-bit subtraction)
//   u' = (U << 3) - 1024, v' = (V << 3) - 1024
//   t  = (y' * yCoeff) >> 16                (signed high half of 16 x 16)
//   R  = packus(t +s ((v' * vr) >> 16))
//   G  = packus(t +s (((u' * ug) >> 16) +s ((v' * vg) >> 16)))
//   B  = packus(t +s ((u' * ub) >> 16)),  A = 255
// (+s a saturating 16-bit add), one U and V per 2 x 2 block, no
// interpolation. The coefficients come from the colour space's table
// (sws_getCoefficients: crv, cbu, cgu, cgv in 16.16) and the source range,
// each rounded to int16 as (value * 2^13 + 2^15) >> 16. The tests compare
// this against the installed libswscale on every Y, U, V value.
//
// swscale takes another path for odd heights (and off x86, and on x86
// processors without SSSE3), whose results differ: Yuv420pFastPathApplies
// says when this converter gives swscale's bytes.
#pragma once

#include <cstdint>

struct AVFrame;

struct Yuv420pToRgbaTable {
    int16_t yCoeff = 0;
    int16_t yOffset = 0;
    int16_t vr = 0;  // V into red
    int16_t ub = 0;  // U into blue
    int16_t ug = 0;  // U into green (negative)
    int16_t vg = 0;  // V into green (negative)
};

// swscale's table for a colour space table of sws_getCoefficients (crv, cbu,
// cgu, cgv) and a swscale source range (0 limited, 1 full), with neutral
// brightness, contrast and saturation.
Yuv420pToRgbaTable MakeYuv420pToRgbaTable(const int* coefficients, int sourceRange);

// True when swscale, on this machine, converts this frame's format and size
// with the arithmetic above: YUV420P or YUVJ420P, an even height, a
// non-empty picture, an x86 processor with SSSE3.
bool Yuv420pFastPathApplies(const AVFrame& frame);

enum class RgbaStores {
    kCached,     // ordinary stores
    kStreaming,  // non-temporal stores where the lines are aligned for them
};

// Converts the whole frame (YUV420P layout, any line sizes) into width * 4
// bytes of each destination line, lines destinationStride bytes apart. Bytes
// past width * 4 are left alone.
void ConvertYuv420pToRgba(const Yuv420pToRgbaTable& table, const AVFrame& frame, uint8_t* destination,
                          int destinationStride, RgbaStores stores = RgbaStores::kCached);

// The same with a given instruction set, for tests and benchmarks: false
// when this machine (or build) lacks it.
enum class RgbaIsa { kScalar, kSse2, kAvx2 };
bool ConvertYuv420pToRgbaWith(RgbaIsa isa, const Yuv420pToRgbaTable& table, const AVFrame& frame,
                              uint8_t* destination, int destinationStride, RgbaStores stores);
