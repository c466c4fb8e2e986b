// The virtual microphone on a real PulseAudio server (scripts/start-audio.sh
// starts one with a null sink): the RtAudio stream clocks 1,920-frame
// periods at the nominal rate, and a program recording from a
// module-pipe-source on our FIFO hears what the phone sent.
//
// Without a server the cases skip, unless PULSE_SERVER is set: then the
// server was meant to run and its absence is a failure.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

#include "audio_sink/stream_audio_sink_cache.h"
#include "devices/audio/virtaul_audio_device_manager.h"
#include "fifo_reader.h"

namespace {

bool PulseAnswers() {
    QProcess pactl;
    pactl.start("pactl", {"info"});
    return pactl.waitForFinished(5000) && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0;
}

#define REQUIRE_PULSE()                                                               \
    do {                                                                              \
        if (!PulseAnswers()) {                                                        \
            if (std::getenv("PULSE_SERVER") != nullptr) FAIL() << "PULSE_SERVER is set but no server answers"; \
            GTEST_SKIP() << "no PulseAudio server (source scripts/start-audio.sh)";   \
        }                                                                             \
    } while (0)

std::shared_ptr<VirtaulAudioDeviceManager> MakeRunning(StreamAudioSinkCache* cache, const std::string& link) {
    VirtaulAudioDeviceManager::Options options;
    options.cache = cache;
    options.linkPath = link;
    options.runStream = true;
    options.levelReport = [](int) {};
    return VirtaulAudioDeviceManager::Create(std::move(options));
}

// Feeds 40 ms blocks of a 1 kHz half-scale sine, paced like a phone.
class PhoneStandIn {
public:
    explicit PhoneStandIn(StreamAudioSinkCache* cache) : thread_([this, cache] { Run(cache); }) {}
    ~PhoneStandIn() {
        stop_ = true;
        thread_.join();
    }

private:
    void Run(StreamAudioSinkCache* cache) {
        std::vector<int16_t> block(1920);
        int64_t sample = 0;
        auto next = std::chrono::steady_clock::now();
        while (!stop_) {
            for (int16_t& s : block) {
                s = static_cast<int16_t>(std::lround(16383.0 * std::sin(2.0 * M_PI * 1000.0 * sample / 48000.0)));
                ++sample;
            }
            cache->OnAudio(reinterpret_cast<const uint8_t*>(block.data()), 1920, 48000, 1);
            next += std::chrono::milliseconds(40);
            std::this_thread::sleep_until(next);
        }
    }
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

TEST(VirtaulAudioDeviceManagerPulse, RealStreamDeliversFullPeriodsAtTheNominalRate) {
    REQUIRE_PULSE();
    FifoReader fifo;
    ASSERT_TRUE(fifo.made());
    ASSERT_TRUE(fifo.OpenReader());
    const auto cache = StreamAudioSinkCache::Create(48000, 1, 500, 0);
    auto manager = MakeRunning(cache.get(), fifo.path());
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager->streamPeriodFrames(), 1920u);

    size_t bytes = 0;
    auto drainFor = [&](int ms) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            bytes += fifo.ReadAvailable().size();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    };
    // The stream takes a moment to connect and the server's buffer fills
    // quickly at first; measure the steady clock after that.
    QElapsedTimer started;
    started.start();
    while (manager->periods() < 15 && started.elapsed() < 10000) drainFor(20);
    drainFor(300);
    QElapsedTimer clock;
    clock.start();
    const uint64_t first = manager->periods();
    drainFor(2500);
    const double seconds = clock.nsecsElapsed() / 1e9;
    const double perSecond = static_cast<double>(manager->periods() - first) / seconds;
    EXPECT_GT(perSecond, 25.0 * 0.8);
    EXPECT_LT(perSecond, 25.0 * 1.2);

    // Every period reached the link whole: the reader kept the pipe empty.
    const uint64_t ran = manager->periods();
    EXPECT_EQ(manager->pendingWrites(), 0u);
    manager.reset();
    bytes += fifo.ReadAvailable().size();
    EXPECT_EQ(bytes % 3840, 0u);
    EXPECT_GE(bytes / 3840, ran);
}

