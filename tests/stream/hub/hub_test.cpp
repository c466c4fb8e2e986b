#include <QDir>
#include <QTemporaryDir>
#include <json/json.h>

#include "hub_fixture.h"
#include "support/phone/media_sender.h"

namespace zucam::test {
namespace {

using phone::CommandClient;
using phone::CommandType::Disconnect;
using phone::CommandType::DisconnectExpected;
using phone::CommandType::NameQuery;
using phone::CommandType::Picture;
using phone::CommandType::Record;
using phone::CommandType::Screenshot;
using phone::CommandType::Sound;

Json::Value TypeData(int type) {
    Json::Value data(Json::objectValue);
    data["type"] = type;
    return data;
}

TEST_F(HubTest, HelloIsAnsweredWithMediaPortsAndAFreshKey) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    const auto reply = phone.hello("Pixel 8", 24, 640, 480);
    ASSERT_TRUE(reply.has_value()) << phone.lastError();

    const Json::Value& message = reply->message;
    EXPECT_EQ(message["type"].asInt(), 0);
    EXPECT_EQ(message["version"].asString(), "1.0");
    EXPECT_GE(reply->videoPort, kCommandPort + 1);
    EXPECT_LE(reply->videoPort, kCommandPort + 100);
    ASSERT_TRUE(reply->audioPort.has_value());
    EXPECT_GT(*reply->audioPort, reply->videoPort);
    EXPECT_LE(*reply->audioPort, reply->videoPort + 100);
    EXPECT_TRUE(phone::LooksLikeBracedUuid(reply->key)) << reply->key;
    EXPECT_EQ(reply->biteRate.value_or(-1), 4);
    EXPECT_FALSE(reply->udpPort.has_value());

    ASSERT_TRUE(signals_->waitFor("OnNewConnection"));
    EXPECT_EQ(signals_->last("OnNewConnection"), (QVariantList{"Pixel 8", 24, 640, 480}));

    // Every hello makes a new key.
    const auto again = phone.hello("Pixel 8", 24, 640, 480);
    ASSERT_TRUE(again.has_value());
    EXPECT_NE(again->key, reply->key);
}

TEST_F(HubTest, HelloWithoutSizeReportsTheDefaults) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    Json::Value data(Json::objectValue);
    data["name"] = "old phone";
    ASSERT_TRUE(phone.helloWithData(data).has_value()) << phone.lastError();
    ASSERT_TRUE(signals_->waitFor("OnNewConnection"));
    EXPECT_EQ(signals_->last("OnNewConnection"), (QVariantList{"old phone", 30, 240, 320}));
}

TEST_F(HubTest, MediaReachesTheDecoderAndEveryAudioSink) {
    const auto phone = connectPhone();
    ASSERT_TRUE(phone);
    ASSERT_TRUE(phone->streamVideo(6)) << phone->lastError();
    ASSERT_TRUE(phone->streamAudio(3)) << phone->lastError();

    ASSERT_TRUE(decoders_.log().WaitPushes(6, 5000));
    const auto units = decoders_.log().Pushes();
    const auto keyFrames = decoders_.log().KeyFrames();
    size_t first = 0;
    while (first < units.size() && units[first] == kNullPush) ++first;  // the accept's stream-reset marker
    ASSERT_LT(first, units.size());
    EXPECT_TRUE(keyFrames[first]);
    EXPECT_TRUE(units[first].compare(0, 3, std::string("\0\0\0", 3)) == 0 ||
                units[first].compare(0, 3, std::string("\0\0\1", 3)) == 0);

    ASSERT_TRUE(audio_.WaitCalls(3, 5000));
    const auto blocks = audio_.Calls();
    const int samples = phone->pcm().samplesFor(std::chrono::milliseconds(40));
    for (const auto& block : blocks) {
        EXPECT_EQ(block.samplesPerChannel, samples);
        EXPECT_EQ(block.sampleRate, phone->pcm().settings().sampleRate);
        EXPECT_EQ(block.channels, phone->pcm().settings().channels);
    }
}

