// The decoder thread end to end: libx264 streams in the phone's packet form
// go in, the recording sink and the size observer show what came out.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "decode/h264_annexb.h"
#include "decode/stream_video_decoder_h264.h"
#include "h264_test_stream.h"
#include "parser/stream_token_packet.h"
#include "parser/stream_video_packet.h"
#include "recording_sink.h"
#include "support/tether_environment.h"

namespace {

using zucam::test::CountInLog;

using zucam::test::H264TestAccessUnit;
using zucam::test::H264TestStreamSettings;
using zucam::test::RecordedFrame;
using zucam::test::RecordingSink;
using SizeReport = StreamVideoDecoderH264::SizeReport;

struct Report {
    SizeReport kind;
    int width;
    int height;
    bool operator==(const Report& other) const {
        return kind == other.kind && width == other.width && height == other.height;
    }
};

std::ostream& operator<<(std::ostream& out, const Report& report) {
    return out << (report.kind == SizeReport::kVideoArrive ? "arrive " : "changed ") << report.width << "x"
               << report.height;
}

const Report Arrive(int w, int h) { return {SizeReport::kVideoArrive, w, h}; }
const Report Changed(int w, int h) { return {SizeReport::kResolutionChanged, w, h}; }

// What the decoder reported in place of the hub, from its thread.
class ReportLog {
public:
    StreamVideoDecoderH264::SizeObserver Observer() {
        return [this](SizeReport kind, int width, int height) {
            std::lock_guard<std::mutex> lock(mutex_);
            reports_.push_back({kind, width, height});
        };
    }
    std::vector<Report> reports() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.clear();
    }

private:
    mutable std::mutex mutex_;  // guards reports_
    std::vector<Report> reports_;
};

std::vector<int> Range(int first, int last) {
    std::vector<int> numbers;
    for (int n = first; n <= last; ++n) numbers.push_back(n);
    return numbers;
}

