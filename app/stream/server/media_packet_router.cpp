#include "server/media_packet_router.h"

#include "audio_sink/stream_audio_sink.h"
#include "core/tether/tq_log.h"
#include "decode/stream_video_decoder.h"
#include "parser/stream_parser.h"

namespace {
// What a phone may sensibly send; anything else is dropped before a sink
// divides by it or reads past the payload.
constexpr uint32_t kMaxAudioChannels = 8;
constexpr uint32_t kMinSampleRate = 8000;
constexpr uint32_t kMaxSampleRate = 192000;
constexpr uint64_t kBytesPerSample = 2;
}  // namespace

MediaPacketRouter::MediaPacketRouter(const std::string& key, const std::string& hwDecoder, StreamManager* hub,
                                     const std::vector<StreamAudioSink*>& audioSinks,
                                     const std::vector<StreamVideoSink*>& videoSinks)
    : key_(key), audioSinks_(audioSinks) {
    if (!videoSinks.empty()) decoder_ = CreateStreamVideoDecoder(hwDecoder, hub, videoSinks);
}

MediaPacketRouter::~MediaPacketRouter() = default;

void MediaPacketRouter::ReleaseDecoder() { decoder_.reset(); }

MediaPacketRouter::FeedResult MediaPacketRouter::Feed(const char* data, int length) {
    if (closed_) return FeedResult::kClosed;
    if (length < 1) return FeedResult::kOk;
    if (!packetBuffer_) packetBuffer_ = std::make_unique<StreamPacketBuffer>();
    std::vector<std::unique_ptr<StreamPacket>> packets;
    if (!ParseStreamPackets(packetBuffer_.get(), data, length, &packets)) {
        closed_ = true;
        return FeedResult::kBroken;
    }
    for (std::unique_ptr<StreamPacket>& packet : packets) {
        switch (packet->GetType()) {
        case kStreamPacketKey:
            if (static_cast<const StreamTokenPacket&>(*packet).token() != key_) {
                closed_ = true;
                return FeedResult::kWrongKey;
            }
            break;
        case kStreamPacketVideo:
            if (decoder_) decoder_->PushPacket(std::move(packet));
            break;
        case kStreamPacketAudio:
            DeliverPhoneAudio(static_cast<const StreamAudioPacket&>(*packet), audioSinks_, &badAudioLogged_);
            break;
        default: break;
        }
    }
    return FeedResult::kOk;
}

void DeliverPhoneAudio(const StreamAudioPacket& packet, const std::vector<StreamAudioSink*>& sinks,
                       bool* badAudioLogged) {
    if (packet.size() == 0) return;  // nothing to play
    const uint32_t channels = packet.channels();
    const uint32_t rate = packet.sampleRate();
    const bool usable = channels >= 1 && channels <= kMaxAudioChannels && rate >= kMinSampleRate &&
                        rate <= kMaxSampleRate && packet.size() % (channels * kBytesPerSample) == 0;
    if (!usable) {
        if (!*badAudioLogged) {
            LOG_W("audio dropped: %u channels, %u Hz, %llu bytes", channels, rate,
                  static_cast<unsigned long long>(packet.size()));
            *badAudioLogged = true;
        }
        return;
    }
    const int samplesPerChannel = static_cast<int>(packet.size() / (channels * kBytesPerSample));
    for (StreamAudioSink* sink : sinks) {
        sink->OnAudio(packet.data(), samplesPerChannel, static_cast<int>(rate), static_cast<int>(channels));
    }
}
