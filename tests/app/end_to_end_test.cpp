// The whole program end to end, in one test process: ZuCam and its main
// window (real hubs, decoder, render device, composition, previews, camera
// queue writer), and the phone stand-in on its own threads connecting over
// loopback to the Wi-Fi port 10080 as a phone would (run it inside
// scripts/netns-run). The window's side is watched from the GUI thread with
// deadlines: its page, the preview's picture, the shared-memory camera queue
// read as a camera program reads it, the virtual microphone's FIFO (with a
// PulseAudio server), and the files the phone's commands leave behind.
extern "C" {
#include <libavformat/avformat.h>
}

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <unistd.h>

#include "../devices/audio/fifo_reader.h"
#include "devices/audio/virtaul_audio_device_manager.h"
#include "devices/camera_queue/camera_queue_layout.h"
#include "devices/camera_queue/camera_queue_reader.h"
#include "devices/camera_queue/shared_memory_camera_queue.h"
#include "devices/driver_sink/camera_driver_port.h"
#include "devices/driver_sink/stream_video_sink_driver.h"
#include "end_to_end_environment.h"
#include "stream/video_sink/stream_video_sink_sw.h"
#include "support/counting_driver_port.h"
#include "support/fake_adb/fake_adb.h"
#include "support/message_box_recorder.h"
#include "support/phone/phone_standin.h"
#include "support/tcp_listeners.h"
#include "ui/main-form.h"
#include "ui/main-window.h"
#include "vexo/gs_device.h"
#include "zuc_shaders.h"
#include "zucam.h"

namespace {

using zucam::phone::CommandType::DisconnectExpected;
using zucam::phone::CommandType::Record;
using zucam::phone::CommandType::Screenshot;
using zucam::phone::PhoneStandIn;

constexpr uint16_t kWifiPort = 10080;
constexpr int kWidth = 320;
constexpr int kHeight = 240;

using zucam::test::CountingDriverPort;
using zucam::test::DriverLog;

// One picture of the camera queue, as a camera program copies it.
struct QueuePicture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> luma;
    int LumaAt(int x, int y) const { return luma[static_cast<size_t>(y) * width + x]; }
};

void CopyLuma(const uint8_t* const planes[3], const uint32_t lines[3], uint32_t width, uint32_t height, void* user) {
    auto* picture = static_cast<QueuePicture*>(user);
    picture->width = width;
    picture->height = height;
    picture->luma.resize(static_cast<size_t>(width) * height);
    for (uint32_t row = 0; row < height; ++row) {
        std::copy_n(planes[0] + static_cast<size_t>(row) * lines[0], width, picture->luma.data() + row * width);
    }
}

// The pattern's first bar is a light grey and its last black: a composed
// picture that is neither blank nor uniform has them at its two ends, away
// from the test region in the middle.
bool ShowsBars(const QueuePicture& picture) {
    if (picture.width != static_cast<uint32_t>(kWidth) || picture.height != static_cast<uint32_t>(kHeight)) return false;
    const int y = kHeight / 8;
    return picture.LumaAt(kWidth / 16, y) > 140 && picture.LumaAt(kWidth - kWidth / 16, y) < 40;
}

struct Mp4Packets {
    bool opened = false;
    int video = 0;
    int audio = 0;
};

// What a player finds in the file: whether it opens and how many packets of
// each kind it reads.
Mp4Packets CountMp4Packets(const QString& path) {
    Mp4Packets packets;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.toUtf8().constData(), nullptr, nullptr) != 0) return packets;
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        packets.opened = true;
        AVPacket* packet = av_packet_alloc();
        while (av_read_frame(format, packet) >= 0) {
            const AVMediaType type = format->streams[packet->stream_index]->codecpar->codec_type;
            packets.video += type == AVMEDIA_TYPE_VIDEO;
            packets.audio += type == AVMEDIA_TYPE_AUDIO;
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
    }
    avformat_close_input(&format);
    return packets;
}

