#include "p2p/zup2p_connection.h"

#include "core/tether/tq_log.h"
#include "parser/stream_parser.h"
#include "stream_manager.h"
#include "stream_receiver.h"

namespace {
// The library's receive thread waits at most this long between looks at its
// stop flag, so uninit returns within about this time.
constexpr unsigned int kLibraryPollMs = 100;
}  // namespace

Zup2pConnection::Zup2pConnection(const std::string& key, const std::string& hwDecoder, StreamManager* hub,
                                 const std::vector<StreamAudioSink*>& audioSinks,
                                 const std::vector<StreamVideoSink*>& videoSinks)
    : key_(key), hub_(hub), router_(std::make_unique<MediaPacketRouter>(key, hwDecoder, hub, audioSinks, videoSinks)) {}

Zup2pConnection::~Zup2pConnection() {
    StopLibrary();
    std::lock_guard<std::mutex> lock(routerMutex_);
    router_.reset();  // stops the decoder's thread
    library_.reset();
}

bool Zup2pConnection::Init(uint16_t /*port*/) {
    library_.reset();
    auto library = std::make_unique<zu::Zup2p>();
    if (!library->init(this, 0, kLibraryPollMs)) {
        LOG_E("p2p library failed to start");
        return false;
    }
    library_ = std::move(library);
    return true;
}

void Zup2pConnection::StopLibrary() {
    if (library_) library_->uninit();  // joins the library's thread
}

int Zup2pConnection::BindPort() const { return library_ ? library_->bindPort() : 0; }

bool Zup2pConnection::acceptPeer(const char* data, int length) {
    if (length < 1) return false;
    // A message of the phone's holds whole media packets; a key packet in it
    // must carry this connection's key. Read apart from the stream's own
    // buffer, so a refused sender leaves no trace in it.
    StreamPacketBuffer scratch(static_cast<uint64_t>(length) + StreamPacketBuffer::kPayloadReserve);
    std::vector<std::unique_ptr<StreamPacket>> packets;
    if (!ParseStreamPackets(&scratch, data, length, &packets) || packets.empty() || scratch.held() != 0) {
        LOG_W("p2p: a sender's first message is no media packet; sender refused");
        return false;
    }
    for (const std::unique_ptr<StreamPacket>& packet : packets) {
        if (packet->GetType() == kStreamPacketKey && static_cast<const StreamTokenPacket&>(*packet).token() != key_) {
            LOG_W("p2p: a sender presented another connection's key; sender refused");
            return false;
        }
    }
    return true;
}

void Zup2pConnection::onData(int /*peer*/, int /*messageNumber*/, const char* data, int length) {
    if (length < 1) return;
    MediaPacketRouter::FeedResult result;
    {
        std::lock_guard<std::mutex> lock(routerMutex_);
        if (!router_) return;
        result = router_->Feed(data, length);
    }
    switch (result) {
    case MediaPacketRouter::FeedResult::kBroken:
        LOG_E("p2p media stream broken");
        NotifyHub(kStreamEventConnectionLost);
        break;
    case MediaPacketRouter::FeedResult::kWrongKey:
        LOG_E("p2p media stream presented a wrong key");
        NotifyHub(kStreamEventConnectionLost);
        break;
    default: break;  // kClosed: reported once already
    }
}

void Zup2pConnection::NotifyHub(int event) {
    if (hub_ != nullptr) hub_->HandleEvent(event);
}
