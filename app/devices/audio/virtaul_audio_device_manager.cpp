#include "virtaul_audio_device_manager.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTimer>
#include <RtAudio.h>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <vector>

#include "audio_sink/stream_audio_sink_cache.h"
#include "core/tether/tq_log.h"
#include "virtual_mic_audio_cache.h"

namespace {

constexpr int kBytesPerFrame = 2;  // 16-bit mono

RtAudio::Api PreferredApi() {
    std::vector<RtAudio::Api> apis;
    RtAudio::getCompiledApi(apis);
    const bool pulse = std::find(apis.begin(), apis.end(), RtAudio::LINUX_PULSE) != apis.end();
    return pulse ? RtAudio::LINUX_PULSE : RtAudio::UNSPECIFIED;
}

}  // namespace

std::shared_ptr<VirtaulAudioDeviceManager> VirtaulAudioDeviceManager::Create(Options options) {
    auto manager = std::make_shared<VirtaulAudioDeviceManager>(std::move(options));
    if (!manager->Open()) return nullptr;
    return manager;
}

VirtaulAudioDeviceManager::VirtaulAudioDeviceManager(Options options)
    : options_(std::move(options)), cache_(options_.cache != nullptr ? options_.cache : GetVirtualMicAudioCache()) {}

VirtaulAudioDeviceManager::~VirtaulAudioDeviceManager() {
    // The stream goes first, so no callback runs while the link closes.
    if (rtaudio_) {
        try {
            if (rtaudio_->isStreamRunning()) rtaudio_->stopStream();
            if (rtaudio_->isStreamOpen()) rtaudio_->closeStream();
        } catch (const RtAudioError& error) {
            LOG_W("virtual mic: closing the stream: %s", error.getMessage().c_str());
        }
        rtaudio_.reset();
    }
    reportTimer_.reset();
    link_.Close();
}

bool VirtaulAudioDeviceManager::Open() {
    if (cache_ == nullptr || cache_->GetSampleRate() != static_cast<int>(kSampleRate) || cache_->GetChannels() != 1 ||
        cache_->GetSampleType() != StreamAudioSinkCache::kSampleTypeS16) {
        LOG_E("virtual mic: the cache is not 48,000 Hz mono 16-bit");
        return false;
    }
    const std::string path = options_.linkPath.empty() ? AudioDeviceLink::DefaultPath() : options_.linkPath;
    const AudioDeviceLink::OpenResult opened = link_.Open(path);
    if (opened != AudioDeviceLink::OpenResult::kOpened) {
        LOG_I("virtual mic: device link %s: %s", path.c_str(), ToString(opened));
        return false;
    }

    // Without an application object there is no event loop to report on
    // (benchmarks); the level stays readable through lastLevel.
    if (QCoreApplication::instance() != nullptr) {
        reportTimer_ = std::make_unique<QTimer>();
        reportTimer_->setInterval(std::max(options_.reportIntervalMs, 1));
        QObject::connect(reportTimer_.get(), &QTimer::timeout, [this] { ForwardReports(); });
        reportTimer_->start();
    }

    if (!options_.runStream) return true;
    return OpenStream();
}

bool VirtaulAudioDeviceManager::OpenStream() {
    try {
        rtaudio_ = std::make_unique<RtAudio>(PreferredApi());
        if (rtaudio_->getDeviceCount() == 0) {
            LOG_E("virtual mic: no audio output device");
            return false;
        }
        RtAudio::StreamParameters output;
        output.deviceId = rtaudio_->getDefaultOutputDevice();
        output.nChannels = 1;
        output.firstChannel = 0;
        unsigned int frames = kPeriodFrames;
        rtaudio_->openStream(&output, nullptr, RTAUDIO_SINT16, kSampleRate, &frames, &RtCallback, this);
        streamFrames_ = frames;
        rtaudio_->startStream();
    } catch (const RtAudioError& error) {
        std::cout << std::string(25, '-') << '\n' << error.getMessage() << '\n' << std::string(29, '-') << std::endl;
        return false;
    }
    return rtaudio_->isStreamOpen();
}

int VirtaulAudioDeviceManager::RtCallback(void* output, void* /*input*/, unsigned int frames, double /*streamTime*/,
                                          unsigned int /*status*/, void* user) {
    return static_cast<VirtaulAudioDeviceManager*>(user)->OnAudioCallback(static_cast<int16_t*>(output), frames);
}

int VirtaulAudioDeviceManager::OnAudioCallback(int16_t* buffer, unsigned n) {
    const size_t bytes = static_cast<size_t>(n) * kBytesPerFrame;
    std::memset(buffer, 0, bytes);
    if (cache_ != nullptr && n > 0) {
        // Without a target the backlog could creep up to the cache's 500 ms;
        // keep it near one period after this read.
        const int period = static_cast<int>(n);
        const int dropped = cache_->DropOldest(kMaxBacklogPeriods * period, 2 * period);
        if (dropped > 0) dropped_.fetch_add(static_cast<uint64_t>(dropped), std::memory_order_relaxed);
        cache_->Read(reinterpret_cast<uint8_t*>(buffer), static_cast<int>(bytes));
    }
    if (link_.isOpen() && link_.Write(buffer, bytes) == AudioDeviceLink::WriteResult::kPending) {
        pending_.fetch_add(1, std::memory_order_relaxed);
    }
    level_.store(LevelOf(buffer, n), std::memory_order_relaxed);
    if (!options_.playThrough) std::memset(buffer, 0, bytes);
    periods_.fetch_add(1, std::memory_order_release);
    return 0;
}

int VirtaulAudioDeviceManager::LevelOfPeak(int peak) {
    const double x = static_cast<double>(std::abs(peak)) / 32767.0;
    const double db = x > 0.0 ? 20.0 * std::log10(x) : -60.0;
    const double clamped = std::min(std::max(db, -60.0), 0.0);
    return static_cast<int>((clamped + 60.0) * 10.0 / 60.0);
}

int VirtaulAudioDeviceManager::LevelOf(const int16_t* samples, unsigned n) {
    int peak = 0;
    for (unsigned i = 0; i < n; ++i) peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    return LevelOfPeak(peak);
}

void VirtaulAudioDeviceManager::ForwardReports() {
    const uint64_t periods = periods_.load(std::memory_order_acquire);
    if (periods != reportedPeriods_) {
        reportedPeriods_ = periods;
        if (options_.levelReport) options_.levelReport(level_.load(std::memory_order_relaxed));
    }
    const uint64_t pending = pending_.load(std::memory_order_relaxed);
    if (pending != reportedPending_) {
        // One line per report interval at most, however many periods were lost.
        qDebug() << "write is pending" << (pending - reportedPending_);
        reportedPending_ = pending;
    }
}
