#include "parser/stream_parser.h"

#include <QFile>
#include <QString>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/tether/tq.h"
#include "packet_bytes.h"
#include "support/tether_environment.h"

namespace {

using namespace parser_test;
using Packets = std::vector<std::unique_ptr<StreamPacket>>;

// Small buffers wherever the behaviour does not depend on the real size.
constexpr uint64_t kSmallCapacity = 4096;

bool Feed(StreamPacketBuffer* buffer, const std::string& bytes, Packets* out) {
    return ParseStreamPackets(buffer, bytes.data(), static_cast<int>(bytes.size()), out);
}

std::vector<std::string> Describe(const Packets& packets) {
    std::vector<std::string> lines;
    for (const auto& packet : packets) lines.push_back(::Describe(*packet));
    return lines;
}

// A stream that exercises every accepting and skipping rule, and what the
// parser must make of it.
struct MixedStream {
    std::string bytes;
    std::vector<std::string> expected;
};

MixedStream MakeMixedStream() {
    const std::string frame1 = Payload(300, 1);
    const std::string frame2 = Payload(5, 2);
    const std::string pcm1 = Payload(64, 3);
    const std::string pcm2 = Payload(32, 4);
    MixedStream stream;
    stream.bytes = KeyPacket("k3y-42", {7, 8}) +                                    // expand area ignored
                   VideoPacket(1, frame1) +                                          //
                   RawPacket(kStreamPacketVideo, {kStreamPacketVideo}, "short") +    // E = 4: skipped
                   AudioPacket(48000, 2, 16, pcm1) +                                 //
                   AudioPacket(48000, 2, 8, "8-bit") +                               // skipped
                   AudioPacket(48000, 0, 16, "no channels") +                        // skipped
                   AudioPacket(0, 2, 16, "no rate") +                                // skipped
                   RawPacket(kStreamPacketVideo, {kStreamPacketAudio, 1}, "wrong") +  // skipped
                   VideoPacket(0, "") +                                              // empty access unit
                   AudioPacket(44100, 1, 16, pcm2) +                                 //
                   VideoPacket(0, frame2);
    stream.expected = {"key:k3y-42",        "video:1:" + frame1, "audio:48000:2:" + pcm1, "video:0:",
                       "audio:44100:1:" + pcm2, "video:0:" + frame2};
    return stream;
}

TEST(StreamParserSplit, EveryTwoPieceSplitDeliversEachPacketOnceInOrder) {
    const MixedStream stream = MakeMixedStream();
    for (size_t cut = 0; cut <= stream.bytes.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        StreamPacketBuffer buffer(kSmallCapacity);
        Packets out;
        ASSERT_TRUE(Feed(&buffer, stream.bytes.substr(0, cut), &out));
        ASSERT_TRUE(Feed(&buffer, stream.bytes.substr(cut), &out));
        ASSERT_EQ(Describe(out), stream.expected);
        EXPECT_EQ(buffer.held(), 0u);
    }
}

TEST(StreamParserSplit, OneByteAtATimeDeliversEachPacketOnceInOrder) {
    const MixedStream stream = MakeMixedStream();
    StreamPacketBuffer buffer(kSmallCapacity);
    Packets out;
    for (const char byte : stream.bytes) ASSERT_TRUE(Feed(&buffer, std::string(1, byte), &out));
    EXPECT_EQ(Describe(out), stream.expected);
    EXPECT_EQ(buffer.held(), 0u);
}

TEST(StreamParserSplit, TailOfOneCallIsKeptAndCompletedByTheNext) {
    const std::string first = VideoPacket(1, Payload(100, 1));
    const std::string second = AudioPacket(16000, 1, 16, Payload(40, 2));
    const std::string both = first + second;
    StreamPacketBuffer buffer(kSmallCapacity);
    Packets out;
    const size_t cut = first.size() + 7;  // inside the second packet's fixed fields
    ASSERT_TRUE(Feed(&buffer, both.substr(0, cut), &out));
    EXPECT_EQ(out.size(), 1u);
    EXPECT_EQ(buffer.held(), 7u);
    ASSERT_TRUE(Feed(&buffer, both.substr(cut), &out));
    EXPECT_EQ(Describe(out),
              (std::vector<std::string>{"video:1:" + Payload(100, 1), "audio:16000:1:" + Payload(40, 2)}));
    EXPECT_EQ(buffer.held(), 0u);
}

TEST(StreamParserSplit, ClearDropsAPartialPacket) {
    StreamPacketBuffer buffer(kSmallCapacity);
    Packets out;
    ASSERT_TRUE(Feed(&buffer, VideoPacket(1, Payload(50, 1)).substr(0, 30), &out));
    buffer.Clear();
    EXPECT_EQ(buffer.held(), 0u);
    ASSERT_TRUE(Feed(&buffer, KeyPacket("fresh"), &out));
    EXPECT_EQ(Describe(out), std::vector<std::string>{"key:fresh"});
}

// One complete read each: whether the call succeeds and what it delivers.
struct RuleCase {
    const char* name;
    std::string bytes;
    bool ok;
    std::vector<std::string> expected;
};

std::vector<RuleCase> RuleCases() {
    const std::string next = KeyPacket("next");
    return {
        {"KeyExpandAreaIsSkipped", KeyPacket("tok", {1, 2}) + next, true, {"key:tok", "key:next"}},
        {"KeyTokenMayBeEmpty", KeyPacket("") + next, true, {"key:", "key:next"}},
        {"KeyTokenKeepsBinaryBytes", KeyPacket(std::string("a\0b", 3)), true, {std::string("key:a\0b", 7)}},
        {"VideoWithTypeWordOnlyIsSkipped", RawPacket(1, {1}, "x") + next, true, {"key:next"}},
        {"VideoWithWrongTypeWordIsSkipped", RawPacket(1, {2, 1}, "x") + next, true, {"key:next"}},
        {"VideoExtraExpandWordsAreIgnored", RawPacket(1, {1, 1, 9, 9}, "au") + next, true, {"video:1:au", "key:next"}},
        {"VideoKeyFlagIsPassedOnAsSent", VideoPacket(7, "au"), true, {"video:7:au"}},
        {"VideoWithoutExpandWordFails", RawPacket(1, {}, "x") + next, false, {}},
        {"VideoExpandShorterThanAWordFails", PacketHeader(1, 3, 0) + next, false, {}},
        // An expand area that is no whole number of words: the payload
        // starts right after it all the same.
        {"VideoOddExpandLengthKeepsPayloadOffset",
         BigEndian32(1) + BigEndian32(9) + BigEndian32(1) + BigEndian32(1) + "z" + BigEndian32(2) + "au" + next,
         true,
         {"video:1:au", "key:next"}},
        {"AudioWith8BitSamplesIsSkipped", AudioPacket(8000, 1, 8, "pcm") + next, true, {"key:next"}},
        {"AudioWithZeroChannelsIsSkipped", AudioPacket(8000, 0, 16, "pcm") + next, true, {"key:next"}},
        {"AudioWithZeroRateIsSkipped", AudioPacket(0, 1, 16, "pcm") + next, true, {"key:next"}},
        {"AudioWithThreeWordsIsSkipped", RawPacket(2, {2, 8000, 1}, "pcm") + next, true, {"key:next"}},
        {"AudioWithWrongTypeWordIsSkipped", RawPacket(2, {1, 8000, 1, 16}, "pcm") + next, true, {"key:next"}},
        {"AudioOddRatesAndChannelsArePassedOn", AudioPacket(123, 9, 16, "pcm"), true, {"audio:123:9:pcm"}},
        {"AudioWithoutExpandWordFails", RawPacket(2, {}, "pcm") + next, false, {}},
        {"UnknownTypeFails", RawPacket(3, {}, "") + next, false, {}},
        {"PacketsBeforeAFailureStayDelivered", next + RawPacket(9, {}, "") + next, false, {"key:next"}},
    };
}

void PrintTo(const RuleCase& rule, std::ostream* os) { *os << rule.name; }

class StreamParserRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(StreamParserRules, Apply) {
    const RuleCase& rule = GetParam();
    StreamPacketBuffer buffer(kSmallCapacity);
    Packets out;
    EXPECT_EQ(Feed(&buffer, rule.bytes, &out), rule.ok);
    EXPECT_EQ(Describe(out), rule.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, StreamParserRules, ::testing::ValuesIn(RuleCases()),
                         parser_test::CaseName());

// Headers whose packet could never be held: the call that makes the length
// readable fails, without waiting for a single payload byte.
struct LimitCase {
    const char* name;
    uint64_t capacity;
    std::string header;
};

std::vector<LimitCase> NeverFitCases() {
    const uint64_t full = StreamPacketBuffer::kDefaultCapacity;
    return {
        {"PayloadAtTheLimit", full, PacketHeader(1, 0, static_cast<uint32_t>(full - 256))},
        {"PayloadMaximal", full, PacketHeader(1, 0, 0xFFFFFFFFu)},
        {"ExpandMaximal", full, BigEndian32(1) + BigEndian32(0xFFFFFFFFu) + BigEndian32(0)},
        {"ExpandAloneOverCapacity", 1024, BigEndian32(1) + BigEndian32(1024 - 11) + BigEndian32(0)},
        // Payload below the limit, but with the expand area over capacity.
        {"ExpandPlusPayloadOverCapacity", 1024, PacketHeader(0, 300, 1024 - 300 - 11)},
        {"SmallPayloadAtTheLimit", 1024, PacketHeader(0, 0, 1024 - 256)},
    };
}

void PrintTo(const LimitCase& limit, std::ostream* os) { *os << limit.name; }

class StreamParserNeverFits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(StreamParserNeverFits, FailsAsSoonAsTheLengthIsReadable) {
    const LimitCase& limit = GetParam();
    StreamPacketBuffer buffer(limit.capacity);
    Packets out;
    // Heap copy of exactly the header: reading past it shows under ASan.
    const std::vector<char> header(limit.header.begin(), limit.header.end());
    EXPECT_FALSE(ParseStreamPackets(&buffer, header.data(), static_cast<int>(header.size()), &out));
    EXPECT_TRUE(out.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, StreamParserNeverFits, ::testing::ValuesIn(NeverFitCases()),
                         parser_test::CaseName());

TEST(StreamParserLimits, LargePacketsThatFitAreAwaited) {
    StreamPacketBuffer buffer(1024);
    Packets out;
    // 12 + E + P == capacity exactly, with P one below the payload limit.
    const uint32_t payloadLen = 1024 - 256 - 1;
    const uint32_t expandLen = 1024 - 12 - payloadLen;
    const std::string payload = Payload(payloadLen, 5);
    const std::string packet = PacketHeader(kStreamPacketKey, expandLen, payloadLen) + payload;
    ASSERT_EQ(packet.size(), 1024u);
    ASSERT_TRUE(Feed(&buffer, packet.substr(0, 12 + expandLen), &out));
    EXPECT_TRUE(out.empty());
    ASSERT_TRUE(Feed(&buffer, packet.substr(12 + expandLen), &out));
    EXPECT_EQ(Describe(out), std::vector<std::string>{"key:" + payload});
}

TEST(StreamParserLimits, LargestPayloadFitsTheFullBuffer) {
    StreamPacketBuffer buffer;
    ASSERT_EQ(buffer.capacity(), 67108864u);
    const uint32_t largest = 67108607;
    const std::string payload = Payload(largest, 6);
    Packets out;
    ASSERT_TRUE(Feed(&buffer, PacketHeader(0, 0, largest) + payload, &out));
    ASSERT_EQ(out.size(), 1u);
    const auto& token = static_cast<const StreamTokenPacket&>(*out[0]);
    EXPECT_TRUE(token.token() == payload);
}

TEST(StreamParserLimits, HeldBytesNeverPassTheCapacity) {
    const std::string packet = KeyPacket(Payload(244, 1));  // 256 bytes
    const std::string two = packet + packet;
    Packets out;
    {
        // A whole read is refused before any packet is cut out of it.
        StreamPacketBuffer buffer(512);
        EXPECT_FALSE(Feed(&buffer, two + "x", &out));
        EXPECT_TRUE(out.empty());
        ASSERT_TRUE(Feed(&buffer, two, &out));
        EXPECT_EQ(out.size(), 2u);
    }
    {
        // A tail already held counts.
        StreamPacketBuffer buffer(512);
        out.clear();
        ASSERT_TRUE(Feed(&buffer, two.substr(0, 100), &out));
        EXPECT_FALSE(Feed(&buffer, two.substr(100) + "x", &out));
        EXPECT_TRUE(out.empty());
        ASSERT_TRUE(Feed(&buffer, two.substr(100), &out));
        EXPECT_EQ(out.size(), 2u);
    }
}

TEST(StreamParserLimits, NegativeLengthIsRefused) {
    StreamPacketBuffer buffer(kSmallCapacity);
    Packets out;
    const char byte = 0;
    EXPECT_FALSE(ParseStreamPackets(&buffer, &byte, -1, &out));
    // With bytes held, a length taken as unsigned would wrap below the limit.
    ASSERT_TRUE(Feed(&buffer, KeyPacket("abc").substr(0, 5), &out));
    EXPECT_FALSE(ParseStreamPackets(&buffer, &byte, -1, &out));
    EXPECT_FALSE(ParseStreamPackets(&buffer, &byte, -2147483647 - 1, &out));
    EXPECT_EQ(buffer.held(), 5u);
}

// Payload buffers are rounded up to whole 4096-byte pages; an empty payload
// gets no page (capacity 0) but still a non-null data().
TEST(StreamParserPayload, CapacityIsRoundedToWholePages) {
    const std::vector<std::pair<uint32_t, uint64_t>> cases = {
        {0, 0}, {1, 4096}, {4095, 4096}, {4096, 4096}, {4097, 8192}, {8192, 8192}, {12289, 16384}};
    for (const auto& [size, capacity] : cases) {
        SCOPED_TRACE("payload " + std::to_string(size));
        StreamPacketBuffer buffer(32768);
        Packets out;
        const std::string payload = Payload(size, 9);
        ASSERT_TRUE(Feed(&buffer, VideoPacket(1, payload) + AudioPacket(8000, 1, 16, payload), &out));
        ASSERT_EQ(out.size(), 2u);
        const auto& video = static_cast<const StreamVideoPacket&>(*out[0]);
        const auto& audio = static_cast<const StreamAudioPacket&>(*out[1]);
        EXPECT_EQ(video.capacity(), capacity);
        EXPECT_EQ(audio.capacity(), capacity);
        ASSERT_NE(video.data(), nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(video.data()), video.size()), payload);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(audio.data()), audio.size()), payload);
    }
}

