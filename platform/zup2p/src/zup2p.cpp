#include "zup2p/zup2p.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include "reassembler.h"

namespace zu {
namespace {

constexpr uint32_t kMagic = 0x5A503250;  // "ZP2P"
constexpr size_t kHeaderSize = 12;
constexpr size_t kMaxDatagram = 65535;
// Senders heard before the peer is known, and what each may have held.
constexpr size_t kMaxCandidates = 4;
constexpr uint64_t kProbationBytes = 4ull * 1024 * 1024;
// Senders whose message the listener refused are not heard again (the
// oldest is forgotten first).
constexpr size_t kMaxRefusedSenders = 16;
// The receive buffer asked for: room for bursts of fragments while the
// thread delivers (the forced size needs privilege; else the system's cap).
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

uint32_t ReadU32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
uint16_t ReadU16(const unsigned char* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

int PortFromEnvironment() {
    const char* text = std::getenv(Zup2p::kPortEnvironment);
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    const long port = std::strtol(text, &end, 10);
    return (*end == '\0' && port > 0 && port <= 65535) ? static_cast<int>(port) : -1;
}

}  // namespace

// The socket, the receive thread and the reassembly state. Everything but
// the thread handle and stop flag is used on the receive thread only once
// it runs.
class Zup2p::Receiver {
public:
    ~Receiver() { Stop(); }

    bool Start(DataListener* listener, int port, unsigned int pollIntervalMs) {
        listener_ = listener;
        pollIntervalMs_ = pollIntervalMs == 0 ? 100 : static_cast<int>(pollIntervalMs);
        if (port == 0) port = PortFromEnvironment();
        if (port < 0 || port > 65535 || listener == nullptr) return false;
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (fd_ < 0 || wakeFd_ < 0) return Fail();
        if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBufferBytes, sizeof(kReceiveBufferBytes)) != 0) {
            (void)setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof(kReceiveBufferBytes));
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(static_cast<uint16_t>(port));
        if (bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) return Fail();
        socklen_t length = sizeof(address);
        if (getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return Fail();
        port_.store(ntohs(address.sin_port));
        try {
            thread_ = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
            return Fail();
        }
        return true;
    }

    void Stop() {
        stop_.store(true);
        if (wakeFd_ >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof(one));
        }
        if (thread_.joinable()) thread_.join();
        Close();
    }

    int port() const { return port_.load(); }

private:
    bool Fail() {
        Close();
        return false;
    }

    void Close() {
        if (fd_ >= 0) close(fd_);
        if (wakeFd_ >= 0) close(wakeFd_);
        fd_ = -1;
        wakeFd_ = -1;
        port_.store(0);
    }

    void Run() {
        listener_->onStarted(port_.load());
        std::vector<unsigned char> datagram(kMaxDatagram);
        const Reassembler::Deliver deliver = [this](uint32_t number, const std::string& bytes) {
            listener_->onData(peerId_, static_cast<int>(number), bytes.data(),
                              static_cast<int>(bytes.size()));
        };
        while (!stop_.load()) {
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
            const int ready = poll(fds, 2, pollIntervalMs_);
            if (stop_.load()) break;
            if (ready <= 0) continue;
            // Drain what is there now, bounded so that a flood cannot keep
            // this loop from seeing the stop flag.
            for (int i = 0; i < 4096 && !stop_.load(); ++i) {
                sockaddr_in source{};
                socklen_t sourceLength = sizeof(source);
                const ssize_t received = recvfrom(fd_, datagram.data(), datagram.size(), 0,
                                                  reinterpret_cast<sockaddr*>(&source), &sourceLength);
                if (received < 0) break;  // EAGAIN: drained (or an error reported by the kernel)
                Take(source, datagram.data(), static_cast<size_t>(received), deliver);
            }
            Report();
        }
    }

    static bool SameSource(const sockaddr_in& a, const sockaddr_in& b) {
        return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
    }