bool PulseAudioAnswers() {
    QProcess pactl;
    pactl.start("pactl", {"info"});
    return pactl.waitForFinished(5000) && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0;
}

// Runs a blocking phone step on a thread of its own while the GUI thread
// goes on with the window's events; false when it failed or overran.
template <typename Step>
bool OnPhoneThread(Step step, int ms = 10000) {
    std::future<bool> done = std::async(std::launch::async, std::move(step));
    (void)QTest::qWaitFor([&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, ms);
    return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready && done.get();
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        app_ = zucamApp();
        ASSERT_NE(app_, nullptr);
        QCoreApplication::processEvents();  // ZuCam's first turn: settings, its own window
        delete app_->mainWindow.data();
        ASSERT_TRUE(saveDir_.isValid());
        app_->setSaveDir(saveDir_.path());
        app_->setVideoTransport(true);
        app_->useHardwareRender = false;
        app_->shotOpenDir = false;
        if (GsDevice::DefaultDevice() == nullptr) {
            ASSERT_TRUE(GsDevice::CreateDefaultDevice(true));
        }
        RegisterZucShaders(GsDevice::DefaultDevice());
        // The product's queue where /dev/shm is this test's own.
        queueName_ = e2e::g_privateShm ? std::string(SharedMemoryCameraQueue::kDefaultName)
                                       : "/zucam-e2e-" + std::to_string(getpid());
        MainWindow::Outputs outputs;
        outputs.cameraQueueName = queueName_;
        outputs.makeDriverPort = [log = driver_] { return std::make_unique<CountingDriverPort>(log); };
        window_ = new MainWindow(nullptr, outputs);
        app_->mainWindow = window_;
        window_->show();
        // The hub's server listens once its thread has run the start.
        ASSERT_TRUE(QTest::qWaitFor([] { return ServerListens(); }, 5000));
    }

    void TearDown() override {
        delete window_;
        GsDevice::DestroyDefaultDevice();
    }

    static bool ServerListens() { return zucam::test::ListensOnTcpPort(kWifiPort); }

    int page() const { return window_->mainForm()->CurrentPage(); }
    uint32_t queueState() const {
        std::unique_ptr<CameraQueueReader> reader = CameraQueueReader::Open(queueName_);
        return reader ? reader->Refresh() : 0;
    }
    bool waitPage(int wanted, int ms = 5000) {
        return QTest::qWaitFor([&] { return page() == wanted; }, ms);
    }
    bool waitQueueState(uint32_t state, int ms = 5000) {
        return QTest::qWaitFor([&] { return queueState() == state; }, ms);
    }
    // The newest whole picture of the queue, waiting for one up to ms.
    QueuePicture readQueue(int ms = 5000) {
        QueuePicture picture;
        std::unique_ptr<CameraQueueReader> reader;
        (void)QTest::qWaitFor(
            [&] {
                if (!reader) reader = CameraQueueReader::Open(queueName_);
                return reader && reader->Refresh() == kCameraQueuePublished && reader->ReadFrame(CopyLuma, &picture);
            },
            ms);
        return picture;
    }
    // Waits up to ms for the queue to show the phone's picture (a camera
    // opened again starts from a blank one).
    bool waitQueueBars(int ms = 5000) {
        QueuePicture last;
        const bool shown = QTest::qWaitFor([&] { return ShowsBars(last = readQueue(100)); }, ms);
        if (!shown && last.width == static_cast<uint32_t>(kWidth) && last.height == static_cast<uint32_t>(kHeight)) {
            ADD_FAILURE() << "queue picture " << last.width << "x" << last.height << ", first bar luma "
                          << last.LumaAt(kWidth / 16, kHeight / 8);
        }
        return shown;
    }
    QImage previewImage() const {
        return static_cast<StreamVideoSinkSw*>(window_->mainForm()->GetPreviewSinks()[0])->GetImage();
    }
    static bool Connect(PhoneStandIn& phone, const std::string& name = "Pixel E2E") {
        return OnPhoneThread([&] { return phone.connectWifi(kWifiPort, name, 30, kWidth, kHeight); });
    }
    QStringList savedFiles(const QString& pattern) const {
        return QDir(saveDir_.path()).entryList({pattern}, QDir::Files);
    }

    ZuCam* app_ = nullptr;
    MainWindow* window_ = nullptr;
    QTemporaryDir saveDir_;
    std::string queueName_;
    std::shared_ptr<DriverLog> driver_ = std::make_shared<DriverLog>();
};

