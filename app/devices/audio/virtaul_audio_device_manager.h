// The virtual microphone: feeds the phone's microphone audio to the virtual
// audio driver's device link.
//
// An RtAudio output stream on the default playback device serves as the
// clock: every period (1,920 frames, 40 ms) its callback takes one period
// from the virtual-microphone cache, writes it to the device link, notes the
// level and plays the period only when play-through is on.
//
// Create, use and destroy a manager on one thread with an event loop (the GUI
// thread): the level and the "write is pending" note are forwarded from there
// by a timer, so the audio thread itself never allocates or logs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio_device_link.h"

class QTimer;
class RtAudio;
class StreamAudioSinkCache;

class VirtaulAudioDeviceManager {
public:
    static constexpr unsigned kSampleRate = 48000;
    static constexpr unsigned kPeriodFrames = 1920;
    // Backlog bound: more than kMaxBacklogPeriods queued at a read drops the
    // oldest so that one period is left after the read.
    static constexpr int kMaxBacklogPeriods = 3;

    struct Options {
        StreamAudioSinkCache* cache = nullptr;  // borrowed; null: the process-wide cache
        std::string linkPath;                   // empty: AudioDeviceLink::DefaultPath()
        // Play the microphone on the speakers too (the "cfg_play_audio"
        // setting, handed in by the application).
        bool playThrough = false;
        // False: no RtAudio stream; the owner drives OnAudioCallback itself.
        bool runStream = true;
        // Gets each new level on the owner's thread, never on the audio
        // thread; empty: levels are only kept (lastLevel).
        std::function<void(int)> levelReport;
        // How often the level is forwarded.
        int reportIntervalMs = 40;
    };

    // An opened manager; null when the driver's link is missing or no output
    // stream can be opened. The application passes the process-wide cache,
    // the default link, its play-through setting and its level relay.
    static std::shared_ptr<VirtaulAudioDeviceManager> Create(Options options);

    explicit VirtaulAudioDeviceManager(Options options);
    ~VirtaulAudioDeviceManager();
    VirtaulAudioDeviceManager(const VirtaulAudioDeviceManager&) = delete;
    VirtaulAudioDeviceManager& operator=(const VirtaulAudioDeviceManager&) = delete;

    // Opens the link, then (with runStream) opens and starts the stream.
    bool Open();

    // One period of n frames into buffer (the speakers' samples); audio
    // thread. Returns 0: the stream goes on.
    int OnAudioCallback(int16_t* buffer, unsigned n);

    // 0 to 10 from the largest absolute sample: -60 dB and below give 0,
    // full scale 10.
    static int LevelOfPeak(int peak);
    static int LevelOf(const int16_t* samples, unsigned n);

    // Observers for tests and benchmarks (any thread).
    int lastLevel() const { return level_.load(std::memory_order_relaxed); }
    uint64_t periods() const { return periods_.load(std::memory_order_acquire); }
    uint64_t pendingWrites() const { return pending_.load(std::memory_order_relaxed); }
    uint64_t droppedSamples() const { return dropped_.load(std::memory_order_relaxed); }
    // Frames per callback that the stream settled on (0 before Open).
    unsigned streamPeriodFrames() const { return streamFrames_; }

private:
    static int RtCallback(void* output, void* input, unsigned int frames, double streamTime, unsigned int status,
                          void* user);
    bool OpenStream();
    void ForwardReports();

    Options options_;
    StreamAudioSinkCache* cache_;  // borrowed, outlives this manager
    AudioDeviceLink link_;         // opened before the stream starts, closed after it stops
    std::unique_ptr<RtAudio> rtaudio_;
    unsigned streamFrames_ = 0;
    std::unique_ptr<QTimer> reportTimer_;  // owner's thread

    // Written by the audio thread, read by the owner's timer and observers.
    std::atomic<int> level_{0};
    std::atomic<uint64_t> periods_{0};
    std::atomic<uint64_t> pending_{0};
    std::atomic<uint64_t> dropped_{0};
    // Owner's thread only: what the timer forwarded last.
    uint64_t reportedPeriods_ = 0;
    uint64_t reportedPending_ = 0;
};
