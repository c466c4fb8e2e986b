// The CPU back end's "shader programs": C++ kernels that fill a rectangle
// of the render target from the bound texture and constant buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct GsKernelPass {
    const uint8_t* source = nullptr;  // bound texture, RGBA; null when none
    int sourceStride = 0;
    const int* sourceColumn = nullptr;  // per target column x0..x1-1: source column
    const int* sourceRow = nullptr;     // per target row y0..y1-1: source row
    bool identity = false;  // source pixel (x - x0, y - y0) maps 1:1
    uint8_t* target = nullptr;  // render target, RGBA
    int targetStride = 0;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // target pixels to fill
    const uint8_t* constants = nullptr;  // constant buffer at slot 0, or null
    size_t constantsSize = 0;
};

// Fills target rows [rowBegin, rowEnd) of the pass; runs on several threads
// at once for disjoint row ranges.
using GsKernel = void (*)(const GsKernelPass& pass, int rowBegin, int rowEnd);

// The back end's built-in kernels: "zuc_rgba" (copy), "zuc_bgrx" (copy with
// alpha forced opaque), "zuc_color_correction" (format matrix, saturation
// matrix, brightness from the 144-byte constant buffer). Null for others.
GsKernel FindBuiltInKernel(const std::string& name);

// True when kernel, one of the built-ins, writes every target pixel of pass
// (so whatever the target held before is overwritten): with a bound texture,
// and for the colour correction with its whole constant buffer.
bool KernelWritesWholePass(GsKernel kernel, const GsKernelPass& pass);

// True for the plain copy ("zuc_rgba"): with an identity mapping its result
// is the source itself.
bool KernelIsPlainCopy(GsKernel kernel);
