// Uniform YUV420P pictures and the RGB they must convert to, shared by the
// software sink's and the cache screenshot's tests.
#pragma once

#include <gtest/gtest.h>
#include <ostream>
#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace zucam::test {

struct ConversionCase {
    std::string name;
    int width;
    int height;
    AVColorRange range;
    AVColorSpace space;
    int y, u, v;
    int r, g, b;
};

// Names the parameterised cases.
inline std::string ConversionCaseName(const testing::TestParamInfo<ConversionCase>& testCase) {
    return testCase.param.name;
}

inline std::ostream& operator<<(std::ostream& out, const ConversionCase& c) { return out << c.name; }

// Limited range maps Y 16..235 to 0..255, full range keeps Y; BT.601 unless
// tagged BT.709. A mid-dark full-range grey (64) tells the ranges apart
// where black and white would both clip to the same value.
inline const ConversionCase kConversionCases[] = {
    {"LimitedBlack", 4, 2, AVCOL_RANGE_MPEG, AVCOL_SPC_BT470BG, 16, 128, 128, 0, 0, 0},
    {"LimitedWhite", 5, 3, AVCOL_RANGE_MPEG, AVCOL_SPC_BT470BG, 235, 128, 128, 255, 255, 255},
    {"LimitedGrey", 4, 2, AVCOL_RANGE_MPEG, AVCOL_SPC_BT470BG, 126, 128, 128, 128, 128, 128},
    {"UnspecifiedRangeIsLimited", 5, 3, AVCOL_RANGE_UNSPECIFIED, AVCOL_SPC_UNSPECIFIED, 126, 128, 128, 128, 128,
     128},
    {"LimitedRedBt601", 5, 3, AVCOL_RANGE_MPEG, AVCOL_SPC_SMPTE170M, 81, 90, 240, 255, 0, 0},
    {"LimitedRedBt709", 5, 3, AVCOL_RANGE_MPEG, AVCOL_SPC_BT709, 63, 102, 240, 255, 0, 0},
    {"FullBlack", 4, 2, AVCOL_RANGE_JPEG, AVCOL_SPC_BT470BG, 0, 128, 128, 0, 0, 0},
    {"FullWhite", 5, 3, AVCOL_RANGE_JPEG, AVCOL_SPC_BT470BG, 255, 128, 128, 255, 255, 255},
    {"FullDarkGrey", 4, 2, AVCOL_RANGE_JPEG, AVCOL_SPC_BT470BG, 64, 128, 128, 64, 64, 64},
    {"FullRedBt601", 5, 3, AVCOL_RANGE_JPEG, AVCOL_SPC_UNSPECIFIED, 76, 85, 255, 255, 0, 0},
    {"WideOddFrame", 37, 5, AVCOL_RANGE_MPEG, AVCOL_SPC_BT709, 63, 102, 240, 255, 0, 0},
};

constexpr int kConversionTolerance = 2;

}  // namespace zucam::test