TEST_F(EndToEnd, APhoneStreamsToThePreviewTheCameraAndTheMicrophoneThenLeaves) {
    // The microphone's FIFO, with the virtual microphone fed from the
    // process-wide cache that the window hands both hubs.
    FifoReader fifo;
    std::shared_ptr<VirtaulAudioDeviceManager> microphone;
    const bool pulse = PulseAudioAnswers();
    if (pulse) {
        ASSERT_TRUE(fifo.made());
        ASSERT_TRUE(fifo.OpenReader());
        VirtaulAudioDeviceManager::Options options;
        options.linkPath = fifo.path();
        microphone = VirtaulAudioDeviceManager::Create(options);
        ASSERT_NE(microphone, nullptr);
    }

    window_->SetDeviceName("ZuCam[e2e desk]");
    PhoneStandIn phone;
    ASSERT_TRUE(Connect(phone)) << phone.lastError();
    ASSERT_TRUE(waitPage(MainForm::kPageLinkSuccess)) << page();
    EXPECT_EQ(window_->sessionHub(), window_->wifiHub());
    // The name the window gave its hubs is what the phone is told.
    std::optional<Json::Value> name;
    ASSERT_TRUE(OnPhoneThread([&] {
        return phone.command().sendCommand(zucam::phone::CommandType::NameQuery) &&
               (name = phone.command().readMessage()).has_value();
    }));
    EXPECT_EQ((*name)["name"].asString(), "ZuCam[e2e desk]");
    ASSERT_TRUE(phone.audio() != nullptr);

    ASSERT_TRUE(OnPhoneThread([&] {
        auto audio = std::async(std::launch::async, [&] { return phone.streamAudio(25); });
        const bool video = phone.streamVideo(30);
        return audio.get() && video;
    })) << phone.lastError();
    ASSERT_TRUE(waitPage(MainForm::kPageDisplay));

    // The preview shows the phone's picture.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !previewImage().isNull(); }, 5000));
    const QImage preview = previewImage();
    EXPECT_GT(qGray(preview.pixel(preview.width() / 16, preview.height() / 8)), 140);
    EXPECT_LT(qGray(preview.pixel(preview.width() - preview.width() / 16, preview.height() / 8)), 40);

    // The composed picture reaches the camera queue and the camera driver.
    EXPECT_TRUE(waitQueueBars());
    EXPECT_TRUE(QTest::qWaitFor([&] { return driver_->writes > 0; }, 3000));

    // The phone's sound reaches the microphone's FIFO.
    if (microphone) {
        std::vector<uint8_t> heard;
        int peak = 0;
        (void)QTest::qWaitFor(
            [&] {
                const std::vector<uint8_t> more = fifo.ReadAvailable();
                heard.insert(heard.end(), more.begin(), more.end());
                for (size_t i = 0; i + 1 < heard.size(); i += 2) {
                    peak = std::max(peak, std::abs(static_cast<int>(static_cast<int16_t>(heard[i] | heard[i + 1] << 8))));
                }
                return peak > 2000;
            },
            5000);
        EXPECT_GT(peak, 2000) << heard.size() << " bytes heard";
    }

    ASSERT_TRUE(OnPhoneThread([&] { return phone.disconnect(); })) << phone.lastError();
    EXPECT_TRUE(waitPage(MainForm::kPageWaitLink));
    EXPECT_TRUE(waitQueueState(kCameraQueueStopped));
    EXPECT_FALSE(window_->cameraDriverSink()->IsOpen());
    EXPECT_EQ(window_->sessionHub(), nullptr);
    if (!pulse) GTEST_SKIP() << "no PulseAudio server (source scripts/start-audio.sh): the microphone was not checked";
}

