// Command channel framing without sockets: header bytes and reassembly from
// pieces of any size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/phone/frame_codec.h"

namespace zucam::phone {
namespace {

struct HeaderCase {
    std::size_t length;
    std::string header;
};

TEST(PhoneStandInFraming, LengthPrefixIsFourBytesBigEndian) {
    const std::vector<HeaderCase> cases = {
        {0, std::string("\x00\x00\x00\x00", 4)},
        {5, std::string("\x00\x00\x00\x05", 4)},
        {300, std::string("\x00\x00\x01\x2c", 4)},
        {70000, std::string("\x00\x01\x11\x70", 4)},
    };
    for (const HeaderCase& c : cases) {
        const std::string payload(c.length, 'j');
        const std::string frame = FrameCodec::encode(payload);
        ASSERT_EQ(frame.size(), 4 + c.length) << c.length;
        EXPECT_EQ(frame.substr(0, 4), c.header) << c.length;
        EXPECT_EQ(frame.substr(4), payload) << c.length;
    }
    EXPECT_EQ(FrameCodec::header(0xfffffffeu), std::string("\xff\xff\xff\xfe", 4));
}

TEST(PhoneStandInFraming, ReassemblesFramesFedByteByByteOrAllAtOnce) {
    const std::vector<std::string> payloads = {R"({"type":0})", "", std::string(300, 'x'), "{}"};
    std::string stream;
    for (const std::string& payload : payloads) stream += FrameCodec::encode(payload);

    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, stream.size()}) {
        FrameCodec codec;
        std::vector<std::string> got;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            codec.feed(std::string_view(stream).substr(at, piece));
            while (auto frame = codec.next()) got.push_back(*frame);
        }
        EXPECT_EQ(got, payloads) << "pieces of " << piece;
        EXPECT_EQ(codec.pendingBytes(), 0u);
    }
}

TEST(PhoneStandInFraming, IncompleteFrameWaitsForTheRest) {
    FrameCodec codec;
    const std::string frame = FrameCodec::encode("hello");
    codec.feed(frame.substr(0, 3));
    EXPECT_FALSE(codec.next());
    codec.feed(frame.substr(3, 4));
    EXPECT_FALSE(codec.next());
    EXPECT_EQ(codec.pendingBytes(), 7u);
    codec.feed(frame.substr(7));
    EXPECT_EQ(codec.next(), "hello");
}

}  // namespace
}  // namespace zucam::phone
