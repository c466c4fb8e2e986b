// A whole Wi-Fi session of the stand-in against a fake program: hello, the
// key on each media connection, video and audio packets, disconnect; and the
// phone_standin program doing the same as a separate process.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <thread>

#include "support/phone/phone_standin.h"
#include "support/phone_test/fake_program.h"

namespace zucam::phone {
namespace {

using namespace std::chrono_literals;
using test::FakeProgram;
using test::ReceivedPacket;

constexpr auto kWait = 5s;

std::string littleEndian(const std::vector<int16_t>& samples) {
    std::string out;
    for (const int16_t sample : samples) {
        out.push_back(static_cast<char>(static_cast<uint16_t>(sample) & 0xff));
        out.push_back(static_cast<char>(static_cast<uint16_t>(sample) >> 8));
    }
    return out;
}

void expectKeyPacket(std::optional<test::FakePeer>& peer, const char* which) {
    ASSERT_TRUE(peer) << which << " connection never came";
    const auto packet = peer->readMediaPacket(kWait);
    ASSERT_TRUE(packet) << which;
    EXPECT_EQ(packet->type, 0u) << which;
    EXPECT_TRUE(packet->words.empty()) << which;
    EXPECT_EQ(packet->payload, FakeProgram::kKey) << which;
}

class PhoneStandInSession : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(program_.valid()); }

    FakeProgram program_;
};

TEST_F(PhoneStandInSession, StreamsKeyThenVideoAndAudioThenDisconnects) {
    StandInOptions options;
    options.gop = 2;
    PhoneStandIn phone(options);
    program_.open(true);
    ASSERT_TRUE(phone.connectWifi(program_.commandPort(), "Pixel 7", 30, 160, 96)) << phone.lastError();
    program_.finishOpening();

    ASSERT_TRUE(program_.hello());
    const Json::Value& hello = *program_.hello();
    EXPECT_EQ(hello["type"], 0);
    EXPECT_EQ(hello["version"], "1.0");
    EXPECT_EQ(hello["data"]["name"], "Pixel 7");
    EXPECT_EQ(hello["data"]["fps"], 30);
    EXPECT_EQ(hello["data"]["width"], 160);
    EXPECT_EQ(hello["data"]["height"], 96);
    ASSERT_TRUE(phone.helloReply());
    EXPECT_EQ(phone.helloReply()->key, FakeProgram::kKey);
    ASSERT_NE(phone.audio(), nullptr);

    expectKeyPacket(program_.video(), "video");
    expectKeyPacket(program_.audio(), "audio");

    // Both streams at once, as the phone sends them.
    bool videoOk = false;
    std::thread video([&] { videoOk = phone.streamVideo(3); });
    const bool audioOk = phone.streamAudio(2);
    video.join();
    ASSERT_TRUE(videoOk && audioOk) << phone.lastError();
    EXPECT_EQ(phone.framesSent(), 3);
    EXPECT_EQ(phone.audioBlocksSent(), 2);

    TestPatternEncoder reference(EncoderSettings{160, 96, 30, 2, false, ColourMatrix::Bt601});
    for (int i = 0; i < 3; ++i) {
        const auto packet = program_.video()->readMediaPacket(kWait);
        ASSERT_TRUE(packet) << "video " << i;
        EXPECT_EQ(packet->type, 1u);
        EXPECT_EQ(packet->words, (std::vector<uint32_t>{1u, i % 2 == 0 ? 1u : 0u})) << "video " << i;
        const auto expected = reference.nextAccessUnit();
        ASSERT_TRUE(expected);
        EXPECT_EQ(packet->payload, expected->bytes) << "video " << i << " is the encoder's unit, unchanged";
    }
    PcmGenerator pcm;
    for (int i = 0; i < 2; ++i) {
        const auto packet = program_.audio()->readMediaPacket(kWait);
        ASSERT_TRUE(packet) << "audio " << i;
        EXPECT_EQ(packet->type, 2u);
        EXPECT_EQ(packet->words, (std::vector<uint32_t>{2u, 48000u, 2u, 16u}));
        EXPECT_EQ(packet->payload.size(), 1920u * 2 * 2) << "40 ms of 48 kHz stereo";
        EXPECT_EQ(packet->payload, littleEndian(pcm.nextBlock(1920))) << "audio " << i;
    }

    std::thread program([&] {
        const auto request = program_.command()->readFrame(kWait);
        if (request && ParseJson(*request) && (*ParseJson(*request))["type"] == 2)
            program_.command()->writeFrame(R"({"type":0,"version":"1.0","data":null})");
        program_.command()->close();
    });
    EXPECT_TRUE(phone.disconnect()) << phone.lastError();
    program.join();
    ASSERT_TRUE(phone.disconnectReply());
    EXPECT_TRUE((*phone.disconnectReply())["data"].isNull());
}