    void Take(const sockaddr_in& source, const unsigned char* bytes, size_t length,
              const Reassembler::Deliver& deliver) {
        if (length <= kHeaderSize || ReadU32(bytes) != kMagic) {
            ++refused_;
            return;
        }
        const uint32_t number = ReadU32(bytes + 4);
        const uint16_t index = ReadU16(bytes + 8);
        const uint16_t count = ReadU16(bytes + 10);
        const char* fragment = reinterpret_cast<const char*>(bytes + kHeaderSize);
        const size_t fragmentLength = length - kHeaderSize;
        if (havePeer_) {
            // Only what was queued before the socket was tied to the peer
            // can come from anyone else.
            if (!SameSource(source, peer_)) {
                ++refused_;
                return;
            }
            if (reassembler_->Add(number, index, count, fragment, fragmentLength, deliver) ==
                Reassembler::Outcome::Refused) {
                ++refused_;
            }
            return;
        }
        // No peer yet: every sender is on probation with a small reassembly
        // of its own until its first complete message is accepted. Nothing
        // is allocated for a fragment that could never be taken.
        if (!Reassembler::Plausible(index, count, fragmentLength)) {
            ++refused_;
            return;
        }
        if (std::any_of(refusedSenders_.begin(), refusedSenders_.end(),
                        [&](const sockaddr_in& refused) { return SameSource(refused, source); })) {
            ++refused_;
            return;
        }
        auto candidate = std::find_if(candidates_.begin(), candidates_.end(),
                                      [&](const Candidate& c) { return SameSource(c.source, source); });
        if (candidate == candidates_.end()) {
            if (candidates_.size() >= kMaxCandidates) candidates_.erase(candidates_.begin());  // the oldest
            candidates_.push_back(Candidate{source, std::make_unique<Reassembler>(kProbationBytes)});
            candidate = candidates_.end() - 1;
        }
        bool senderRefused = false;
        const Reassembler::Outcome outcome = candidate->reassembler->Add(
            number, index, count, fragment, fragmentLength, [&](uint32_t messageNumber, const std::string& message) {
                if (senderRefused) return;
                if (!havePeer_) {
                    if (!listener_->acceptPeer(message.data(), static_cast<int>(message.size()))) {
                        senderRefused = true;
                        return;
                    }
                    BecomePeer(source);
                }
                deliver(messageNumber, message);
            });
        if (outcome == Reassembler::Outcome::Refused) ++refused_;
        if (havePeer_) {
            reassembler_ = std::move(candidate->reassembler);
            reassembler_->LiftPendingLimit();
            candidates_.clear();
        } else if (senderRefused) {
            ++refused_;
            candidates_.erase(candidate);
            if (refusedSenders_.size() >= kMaxRefusedSenders) refusedSenders_.erase(refusedSenders_.begin());
            refusedSenders_.push_back(source);
        }
    }

    void BecomePeer(const sockaddr_in& source) {
        havePeer_ = true;
        peer_ = source;
        // From now on the kernel drops every other sender's datagrams before
        // they take room in the receive buffer.
        (void)connect(fd_, reinterpret_cast<const sockaddr*>(&source), sizeof(source));
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &source.sin_addr, text, sizeof(text));
        listener_->onPeer(text, ntohs(source.sin_port));
    }

    void Report() {
        const int lost = reassembler_ ? reassembler_->TakeLostCount() : 0;
        if (lost > 0) listener_->onLost(lost);
        if (refused_ > 0) listener_->onRefused(refused_);
        refused_ = 0;
    }

    DataListener* listener_ = nullptr;
    int pollIntervalMs_ = 100;
    int fd_ = -1;
    int wakeFd_ = -1;  // eventfd that Stop signals
    std::atomic<int> port_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;

    // Receive thread only.
    struct Candidate {
        sockaddr_in source;
        std::unique_ptr<Reassembler> reassembler;
    };
    std::vector<Candidate> candidates_;  // senders on probation, oldest first
    std::vector<sockaddr_in> refusedSenders_;  // whose message the listener refused, oldest first
    std::unique_ptr<Reassembler> reassembler_;  // the peer's, once there is one
    bool havePeer_ = false;
    sockaddr_in peer_{};
    const int peerId_ = 1;
    int refused_ = 0;
};

Zup2p::Zup2p() = default;

Zup2p::~Zup2p() { uninit(); }

bool Zup2p::init(DataListener* listener, int port, unsigned int pollIntervalMs) {
    if (receiver_) return false;
    auto receiver = std::make_unique<Receiver>();
    if (!receiver->Start(listener, port, pollIntervalMs)) return false;
    receiver_ = std::move(receiver);
    return true;
}

int Zup2p::bindPort() const { return receiver_ ? receiver_->port() : 0; }

void Zup2p::uninit() { receiver_.reset(); }

}  // namespace zu