std::vector<int> Concat(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<H264TestAccessUnit> Encode(const H264TestStreamSettings& settings) {
    std::vector<H264TestAccessUnit> units = zucam::test::EncodeH264TestStream(settings);
    EXPECT_FALSE(units.empty()) << "libx264 could not make the test stream";
    return units;
}

bool HasNalType(const std::vector<uint8_t>& bytes, int type) {
    for (size_t offset : zucam::test::NalPayloadOffsets(bytes)) {
        if (offset < bytes.size() && (bytes[offset] & 0x1f) == type) return true;
    }
    return false;
}


class DecoderTest : public testing::Test {
protected:
    void SetUp() override {
        av_log_set_level(AV_LOG_QUIET);
        StreamVideoDecoderH264::ForgetLastVideoSizeForTesting();
    }
    void TearDown() override { Stop(); }

    void Start(const std::string& hwDecoder = "") {
        decoder_ = std::make_unique<StreamVideoDecoderH264>(hwDecoder, nullptr, std::vector<StreamVideoSink*>{&sink_},
                                                            reports_.Observer());
    }
    void Stop() {
        sink_.Release();
        decoder_.reset();
    }
    void Push(const std::vector<uint8_t>& bytes, bool keyFrame) {
        decoder_->PushPacket(std::make_unique<StreamVideoPacket>(bytes.data(), bytes.size(), keyFrame ? 1 : 0));
    }
    void Push(const H264TestAccessUnit& unit) { Push(unit.bytes, unit.keyFrame); }
    void Push(const std::vector<H264TestAccessUnit>& units, size_t from = 0, size_t to = SIZE_MAX) {
        for (size_t n = from; n < units.size() && n < to; ++n) Push(units[n]);
    }
    void PushMarker() { decoder_->PushPacket(nullptr); }

    // Declared first: the decoder logs until it is gone.
    zucam::test::TetherEnvironment tether_;
    RecordingSink sink_;
    ReportLog reports_;
    std::unique_ptr<StreamVideoDecoderH264> decoder_;
};

H264TestStreamSettings Frames(int frames, int gop = 0, int firstFrameNumber = 0) {
    H264TestStreamSettings settings;
    settings.frames = frames;
    settings.gop = gop;
    settings.firstFrameNumber = firstFrameNumber;
    return settings;
}

TEST_F(DecoderTest, DecodesEveryFormOfThePhoneStream) {
    struct Variant {
        const char* name;
        H264TestStreamSettings settings;
        bool swapStartCodes;
    };
    std::vector<Variant> variants;
    variants.push_back({"parameter sets in band", Frames(12, 5), false});
    H264TestStreamSettings apart = Frames(12, 5);
    apart.parameterSetsApart = true;
    variants.push_back({"parameter sets once, apart", apart, false});
    H264TestStreamSettings delimited = Frames(12, 5);
    delimited.aud = true;
    variants.push_back({"delimiters and SEI", delimited, false});
    variants.push_back({"3- and 4-byte start codes swapped", Frames(12, 5), true});
    H264TestStreamSettings sliced = Frames(12, 5);
    sliced.slices = 4;
    variants.push_back({"four slices per picture", sliced, false});

    for (const Variant& variant : variants) {
        SCOPED_TRACE(variant.name);
        std::vector<H264TestAccessUnit> units = Encode(variant.settings);
        ASSERT_FALSE(units.empty());
        if (variant.swapStartCodes) {
            for (H264TestAccessUnit& unit : units) unit.bytes = zucam::test::SwapStartCodeForms(unit.bytes);
        }
        // The stream really has what the variant is about.
        if (variant.settings.parameterSetsApart) {
            ASSERT_FALSE(HasNalType(units[0].bytes, 5));
            ASSERT_TRUE(HasNalType(units[0].bytes, 7));
            for (size_t n = 1; n < units.size(); ++n) ASSERT_FALSE(HasNalType(units[n].bytes, 7)) << n;
        }
        if (variant.settings.aud) {
            ASSERT_TRUE(HasNalType(units[0].bytes, 9));
            ASSERT_TRUE(HasNalType(units[0].bytes, 6));
        }

        Start();
        Push(units);
        ASSERT_TRUE(sink_.WaitForFrameNumber(11));
        EXPECT_EQ(sink_.frameNumbers(), Range(0, 11));
        for (const RecordedFrame& frame : sink_.frames()) {
            EXPECT_EQ(frame.format, AV_PIX_FMT_YUV420P);
            EXPECT_EQ(frame.width, 176);
            EXPECT_EQ(frame.height, 144);
        }
        Stop();
        EXPECT_EQ(reports_.reports(), (std::vector<Report>{Arrive(176, 144)}));
        sink_.Clear();
        reports_.Clear();
    }
}

TEST_F(DecoderTest, NothingIsDecodedBeforeTheFirstIdr) {
    const std::vector<H264TestAccessUnit> units = Encode(Frames(10, 5));
    ASSERT_EQ(units.size(), 10u);
    ASSERT_FALSE(HasNalType(units[2].bytes, 5));
    Start();
    Push(units, 2);  // frames 2 to 4 refer to pictures never sent
    ASSERT_TRUE(sink_.WaitForFrameNumber(9));
    EXPECT_EQ(sink_.frameNumbers(), Range(5, 9));
    EXPECT_EQ(CountInLog("has not a idr nula"), 1);
}

TEST_F(DecoderTest, StreamResetStartsOverAtTheNextIdr) {
    const std::vector<H264TestAccessUnit> first = Encode(Frames(10, 5));
    const std::vector<H264TestAccessUnit> second = Encode(Frames(5, 0, 10));
    Start();
    Push(first, 0, 7);
    PushMarker();
    // The rest of the old stream cannot be decoded without what came before
    // the reset; the new stream begins with its IDR.
    Push(first, 7);
    Push(second);
    ASSERT_TRUE(sink_.WaitForFrameNumber(14));
    EXPECT_EQ(sink_.frameNumbers(), Concat(Range(0, 6), Range(10, 14)));
    EXPECT_EQ(CountInLog("has not a idr nula"), 1);
    EXPECT_EQ(reports_.reports(), (std::vector<Report>{Arrive(176, 144), Arrive(176, 144)}));
}

TEST_F(DecoderTest, ReportsSizeChangesWithinAndAcrossConnections) {
    H264TestStreamSettings narrower = Frames(3, 0, 3);
    narrower.width = 160;
    Start();
    Push(Encode(Frames(3)));
    Push(Encode(narrower));
    ASSERT_TRUE(sink_.WaitForFrameNumber(5));
    const std::vector<RecordedFrame> frames = sink_.frames();
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames[2].width, 176);
    EXPECT_EQ(frames[3].width, 160);
    EXPECT_EQ(frames[3].height, 144);
    EXPECT_EQ(reports_.reports(), (std::vector<Report>{Arrive(176, 144), Changed(160, 144)}));

    // The next connection's decoder remembers the last size: a new height
    // alone is a change, the same size again is not.
    H264TestStreamSettings lower = Frames(2, 0, 6);
    lower.width = 160;
    lower.height = 120;
    Stop();
    Start();
    Push(Encode(lower));
    ASSERT_TRUE(sink_.WaitForFrameNumber(7));
    Stop();
    lower.firstFrameNumber = 8;
    Start();
    Push(Encode(lower));
    ASSERT_TRUE(sink_.WaitForFrameNumber(9));
    Stop();
    EXPECT_EQ(reports_.reports(), (std::vector<Report>{Arrive(176, 144), Changed(160, 144), Arrive(160, 120),
                                                       Changed(160, 120), Arrive(160, 120)}));
}

