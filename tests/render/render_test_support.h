// Fakes and a fixture for the composition tests: a frame provider with a
// fixed picture, sinks that record what they are pushed, an output that
// keeps the last read-back, and a default device on a manual clock.
#pragma once

#include <QImage>
#include <QMutex>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "video_sink/stream_video_sink_sw.h"
#include "vexo/gs_output_raw.h"

class GsManualClock;

class FixedFrameProvider final : public StreamVideoSinkSw {
public:
    void Push(AVFrame*) override {}
    void ShowBlack() override {}
    void SetFrame(AVFrame*) override {}
    QImage GetImage() override;
    void SetImage(const QImage& image);
    // A picture of one colour, RGBA8888.
    static QImage Solid(int width, int height, QRgb colour);

private:
    QMutex mutex_;  // guards image_
    QImage image_;
};

// What a sink saw of one pushed frame.
struct PushedFrame {
    int sink = 0;  // the recording sink's id
    int width = 0;
    int height = 0;
    int format = -1;
    int64_t pts = 0;
    int colorRange = 0;
    int colorspace = 0;
    uint8_t y = 0, u = 0, v = 0;  // the top-left samples
};

class RecordingSink final : public StreamVideoSink {
public:
    // Every sink appends to the shared journal (the producer's thread).
    RecordingSink(int id, std::vector<PushedFrame>* journal) : id_(id), journal_(journal) {}
    void Push(AVFrame* frame) override;
    void ShowBlack() override {}
    void SetFrame(AVFrame*) override {}

private:
    const int id_;
    std::vector<PushedFrame>* const journal_;  // borrowed
};

class ReadBackOutput final : public GsOutputRaw {
public:
    ReadBackOutput(GsScene* scene, uint32_t width, uint32_t height);
    ~ReadBackOutput() override { Stop(); }
    void OnRawFrame(const gs_raw_frame& frame) override;
    // The RGBA pixel at (x, y) of the last read-back.
    QRgb At(int x, int y) const;

    std::vector<uint8_t> last;
    uint32_t width = 0;
};

// The default device on a manual clock, the programs registered; frames are
// composed on the test thread.
class RenderFixture : public ::testing::Test {
protected:
    RenderFixture();
    ~RenderFixture() override;
    void Compose();
};
