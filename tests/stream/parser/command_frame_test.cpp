#include "parser/command_frame.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "packet_bytes.h"

namespace {

using parser_test::CommandFrame;

bool Feed(CommandFrameBuffer* buffer, const std::string& bytes, std::vector<std::string>* out) {
    return ParseCommandFrames(buffer, bytes.data(), static_cast<int>(bytes.size()), out);
}

const std::vector<std::string> kTexts = {
    R"({"version":"1.0","type":0,"data":{"name":"Pixel","videoPort":0}})",
    "",  // an empty frame is a frame
    "{\"type\":1001,\"name\":\"K\xc3\xbc" "che\"}",
    std::string(300, 'x'),
    R"({"type":7,"data":null})",
};

std::string AllFrames() {
    std::string bytes;
    for (const std::string& text : kTexts) bytes += CommandFrame(text);
    return bytes;
}

TEST(CommandFrameSplit, EveryTwoPieceSplitDeliversEachFrameOnceInOrder) {
    const std::string bytes = AllFrames();
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        CommandFrameBuffer buffer;
        std::vector<std::string> out;
        ASSERT_TRUE(Feed(&buffer, bytes.substr(0, cut), &out));
        ASSERT_TRUE(Feed(&buffer, bytes.substr(cut), &out));
        ASSERT_EQ(out, kTexts);
        EXPECT_EQ(buffer.held(), 0);
    }
}

TEST(CommandFrameSplit, OneByteAtATimeDeliversEachFrameOnceInOrder) {
    const std::string bytes = AllFrames();
    CommandFrameBuffer buffer;
    std::vector<std::string> out;
    for (const char byte : bytes) ASSERT_TRUE(Feed(&buffer, std::string(1, byte), &out));
    EXPECT_EQ(out, kTexts);
    EXPECT_EQ(buffer.held(), 0);
}

TEST(CommandFrameSplit, TailIsKeptUntilTheNextCallAndClearDropsIt) {
    const std::string bytes = CommandFrame("{}") + CommandFrame("{\"type\":2}");
    CommandFrameBuffer buffer;
    std::vector<std::string> out;
    ASSERT_TRUE(Feed(&buffer, bytes.substr(0, 6 + 5), &out));
    EXPECT_EQ(out, std::vector<std::string>{"{}"});
    EXPECT_EQ(buffer.held(), 5);
    ASSERT_TRUE(Feed(&buffer, bytes.substr(11), &out));
    EXPECT_EQ(out, (std::vector<std::string>{"{}", "{\"type\":2}"}));

    ASSERT_TRUE(Feed(&buffer, bytes.substr(0, 3), &out));
    buffer.Clear();
    EXPECT_EQ(buffer.held(), 0);
    out.clear();
    ASSERT_TRUE(Feed(&buffer, CommandFrame("new"), &out));
    EXPECT_EQ(out, std::vector<std::string>{"new"});
}

TEST(CommandFrameLimits, LargestFrameIsAcceptedOneMoreByteFailsAtOnce) {
    const std::string largest(4092, 'j');
    CommandFrameBuffer buffer;
    std::vector<std::string> out;
    ASSERT_TRUE(Feed(&buffer, CommandFrame(largest), &out));
    EXPECT_EQ(out, std::vector<std::string>{largest});

    // Only the length field arrives: the frame can never be held.
    CommandFrameBuffer other;
    out.clear();
    EXPECT_FALSE(Feed(&other, parser_test::BigEndian32(4093), &out));
    EXPECT_FALSE(Feed(&other, parser_test::BigEndian32(0xFFFFFFFFu), &out));
    EXPECT_TRUE(out.empty());
}

TEST(CommandFrameLimits, MoreThanTheBufferHoldsFailsEvenWithSmallFrames) {
    std::string small;
    while (small.size() + 6 <= 4096) small += CommandFrame("{}");
    ASSERT_EQ(small.size(), 4092u);
    small += CommandFrame("");  // exactly 4096
    CommandFrameBuffer buffer;
    std::vector<std::string> out;
    ASSERT_TRUE(Feed(&buffer, small, &out));
    EXPECT_EQ(out.size(), 683u);

    CommandFrameBuffer over;
    out.clear();
    EXPECT_FALSE(Feed(&over, small + CommandFrame(""), &out));
    // A tail already held counts too.
    CommandFrameBuffer withTail;
    ASSERT_TRUE(Feed(&withTail, CommandFrame("ab").substr(0, 3), &out));
    ASSERT_EQ(withTail.held(), 3);
    EXPECT_FALSE(Feed(&withTail, std::string(4094, '\0'), &out));
}

TEST(CommandFrameLimits, NegativeLengthIsRefused) {
    CommandFrameBuffer buffer;
    std::vector<std::string> out;
    const char byte = 0;
    EXPECT_FALSE(ParseCommandFrames(&buffer, &byte, -1, &out));
    ASSERT_TRUE(Feed(&buffer, CommandFrame("{}").substr(0, 5), &out));
    EXPECT_FALSE(ParseCommandFrames(&buffer, &byte, -1, &out));
    EXPECT_EQ(buffer.held(), 5);
}

TEST(CommandFrameWriter, LengthIsBigEndianAndUnlimited) {
    const std::string text(0x012345, 'w');
    const std::string frame = MakeCommandFrame(text);
    ASSERT_EQ(frame.size(), 4 + text.size());
    EXPECT_EQ(frame.substr(0, 4), std::string("\x00\x01\x23\x45", 4));
    EXPECT_EQ(frame.substr(4), text);

    CommandFrameBuffer buffer;
    std::vector<std::string> out;
    ASSERT_TRUE(Feed(&buffer, MakeCommandFrame("{\"type\":4}"), &out));
    EXPECT_EQ(out, std::vector<std::string>{"{\"type\":4}"});
}

}  // namespace
