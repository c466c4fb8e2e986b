// Recording through the hub: the phone's record command and the window's
// record slot, with the phone stand-in's decoded pattern in the recorder
// cache.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <json/json.h>
#include <map>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "audio_sink/stream_audio_sink_cache.h"
#include "signal_recorder.h"
#include "stream/server/server_test_util.h"
#include "stream_manager.h"
#include "support/phone/phone_standin.h"
#include "ffmpeg_handles.h"
#include "video_sink/stream_video_sink_cache_impl.h"
#include "support/settable_stream_host.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace zucam::test {
namespace {

constexpr uint16_t kPort = 10080;

Json::Value TypeData(int type) {
    Json::Value data(Json::objectValue);
    data["type"] = type;
    return data;
}

// The real decoder feeds the recorder cache directly (standing in for the
// render output), so the file holds the stand-in's pattern.
class HubRecordingTest : public testing::Test {
protected:
    void SetUp() override {
        cache_ = StreamVideoSinkCacheImpl::Create(2);
        cache_->enabled = true;
        hub_ = std::make_unique<StreamManager>(std::vector<StreamAudioSink*>{},
                                               std::vector<StreamVideoSink*>{cache_.get()}, cache_.get(), &host_);
        signals_ = std::make_unique<SignalRecorder>(hub_.get());
        hub_->Start(kStreamTransportWifi);
        ASSERT_TRUE(signals_->waitFor("ShowLocalIpAddr"));
        phone::StandInOptions options;
        options.paced = true;
        for (int attempt = 0; attempt < 50 && !phone_; ++attempt) {
            auto phone = std::make_unique<phone::PhoneStandIn>(options);
            if (phone->connectWifi(kPort, "Pixel", 30, 320, 240)) phone_ = std::move(phone);
            else QThread::msleep(20);
        }
        ASSERT_TRUE(phone_);
        host_.setRecordingFolder(folder_.path());
    }
    void TearDown() override {
        StopStreaming();
        phone_.reset();
        hub_.reset();
        signals_.reset();
    }
    void StreamFor(int frames) {
        videoThread_ = std::thread([this, frames] { phone_->streamVideo(frames); });
        audioThread_ = std::thread([this, frames] { phone_->streamAudio(frames * 33 / 40); });
    }
    void StopStreaming() {
        if (videoThread_.joinable()) videoThread_.join();
        if (audioThread_.joinable()) audioThread_.join();
    }
    // Streams, pictures of the file and its start offsets.
    void CheckFile(const QString& path) {
        AVFormatContext* input = nullptr;
        ASSERT_EQ(avformat_open_input(&input, path.toUtf8().constData(), nullptr, nullptr), 0);
        ASSERT_GE(avformat_find_stream_info(input, nullptr), 0);
        ASSERT_EQ(input->nb_streams, 2u);
        EXPECT_EQ(input->streams[0]->codecpar->codec_id, AV_CODEC_ID_H264);
        EXPECT_EQ(input->streams[0]->codecpar->width, 320);
        EXPECT_EQ(input->streams[1]->codecpar->codec_id, AV_CODEC_ID_AAC);
        AVPacket* packet = av_packet_alloc();
        int pictures = 0;
        while (av_read_frame(input, packet) >= 0) {
            if (packet->stream_index == 0) ++pictures;
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        avformat_close_input(&input);
        EXPECT_GT(pictures, 20);
    }

    QTemporaryDir folder_;
    zucam::test::SettableStreamHost host_;  // outlives the hub
    std::unique_ptr<StreamVideoSinkCache> cache_;
    std::unique_ptr<StreamManager> hub_;
    std::unique_ptr<SignalRecorder> signals_;
    std::unique_ptr<phone::PhoneStandIn> phone_;
    std::thread videoThread_;
    std::thread audioThread_;
};

TEST_F(HubRecordingTest, ThePhonesRecordCommandRecordsTheStream) {
    StreamFor(90);
    ASSERT_TRUE(servertest::WaitUntil([&] { return AVFramePtr(cache_->CloneFront()) != nullptr; }));
    ASSERT_TRUE(phone_->command().sendCommand(phone::CommandType::Record, TypeData(1)));
    ASSERT_TRUE(signals_->waitFor("RecordStartSuccess"));
    ASSERT_TRUE(signals_->waitFor("RecordDurationChanged", 5000, 30));
    ASSERT_TRUE(phone_->command().sendCommand(phone::CommandType::Record, TypeData(2)));
    ASSERT_TRUE(phone_->command().sendCommand(phone::CommandType::Record, TypeData(0)));
    ASSERT_TRUE(signals_->waitFor("RecordStoped"));
    const QString path = signals_->last("RecordStoped")[0].toString();
    EXPECT_TRUE(QRegularExpression("/ZuCam_recoder\\[\\d{14}\\]\\.mp4$").match(path).hasMatch()) << path.toStdString();
    EXPECT_EQ(QDir(folder_.path()).entryList(QDir::Files), QStringList{QFileInfo(path).fileName()});
    CheckFile(path);
}

// The folder holds files of the user's named like the write test's probe
// ("<recording>.mp4.txt") for every second the recording may start in. The
// write test works beside them with a name of its own; each stays as it was.
TEST_F(HubRecordingTest, AUsersFileWithTheProbesNameSurvivesTheStart) {
    constexpr int kSeconds = 10;
    const QDateTime now = QDateTime::currentDateTime();
    std::map<QString, QByteArray> usersFiles;
    for (int second = -1; second <= kSeconds; ++second) {
        const QString name =
            QString("ZuCam_recoder[%1].mp4.txt").arg(now.addSecs(second).toString("yyyyMMddHHmmss"));
        const QByteArray content = "the user's notes for " + name.toUtf8() + "\n";
        QFile file(QDir(folder_.path()).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        usersFiles[name] = content;
    }
    StreamFor(60);
    ASSERT_TRUE(servertest::WaitUntil([&] { return AVFramePtr(cache_->CloneFront()) != nullptr; }));
    hub_->StartRecord();
    ASSERT_TRUE(signals_->waitFor("RecordStartSuccess"));
    ASSERT_TRUE(signals_->waitFor("RecordDurationChanged", 5000, 10));
    hub_->StopRecord();
    ASSERT_TRUE(signals_->waitFor("RecordStoped"));
    const QString recording = QFileInfo(signals_->last("RecordStoped")[0].toString()).fileName();
    ASSERT_EQ(usersFiles.count(recording + ".txt"), 1u) << "no user's file had the probe's name; the case proves nothing";

    QStringList expected{recording};
    for (const auto& [name, content] : usersFiles) {
        expected << name;
        QFile file(QDir(folder_.path()).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString() << " is gone";
        EXPECT_EQ(file.readAll(), content) << name.toStdString();
    }
    // No probe is left behind either.
    QStringList entries = QDir(folder_.path()).entryList(QDir::Files);
    entries.sort();
    expected.sort();
    EXPECT_EQ(entries, expected);
}

// Another user planted links named like the recording for every second the
// start may fall in, into a save folder everyone may write, each pointing at
// a file of the user's. The start fails, the user is told that the name is
// taken, and the file the links point at keeps its content.
TEST_F(HubRecordingTest, ALinkPlantedAtTheRecordingsNameLeavesItsTargetAloneAndTheStartFailsTold) {
    ASSERT_EQ(::chmod(folder_.path().toLocal8Bit().constData(), 01777), 0);
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("thesis.odt");
    const QByteArray precious = "the user's only copy\n";
    {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(precious) == precious.size());
    }
    constexpr int kSeconds = 10;
    const QDateTime now = QDateTime::currentDateTime();
    QStringList planted;
    for (int second = -1; second <= kSeconds; ++second) {
        const QString name = QString("ZuCam_recoder[%1].mp4").arg(now.addSecs(second).toString("yyyyMMddHHmmss"));
        const QByteArray link = QDir(folder_.path()).filePath(name).toLocal8Bit();
        ASSERT_EQ(::symlink(target.toLocal8Bit().constData(), link.constData()), 0);
        if (::geteuid() == 0) {
            ASSERT_EQ(::lchown(link.constData(), 65534, 65534), 0);  // another user's
        }
        planted << name;
    }
    StreamFor(60);
    ASSERT_TRUE(servertest::WaitUntil([&] { return AVFramePtr(cache_->CloneFront()) != nullptr; }));
    hub_->StartRecord();
    ASSERT_TRUE(signals_->waitFor("RecordStartFailed"));
    const QString told = signals_->last("RecordStartFailed")[0].toString();
    EXPECT_TRUE(told.startsWith(QString::fromUtf8("输出目录中已有同名的文件或链接，录制未开始："))) << told.toStdString();
    const QString named = told.section('\n', 1);
    EXPECT_TRUE(planted.contains(QFileInfo(named).fileName())) << told.toStdString();
    EXPECT_EQ(signals_->count("RecordStartSuccess"), 0);

    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), precious);
    for (const QString& name : planted) {
        EXPECT_TRUE(QFileInfo(QDir(folder_.path()).filePath(name)).isSymLink()) << name.toStdString();
    }
    EXPECT_EQ(QDir(folder_.path()).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size(),
              planted.size());
    hub_->StopRecord();
    signals_->settle(200);
    EXPECT_EQ(signals_->count("RecordStoped"), 0);
}

TEST_F(HubRecordingTest, AStopAfterCloseManagerStillFinalisesTheFile) {
    StreamFor(60);
    ASSERT_TRUE(servertest::WaitUntil([&] { return AVFramePtr(cache_->CloneFront()) != nullptr; }));
    hub_->StartRecord();
    ASSERT_TRUE(signals_->waitFor("RecordStartSuccess"));
    ASSERT_TRUE(signals_->waitFor("RecordDurationChanged", 5000, 30));
    StopStreaming();
    hub_->CloseManager();
    hub_->StopRecord();
    ASSERT_TRUE(signals_->waitFor("RecordStoped"));
    CheckFile(signals_->last("RecordStoped")[0].toString());
}

TEST_F(HubRecordingTest, WithoutAPictureTheStartFailsAndLeavesNoFile) {
    hub_->StartRecord();
    ASSERT_TRUE(signals_->waitFor("RecordStartFailed"));
    EXPECT_EQ(signals_->last("RecordStartFailed")[0].toString(), QString::fromUtf8("录制失败"));
    EXPECT_TRUE(QDir(folder_.path()).entryList(QDir::Files).isEmpty());
    hub_->StopRecord();
    signals_->settle(200);
    EXPECT_EQ(signals_->count("RecordStoped"), 0);
}

}  // namespace
}  // namespace zucam::test
