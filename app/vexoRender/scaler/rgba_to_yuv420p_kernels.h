// The row kernels behind ConvertRgbaToYuv420pBt709Rows, one set chosen at run
// time for the machine. Every set computes the same integers, so the result
// does not depend on the machine; this header lets tests and benchmarks run a
// chosen set against the plain C++ one.
#pragma once

#include <cstdint>

enum class RgbaToYuv420pKernels {
    kScalar,  // plain C++, every machine
    kSse2,    // x86-64 (SSE2 is part of its baseline)
    kAvx2,    // x86-64 processors with AVX2
};

// Whether this build and this processor can run the set.
bool RgbaToYuv420pKernelsAvailable(RgbaToYuv420pKernels kernels);

// The set ConvertRgbaToYuv420pBt709Rows uses here.
RgbaToYuv420pKernels RgbaToYuv420pBestKernels();

// ConvertRgbaToYuv420pBt709Rows with the given set (the best one where the
// given one is not available).
void ConvertRgbaToYuv420pBt709RowsWith(RgbaToYuv420pKernels kernels, const uint8_t* rgba, int rgbaStride, int width,
                                       int height, uint8_t* const planes[3], const int linesizes[3],
                                       int chromaRowBegin, int chromaRowEnd);
