#include "server_test_util.h"

#include <QCoreApplication>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <thread>

#include "decode/stream_video_decoder.h"
#include "parser/stream_video_packet.h"
#include "stream_manager.h"

namespace servertest {

namespace {

using Clock = std::chrono::steady_clock;

std::string BigEndian32(uint32_t value) {
    std::string bytes(4, '\0');
    bytes[0] = static_cast<char>(value >> 24);
    bytes[1] = static_cast<char>(value >> 16);
    bytes[2] = static_cast<char>(value >> 8);
    bytes[3] = static_cast<char>(value);
    return bytes;
}

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until fd is readable (data, end of file or error); false on time-out.
bool WaitReadable(int fd, Clock::time_point deadline) {
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        const int ready = poll(&readable, 1, RemainingMs(deadline));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

class RecordingDecoder : public StreamVideoDecoder {
public:
    explicit RecordingDecoder(std::shared_ptr<DecoderLog> log) : log_(std::move(log)) {}
    ~RecordingDecoder() override {
        log_->decoderGone.store(true);
        if (log_->destroyDelayMs > 0) std::this_thread::sleep_for(milliseconds(log_->destroyDelayMs));
    }

    void PushPacket(std::unique_ptr<StreamPacket> packet) override {
        if (log_->decoderGone.load()) log_->pushesAfterGone.fetch_add(1);
        std::string entry = kNullPush;
        bool keyFrame = false;
        if (packet) {
            const auto& video = dynamic_cast<const StreamVideoPacket&>(*packet);
            entry.assign(reinterpret_cast<const char*>(video.data()), video.size());
            keyFrame = video.isKeyFrame();
        }
        std::lock_guard<std::mutex> lock(log_->mutex);
        log_->keyFrames.push_back(keyFrame);
        log_->pushes.push_back(std::move(entry));
    }

private:
    const std::shared_ptr<DecoderLog> log_;
};

}  // namespace

bool WaitUntil(const std::function<bool()>& predicate, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (predicate()) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
}

void Settle(milliseconds duration) {
    WaitUntil([] { return false; }, duration);
}

TestClient::TestClient(uint16_t port, milliseconds connectTimeout) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool connected = connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    if (!connected && errno == EINPROGRESS) {
        pollfd writable{fd_, POLLOUT, 0};
        int error = 0;
        socklen_t errorSize = sizeof(error);
        connected = poll(&writable, 1, static_cast<int>(connectTimeout.count())) == 1 &&
                    getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &errorSize) == 0 && error == 0;
    }
    // Blocking from here on: the helpers wait with poll where they must.
    if (!connected || fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL, 0) & ~O_NONBLOCK) != 0) Close();
}

TestClient::~TestClient() { Close(); }

void TestClient::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool TestClient::SendAll(const std::string& bytes) {
    size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        const ssize_t result = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (result < 0 && errno == EINTR) continue;
        if (result <= 0) return false;
        sent += static_cast<size_t>(result);
    }
    return fd_ >= 0;
}

std::string TestClient::Read(size_t size, milliseconds timeout) {
    std::string data;
    const auto deadline = Clock::now() + timeout;
    while (fd_ >= 0 && data.size() < size && WaitReadable(fd_, deadline)) {
        char buffer[4096];
        const size_t want = std::min(sizeof(buffer), size - data.size());
        const ssize_t result = recv(fd_, buffer, want, 0);
        if (result < 0 && errno == EINTR) continue;
        if (result <= 0) break;
        data.append(buffer, static_cast<size_t>(result));
    }
    return data;
}

std::optional<std::string> TestClient::ReadFrame(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const std::string header = Read(4, timeout);
    if (header.size() != 4) return std::nullopt;
    const auto* bytes = reinterpret_cast<const uint8_t*>(header.data());
    const size_t length = (size_t{bytes[0]} << 24) | (size_t{bytes[1]} << 16) | (size_t{bytes[2]} << 8) | bytes[3];
    std::string text = Read(length, milliseconds(RemainingMs(deadline)));
    if (text.size() != length) return std::nullopt;
    return text;
}

bool TestClient::WaitForClose(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (fd_ >= 0 && WaitReadable(fd_, deadline)) {
        char buffer[4096];
        const ssize_t result = recv(fd_, buffer, sizeof(buffer), 0);
        if (result < 0 && errno == EINTR) continue;
        if (result <= 0) return true;  // end of file or reset
    }
    return false;
}

bool TestClient::StaysSilent(milliseconds duration) {
    if (fd_ < 0) return false;
    return !WaitReadable(fd_, Clock::now() + duration);
}

std::unique_ptr<TestClient> ConnectWhenListening(uint16_t port, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        auto client = std::make_unique<TestClient>(port);
        if (client->connected() || Clock::now() >= deadline) return client;
        std::this_thread::sleep_for(milliseconds(10));
    }
}

Json::Value ParseJson(const std::string& text) {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) return Json::Value();
    return root;
}

