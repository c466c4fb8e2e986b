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

// A stream of whole frames is read the same however the reads cut it, even
// when one read brings more than the buffer holds beside a tail already
// held: the read is taken in piece by piece.
TEST(CommandFrameLimits, ReadsLargerThanTheBufferAreTakenInPieces) {
    std::vector<std::string> texts;
    for (int round = 0; round < 40; ++round) texts.insert(texts.end(), kTexts.begin(), kTexts.end());
    texts.push_back(std::string(4092, 'L'));  // the largest frame, after the others
    texts.push_back("{}");
    std::string bytes;
    for (const std::string& text : texts) bytes += CommandFrame(text);
    ASSERT_GT(bytes.size(), 3u * 4096u);

    const size_t reads[] = {bytes.size(), 4096, 4097, 5000, 1, 4095};
    const size_t firstReads[] = {0, 3, 1000, 4093};
    for (const size_t first : firstReads) {
        for (const size_t read : reads) {
            SCOPED_TRACE("first " + std::to_string(first) + ", then reads of " + std::to_string(read));
            CommandFrameBuffer buffer;
            std::vector<std::string> out;
            ASSERT_TRUE(Feed(&buffer, bytes.substr(0, first), &out));
            for (size_t at = first; at < bytes.size(); at += read) {
                ASSERT_TRUE(Feed(&buffer, bytes.substr(at, read), &out));
                ASSERT_LE(buffer.held(), CommandFrameBuffer::kCapacity);
            }
            ASSERT_EQ(out, texts);
            EXPECT_EQ(buffer.held(), 0);
        }
    }
}

// A frame too long is refused wherever it stands in a big read; the frames
// before it were cut.
TEST(CommandFrameLimits, AFrameTooLongInsideABigReadFails) {
    std::string bytes;
    for (int i = 0; i < 1000; ++i) bytes += CommandFrame("{}");
    bytes += parser_test::BigEndian32(4093) + std::string(4093, 'x');
    bytes += CommandFrame("{}");
    CommandFrameBuffer buffer;
    std::vector<std::string> out;
    EXPECT_FALSE(Feed(&buffer, bytes, &out));
    EXPECT_EQ(out.size(), 1000u);
    EXPECT_LE(buffer.held(), CommandFrameBuffer::kCapacity);
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
