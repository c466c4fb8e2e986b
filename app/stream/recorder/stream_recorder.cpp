#include "recorder/stream_recorder.h"

#include "recorder/ffmpeg_recorder.h"
#include "stream_manager.h"

std::unique_ptr<StreamRecorder> CreateStreamRecorder(StreamAudioSinkCache* audioCache,
                                                     StreamVideoSinkCache* videoCache, StreamManager* hub) {
    RecorderEvents events;
    if (hub != nullptr) {
        // Emitted on the recorder's threads; Qt queues them to receivers
        // that live on other threads (the window, the hub itself).
        events.durationChanged = [hub](int64_t ms) { emit hub->RecordDurationChanged(static_cast<qlonglong>(ms)); };
        events.interrupted = [hub] { emit hub->RecordInterrupt(); };
    }
    return std::make_unique<FFmpegRecorder>(audioCache, videoCache, std::move(events));
}
