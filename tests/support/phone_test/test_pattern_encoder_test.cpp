// The test pattern encoder checked with libavcodec's own H.264 decoder: the
// access units are Annex-B with SPS/PPS before each IDR, IDRs fall where the
// GOP says, and the decoded pictures show the pattern the helpers describe.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

#include "support/phone/test_pattern_encoder.h"

namespace zucam::phone {
namespace {

// NAL unit types of an Annex-B access unit, in order; empty when the bytes
// do not start with a start code.
std::vector<int> nalTypes(const std::string& unit) {
    std::vector<int> types;
    const auto* data = reinterpret_cast<const unsigned char*>(unit.data());
    const std::size_t size = unit.size();
    if (!(size >= 4 && data[0] == 0 && data[1] == 0 && (data[2] == 1 || (data[2] == 0 && data[3] == 1))))
        return types;
    for (std::size_t i = 0; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            types.push_back(data[i + 3] & 0x1f);
            i += 2;
        }
    }
    return types;
}

bool contains(const std::vector<int>& types, int type) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

struct DecodedPicture {
    int width = 0;
    int height = 0;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    AVColorSpace colourspace = AVCOL_SPC_UNSPECIFIED;
    std::vector<uint8_t> y, u, v;  // tightly packed planes

    int lumaAt(int x, int yPos) const { return y[static_cast<std::size_t>(yPos * width + x)]; }
    int uAt(int x, int yPos) const { return u[static_cast<std::size_t>((yPos / 2) * ((width + 1) / 2) + x / 2)]; }
    int vAt(int x, int yPos) const { return v[static_cast<std::size_t>((yPos / 2) * ((width + 1) / 2) + x / 2)]; }
    double meanLuma(const Rect& r) const {
        double sum = 0;
        for (int row = r.y; row < r.y + r.height; ++row)
            for (int col = r.x; col < r.x + r.width; ++col) sum += lumaAt(col, row);
        return sum / (r.width * r.height);
    }
};

// Decodes access units one by one, as the program would receive them.
class Decoder {
public:
    Decoder() {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        context_ = avcodec_alloc_context3(codec);
        context_->thread_count = 1;
        context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
        opened_ = avcodec_open2(context_, codec, nullptr) == 0;
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
    }
    ~Decoder() {
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        avcodec_free_context(&context_);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    bool opened() const { return opened_; }

    // Feeds one unit (or, with none, flushes); appends what comes out.
    bool decode(const std::string* unit, std::vector<DecodedPicture>& out) {
        if (unit) {
            if (av_new_packet(packet_, static_cast<int>(unit->size())) != 0) return false;
            std::copy(unit->begin(), unit->end(), packet_->data);
        }
        const int sent = avcodec_send_packet(context_, unit ? packet_ : nullptr);
        av_packet_unref(packet_);
        if (sent < 0) return false;
        while (avcodec_receive_frame(context_, frame_) == 0) {
            DecodedPicture picture;
            picture.width = frame_->width;
            picture.height = frame_->height;
            picture.range = frame_->color_range;
            picture.colourspace = frame_->colorspace;
            copyPlane(0, picture.width, picture.height, picture.y);
            copyPlane(1, (picture.width + 1) / 2, (picture.height + 1) / 2, picture.u);
            copyPlane(2, (picture.width + 1) / 2, (picture.height + 1) / 2, picture.v);
            out.push_back(std::move(picture));
            av_frame_unref(frame_);
        }
        return true;
    }

private:
    void copyPlane(int plane, int width, int height, std::vector<uint8_t>& out) const {
        for (int row = 0; row < height; ++row) {
            const uint8_t* line = frame_->data[plane] + static_cast<std::ptrdiff_t>(row) * frame_->linesize[plane];
            out.insert(out.end(), line, line + width);
        }
    }

    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    bool opened_ = false;
};

std::vector<AccessUnit> encode(TestPatternEncoder& encoder, int count) {
    std::vector<AccessUnit> units;
    for (int i = 0; i < count; ++i) {
        auto unit = encoder.nextAccessUnit();
        if (!unit) {
            ADD_FAILURE() << "frame " << i << ": " << encoder.lastError();
            break;
        }
        units.push_back(std::move(*unit));
    }
    return units;
}

std::vector<DecodedPicture> decodeAll(const std::vector<AccessUnit>& units) {
    Decoder decoder;
    EXPECT_TRUE(decoder.opened());
    std::vector<DecodedPicture> pictures;
    for (const AccessUnit& unit : units) EXPECT_TRUE(decoder.decode(&unit.bytes, pictures));
    decoder.decode(nullptr, pictures);
    return pictures;
}

TEST(PhoneStandInEncoder, IdrsWithInBandParameterSetsWhereTheGopSays) {
    EncoderSettings settings;
    settings.width = 160;
    settings.height = 96;
    settings.gop = 5;
    TestPatternEncoder encoder(settings);
    const std::vector<AccessUnit> units = encode(encoder, 12);
    ASSERT_EQ(units.size(), 12u);

    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::vector<int> types = nalTypes(units[i].bytes);
        ASSERT_FALSE(types.empty()) << "unit " << i << " has no leading start code";
        const bool idrExpected = i % 5 == 0;
        EXPECT_EQ(units[i].keyFrame, idrExpected) << i;
        EXPECT_EQ(units[i].pts, static_cast<int64_t>(i));
        EXPECT_EQ(contains(types, 5), idrExpected) << i;
        EXPECT_EQ(contains(types, 7), idrExpected) << "SPS in unit " << i;
        EXPECT_EQ(contains(types, 8), idrExpected) << "PPS in unit " << i;
        if (!idrExpected) {
            EXPECT_TRUE(contains(types, 1)) << i;
        }
    }
    const std::vector<int> first = nalTypes(units[0].bytes);
    const auto sps = std::find(first.begin(), first.end(), 7);
    const auto idr = std::find(first.begin(), first.end(), 5);
    EXPECT_LT(sps, idr) << "SPS/PPS come before the IDR slice";
}

TEST(PhoneStandInEncoder, RequestedKeyFrameIsAnIdrWithParameterSets) {
    TestPatternEncoder encoder(EncoderSettings{128, 96, 30, 100, false, ColourMatrix::Bt601});
    encode(encoder, 3);
    encoder.requestKeyFrame();
    const auto forced = encoder.nextAccessUnit();
    const auto after = encoder.nextAccessUnit();
    ASSERT_TRUE(forced && after);
    EXPECT_TRUE(forced->keyFrame);
    EXPECT_TRUE(contains(nalTypes(forced->bytes), 5));
    EXPECT_TRUE(contains(nalTypes(forced->bytes), 7));
    EXPECT_FALSE(after->keyFrame);
}

struct SizeCase {
    int width;
    int height;
};

class PhoneStandInEncoderSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(PhoneStandInEncoderSizes, DecodesBackToThePattern) {
    const SizeCase size = GetParam();
    EncoderSettings settings;
    settings.width = size.width;
    settings.height = size.height;
    settings.gop = 4;
    TestPatternEncoder encoder(settings);
    constexpr int kFrames = 8;
    const std::vector<DecodedPicture> pictures = decodeAll(encode(encoder, kFrames));
    ASSERT_EQ(pictures.size(), static_cast<std::size_t>(kFrames));