TEST_F(HubTest, AMediaConnectionWithAnotherKeyEndsThePhoneConnection) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    const auto reply = phone.hello("Pixel", 30, 320, 240);
    ASSERT_TRUE(reply.has_value());

    phone::MediaSender video;
    ASSERT_TRUE(video.connect("127.0.0.1", reply->videoPort));
    ASSERT_TRUE(video.sendKey("{00000000-0000-0000-0000-000000000000}"));
    video.sendVideo(std::string("\0\0\0\1\x65\x88", 6), true);

    EXPECT_TRUE(video.waitClosed());
    EXPECT_TRUE(phone.waitClosed());
    ASSERT_TRUE(signals_->waitFor("OnDisconnected"));
    for (const auto& unit : decoders_.log().Pushes()) EXPECT_EQ(unit, kNullPush) << "media got through";
}

TEST_F(HubTest, ASecondHelloGivesTheMediaServersTheNewKey) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    const auto first = phone.hello("Pixel", 30, 320, 240);
    const auto second = phone.hello("Pixel", 30, 320, 240);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(second->videoPort, first->videoPort);  // the servers stay

    phone::MediaSender video;
    ASSERT_TRUE(video.connect("127.0.0.1", second->videoPort));
    ASSERT_TRUE(video.sendKey(second->key));
    ASSERT_TRUE(video.sendVideo(std::string("\0\0\0\1\x65\x88", 6), true));
    ASSERT_TRUE(decoders_.log().WaitPushes(2, 5000));  // marker and the unit
    EXPECT_NE(decoders_.log().Pushes().back(), kNullPush);
    EXPECT_FALSE(video.waitClosed(std::chrono::milliseconds(200)));
}

TEST_F(HubTest, NameQueryIsAnsweredBeforeAnyHello) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    ASSERT_TRUE(phone.sendCommand(NameQuery));
    const auto answer = phone.readMessage();
    ASSERT_TRUE(answer.has_value()) << phone.lastError();
    EXPECT_EQ((*answer)["type"].asInt(), 1001);
    EXPECT_EQ((*answer)["version"].asString(), "1.0");
    EXPECT_EQ((*answer)["name"].asString(), "会议室 PC");
    EXPECT_FALSE(answer->isMember("data"));
}

TEST_F(HubTest, DisconnectReplyReachesThePhoneBeforeTheChannelCloses) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    ASSERT_TRUE(phone.hello("Pixel", 30, 320, 240).has_value());
    ASSERT_TRUE(phone.sendCommand(Disconnect));
    const auto reply = phone.readMessage();
    ASSERT_TRUE(reply.has_value()) << phone.lastError();
    EXPECT_EQ((*reply)["type"].asInt(), 0);
    EXPECT_TRUE((*reply)["data"].isNull());
    EXPECT_TRUE(phone.waitClosed());
    ASSERT_TRUE(signals_->waitFor("OnDisconnected"));
    EXPECT_EQ(signals_->count("OnDisconnectedDelay"), 0);

    // The command port takes the next phone.
    CommandClient next;
    ASSERT_TRUE(connect(next));
    EXPECT_TRUE(next.hello("Pixel", 30, 320, 240).has_value()) << next.lastError();
}

TEST_F(HubTest, AnnouncedDisconnectIsReportedAsDelayed) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    ASSERT_TRUE(phone.hello("Pixel", 30, 320, 240).has_value());
    ASSERT_TRUE(phone.sendCommand(DisconnectExpected));
    phone.close();
    ASSERT_TRUE(signals_->waitFor("OnDisconnectedDelay"));
    EXPECT_EQ(signals_->count("OnDisconnected"), 0);
}

TEST_F(HubTest, ClosingWithoutHelloReportsNoDisconnect) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    ASSERT_TRUE(phone.sendCommand(NameQuery));
    ASSERT_TRUE(phone.readMessage().has_value());
    phone.close();
    signals_->settle(300);
    EXPECT_EQ(signals_->count("OnDisconnected") + signals_->count("OnDisconnectedDelay"), 0);
}

