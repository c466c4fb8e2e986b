// Plain value types shared by the render library's interfaces.
#pragma once

#include <cstdint>

struct gs_vec2 {
    float x = 0.0f;
    float y = 0.0f;
};

// Where DrawRect puts a rectangle, in target units. The CPU back end draws
// rotation 0 only.
struct gs_transform {
    gs_vec2 pos;
    gs_vec2 size;
    float rotation = 0.0f;
};

// One read-back of a composed scene, handed to GsOutputRaw::OnRawFrame. The
// planes are valid for the duration of the call only. Row 0 is the top row.
struct gs_raw_frame {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t* data[4] = {};
    int32_t linesize[4] = {};
    // Nanoseconds of the device clock at the frame's deadline.
    uint64_t timestamp = 0;
};

// Texture format 0: four bytes per pixel in memory order r, g, b, a.
constexpr int kGsTextureRgba = 0;
// Output format 1: RGBA read-backs.
constexpr int kGsOutputRgba = 1;
