#include "p2p/zup2p_connection.h"

#include "core/tether/tq_log.h"
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
    : hub_(hub), router_(std::make_unique<MediaPacketRouter>(key, hwDecoder, hub, audioSinks, videoSinks)) {}

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