TEST_F(HubTest, CloseManagerEndsTheConnectionWithoutADisconnectSignal) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    ASSERT_TRUE(phone.hello("Pixel", 30, 320, 240).has_value());
    hub_->CloseManager();
    EXPECT_TRUE(phone.waitClosed());
    signals_->settle(300);
    EXPECT_EQ(signals_->count("OnDisconnected") + signals_->count("OnDisconnectedDelay"), 0);
}

TEST_F(HubTest, CommandsThatKeepTheChannel) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    ASSERT_TRUE(phone.hello("Pixel", 30, 320, 240).has_value());

    ASSERT_TRUE(phone.sendCommand(Screenshot));
    const auto shot = phone.readMessage();
    ASSERT_TRUE(shot.has_value());
    EXPECT_EQ((*shot)["type"].asInt(), 0);
    EXPECT_TRUE((*shot)["data"].isNull());
    ASSERT_TRUE(signals_->waitFor("ScreenShot"));

    ASSERT_TRUE(phone.sendCommand(Picture, TypeData(1)));
    ASSERT_TRUE(phone.sendCommand(Sound, TypeData(0)));
    ASSERT_TRUE(phone.sendCommand(3));
    ASSERT_TRUE(phone.sendCommand(9));
    ASSERT_TRUE(phone.sendCommand(-1));
    ASSERT_TRUE(signals_->waitFor("OnSwitchVideoTransport"));
    ASSERT_TRUE(signals_->waitFor("OnSwitchAudioTransport"));
    EXPECT_EQ(signals_->last("OnSwitchVideoTransport"), QVariantList{true});
    EXPECT_EQ(signals_->last("OnSwitchAudioTransport"), QVariantList{false});

    // None of those was answered: the next reply is the name.
    ASSERT_TRUE(phone.sendCommand(NameQuery));
    const auto answer = phone.readMessage();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ((*answer)["type"].asInt(), 1001);
}

TEST_F(HubTest, RecordRepliesCarryTheRequestedStateAndTheFlags) {
    QTemporaryDir folder;
    host_.setRecordingFolder(folder.path());
    host_.setVirtualMicOpen(true);
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    ASSERT_TRUE(phone.hello("Pixel", 30, 320, 240).has_value());

    ASSERT_TRUE(phone.sendCommand(Record, TypeData(2)));
    auto reply = phone.readMessage();
    ASSERT_TRUE(reply.has_value());
    EXPECT_FALSE((*reply)["data"]["state"].asBool());
    EXPECT_TRUE((*reply)["data"]["vstate"].asBool());
    EXPECT_TRUE((*reply)["data"]["astate"].asBool());
    EXPECT_FALSE((*reply)["data"]["ainstall"].asBool());

    ASSERT_TRUE(phone.sendCommand(Record, TypeData(1)));
    reply = phone.readMessage();
    ASSERT_TRUE(reply.has_value());
    EXPECT_TRUE((*reply)["data"]["state"].asBool());
    // This hub has no recorder video cache, so there is no picture to
    // record: the request fails visibly, and the write test left nothing
    // behind.
    ASSERT_TRUE(signals_->waitFor("RecordStartFailed"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 0);
}

TEST_F(HubTest, RecordingIntoAMissingFolderFails) {
    host_.setRecordingFolder("/nonexistent/zucam");
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    ASSERT_TRUE(phone.hello("Pixel", 30, 320, 240).has_value());
    hub_->StartRecord();
    ASSERT_TRUE(signals_->waitFor("RecordStartFailed"));
    EXPECT_EQ(signals_->last("RecordStartFailed")[0].toString(),
              QString::fromUtf8("输出目录不存在，请前往设置页面重新设置"));
}

struct ClosingCase {
    const char* name;
    std::string frame;  // the text of one frame
};

void PrintTo(const ClosingCase& c, std::ostream* os) { *os << c.name; }

class HubClosingTest : public HubTest, public testing::WithParamInterface<ClosingCase> {};

TEST_P(HubClosingTest, ClosesTheChannelWithoutReply) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    ASSERT_TRUE(phone.hello("Pixel", 30, 320, 240).has_value());
    ASSERT_TRUE(phone.sendFrame(GetParam().frame));
    EXPECT_FALSE(phone.readFrame(std::chrono::milliseconds(300)).has_value());
    EXPECT_TRUE(phone.waitClosed());
    EXPECT_TRUE(signals_->waitFor("OnDisconnected"));
    // The hub goes on serving the next phone.
    CommandClient next;
    ASSERT_TRUE(connect(next));
    EXPECT_TRUE(next.hello("Pixel", 30, 320, 240).has_value()) << next.lastError();
}