// Each failure names its reason once in the log.
struct LoggedFailure {
    const char* name;
    std::string bytes;
    const char* message;
};

void PrintTo(const LoggedFailure& failure, std::ostream* os) { *os << failure.name; }

class StreamParserLog : public ::testing::TestWithParam<LoggedFailure> {};

TEST_P(StreamParserLog, FailureIsLogged) {
    zucam::test::TetherEnvironment tether;
    const QString logPath = QString::fromStdString(g_cd->logger->directory()) + "/zucam.log";
    {
        StreamPacketBuffer buffer(kSmallCapacity);
        Packets out;
        EXPECT_FALSE(Feed(&buffer, GetParam().bytes, &out));
    }
    QFile log(logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_EQ(text.count(GetParam().message), 1) << text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamParserLog,
    ::testing::Values(LoggedFailure{"PayloadTooLong", PacketHeader(1, 0, 4096 - 256), "stream packet need too long buffer"},
                      LoggedFailure{"ExpandTooLong", PacketHeader(1, 4096, 0).substr(0, 12), "stream packet need too long buffer"},
                      LoggedFailure{"VideoExpandShort", RawPacket(1, {}, ""), "video packet, expand_len is not enough!"},
                      LoggedFailure{"AudioExpandShort", RawPacket(2, {}, ""), "audio packet, expand_len is not enough!"},
                      LoggedFailure{"UnknownType", RawPacket(3, {}, ""), "unknown stream pkt_type : 3"}),
    parser_test::CaseName());

}  // namespace