// Overwrites the start of the last slice's header, which libavcodec
// refuses outright.
std::vector<uint8_t> WipeSliceHeader(std::vector<uint8_t> bytes) {
    const size_t slice = zucam::test::NalPayloadOffsets(bytes).back();
    for (size_t n = slice + 1; n < slice + 4 && n < bytes.size(); ++n) bytes[n] = 0;
    return bytes;
}

// Garbles macroblock data in the middle, which libavcodec conceals.
std::vector<uint8_t> FlipMiddleBytes(std::vector<uint8_t> bytes) {
    for (size_t n = bytes.size() / 2; n < bytes.size() / 2 + 8 && n < bytes.size(); ++n) bytes[n] ^= 0x5a;
    return bytes;
}

std::vector<uint8_t> CutInHalf(std::vector<uint8_t> bytes) {
    bytes.resize(bytes.size() / 2);
    return bytes;
}

TEST_F(DecoderTest, RefusedUnitsSkipToTheNextIdrAndAreLoggedOnce) {
    std::vector<H264TestAccessUnit> units = Encode(Frames(12, 5));
    ASSERT_EQ(units.size(), 12u);
    units[2].bytes = WipeSliceHeader(units[2].bytes);
    units[7].bytes = WipeSliceHeader(units[7].bytes);
    Start();
    Push(units);
    ASSERT_TRUE(sink_.WaitForFrameNumber(11));
    EXPECT_EQ(sink_.frameNumbers(), (std::vector<int>{0, 1, 5, 6, 10, 11}));
    EXPECT_EQ(CountInLog("Could not send video packet"), 1);
}

TEST_F(DecoderTest, UnitsOfThousandsOfTinyNalUnitsAreDroppedAndLoggedOnce) {
    std::vector<H264TestAccessUnit> units = Encode(Frames(12, 5));
    ASSERT_EQ(units.size(), 12u);
    // 00 00 01 65 repeated: each one an IDR slice of one byte.
    std::vector<uint8_t> flood;
    for (int n = 0; n < 65536; ++n) flood.insert(flood.end(), {0, 0, 1, 0x65});
    units[2].bytes = flood;
    units[7].bytes = flood;
    Start();
    Push(units);
    ASSERT_TRUE(sink_.WaitForFrameNumber(11));
    EXPECT_EQ(sink_.frameNumbers(), (std::vector<int>{0, 1, 5, 6, 10, 11}));
    EXPECT_EQ(CountInLog("NAL units, dropped"), 1);
}

TEST_F(DecoderTest, DamagedUnitsDoNotEndDecoding) {
    struct Damage {
        const char* name;
        std::vector<uint8_t> (*apply)(std::vector<uint8_t>);
    };
    const Damage damages[] = {{"bytes flipped", FlipMiddleBytes}, {"cut in half", CutInHalf}};
    std::vector<H264TestAccessUnit> clean = Encode(Frames(12, 5));
    ASSERT_EQ(clean.size(), 12u);
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        std::vector<H264TestAccessUnit> units = clean;
        units[2].bytes = damage.apply(units[2].bytes);
        units[3].bytes = damage.apply(units[3].bytes);
        Start();
        Push(units);
        ASSERT_TRUE(sink_.WaitForFrameNumber(11));
        const std::vector<int> numbers = sink_.frameNumbers();
        Stop();
        // Whatever the damaged pictures became, the pictures before them
        // and everything from the next IDR on are exact.
        ASSERT_GE(numbers.size(), 9u);
        EXPECT_EQ(std::vector<int>(numbers.begin(), numbers.begin() + 2), Range(0, 1));
        EXPECT_EQ(std::vector<int>(numbers.end() - 7, numbers.end()), Range(5, 11));
        sink_.Clear();
    }
}

