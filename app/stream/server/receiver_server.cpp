#include "server/receiver_server.h"

#include "server/media_packet_router.h"

#include <cstdio>
#include <vector>

#include "audio_sink/stream_audio_sink.h"
#include "core/tether/tq_log.h"
#include "decode/stream_video_decoder.h"
#include "parser/stream_parser.h"
#include "socket/async_socket.h"

ReceiverServer::ReceiverServer(const std::string& key, const std::string& hwDecoder, AsyncReactor* reactor,
                               StreamManager* hub, const std::vector<StreamAudioSink*>& audioSinks,
                               const std::vector<StreamVideoSink*>& videoSinks)
    : SingleConnectionServer(reactor, hub, kMediaReadBufferSize), key_(key), audioSinks_(audioSinks) {
    if (!videoSinks.empty()) decoder_ = CreateStreamVideoDecoder(hwDecoder, hub, videoSinks);
}

ReceiverServer::~ReceiverServer() {
    // The reactor must not reach OnRead while the decoder and the buffers go.
    Shutdown();
    decoder_.reset();  // stops the decoder's thread
    packetBuffer_.reset();
}

void ReceiverServer::SetKey(const std::string& key) {
    std::lock_guard<std::mutex> lock(keyMutex_);
    key_ = key;
}

bool ReceiverServer::KeyMatches(const std::string& token) {
    std::lock_guard<std::mutex> lock(keyMutex_);
    return token == key_;
}

bool ReceiverServer::AdoptMediaSocket(std::unique_ptr<AsyncSocket>& socket) {
    if (!AdoptSocket(socket)) return false;
    // A new stream starts from scratch.
    packetBuffer_.reset();
    rejected_ = false;
    badAudioLogged_ = false;
    return true;
}

void ReceiverServer::OnAccept(std::unique_ptr<AsyncSocket> socket) {
    fprintf(stderr, "---------------stream: connection come in\n");
    const bool taken = AdoptMediaSocket(socket);
    NotifyHub(kStreamEventStreamConnected);
    // The decoder drops the previous stream's state and waits for a key frame.
    if (taken && decoder_) decoder_->PushPacket(nullptr);
}

void ReceiverServer::Reject() {
    rejected_ = true;
    StopPolling();
    NotifyHub(kStreamEventConnectionLost);
}

void ReceiverServer::OnRead(const char* data, int length) {
    if (length <= 0) {
        fprintf(stderr, "---------------stream: connection closed\n");
        StopPolling();
        NotifyHub(kStreamEventConnectionLost);
        return;
    }
    // A rejected connection stays held until the hub closes it; whatever it
    // still sends is not media.
    if (rejected_) return;
    if (!packetBuffer_) packetBuffer_ = std::make_unique<StreamPacketBuffer>();
    std::vector<std::unique_ptr<StreamPacket>> packets;
    if (!ParseStreamPackets(packetBuffer_.get(), data, length, &packets)) {
        LOG_E("media stream broken on port %d", port());
        Reject();
        return;
    }
    for (std::unique_ptr<StreamPacket>& packet : packets) {
        switch (packet->GetType()) {
        case kStreamPacketKey:
            if (!KeyMatches(static_cast<const StreamTokenPacket&>(*packet).token())) {
                LOG_E("media connection on port %d presented a wrong key", port());
                Reject();
                return;
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
}