    // The region's inside, away from the edges where the codec blurs.
    Rect inner = TestPatternEncoder::TestRegion(size.width, size.height);
    inner = {inner.x + 4, inner.y + 4, inner.width - 8, inner.height - 8};
    ASSERT_GT(inner.width, 0);
    std::set<int> lumas;
    for (int n = 0; n < kFrames; ++n) {
        const DecodedPicture& picture = pictures[static_cast<std::size_t>(n)];
        ASSERT_EQ(picture.width, size.width);
        ASSERT_EQ(picture.height, size.height);
        const int expected = TestPatternEncoder::TestRegionLuma(n);
        lumas.insert(expected);
        EXPECT_NEAR(picture.meanLuma(inner), expected, 2.0) << "frame " << n;
        EXPECT_NEAR(picture.uAt(inner.x + 2, inner.y + 2), 128, 3) << "frame " << n;

        // The middle of each bar, in the band above the test region.
        const int row = inner.y / 4;
        for (int bar = 0; bar < TestPatternEncoder::kBarCount; ++bar) {
            const int x = (2 * bar + 1) * size.width / (2 * TestPatternEncoder::kBarCount);
            const Yuv colour = TestPatternEncoder::BarColour(bar);
            ASSERT_EQ(TestPatternEncoder::PatternAt(n, x, row, size.width, size.height).y, colour.y);
            EXPECT_NEAR(picture.lumaAt(x, row), colour.y, 6) << "frame " << n << " bar " << bar;
            EXPECT_NEAR(picture.uAt(x, row), colour.u, 8) << "frame " << n << " bar " << bar;
            EXPECT_NEAR(picture.vAt(x, row), colour.v, 8) << "frame " << n << " bar " << bar;
        }
    }
    EXPECT_EQ(lumas.size(), static_cast<std::size_t>(kFrames)) << "every frame tells itself apart";
}

INSTANTIATE_TEST_SUITE_P(Sizes, PhoneStandInEncoderSizes,
                         testing::Values(SizeCase{320, 240}, SizeCase{200, 150}, SizeCase{98, 62}),
                         [](const testing::TestParamInfo<SizeCase>& param) {
                             return std::to_string(param.param.width) + "x" + std::to_string(param.param.height);
                         });

TEST(PhoneStandInEncoder, RangeAndMatrixTagsReachTheDecoder) {
    struct Case {
        bool fullRange;
        ColourMatrix matrix;
        AVColorRange range;
        AVColorSpace colourspace;
    };
    const std::vector<Case> cases = {
        {false, ColourMatrix::Bt601, AVCOL_RANGE_MPEG, AVCOL_SPC_SMPTE170M},
        {true, ColourMatrix::Bt601, AVCOL_RANGE_JPEG, AVCOL_SPC_SMPTE170M},
        {true, ColourMatrix::Bt709, AVCOL_RANGE_JPEG, AVCOL_SPC_BT709},
    };
    for (const Case& c : cases) {
        TestPatternEncoder encoder(EncoderSettings{64, 64, 30, 30, c.fullRange, c.matrix});
        const std::vector<DecodedPicture> pictures = decodeAll(encode(encoder, 2));
        ASSERT_EQ(pictures.size(), 2u);
        EXPECT_EQ(pictures[0].range, c.range) << "full range " << c.fullRange;
        EXPECT_EQ(pictures[0].colourspace, c.colourspace) << "full range " << c.fullRange;
    }
}

TEST(PhoneStandInEncoder, RefusedSettingsAreReportedNotEncoded) {
    for (const EncoderSettings& settings :
         {EncoderSettings{321, 240, 30, 30, false, ColourMatrix::Bt601},
          EncoderSettings{320, 241, 30, 30, false, ColourMatrix::Bt601},
          EncoderSettings{320, 0, 30, 30, false, ColourMatrix::Bt601},
          EncoderSettings{320, 240, 30, 0, false, ColourMatrix::Bt601}}) {
        TestPatternEncoder encoder(settings);
        EXPECT_FALSE(encoder.nextAccessUnit()) << settings.width << "x" << settings.height;
        EXPECT_FALSE(encoder.lastError().empty());
    }
}

TEST(PhoneStandInEncoder, PatternHelpersDescribeTheFrame) {
    EXPECT_EQ(TestPatternEncoder::TestRegionLuma(0), 16);
    EXPECT_EQ(TestPatternEncoder::TestRegionLuma(1), 24);
    EXPECT_EQ(TestPatternEncoder::TestRegionLuma(24), 208);
    EXPECT_EQ(TestPatternEncoder::TestRegionLuma(25), 16);
    const Rect region = TestPatternEncoder::TestRegion(200, 150);
    EXPECT_EQ(region.x % 2, 0);
    EXPECT_EQ(region.y % 2, 0);
    EXPECT_EQ(TestPatternEncoder::PatternAt(3, region.x, region.y, 200, 150).y, 40);
    EXPECT_EQ(TestPatternEncoder::PatternAt(3, region.x - 1, region.y, 200, 150).y,
              TestPatternEncoder::BarColour(TestPatternEncoder::BarAt(region.x - 1, 200)).y);
    EXPECT_EQ(TestPatternEncoder::BarAt(0, 200), 0);
    EXPECT_EQ(TestPatternEncoder::BarAt(199, 200), TestPatternEncoder::kBarCount - 1);
}

}  // namespace
}  // namespace zucam::phone
