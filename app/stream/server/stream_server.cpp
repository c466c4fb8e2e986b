#include "server/stream_server.h"

#include <QStringList>
#include <QTimerEvent>
#include <arpa/inet.h>
#include <fcntl.h>
#include <json/json.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core/system/system_info.h"
#include "core/system/time.h"
#include "core/tether/tq_log.h"
#include "p2p/zup2p_connection.h"
#include "server/audio_receiver_server.h"
#include "server/command_server.h"
#include "server/receiver_server.h"
#include "stream_manager.h"

namespace {

constexpr int kBeaconIntervalMs = 1000;
constexpr int kWatchIntervalMs = 250;
constexpr uint16_t kBeaconSourcePort = 5009;
constexpr uint16_t kBeaconDestinationPort = 5008;
// How many ports above the base (video) or above the video port (audio) a
// media server tries before giving up.
constexpr int kMediaPortTries = 100;

bool ContainsIgnoringCase(const std::string& text, const char* word) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find(word) != std::string::npos;
}

// The IPv4 addresses a phone may reach this computer on: every adapter but
// the virtual ones (hypervisors' host adapters would only mislead a phone).
std::vector<std::string> AnnounceableAddresses() {
    std::vector<std::string> addresses;
    for (const LocalAdapter& adapter : GetLocalAdapters()) {
        if (ContainsIgnoringCase(adapter.description, "vmware") ||
            ContainsIgnoringCase(adapter.description, "virtual") ||
            ContainsIgnoringCase(adapter.description, "hyper-v")) {
            continue;
        }
        addresses.push_back(adapter.ipAddress);
    }
    return addresses;
}

void SendTo(int fd, const std::string& text, in_addr_t hostOrderAddress) {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(kBeaconDestinationPort);
    destination.sin_addr.s_addr = htonl(hostOrderAddress);
    // A lost beacon is sent again in a second; the result does not matter.
    (void)sendto(fd, text.data(), text.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&destination),
                 sizeof(destination));
}

// One round of beacon datagrams from one local address.
void AnnounceFrom(const std::string& address, const std::string& text) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return;
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_port = htons(kBeaconSourcePort);
    const int one = 1;
    const bool ready = inet_pton(AF_INET, address.c_str(), &source.sin_addr) == 1 &&
                       fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK) == 0 &&
                       setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) == 0 &&
                       bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof(source)) == 0;
    if (ready) {
        const in_addr_t subnet = ntohl(source.sin_addr.s_addr) & 0xFFFFFF00u;
        if (IsWindows10OrGreater()) {
            // Every host of the /24, this one included: no broadcast needed.
            for (in_addr_t host = 1; host <= 254; ++host) SendTo(fd, text, subnet | host);
        } else if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof(one)) == 0) {
            SendTo(fd, text, subnet | 255u);
        }
    }
    close(fd);
}

}  // namespace

StreamServer::StreamServer(uint16_t port, AsyncReactor* reactor, StreamManager* hub)
    : basePort_(port), reactor_(reactor), hub_(hub) {
    localAddresses_ = AnnounceableAddresses();
    beaconTimerId_ = startTimer(kBeaconIntervalMs, Qt::CoarseTimer);
    watchTimerId_ = startTimer(kWatchIntervalMs, Qt::CoarseTimer);
    if (hub_ != nullptr) {
        QStringList addresses;
        for (const std::string& address : localAddresses_) addresses << QString::fromStdString(address);
        emit hub_->ShowLocalIpAddr(addresses);
    }
}

StreamServer::~StreamServer() {
    if (beaconTimerId_ != 0) killTimer(beaconTimerId_);
    beaconTimerId_ = 0;
    if (watchTimerId_ != 0) killTimer(watchTimerId_);
    watchTimerId_ = 0;
    localAddresses_.clear();
    p2pConnection_.reset();
    audioServer_.reset();
    videoServer_.reset();
    commandServer_.reset();
}

bool StreamServer::Start() {
    commandServer_.reset();  // its port is free again before the new one binds
    commandServer_ = std::make_unique<CommandServer>(reactor_, hub_);
    return commandServer_->Listen(basePort_);
}

void StreamServer::HandleEvent(int event) {
    switch (event) {
    case kStreamEventCommandConnected:
        if (commandServer_) commandServer_->ActivateConnection();
        break;
    case kStreamEventStreamConnected:
        if (videoServer_) videoServer_->ActivateConnection();
        break;
    case kStreamEventAudioConnected:
        if (audioServer_) audioServer_->ActivateConnection();
        break;
    case kStreamEventConnectionLost: Close(); break;
    default: break;
    }
}

void StreamServer::Close() {
    fprintf(stderr, "close all connection\n");
    // The command port keeps listening for the phone's next connection.
    if (commandServer_) commandServer_->CloseConnection();
    if (videoServer_) {
        videoServer_->CloseConnection();
        videoServer_.reset();
    }
    if (audioServer_) {
        audioServer_->CloseConnection();
        audioServer_.reset();
    }
    p2pConnection_.reset();
    if (hub_ != nullptr) hub_->HandleEvent(kStreamEventReceiverClosed);
}

