#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "audio_sink/stream_audio_sink_cache.h"
#include "recorder/ffmpeg_recorder.h"
#include "ffmpeg_handles.h"
#include "video_sink/stream_video_sink_cache_impl.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

using Clock = std::chrono::steady_clock;

int LumaOf(int index) { return 16 + (index * 8) % 200; }

AVFramePtr UniformFrame(int width, int height, int luma) {
    AVFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    av_frame_get_buffer(frame.get(), 32);
    for (int y = 0; y < height; ++y) memset(frame->data[0] + y * frame->linesize[0], luma, width);
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < height / 2; ++y) memset(frame->data[p] + y * frame->linesize[p], 128, width / 2);
    return frame;
}

// Plays the render output (pictures at 30 a second) and the connection
// reader (40 ms sound blocks) into the two caches, on two threads.
class Feeders {
public:
    Feeders(StreamVideoSinkCache* video, StreamAudioSinkCache* audio) : video_(video), audio_(audio) {}
    ~Feeders() { StopAll(); }

    void Start() {
        videoThread_ = std::thread([this] {
            int index = 0;
            auto next = Clock::now();
            while (!stop_) {
                if (videoOn_) {
                    const int w = width_.load();
                    const int h = height_.load();
                    AVFramePtr frame = UniformFrame(w, h, LumaOf(index++));
                    video_->Push(frame.get());
                }
                next += std::chrono::microseconds(33333);
                std::this_thread::sleep_until(next);
            }
        });
        audioThread_ = std::thread([this] {
            std::vector<int16_t> block(1920 * 2);
            int64_t position = 0;
            auto next = Clock::now();
            while (!stop_) {
                for (int i = 0; i < 1920; ++i, ++position) {
                    const auto value = static_cast<int16_t>(8000 * std::sin(position * 2 * M_PI * 440 / 48000));
                    block[2 * i] = block[2 * i + 1] = value;
                }
                if (audioOn_) {
                    const auto before = Clock::now();
                    audio_->OnAudio(reinterpret_cast<const uint8_t*>(block.data()), 1920, 48000, 2);
                    const auto took = Clock::now() - before;
                    if (took > longestAudioCall_.load()) longestAudioCall_ = took;
                }
                next += std::chrono::milliseconds(40);
                std::this_thread::sleep_until(next);
            }
        });
    }
    void StopAll() {
        stop_ = true;
        if (videoThread_.joinable()) videoThread_.join();
        if (audioThread_.joinable()) audioThread_.join();
    }

    std::atomic<bool> videoOn_{true};
    std::atomic<bool> audioOn_{true};
    std::atomic<int> width_{320};
    std::atomic<int> height_{240};
    std::atomic<Clock::duration> longestAudioCall_{Clock::duration::zero()};

private:
    StreamVideoSinkCache* video_;
    StreamAudioSinkCache* audio_;
    std::atomic<bool> stop_{false};
    std::thread videoThread_;
    std::thread audioThread_;
};

struct StreamFacts {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    AVCodecID codec = AV_CODEC_ID_NONE;
    int width = 0, height = 0, sampleRate = 0, channels = 0;
    double startSeconds = 0, endSeconds = 0;
    bool monotonic = true;
    int packets = 0;
    std::vector<int> centreLumas;  // decoded pictures, video only
};

