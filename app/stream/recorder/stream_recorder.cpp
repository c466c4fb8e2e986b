#include "recorder/stream_recorder.h"

#include "core/tether/tq_log.h"

std::unique_ptr<StreamRecorder> CreateStreamRecorder(StreamAudioSinkCache* /*audioCache*/,
                                                     StreamVideoSinkCache* /*videoCache*/, StreamManager* /*hub*/) {
    LOG_E("no MP4 recorder in this build");
    return nullptr;
}
