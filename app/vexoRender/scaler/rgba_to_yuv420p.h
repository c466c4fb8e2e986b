// Full-range RGBA to BT.709 limited-range YUV420P without swscale, with SSE2
// or AVX2 row kernels chosen at run time (plain C++ elsewhere; every set gives
// the same bytes). The result is swscale's (bilinear flag)
// within one step: luma from each pixel; chroma from each pair of columns,
// filtered over four rows with weights 1, 3, 3, 1 (edges repeated).
#pragma once

#include <cstdint>

// Converts rows [rowBegin, rowEnd) of chroma (two picture rows each) of a
// width x height picture; rgba rows are rgbaStride bytes apart. Several
// threads may convert disjoint chroma row ranges of one picture at once.
void ConvertRgbaToYuv420pBt709Rows(const uint8_t* rgba, int rgbaStride, int width, int height, uint8_t* const planes[3],
                                   const int linesizes[3], int chromaRowBegin, int chromaRowEnd);

// The sizes whose result is swscale's within one step: even widths, even
// heights of 8 rows or more (swscale filters the chroma of odd sizes and of
// the smallest pictures otherwise). Other sizes are left to swscale.
bool RgbaToYuv420pBt709Matches(int width, int height);

// The whole picture on the calling thread. False (nothing written) for an
// empty size or a missing plane.
bool ConvertRgbaToYuv420pBt709(const uint8_t* rgba, int rgbaStride, int width, int height, uint8_t* const planes[3],
                               const int linesizes[3]);