TEST_F(EndToEnd, ThePhonesRecordCommandLeavesAPlayableMp4AndItsScreenshotAPng) {
    zucam::test::MessageBoxRecorder boxes;
    zucam::phone::StandInOptions paced;
    paced.paced = true;  // picture and sound at the phone's own pace
    PhoneStandIn phone(paced);
    ASSERT_TRUE(Connect(phone)) << phone.lastError();
    ASSERT_TRUE(OnPhoneThread([&] { return phone.streamVideo(5); })) << phone.lastError();
    ASSERT_TRUE(waitPage(MainForm::kPageDisplay));
    readQueue();

    Json::Value start;
    start["type"] = 1;
    ASSERT_TRUE(OnPhoneThread([&] { return phone.command().sendCommand(Record, start) && phone.command().readMessage(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !savedFiles("ZuCam_recoder*.mp4").isEmpty(); }, 5000));
    // Two seconds of the phone's picture and sound.
    ASSERT_TRUE(OnPhoneThread([&] {
        auto audio = std::async(std::launch::async, [&] { return phone.streamAudio(50); });
        const bool video = phone.streamVideo(60);
        return audio.get() && video;
    })) << phone.lastError();

    ASSERT_TRUE(OnPhoneThread([&] { return phone.command().sendCommand(Screenshot) && phone.command().readMessage(); }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !savedFiles("ZuCam_shot*.png").isEmpty(); }, 5000));

    Json::Value stop;
    stop["type"] = 0;
    ASSERT_TRUE(OnPhoneThread([&] { return phone.command().sendCommand(Record, stop) && phone.command().readMessage(); }));
    const QStringList recordings = savedFiles("ZuCam_recoder*.mp4");
    ASSERT_EQ(recordings.size(), 1);
    const QString recording = QDir(saveDir_.path()).filePath(recordings.first());
    // The recording is whole once the window showed its folder.
    ASSERT_FALSE(e2e::g_openLog.empty());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            QFile log(QString::fromStdString(e2e::g_openLog));
            return log.open(QIODevice::ReadOnly) && log.readAll().contains(saveDir_.path().toUtf8());
        },
        5000));
    ASSERT_TRUE(OnPhoneThread([&] { return phone.disconnect(); })) << phone.lastError();

    const Mp4Packets packets = CountMp4Packets(recording);
    ASSERT_TRUE(packets.opened) << recording.toStdString();
    const int videoPackets = packets.video;
    const int audioPackets = packets.audio;
    EXPECT_GT(videoPackets, 20);
    EXPECT_GT(audioPackets, 10);
    EXPECT_TRUE(boxes.messages().isEmpty()) << boxes.messages().join("|").toStdString();

    const QStringList shots = savedFiles("ZuCam_shot*.png");
    ASSERT_EQ(shots.size(), 1);
    const QImage shot(QDir(saveDir_.path()).filePath(shots.first()));
    EXPECT_EQ(shot.size(), QSize(kWidth, kHeight));
    EXPECT_GT(qGray(shot.pixel(kWidth / 16, kHeight / 8)), 140);  // the phone's picture, composed
}