const std::string kNested = std::string(1001, '[') + std::string(1001, ']');

INSTANTIATE_TEST_SUITE_P(
    BadCommands, HubClosingTest,
    testing::Values(ClosingCase{"NotJson", "{\"type\":0,"}, ClosingCase{"NotAnObject", "[0]"},
                    ClosingCase{"NoType", "{\"version\":\"1.0\",\"data\":{\"name\":\"x\"}}"},
                    ClosingCase{"StringType", "{\"type\":\"0\"}"},
                    ClosingCase{"RecordOfUnknownKind", "{\"type\":5,\"data\":{\"type\":3}}"},
                    ClosingCase{"PictureOfUnknownKind", "{\"type\":7,\"data\":{\"type\":2}}"},
                    ClosingCase{"SoundWithStringKind", "{\"type\":8,\"data\":{\"type\":\"on\"}}"},
                    ClosingCase{"HelloWithPortOutOfRange", "{\"type\":0,\"data\":{\"name\":\"x\",\"udpPort\":70000}}"},
                    // Nested past jsoncpp's stack limit (which throws) and
                    // members of kinds that jsoncpp's conversions throw on.
                    ClosingCase{"NestedMessage", kNested},
                    ClosingCase{"NestedData", "{\"type\":0,\"data\":" + kNested + "}"},
                    ClosingCase{"HelloWithNestedName", "{\"type\":0,\"data\":{\"name\":" + kNested + "}}"},
                    ClosingCase{"HelloWithObjectName", "{\"type\":0,\"data\":{\"name\":{\"a\":1}}}"},
                    ClosingCase{"HelloWithArrayData", "{\"type\":0,\"data\":[\"x\"]}"},
                    ClosingCase{"HelloWithTextFps", "{\"type\":0,\"data\":{\"name\":\"x\",\"fps\":\"30\"}}"},
                    ClosingCase{"HelloWithFpsBeyondInt", "{\"type\":0,\"data\":{\"name\":\"x\",\"fps\":1e20}}"},
                    ClosingCase{"HelloWithFpsBeyondDouble", "{\"type\":0,\"data\":{\"name\":\"x\",\"fps\":1e400}}"},
                    ClosingCase{"HelloWithObjectPort", "{\"type\":0,\"data\":{\"name\":\"x\",\"udpPort\":{}}}"},
                    ClosingCase{"RecordWithObjectKind", "{\"type\":5,\"data\":{\"type\":{}}}"},
                    ClosingCase{"RecordWithTextData", "{\"type\":5,\"data\":\"1\"}"}),
    [](const testing::TestParamInfo<ClosingCase>& param) { return std::string(param.param.name); });

TEST_F(HubTest, OversizedFrameEndsTheConnection) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    ASSERT_TRUE(phone.sendFrame(std::string(4093, ' ')));
    EXPECT_TRUE(phone.waitClosed());

    // A frame of the largest size is still read.
    CommandClient next;
    ASSERT_TRUE(connect(next));
    std::string padded = "{\"type\":1001}";
    padded.resize(4092, ' ');
    ASSERT_TRUE(next.sendFrame(padded));
    const auto answer = next.readMessage();
    ASSERT_TRUE(answer.has_value()) << next.lastError();
    EXPECT_EQ((*answer)["type"].asInt(), 1001);
}

}  // namespace
}  // namespace zucam::test
