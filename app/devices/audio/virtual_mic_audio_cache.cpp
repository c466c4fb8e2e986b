#include "virtual_mic_audio_cache.h"

#include <memory>

#include "audio_sink/stream_audio_sink_cache.h"

namespace {

const std::unique_ptr<StreamAudioSinkCache> g_virtualMicAudioCache =
    StreamAudioSinkCache::Create(48000, 1, 500, StreamAudioSinkCache::kSampleTypeS16);

}  // namespace

StreamAudioSinkCache* GetVirtualMicAudioCache() { return g_virtualMicAudioCache.get(); }