TEST_F(EndToEnd, APhoneThatAnnouncesItsLeavingAndComesBackKeepsThePreview) {
    {
        PhoneStandIn phone;
        ASSERT_TRUE(Connect(phone)) << phone.lastError();
        ASSERT_TRUE(OnPhoneThread([&] { return phone.streamVideo(5); })) << phone.lastError();
        ASSERT_TRUE(waitPage(MainForm::kPageDisplay));
        ASSERT_TRUE(waitQueueState(kCameraQueuePublished));
        ASSERT_TRUE(OnPhoneThread([&] { return phone.command().sendCommand(DisconnectExpected); }));
    }  // the phone goes (its sockets close) after saying it will be back
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->reconnectPending(); }, 5000));
    EXPECT_EQ(page(), MainForm::kPageDisplay);
    EXPECT_TRUE(waitQueueState(kCameraQueueStopped));

    PhoneStandIn again;
    ASSERT_TRUE(Connect(again)) << again.lastError();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->sessionHub() != nullptr; }, 3000));
    EXPECT_FALSE(window_->reconnectPending());
    EXPECT_EQ(page(), MainForm::kPageDisplay);  // never back to a waiting page
    ASSERT_TRUE(OnPhoneThread([&] { return again.streamVideo(5); })) << again.lastError();
    EXPECT_TRUE(waitQueueBars());
    // Past the first grace period nothing changes.
    QTest::qWait(MainWindow::kReconnectGraceMs / 5);
    EXPECT_EQ(page(), MainForm::kPageDisplay);
    ASSERT_TRUE(OnPhoneThread([&] { return again.disconnect(); })) << again.lastError();
    EXPECT_TRUE(waitPage(MainForm::kPageWaitLink));
    EXPECT_TRUE(waitQueueState(kCameraQueueStopped));
}

// USB chosen: an Android phone behind adb (the stand-in adb maps its ports to
// the same numbers here) reaches the cameras through the second hub; when it
// leaves the window waits on the USB page with both USB hubs running again.
TEST_F(EndToEnd, AnAndroidPhoneOverUsbReachesTheCameraAndTheWindowWaitsOnUsbAgain) {
    constexpr uint16_t kAdbCommandPort = 11080;
    const QString serial = "R58M12345";
    zucam::test::FakeAdb adb;
    adb.setDevices({{serial, "device", "1"}});
    window_->SetStreamChannel(2);
    EXPECT_EQ(page(), MainForm::kPageUsbWaitLink);
    ASSERT_EQ(adb.waitForMapping(serial, kWifiPort), std::optional<uint16_t>(kAdbCommandPort));

    PhoneStandIn phone;
    ASSERT_TRUE(OnPhoneThread([&] { return phone.connectWifi(kAdbCommandPort, "Android phone", 30, kWidth, kHeight); }))
        << phone.lastError();
    ASSERT_TRUE(waitPage(MainForm::kPageLinkSuccess));
    EXPECT_EQ(window_->sessionHub(), window_->androidHub());
    ASSERT_TRUE(OnPhoneThread([&] { return phone.streamVideo(5); })) << phone.lastError();
    ASSERT_TRUE(waitPage(MainForm::kPageDisplay));
    EXPECT_TRUE(waitQueueBars());

    ASSERT_TRUE(OnPhoneThread([&] { return phone.disconnect(); })) << phone.lastError();
    EXPECT_TRUE(waitPage(MainForm::kPageUsbWaitLink));
    EXPECT_TRUE(waitQueueState(kCameraQueueStopped));
    EXPECT_EQ(window_->firstHubTransport(), 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return zucam::test::ListensOnTcpPort(kAdbCommandPort); }, 5000));
}