TEST_F(DecoderTest, QueueFlushesOnKeyFramesButKeepsStreamResets) {
    const std::vector<H264TestAccessUnit> units = Encode(Frames(3));
    const std::vector<H264TestAccessUnit> next = Encode(Frames(1, 0, 20));
    const H264TestAccessUnit& idr = units[0];
    const H264TestAccessUnit& p = units[1];
    ASSERT_TRUE(idr.keyFrame);
    ASSERT_FALSE(p.keyFrame);
    Start();
    sink_.HoldNextPush();
    Push(idr);
    ASSERT_TRUE(sink_.WaitUntilHeld());  // the decoder thread takes nothing more

    for (int n = 0; n < 16; ++n) Push(p);
    EXPECT_EQ(decoder_->QueuedForTesting(), 16u);
    Push(p);  // no key frame: simply appended
    EXPECT_EQ(decoder_->QueuedForTesting(), 17u);
    decoder_->PushPacket(std::make_unique<StreamTokenPacket>("key"));
    EXPECT_EQ(decoder_->QueuedForTesting(), 17u);
    Push(idr);
    EXPECT_EQ(decoder_->QueuedForTesting(), 1u);

    // A reset among the dropped packets stays, in front of the key frame.
    for (int n = 0; n < 10; ++n) Push(p);
    PushMarker();
    PushMarker();  // one reset is as good as two
    for (int n = 0; n < 5; ++n) Push(p);
    EXPECT_EQ(decoder_->QueuedForTesting(), 17u);
    Push(next[0]);
    EXPECT_EQ(decoder_->QueuedForTesting(), 2u);

    // At the cap a non-key packet is dropped.
    while (decoder_->QueuedForTesting() < StreamVideoDecoderH264::kMaxQueuedPackets) Push(p);
    Push(p);
    EXPECT_EQ(decoder_->QueuedForTesting(), StreamVideoDecoderH264::kMaxQueuedPackets);
    Push(next[0]);
    EXPECT_EQ(decoder_->QueuedForTesting(), 2u);

    sink_.Release();
    ASSERT_TRUE(sink_.WaitForFrameNumber(20));
    EXPECT_EQ(sink_.frameNumbers(), (std::vector<int>{0, 20}));
    // The reset made picture 20 the first of a stream again (reported after
    // the sinks have it: the thread must be done).
    Stop();
    EXPECT_EQ(reports_.reports(), (std::vector<Report>{Arrive(176, 144), Arrive(176, 144)}));
}

// Past the cap the packets after the dropped one are useless too, even once
// the queue has room again: everything up to the next key frame goes.
TEST_F(DecoderTest, FullQueueDropsUpToTheNextKeyFrame) {
    const size_t cap = StreamVideoDecoderH264::kMaxQueuedPackets;
    const std::vector<H264TestAccessUnit> units = Encode(Frames(static_cast<int>(cap) + 10));
    const std::vector<H264TestAccessUnit> next = Encode(Frames(1, 0, 20));
    Start();
    sink_.HoldNextPush();
    Push(units[0]);
    ASSERT_TRUE(sink_.WaitUntilHeld());
    Push(units, 1, cap + 2);  // the last one does not fit
    EXPECT_EQ(decoder_->QueuedForTesting(), cap);
    sink_.Release();
    ASSERT_TRUE(sink_.WaitForCount(cap + 1));
    Push(units, cap + 2);
    Push(next);
    // Frame numbers repeat every 26 pictures: the one after the queued
    // packets must be the new key frame's, not a leftover 122nd picture (18).
    ASSERT_TRUE(sink_.WaitForCount(cap + 2));
    EXPECT_EQ(sink_.frames()[cap + 1].frameNumber, 20);
    Stop();
    EXPECT_EQ(sink_.count(), cap + 2);
}

TEST_F(DecoderTest, IdleDecodersComeAndGoAThousandTimes) {
    for (int n = 0; n < 1000; ++n) {
        StreamVideoDecoderH264 decoder("", nullptr, {}, {}, H264DecoderTuning{H264DecoderTuning::Threading::kSlices, 1});
        if (n % 2 == 1) decoder.PushPacket(nullptr);
    }
}

TEST_F(DecoderTest, DestroyedWhileDecodingReleasesEverything) {
    const std::vector<H264TestAccessUnit> units = Encode(Frames(20, 5));
    for (int round = 0; round < 5; ++round) {
        Start();
        Push(units);
        Stop();  // with packets still queued: ASan reports anything left behind
    }
}

