#include "iproxy/iproxy_conneciton.h"

#include <cstdio>

#include "core/tether/tq_log.h"
#include "parser/command_frame.h"
#include "parser/command_frame_buffer.h"
#include "server/media_packet_router.h"
#include "socket/async_reactor.h"
#include "stream_manager.h"
#include "stream_receiver.h"

namespace {
constexpr int kCommandReadBufferSize = 4096;
}  // namespace

IProxyConneciton::IProxyConneciton(int handle, int readBufferSize, AsyncReactor* reactor, StreamManager* hub)
    : reactor_(reactor), hub_(hub), connection_(std::make_unique<AsyncIProxyConnection>(handle, this, readBufferSize)) {}

void IProxyConneciton::Attach() {
    if (attached_ || reactor_ == nullptr) return;
    reactor_->Add(connection_.get());
    attached_ = true;
}

IProxyConneciton::~IProxyConneciton() { Detach(); }

void IProxyConneciton::Detach() {
    if (attached_ && reactor_ != nullptr) reactor_->Remove(connection_.get());
    attached_ = false;
}

void IProxyConneciton::ReportLost() {
    connection_->StopReading();
    if (lostReported_) return;
    lostReported_ = true;
    NotifyHub(kStreamEventConnectionLost);
}

void IProxyConneciton::NotifyHub(int event) {
    if (hub_ != nullptr) hub_->HandleEvent(event);
}

CommandConneciton::CommandConneciton(int handle, AsyncReactor* reactor, StreamManager* hub)
    : IProxyConneciton(handle, kCommandReadBufferSize, reactor, hub) {
    Attach();
}

CommandConneciton::~CommandConneciton() { Detach(); }

void CommandConneciton::OnRead(const uint8_t* data, int n) {
    if (n < 1) {
        fprintf(stderr, "---------------iproxy cmd: connection closed\n");
        ReportLost();
        return;
    }
    if (!frameBuffer_) frameBuffer_ = std::make_unique<CommandFrameBuffer>();
    std::vector<std::string> texts;
    if (!ParseCommandFrames(frameBuffer_.get(), reinterpret_cast<const char*>(data), n, &texts)) {
        ReportLost();
        return;
    }
    for (const std::string& text : texts) {
        fprintf(stderr, "---------------cmd read: %s\n", text.c_str());
        if (hub_ != nullptr) hub_->HandleCommand(text);
    }
}

StreamConneciton::StreamConneciton(int handle, const std::string& key, const std::string& hwDecoder,
                                   AsyncReactor* reactor, StreamManager* hub,
                                   const std::vector<StreamAudioSink*>& audioSinks,
                                   const std::vector<StreamVideoSink*>& videoSinks)
    : IProxyConneciton(handle, kReadBufferSize, reactor, hub),
      router_(std::make_unique<MediaPacketRouter>(key, hwDecoder, hub, audioSinks, videoSinks)) {
    Attach();  // polled only once the router exists
}

StreamConneciton::~StreamConneciton() {
    Detach();  // no read runs while the decoder stops
    router_.reset();
}

void StreamConneciton::OnRead(const uint8_t* data, int n) {
    if (n < 1) {
        fprintf(stderr, "---------------iproxy stream: connection closed\n");
        ReportLost();
        return;
    }
    switch (router_->Feed(reinterpret_cast<const char*>(data), n)) {
    case MediaPacketRouter::FeedResult::kBroken:
        LOG_E("iproxy media stream broken");
        ReportLost();
        break;
    case MediaPacketRouter::FeedResult::kWrongKey:
        LOG_E("iproxy media stream presented a wrong key");
        ReportLost();
        break;
    default: break;
    }
}