// Shutdown while a phone streams picture and sound: the window stops the
// composition and the hubs (and with them the decoder and the recorder)
// before it frees a sink (a sanitizer build sees any use after free).
TEST_F(EndToEnd, ClosingTheWindowWhileAPhoneStreamsStopsTheProducersFirst) {
    zucam::phone::StandInOptions paced;
    paced.paced = true;
    PhoneStandIn phone(paced);
    ASSERT_TRUE(Connect(phone)) << phone.lastError();
    std::atomic<bool> streaming{true};
    auto media = std::async(std::launch::async, [&] {
        auto audio = std::async(std::launch::async, [&] { return phone.streamAudio(100); });
        while (streaming && phone.streamVideo(1)) {
        }
        audio.wait();
    });
    ASSERT_TRUE(waitPage(MainForm::kPageDisplay));
    ASSERT_TRUE(waitQueueState(kCameraQueuePublished));
    Json::Value start;
    start["type"] = 1;
    ASSERT_TRUE(OnPhoneThread([&] { return phone.command().sendCommand(Record, start) && phone.command().readMessage(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !savedFiles("ZuCam_recoder*.mp4").isEmpty(); }, 5000));
    QTest::qWait(300);  // recording, composing and previewing at once
    std::unique_ptr<CameraQueueReader> camera = CameraQueueReader::Open(queueName_);  // a camera program's view
    ASSERT_NE(camera, nullptr);

    delete window_;
    window_ = nullptr;
    streaming = false;
    EXPECT_EQ(media.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    // The writer is gone: the queue says "stopped" to the readers it had.
    EXPECT_EQ(camera->Refresh(), kCameraQueueStopped);
    EXPECT_FALSE(ServerListens());
    // The recording the shutdown stopped is whole.
    const QStringList recordings = savedFiles("ZuCam_recoder*.mp4");
    ASSERT_EQ(recordings.size(), 1);
    const Mp4Packets packets = CountMp4Packets(QDir(saveDir_.path()).filePath(recordings.first()));
    EXPECT_TRUE(packets.opened);
    EXPECT_GT(packets.video, 0);
}

// Phones that leave right after their first picture (or before it), one after
// another: every time the camera ends up stopped and the window waiting.
TEST_F(EndToEnd, ManyShortSessionsLeaveTheCameraStoppedEveryTime) {
    constexpr int kSessions = 120;
    constexpr int kBudgetMs = 40000;
    QElapsedTimer clock;
    clock.start();
    // A first session with pictures: from here on the queue has been
    // published once, so "stopped" is what every leaving must leave.
    {
        PhoneStandIn phone;
        ASSERT_TRUE(Connect(phone)) << phone.lastError();
        ASSERT_TRUE(OnPhoneThread([&] { return phone.streamVideo(3); })) << phone.lastError();
        ASSERT_TRUE(waitQueueState(kCameraQueuePublished));
        ASSERT_TRUE(OnPhoneThread([&] { return phone.disconnect(); })) << phone.lastError();
        ASSERT_TRUE(waitQueueState(kCameraQueueStopped));
    }
    int sessions = 0;
    int pictures = 0;
    const int opensBefore = driver_->opens;
    for (; sessions < kSessions && clock.elapsed() < kBudgetMs; ++sessions) {
        PhoneStandIn phone;
        const int frames = sessions % 3;  // none, one or two pictures
        ASSERT_TRUE(OnPhoneThread([&] {
            return phone.connectWifi(kWifiPort, "short", 30, kWidth, kHeight) &&
                   (frames == 0 || phone.streamVideo(frames)) && phone.disconnect();
        })) << "session " << sessions << ": " << phone.lastError();
        bool sawPicture = false;
        const bool settled = QTest::qWaitFor(
            [&] {
                sawPicture = sawPicture || page() == MainForm::kPageDisplay;
                return window_->sessionHub() == nullptr && page() == MainForm::kPageWaitLink &&
                       !window_->cameraDriverSink()->IsOpen() && queueState() == kCameraQueueStopped;
            },
            3000);
        ASSERT_TRUE(settled) << "session " << sessions << " left page " << page() << ", queue state " << queueState();
        pictures += sawPicture;
    }
    // Reports still on their way land now; none of them may open a camera.
    QTest::qWait(300);
    EXPECT_EQ(queueState(), kCameraQueueStopped);
    EXPECT_FALSE(window_->cameraDriverSink()->IsOpen());
    EXPECT_EQ(page(), MainForm::kPageWaitLink);
    EXPECT_GE(sessions, 50) << "too slow: " << clock.elapsed() << " ms";
    // How many sessions got as far as opening the cameras (the rest left
    // before their first picture was reported).
    std::printf("%d short sessions (%d shown with a picture, cameras opened %d times) in %lld ms\n", sessions,
                pictures, driver_->opens - opensBefore, static_cast<long long>(clock.elapsed()));
}

}  // namespace