// Reads the file back packet by packet and decodes the pictures.
std::vector<StreamFacts> ReadBack(const std::string& path, bool* opened) {
    std::vector<StreamFacts> facts;
    AVFormatContext* input = nullptr;
    *opened = avformat_open_input(&input, path.c_str(), nullptr, nullptr) == 0 &&
              avformat_find_stream_info(input, nullptr) >= 0;
    if (!*opened) {
        avformat_close_input(&input);
        return facts;
    }
    facts.resize(input->nb_streams);
    std::vector<int64_t> lastDts(input->nb_streams, INT64_MIN);
    std::vector<bool> seen(input->nb_streams, false);
    AVCodecContext* decoder = nullptr;
    int videoIndex = -1;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVCodecParameters* par = input->streams[i]->codecpar;
        facts[i].type = par->codec_type;
        facts[i].codec = par->codec_id;
        facts[i].width = par->width;
        facts[i].height = par->height;
        facts[i].sampleRate = par->sample_rate;
        facts[i].channels = par->ch_layout.nb_channels;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && decoder == nullptr) {
            videoIndex = static_cast<int>(i);
            decoder = avcodec_alloc_context3(avcodec_find_decoder(par->codec_id));
            avcodec_parameters_to_context(decoder, par);
            avcodec_open2(decoder, avcodec_find_decoder(par->codec_id), nullptr);
        }
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto takePictures = [&] {
        while (avcodec_receive_frame(decoder, frame) == 0) {
            facts[videoIndex].centreLumas.push_back(
                frame->data[0][(frame->height / 2) * frame->linesize[0] + frame->width / 2]);
        }
    };
    while (av_read_frame(input, packet) >= 0) {
        const int s = packet->stream_index;
        StreamFacts& f = facts[s];
        const AVRational tb = input->streams[s]->time_base;
        const double start = packet->pts * av_q2d(tb);
        const double end = (packet->pts + packet->duration) * av_q2d(tb);
        if (!seen[s]) f.startSeconds = start;
        seen[s] = true;
        f.endSeconds = std::max(f.endSeconds, end);
        if (packet->dts <= lastDts[s]) f.monotonic = false;
        lastDts[s] = packet->dts;
        ++f.packets;
        if (s == videoIndex) {
            avcodec_send_packet(decoder, packet);
            takePictures();
        }
        av_packet_unref(packet);
    }
    if (decoder != nullptr) {
        avcodec_send_packet(decoder, nullptr);
        takePictures();
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&input);
    return facts;
}

