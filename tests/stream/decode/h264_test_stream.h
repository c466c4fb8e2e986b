// H.264 test streams made with libx264 through libavcodec, in the form the
// phone sends them: one Annex-B access unit per packet, with its key-frame
// flag. Every picture is a known pattern: the upper half has the luma value
// of its frame number (FrameLuma), the lower half is split into a left part
// at lowLuma and a right part at highLuma, chroma is neutral. The values
// survive encoding within a couple of steps, so a test can read back which
// picture it got and whether the range was kept. A textured stream (for the
// benchmarks) scrolls noise over the whole picture instead, which costs the
// decoder what camera video costs it.
//
// No test framework here: the benchmarks use it too.
#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <cstdint>
#include <string>
#include <vector>

namespace zucam::test {

struct H264TestAccessUnit {
    std::vector<uint8_t> bytes;
    bool keyFrame = false;
};

struct H264TestStreamSettings {
    int width = 176;
    int height = 144;
    int frames = 10;
    int firstFrameNumber = 0;
    // YUVJ formats give a full-range stream; YUV422P a 4:2:2 one.
    AVPixelFormat format = AV_PIX_FMT_YUV420P;
    // Written to the stream's VUI when not unspecified.
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    AVColorSpace colorspace = AVCOL_SPC_UNSPECIFIED;
    int gop = 0;         // frames between IDRs; 0: only the first
    int slices = 1;      // slices per picture
    bool aud = false;    // an access unit delimiter in front of every unit
    // SPS and PPS only once, as a packet of their own before the first IDR
    // (the encoder's global header), instead of in front of every IDR.
    bool parameterSetsApart = false;
    std::string preset = "ultrafast";
    int crf = 12;             // flat areas come out exact at this quality
    int encoderThreads = 1;   // more: faster, still one slice per picture
    bool textured = false;
    uint8_t lowLuma = 16;
    uint8_t highLuma = 235;
};

// The luma value that stands for a frame number in the upper half.
uint8_t FrameLuma(int frameNumber);
// The frame number a measured upper-half luma stands for, or -1.
int FrameNumberOfLuma(int luma);

// Encodes settings.frames pictures. Returns an empty list (with the reason
// on standard error) when libx264 is missing or refuses the settings.
std::vector<H264TestAccessUnit> EncodeH264TestStream(const H264TestStreamSettings& settings);

// The same units with every 4-byte start code shortened to 3 bytes and
// every 3-byte one widened to 4.
std::vector<uint8_t> SwapStartCodeForms(const std::vector<uint8_t>& bytes);

// Offsets of the NAL payloads (the byte after each start code) of an
// Annex-B buffer, whatever their type.
std::vector<size_t> NalPayloadOffsets(const std::vector<uint8_t>& bytes);

}  // namespace zucam::test