void StreamServer::SendCommand(const std::string& json) {
    fprintf(stderr, "send: %s\n", json.c_str());
    if (!commandServer_ || commandServer_->SendCommand(json)) return;
    // A client that does not read its replies.
    LOG_W("command client does not take its replies; the connection is dropped");
    Close();
}

bool StreamServer::OpenVideoReceiver(bool udp, uint16_t port, const std::string& key, const std::string& hwDecoder,
                                     const std::vector<StreamAudioSink*>& audioSinks,
                                     const std::vector<StreamVideoSink*>& videoSinks) {
    if (udp) {
        // The old library stops (and frees its port) before the new one binds.
        p2pConnection_.reset();
        auto connection = std::make_unique<Zup2pConnection>(key, hwDecoder, hub_, audioSinks, videoSinks);
        // Without a running library there is no port to announce: the hello fails.
        if (!connection->Init(port)) return false;
        p2pConnection_ = std::move(connection);
        return true;
    }
    if (commandServer_) commandServer_->MarkGreeted();
    if (videoServer_) {
        // A repeated hello: the phone connects its media with the key of the
        // latest answer, so the running servers take that key.
        videoServer_->SetKey(key);
        if (audioServer_) audioServer_->SetKey(key);
        return true;
    }
    if (port != 0) {
        auto server = std::make_unique<ReceiverServer>(key, hwDecoder, reactor_, hub_, audioSinks, videoSinks);
        if (!server->Listen(port)) {
            LOG_E("video server cannot listen on port %d", port);
            return false;
        }
        videoServer_ = std::move(server);
        return true;
    }
    for (int i = 1; i <= kMediaPortTries && basePort_ + i <= 65535; ++i) {
        auto server = std::make_unique<ReceiverServer>(key, hwDecoder, reactor_, hub_, audioSinks, videoSinks);
        if (server->Listen(static_cast<uint16_t>(basePort_ + i))) {
            videoServer_ = std::move(server);
            return true;
        }
    }
    LOG_E("video server found no free port above %d", basePort_);
    return false;
}

uint16_t StreamServer::GetVideoPort() {
    if (p2pConnection_) return static_cast<uint16_t>(p2pConnection_->BindPort());
    return videoServer_ ? videoServer_->port() : 0;
}

bool StreamServer::OpenAudioReceiver(bool /*udp*/, uint16_t port, const std::string& key,
                                     const std::vector<StreamAudioSink*>& audioSinks) {
    if (!videoServer_) return false;
    if (audioServer_) return true;
    if (port != 0) {
        auto server = std::make_unique<AudioReceiverServer>(key, reactor_, hub_, audioSinks);
        if (!server->Listen(port)) {
            LOG_E("audio server cannot listen on port %d", port);
            return false;
        }
        audioServer_ = std::move(server);
        return true;
    }
    const int videoPort = videoServer_->port();
    for (int i = 1; i <= kMediaPortTries && videoPort + i <= 65535; ++i) {
        auto server = std::make_unique<AudioReceiverServer>(key, reactor_, hub_, audioSinks);
        if (server->Listen(static_cast<uint16_t>(videoPort + i))) {
            audioServer_ = std::move(server);
            return true;
        }
    }
    LOG_E("audio server found no free port above %d", videoPort);
    return false;
}

uint16_t StreamServer::GetAudioPort() { return audioServer_ ? audioServer_->port() : 0; }

bool StreamServer::IsCurrentConnection(uint64_t connection) {
    if (connection == 0) return true;  // not tagged
    return (commandServer_ && commandServer_->HeldConnectionId() == connection) ||
           (videoServer_ && videoServer_->HeldConnectionId() == connection) ||
           (audioServer_ && audioServer_->HeldConnectionId() == connection);
}

void StreamServer::Announce() {
    // Read again every round: an adapter that came up or changed its address
    // since the last round is announced at once.
    localAddresses_ = AnnounceableAddresses();
    Json::Value beacon(Json::objectValue);
    beacon["name"] = name;
    beacon["port"] = commandServer_ ? commandServer_->port() : 0;
    for (const std::string& address : localAddresses_) {
        beacon["ip"] = address;
        const std::string text = Json::FastWriter().write(beacon);
        AnnounceFrom(address, text);
    }
}

void StreamServer::timerEvent(QTimerEvent* event) {
    if (event->timerId() == beaconTimerId_) Announce();
    if (event->timerId() == watchTimerId_ && commandServer_) {
        commandServer_->ReviewWaitingClient(GetTimeNs());
        const char* const reason = commandServer_->OverdueReason(GetTimeNs());
        if (reason != nullptr) {
            LOG_W("command client on port %d %s; dropped", commandServer_->port(), reason);
            Close();
        }
    }
}