TEST(VirtaulAudioDeviceManagerPulse, ARecordingFromThePipeSourceHearsThePhone) {
    REQUIRE_PULSE();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath("ZuAudioDeviceLink");
    const QString source = QString("zu_test_mic_%1").arg(QCoreApplication::applicationPid());
    QProcess load;
    load.start("pactl", {"load-module", "module-pipe-source", "source_name=" + source, "file=" + link,
                         "format=s16le", "rate=48000", "channels=1",
                         "source_properties=\"device.description='Zu Virtual Audio Device'\""});
    ASSERT_TRUE(load.waitForFinished(5000));
    ASSERT_EQ(load.exitCode(), 0) << load.readAllStandardError().toStdString();
    const QString module = QString::fromUtf8(load.readAllStandardOutput()).trimmed();
    struct Unload {
        QString module;
        ~Unload() { QProcess::execute("pactl", {"unload-module", module}); }
    } unload{module};

    const auto cache = StreamAudioSinkCache::Create(48000, 1, 500, 0);
    PhoneStandIn phone(cache.get());
    // The audio server makes its FIFO readable and writable for everyone;
    // ours, so it is taken, and made owner-only before it is fed.
    struct stat made {};
    ASSERT_EQ(::stat(link.toLocal8Bit().constData(), &made), 0);
    const auto manager = MakeRunning(cache.get(), link.toStdString());
    ASSERT_NE(manager, nullptr);
    struct stat opened {};
    ASSERT_EQ(::stat(link.toLocal8Bit().constData(), &opened), 0);
    EXPECT_EQ(opened.st_mode & 0777, 0600u) << "made with mode " << std::oct << (made.st_mode & 0777);

    QProcess parec;
    parec.start("parec", {"-d", source, "--raw", "--format=s16le", "--rate=48000", "--channels=1",
                          "--latency-msec=40"});
    ASSERT_TRUE(parec.waitForStarted(5000));
    // The stream and the recorder take a moment to start: wait for 1.5 s of
    // recording, however long the start took.
    QByteArray recorded;
    QElapsedTimer waited;
    waited.start();
    while (recorded.size() < 48000 * 3 && waited.elapsed() < 15000) {
        parec.waitForReadyRead(50);
        recorded += parec.readAllStandardOutput();
        QCoreApplication::processEvents();
    }
    parec.terminate();
    parec.waitForFinished(5000);
    ASSERT_GE(recorded.size(), 48000 * 3) << "periods " << manager->periods();

    // In 10 ms windows: those that carry sound (the periods the stream ran
    // before the phone's audio arrived are silent) must be the half-scale
    // 1 kHz sine, by level and by zero crossings, and make up most of the
    // recording.
    const auto* samples = reinterpret_cast<const int16_t*>(recorded.constData());
    const size_t count = static_cast<size_t>(recorded.size()) / 2;
    constexpr size_t kWindow = 480;
    size_t soundWindows = 0;
    int crossings = 0;
    double energy = 0;
    for (size_t w = 0; w + kWindow <= count; w += kWindow) {
        double windowEnergy = 0;
        int windowCrossings = 0;
        for (size_t i = w; i < w + kWindow; ++i) {
            windowEnergy += static_cast<double>(samples[i]) * samples[i];
            if (i > 0 && (samples[i - 1] < 0) != (samples[i] < 0)) ++windowCrossings;
        }
        if (std::sqrt(windowEnergy / kWindow) < 2000) continue;
        ++soundWindows;
        crossings += windowCrossings;
        energy += windowEnergy;
    }
    ASSERT_GT(soundWindows, count / kWindow / 2);
    const double rms = std::sqrt(energy / static_cast<double>(soundWindows * kWindow));
    const double hz = crossings / 2.0 / (static_cast<double>(soundWindows * kWindow) / 48000.0);
    EXPECT_NEAR(rms, 16383 / std::sqrt(2.0), 16383 * 0.1);
    EXPECT_NEAR(hz, 1000.0, 30.0);
}
