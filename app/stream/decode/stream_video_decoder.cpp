#include "decode/stream_video_decoder.h"

#include <mutex>

#include "core/tether/tq_log.h"

namespace {
std::mutex s_factoryMutex;  // guards s_factory
StreamVideoDecoderFactory s_factory;
}  // namespace

std::unique_ptr<StreamVideoDecoder> CreateStreamVideoDecoder(const std::string& hwDecoder, StreamManager* hub,
                                                             const std::vector<StreamVideoSink*>& videoSinks) {
    StreamVideoDecoderFactory factory;
    {
        std::lock_guard<std::mutex> lock(s_factoryMutex);
        factory = s_factory;
    }
    if (factory) return factory(hwDecoder, hub, videoSinks);
    LOG_E("no H.264 decoder in this build: video packets are dropped");
    return nullptr;
}

void SetStreamVideoDecoderFactoryForTesting(StreamVideoDecoderFactory factory) {
    std::lock_guard<std::mutex> lock(s_factoryMutex);
    s_factory = std::move(factory);
}