TEST_F(PhoneStandInSession, NoAudioPortMeansNoAudioConnection) {
    PhoneStandIn phone;
    program_.open(false);
    ASSERT_TRUE(phone.connectWifi(program_.commandPort(), "Pixel", 30, 64, 64)) << phone.lastError();
    program_.finishOpening();
    expectKeyPacket(program_.video(), "video");
    EXPECT_EQ(phone.audio(), nullptr);
    EXPECT_FALSE(program_.audioListener().accept(150ms)) << "no audio connection was offered";
    EXPECT_FALSE(phone.streamAudio(1));
    EXPECT_NE(phone.lastError().find("audio"), std::string::npos);
}

TEST_F(PhoneStandInSession, RefusedHelloOpensNoMediaConnection) {
    PhoneStandIn phone;
    program_.open(true, R"({"type":0,"version":"1.0","data":null})");
    EXPECT_FALSE(phone.connectWifi(program_.commandPort(), "Pixel", 30, 64, 64));
    program_.finishOpening();
    EXPECT_NE(phone.lastError().find("hello"), std::string::npos) << phone.lastError();
    EXPECT_FALSE(program_.videoListener().accept(150ms));
    EXPECT_FALSE(phone.streamVideo(1));
}

TEST_F(PhoneStandInSession, DisconnectFailsUnlessTheProgramRepliesAndCloses) {
    struct Case {
        const char* what;
        bool reply;
        bool close;
    };
    for (const Case c : {Case{"no reply, channel kept", false, false}, Case{"reply, channel kept", true, false},
                         Case{"no reply, channel closed", false, true}}) {
        FakeProgram program;
        StandInOptions options;
        options.timeout = 300ms;
        PhoneStandIn phone(options);
        program.open(false);
        ASSERT_TRUE(phone.connectWifi(program.commandPort(), "Pixel", 30, 64, 64)) << phone.lastError();
        program.finishOpening();
        std::thread side([&] {
            program.command()->readFrame(kWait);
            if (c.reply) program.command()->writeFrame(R"({"type":0,"version":"1.0","data":null})");
            if (c.close) program.command()->close();
        });
        EXPECT_FALSE(phone.disconnect()) << c.what;
        side.join();
    }
}

// Runs command through the shell; returns its exit status and what it printed.
std::pair<int, std::string> run(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {-1, output};
    std::array<char, 4096> buffer{};
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), got);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST_F(PhoneStandInSession, ProgramPlaysAFullSession) {
    program_.open(true);
    int videoPackets = 0;
    int audioPackets = 0;
    bool disconnectSeen = false;
    std::thread side([&] {
        program_.finishOpening();
        if (!program_.video() || !program_.audio()) return;
        while (auto packet = program_.video()->readMediaPacket(kWait)) {
            if (packet->type == 1) ++videoPackets;
            if (videoPackets == 3) break;
        }
        while (auto packet = program_.audio()->readMediaPacket(kWait)) {
            if (packet->type == 2) ++audioPackets;
            if (audioPackets == 2) break;
        }
        const auto request = program_.command()->readFrame(kWait);
        disconnectSeen = request && request->find("\"type\":2") != std::string::npos;
        program_.command()->writeFrame(R"({"type":0,"version":"1.0","data":null})");
        program_.command()->close();
    });
    const auto [status, output] =
        run(std::string(PHONE_STANDIN_PATH) + " --connect 127.0.0.1:" + std::to_string(program_.commandPort()) +
            " --name Tester --frames 3 --audio-blocks 2 --fps 50 --size 96x64");
    side.join();
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(videoPackets, 3);
    EXPECT_EQ(audioPackets, 2);
    EXPECT_TRUE(disconnectSeen);
    ASSERT_TRUE(program_.hello());
    EXPECT_EQ((*program_.hello())["data"]["name"], "Tester");
    EXPECT_EQ((*program_.hello())["data"]["width"], 96);
    EXPECT_NE(output.find("hello {"), std::string::npos) << output;
    EXPECT_NE(output.find(FakeProgram::kKey), std::string::npos) << output;
    EXPECT_NE(output.find("video 3 frames"), std::string::npos) << output;
    EXPECT_NE(output.find("audio 2 blocks"), std::string::npos) << output;
    EXPECT_NE(output.find("disconnect {"), std::string::npos) << output;
    EXPECT_NE(output.find("\nclosed"), std::string::npos) << output;
}

TEST(PhoneStandInProgram, BadCommandLinesExitWithTwo) {
    for (const char* arguments : {"", "--connect", "--connect 127.0.0.1", "--connect 127.0.0.1:70000",
                                  "--listen-beacon --connect 127.0.0.1:1", "--frames x --connect 127.0.0.1:1"}) {
        EXPECT_EQ(run(std::string(PHONE_STANDIN_PATH) + " " + arguments + " 2>/dev/null").first, 2) << arguments;
    }
}

}  // namespace
}  // namespace zucam::phone