TEST_F(DecoderTest, HardwareNamesWithoutADeviceDecodeInSoftware) {
    const std::vector<H264TestAccessUnit> units = Encode(Frames(3));
    const char* const names[] = {"", "no-such-device", "vaapi", "cuda"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        Start(name);
        Push(units);
        ASSERT_TRUE(sink_.WaitForFrameNumber(2));
        EXPECT_EQ(sink_.frameNumbers(), Range(0, 2));
        for (const RecordedFrame& frame : sink_.frames()) EXPECT_EQ(frame.format, AV_PIX_FMT_YUV420P);
        Stop();
        sink_.Clear();
    }
    const auto used = [](const std::string& name) {
        return CountInLog(("using hw decoder: " + name + ", format: -1").c_str());
    };
    EXPECT_EQ(used(""), 1);
    EXPECT_EQ(used("no-such-device"), 1);
    // Known types whose device is missing here; where one exists it is used.
    const int deviceFailures = CountInLog("Failed to create specified HW device.");
    EXPECT_EQ(deviceFailures, used("vaapi") + used("cuda"));
}

TEST_F(DecoderTest, ColourRangeAndLevelsSurviveDecoding) {
    struct RangeCase {
        const char* name;
        AVPixelFormat format;
        AVColorSpace colorspace;
        uint8_t low;
        uint8_t high;
        AVColorRange expected;
    };
    const RangeCase cases[] = {
        {"limited, untagged", AV_PIX_FMT_YUV420P, AVCOL_SPC_UNSPECIFIED, 16, 235, AVCOL_RANGE_MPEG},
        {"limited, tagged BT.709", AV_PIX_FMT_YUV420P, AVCOL_SPC_BT709, 16, 235, AVCOL_RANGE_MPEG},
        {"full", AV_PIX_FMT_YUVJ420P, AVCOL_SPC_UNSPECIFIED, 0, 255, AVCOL_RANGE_JPEG},
        {"limited 4:2:2", AV_PIX_FMT_YUV422P, AVCOL_SPC_UNSPECIFIED, 16, 235, AVCOL_RANGE_MPEG},
        {"full 4:2:2", AV_PIX_FMT_YUVJ422P, AVCOL_SPC_UNSPECIFIED, 0, 255, AVCOL_RANGE_JPEG},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        H264TestStreamSettings settings = Frames(2);
        settings.format = c.format;
        settings.colorspace = c.colorspace;
        settings.lowLuma = c.low;
        settings.highLuma = c.high;
        Start();
        Push(Encode(settings));
        ASSERT_TRUE(sink_.WaitForFrameNumber(1));
        for (const RecordedFrame& frame : sink_.frames()) {
            EXPECT_EQ(frame.format, AV_PIX_FMT_YUV420P);
            EXPECT_EQ(frame.colorRange, c.expected);
            EXPECT_NEAR(frame.lowLuma, c.low, 2);
            EXPECT_NEAR(frame.highLuma, c.high, 2);
            EXPECT_NEAR(frame.chromaU, 128, 2);
            EXPECT_NEAR(frame.chromaV, 128, 2);
            if (c.colorspace != AVCOL_SPC_UNSPECIFIED) {
                EXPECT_EQ(frame.colorSpace, c.colorspace);
            }
        }
        Stop();
        sink_.Clear();
    }
}

TEST(StreamVideoDecoderFactory, MakesTheH264DecoderUnlessOverridden) {
    std::unique_ptr<StreamVideoDecoder> made = CreateStreamVideoDecoder("", nullptr, {});
    EXPECT_NE(dynamic_cast<StreamVideoDecoderH264*>(made.get()), nullptr);

    int calls = 0;
    SetStreamVideoDecoderFactoryForTesting(
        [&](const std::string&, StreamManager*, const std::vector<StreamVideoSink*>&) {
            ++calls;
            return std::unique_ptr<StreamVideoDecoder>();
        });
    EXPECT_EQ(CreateStreamVideoDecoder("", nullptr, {}), nullptr);
    EXPECT_EQ(calls, 1);
    SetStreamVideoDecoderFactoryForTesting({});
    made = CreateStreamVideoDecoder("", nullptr, {});
    EXPECT_NE(dynamic_cast<StreamVideoDecoderH264*>(made.get()), nullptr);
}

}  // namespace