const StreamFacts* Find(const std::vector<StreamFacts>& facts, AVMediaType type) {
    for (const auto& f : facts)
        if (f.type == type) return &f;
    return nullptr;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class RecorderTest : public testing::Test {
protected:
    void SetUp() override {
        video_ = StreamVideoSinkCacheImpl::Create(2);
        video_->enabled = true;
        audio_ = StreamAudioSinkCache::Create(48000, 2, 200, StreamAudioSinkCache::kSampleTypeFloat);
        feeders_ = std::make_unique<Feeders>(video_.get(), audio_.get());
        path_ = folder_.filePath("ZuCam_recoder[test].mp4").toStdString();
        events_.durationChanged = [this](int64_t ms) { lastDuration_ = ms; ++durations_; };
        events_.interrupted = [this] { ++interruptions_; };
    }
    void TearDown() override { feeders_.reset(); }

    std::unique_ptr<FFmpegRecorder> StartRecording() {
        feeders_->Start();
        EXPECT_TRUE(WaitFor([&] { return AVFramePtr(video_->CloneFront()) != nullptr; }, std::chrono::seconds(2)));
        auto recorder = std::make_unique<FFmpegRecorder>(audio_.get(), video_.get(), events_);
        EXPECT_TRUE(recorder->Start(path_));
        return recorder;
    }
    // Stops on another thread so that a hang fails the test instead of the run.
    void StopWithin(FFmpegRecorder* recorder, std::chrono::seconds limit) {
        auto done = std::async(std::launch::async, [recorder] { recorder->Stop(); });
        ASSERT_EQ(done.wait_for(limit), std::future_status::ready) << "Stop hangs";
    }

    QTemporaryDir folder_;
    std::string path_;
    std::unique_ptr<StreamVideoSinkCache> video_;
    std::unique_ptr<StreamAudioSinkCache> audio_;
    std::unique_ptr<Feeders> feeders_;
    RecorderEvents events_;
    std::atomic<int64_t> lastDuration_{-1};
    std::atomic<int> durations_{0};
    std::atomic<int> interruptions_{0};
};

TEST_F(RecorderTest, RecordsBothStreamsInStepWithThePicturesLuma) {
    auto recorder = StartRecording();
    const auto started = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    // Up to the stop request: draining the queues afterwards adds nothing.
    const double recorded = std::chrono::duration<double>(Clock::now() - started).count();
    StopWithin(recorder.get(), std::chrono::seconds(5));

    bool opened = false;
    const auto facts = ReadBack(path_, &opened);
    ASSERT_TRUE(opened);
    ASSERT_EQ(facts.size(), 2u);
    const StreamFacts* v = Find(facts, AVMEDIA_TYPE_VIDEO);
    const StreamFacts* a = Find(facts, AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(v && a);
    EXPECT_EQ(v->codec, AV_CODEC_ID_H264);
    EXPECT_EQ(v->width, 320);
    EXPECT_EQ(v->height, 240);
    EXPECT_EQ(a->codec, AV_CODEC_ID_AAC);
    EXPECT_EQ(a->sampleRate, 48000);
    EXPECT_EQ(a->channels, 2);
    EXPECT_TRUE(v->monotonic);
    EXPECT_TRUE(a->monotonic);
    EXPECT_LT(std::abs(v->startSeconds - a->startSeconds), 0.040) << v->startSeconds << " vs " << a->startSeconds;
    const double videoLength = v->endSeconds - v->startSeconds;
    const double audioLength = a->endSeconds - a->startSeconds;
    EXPECT_NEAR(videoLength, recorded, 0.1);
    EXPECT_NEAR(audioLength, videoLength, 0.045);
    // Pictures keep their content: each decoded luma is one the feeder drew.
    ASSERT_GE(v->centreLumas.size(), 60u);
    for (int luma : v->centreLumas) {
        const int step = (luma - 16 + 4) / 8 * 8 + 16;
        EXPECT_NEAR(luma, step, 3);
    }
    EXPECT_EQ(interruptions_, 0);
    EXPECT_GT(durations_, 50);
    EXPECT_NEAR(lastDuration_, videoLength * 1000, 100);
}

TEST_F(RecorderTest, AnAudioGapIsFilledSoTheStreamsEndTogether) {
    auto recorder = StartRecording();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    feeders_->audioOn_ = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    feeders_->audioOn_ = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    StopWithin(recorder.get(), std::chrono::seconds(5));
    EXPECT_GT(recorder->stats().silenceSamples, 40000);

    bool opened = false;
    const auto facts = ReadBack(path_, &opened);
    ASSERT_TRUE(opened);
    const StreamFacts* v = Find(facts, AVMEDIA_TYPE_VIDEO);
    const StreamFacts* a = Find(facts, AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(v && a);
    EXPECT_NEAR(a->endSeconds, v->endSeconds, 0.045);
}

TEST_F(RecorderTest, StalledVideoNeitherBlocksTheAudioProducerNorStop) {
    auto recorder = StartRecording();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    feeders_->videoOn_ = false;
    feeders_->longestAudioCall_ = Clock::duration::zero();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    StopWithin(recorder.get(), std::chrono::seconds(5));
    // A producer that waited for the stalled encoder would sit here for
    // seconds; the bound only leaves room for a loaded machine.
    EXPECT_LT(feeders_->longestAudioCall_.load(), std::chrono::milliseconds(250));
    bool opened = false;
    const auto facts = ReadBack(path_, &opened);
    ASSERT_TRUE(opened);
    const StreamFacts* a = Find(facts, AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(a);
    EXPECT_GT(a->endSeconds - a->startSeconds, 2.5);  // the sound went on
}

TEST_F(RecorderTest, ASizeChangeIsScaledToTheRecordingsSize) {
    auto recorder = StartRecording();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    feeders_->width_ = 640;
    feeders_->height_ = 360;
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    feeders_->width_ = 176;
    feeders_->height_ = 144;
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    StopWithin(recorder.get(), std::chrono::seconds(5));
    EXPECT_GT(recorder->stats().scaledPictures, 20);
    bool opened = false;
    const auto facts = ReadBack(path_, &opened);
    ASSERT_TRUE(opened);
    const StreamFacts* v = Find(facts, AVMEDIA_TYPE_VIDEO);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->width, 320);
    EXPECT_EQ(v->height, 240);
    ASSERT_GE(v->centreLumas.size(), 40u);
    for (int luma : v->centreLumas) EXPECT_NEAR(luma, (luma - 16 + 4) / 8 * 8 + 16, 3);
}

struct FailedStartCase {
    const char* name;
    bool withPicture;
    const char* file;  // relative to the temporary folder
};

class RecorderFailedStartTest : public RecorderTest, public testing::WithParamInterface<FailedStartCase> {};

TEST_P(RecorderFailedStartTest, LeavesNoFileAndStopsSafely) {
    if (GetParam().withPicture) {
        AVFramePtr frame = UniformFrame(320, 240, 80);
        video_->Push(frame.get());
    }
    const std::string path = folder_.filePath(GetParam().file).toStdString();
    FFmpegRecorder recorder(audio_.get(), video_.get(), events_);
    EXPECT_FALSE(recorder.Start(path));
    recorder.Stop();  // as the hub does after a failed start
    recorder.Stop();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
    // The caches are left alone: pushing goes on without a callback.
    AVFramePtr frame = UniformFrame(320, 240, 80);
    video_->Push(frame.get());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecorderFailedStartTest,
    testing::Values(FailedStartCase{"NoPicture", false, "a.mp4"},
                    FailedStartCase{"MissingFolder", true, "missing/a.mp4"},
                    FailedStartCase{"UnknownFormat", true, "a.unknownformat"}),
    [](const testing::TestParamInfo<FailedStartCase>& param) { return std::string(param.param.name); });

// Whatever stands at the recording's name already (in a folder others may
// write: a link planted by another user, pointing at a file of the user's or
// at nothing) is not opened: the start fails as "name taken", the link stays
// a link and its target keeps its bytes (or is not created).
TEST_F(RecorderTest, WhatIsAtTheNameAlreadyIsLeftAloneAndTheStartSaysTheNameIsTaken) {
    ASSERT_EQ(::chmod(folder_.path().toLocal8Bit().constData(), 01777), 0);
    QTemporaryDir elsewhere;
    const std::string target = elsewhere.filePath("precious").toStdString();
    const std::string missing = elsewhere.filePath("not-yet").toStdString();
    const QByteArray content = "the user's file\n";
    struct Case {
        const char* name;
        std::function<bool(const std::string& at)> plant;
    };
    const std::vector<Case> cases = {
        {"a link to a file of the user's", [&](const std::string& at) { return ::symlink(target.c_str(), at.c_str()) == 0; }},
        {"a dangling link", [&](const std::string& at) { return ::symlink(missing.c_str(), at.c_str()) == 0; }},
        {"a file", [&](const std::string& at) {
             QFile file(QString::fromStdString(at));
             return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
         }},
    };
    AVFramePtr frame = UniformFrame(320, 240, 80);
    video_->Push(frame.get());
    for (const Case& c : cases) {
        {
            QFile file(QString::fromStdString(target));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        }
        ASSERT_TRUE(c.plant(path_)) << c.name;
        if (::geteuid() == 0) {
            ASSERT_EQ(::lchown(path_.c_str(), 65534, 65534), 0) << c.name;  // another user's
        }
        struct stat planted {};
        ASSERT_EQ(::lstat(path_.c_str(), &planted), 0);

        FFmpegRecorder recorder(audio_.get(), video_.get(), events_);
        EXPECT_FALSE(recorder.Start(path_)) << c.name;
        EXPECT_EQ(recorder.startError(), StreamRecorder::StartError::kNameTaken) << c.name;
        recorder.Stop();

        struct stat after {};
        ASSERT_EQ(::lstat(path_.c_str(), &after), 0) << c.name;
        EXPECT_EQ(after.st_ino, planted.st_ino) << c.name;
        EXPECT_EQ(after.st_size, planted.st_size) << c.name;
        QFile file(QString::fromStdString(target));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), content) << c.name;
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(missing))) << c.name;
        ASSERT_EQ(::unlink(path_.c_str()), 0);
    }
    // The name free again: the same recorder class records there.
    FFmpegRecorder recorder(audio_.get(), video_.get(), events_);
    EXPECT_TRUE(recorder.Start(path_));
    EXPECT_EQ(recorder.startError(), StreamRecorder::StartError::kNone);
    recorder.Stop();
    struct stat made {};
    ASSERT_EQ(::lstat(path_.c_str(), &made), 0);
    EXPECT_TRUE(S_ISREG(made.st_mode));
    EXPECT_EQ(made.st_uid, ::geteuid());
}

TEST_F(RecorderTest, AFullDiskInterruptsAndLeavesAPlayableFile) {
    // A file size limit stands for the full disk: writes past it fail with
    // EFBIG instead of raising SIGXFSZ. This test runs in its own process.
    signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    feeders_->width_ = 640;
    feeders_->height_ = 480;
    auto recorder = StartRecording();
    // Uniform pictures compress too well: at 2 Mbit/s the limit still falls
    // within seconds because of the key frames and the sound.
    const bool interrupted = WaitFor([&] { return interruptions_ > 0; }, std::chrono::seconds(30));
    StopWithin(recorder.get(), std::chrono::seconds(5));
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(interrupted);
    EXPECT_EQ(interruptions_, 1);
    EXPECT_TRUE(recorder->stats().interrupted);
    bool opened = false;
    const auto facts = ReadBack(path_, &opened);
    ASSERT_TRUE(opened) << "what was written before the disk filled must still open";
    const StreamFacts* v = Find(facts, AVMEDIA_TYPE_VIDEO);
    ASSERT_TRUE(v);
    EXPECT_GT(v->centreLumas.size(), 10u);
}

}  // namespace