PortBlocker::PortBlocker(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    // SO_REUSEADDR as the servers set it, so that a closed connection's
    // TIME_WAIT does not count as taken; listening, so that a server's bind
    // with SO_REUSEADDR still fails on it.
    const int one = 1;
    if (setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) != 0 ||
        bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 || listen(fd_, 1) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

PortBlocker::~PortBlocker() {
    if (fd_ < 0) return;
    // Frees the port now even if some thread's poll still holds the socket
    // (a poll set built before this descriptor number was reused).
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
}

bool PortIsFree(uint16_t port) { return PortBlocker(port).held(); }

uint16_t FindFreePortRange(int span) {
    // Slots of kSlotSize ports below Linux's ephemeral range (so that client
    // ports never collide). A slot is reserved for this process's lifetime
    // by a lock on a file of its own, so that test programs running side by
    // side never probe into each other's ports; the lock goes with the
    // process, also when it crashes.
    constexpr int kFirstPort = 20000;
    constexpr int kSlotSize = 8;
    constexpr int kSlots = (32000 - kFirstPort) / kSlotSize;
    if (span > kSlotSize) return 0;
    static std::mutex reservedMutex;  // guards the slots this process holds
    std::lock_guard<std::mutex> lock(reservedMutex);
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> pick(0, kSlots - 1);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int slot = pick(random);
        const std::string path = "/tmp/zucam-server-test-port-" + std::to_string(slot) + ".lock";
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) continue;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            continue;
        }
        const int base = kFirstPort + slot * kSlotSize;
        bool free = true;
        for (int i = 0; i < span && free; ++i) free = PortIsFree(static_cast<uint16_t>(base + i));
        if (!free) {
            close(fd);
            continue;
        }
        // Kept open (and locked) until the process ends.
        return static_cast<uint16_t>(base);
    }
    return 0;
}

std::string CommandFrame(const std::string& json) {
    return BigEndian32(static_cast<uint32_t>(json.size())) + json;
}

std::string KeyPacket(const std::string& key) {
    return BigEndian32(0) + BigEndian32(0) + BigEndian32(static_cast<uint32_t>(key.size())) + key;
}

std::string VideoPacket(const std::string& payload, uint32_t keyFrame) {
    return BigEndian32(1) + BigEndian32(8) + BigEndian32(1) + BigEndian32(keyFrame) +
           BigEndian32(static_cast<uint32_t>(payload.size())) + payload;
}

std::string AudioPacket(const std::string& pcm, uint32_t sampleRate, uint32_t channels, uint32_t bits) {
    return BigEndian32(2) + BigEndian32(16) + BigEndian32(2) + BigEndian32(sampleRate) + BigEndian32(channels) +
           BigEndian32(bits) + BigEndian32(static_cast<uint32_t>(pcm.size())) + pcm;
}

std::vector<std::string> DecoderLog::Pushes() const {
    std::lock_guard<std::mutex> lock(mutex);
    return pushes;
}

std::vector<bool> DecoderLog::KeyFrames() const {
    std::lock_guard<std::mutex> lock(mutex);
    return keyFrames;
}

std::vector<std::string> DecoderLog::HardwareNames() const {
    std::lock_guard<std::mutex> lock(mutex);
    return hardwareNames;
}

bool DecoderLog::WaitPushes(size_t n, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(timeoutMs);
    while (PushCount() < n) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

size_t DecoderLog::PushCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return pushes.size();
}

ScopedRecordingDecoders::ScopedRecordingDecoders() : log_(std::make_shared<DecoderLog>()) {
    std::shared_ptr<DecoderLog> log = log_;
    SetStreamVideoDecoderFactoryForTesting(
        [log](const std::string& hwDecoder, StreamManager*,
              const std::vector<StreamVideoSink*>&) -> std::unique_ptr<StreamVideoDecoder> {
            {
                std::lock_guard<std::mutex> lock(log->mutex);
                ++log->decodersMade;
                log->hardwareNames.push_back(hwDecoder);
            }
            return std::make_unique<RecordingDecoder>(log);
        });
}

ScopedRecordingDecoders::~ScopedRecordingDecoders() { SetStreamVideoDecoderFactoryForTesting({}); }

void RecordingAudioSink::OnAudio(const uint8_t* pcm, int samplesPerChannel, int sampleRate, int channels) {
    if (decoders_ != nullptr && decoders_->decoderGone.load()) callsAfterDecoderGone_.fetch_add(1);
    const size_t bytes = static_cast<size_t>(samplesPerChannel) * static_cast<size_t>(channels) * 2;
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(AudioCall{std::string(reinterpret_cast<const char*>(pcm), bytes), samplesPerChannel,
                               sampleRate, channels});
}

bool RecordingAudioSink::WaitCalls(size_t n, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(timeoutMs);
    while (CallCount() < n) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

std::vector<AudioCall> RecordingAudioSink::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

size_t RecordingAudioSink::CallCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_.size();
}

void HubLog::AddEvent(int event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
}

void HubLog::AddText(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_.push_back(text);
}

std::vector<int> HubLog::Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<std::string> HubLog::Texts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
}

int HubLog::EventCount(int event) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int count = 0;
    for (const int seen : events_) count += seen == event ? 1 : 0;
    return count;
}

std::unique_ptr<StreamManager> MakeHub(const std::vector<StreamVideoSink*>& videoSinks) {
    return std::make_unique<StreamManager>(std::vector<StreamAudioSink*>{}, videoSinks, nullptr);
}

bool ListenAnywhere(SingleConnectionServer* server) { return server->Listen(0) && server->port() != 0; }

}  // namespace servertest
