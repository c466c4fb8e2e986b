#include "decode/stream_video_decoder.h"

#include <mutex>

#include "decode/stream_video_decoder_h264.h"

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
    return std::make_unique<StreamVideoDecoderH264>(hwDecoder, hub, videoSinks);
}

void SetStreamVideoDecoderFactoryForTesting(StreamVideoDecoderFactory factory) {
    std::lock_guard<std::mutex> lock(s_factoryMutex);
    s_factory = std::move(factory);
}
