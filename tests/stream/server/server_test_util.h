// Helpers for the connection server tests: a plain blocking loopback client
// (independent of the socket layer under test), wire-format builders, a
// recording decoder and audio sink, and server subclasses that record what
// they would report to the hub.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <json/json.h>

#include "audio_sink/stream_audio_sink.h"
#include "server/audio_receiver_server.h"
#include "server/command_server.h"
#include "server/receiver_server.h"
#include "video_sink/stream_video_sink.h"

class StreamManager;

namespace servertest {

using std::chrono::milliseconds;

// Generous: only a fault makes a test wait this long.
constexpr milliseconds kWait{5000};

// Runs the Qt event loop of this thread (queued signals, timers) and polls
// predicate every millisecond until it holds or the time runs out.
bool WaitUntil(const std::function<bool()>& predicate, milliseconds timeout = kWait);
// Runs the event loop for a while, to see that nothing (more) happens.
void Settle(milliseconds duration);

// A blocking TCP client of 127.0.0.1:port.
class TestClient {
public:
    // connectTimeout: gives up a connection attempt that the server's full
    // backlog leaves hanging (the kernel would retry its SYN only after 1 s).
    explicit TestClient(uint16_t port, milliseconds connectTimeout = kWait);
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    bool SendAll(const std::string& bytes);
    // Exactly size bytes, or fewer when the time runs out or the peer closes.
    std::string Read(size_t size, milliseconds timeout = kWait);
    // One command frame's text; nullopt on time-out or close.
    std::optional<std::string> ReadFrame(milliseconds timeout = kWait);
    // True when the server closed the connection (end of file or reset)
    // within the time; bytes that arrive first are discarded.
    bool WaitForClose(milliseconds timeout = kWait);
    // True when nothing at all arrives (no data, no close) within the time.
    bool StaysSilent(milliseconds duration);
    void Close();

private:
    int fd_ = -1;
};

// Connects once the port listens (a server that is still starting refuses).
std::unique_ptr<TestClient> ConnectWhenListening(uint16_t port, milliseconds timeout = kWait);

// Holds a TCP port (bound and listening) so that servers cannot take it.
class PortBlocker {
public:
    explicit PortBlocker(uint16_t port);
    ~PortBlocker();
    PortBlocker(const PortBlocker&) = delete;
    PortBlocker& operator=(const PortBlocker&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Whether a TCP port can be bound on 0.0.0.0 right now.
bool PortIsFree(uint16_t port);
// A random base port below the ephemeral range such that base .. base+span-1
// (span at most 8) are free at the time of the call and reserved for this
// process among the test programs that use this function; 0 when none found.
uint16_t FindFreePortRange(int span);

// A JSON text as jsoncpp reads it; a null value when it is not JSON.
Json::Value ParseJson(const std::string& text);

// The wire format, built independently of the parser.
std::string CommandFrame(const std::string& json);
std::string KeyPacket(const std::string& key);
std::string VideoPacket(const std::string& payload, uint32_t keyFrame = 0);
std::string AudioPacket(const std::string& pcm, uint32_t sampleRate, uint32_t channels, uint32_t bits = 16);

// What the decoders made by the recording factory were given; shared by all
// of them and outliving them.
struct DecoderLog {
    // Guards pushes and decodersMade.
    mutable std::mutex mutex;
    std::vector<std::string> pushes;  // "<null>" for a null packet, else the video payload
    std::vector<bool> keyFrames;      // the key-frame flag of each push (false for a null packet)
    std::vector<std::string> hardwareNames;  // the hardware decoder name each decoder was made with
    int decodersMade = 0;
    // A decoder's destructor sets it and then lingers (as a real decoder does
    // while it joins its thread): nothing may feed anyone during that time.
    std::atomic<bool> decoderGone{false};
    std::atomic<int> pushesAfterGone{0};
    int destroyDelayMs = 0;

    std::vector<std::string> Pushes() const;
    std::vector<bool> KeyFrames() const;
    std::vector<std::string> HardwareNames() const;
    size_t PushCount() const;
    // Waits (polling) until at least n pushes arrived.
    bool WaitPushes(size_t n, int timeoutMs) const;
};
inline const char* const kNullPush = "<null>";

// Installs the recording decoder factory for its lifetime.
class ScopedRecordingDecoders {
public:
    ScopedRecordingDecoders();
    ~ScopedRecordingDecoders();
    ScopedRecordingDecoders(const ScopedRecordingDecoders&) = delete;
    ScopedRecordingDecoders& operator=(const ScopedRecordingDecoders&) = delete;
    DecoderLog& log() { return *log_; }

private:
    std::shared_ptr<DecoderLog> log_;
};

struct AudioCall {
    std::string pcm;
    int samplesPerChannel;
    int sampleRate;
    int channels;
};

class RecordingAudioSink : public StreamAudioSink {
public:
    // decoders: when given, calls that arrive while a decoder is being
    // destroyed are counted as faults.
    explicit RecordingAudioSink(DecoderLog* decoders = nullptr) : decoders_(decoders) {}
    void OnAudio(const uint8_t* pcm, int samplesPerChannel, int sampleRate, int channels) override;
    std::vector<AudioCall> Calls() const;
    size_t CallCount() const;
    // Waits (polling) until at least n calls arrived.
    bool WaitCalls(size_t n, int timeoutMs) const;
    int callsAfterDecoderGone() const { return callsAfterDecoderGone_.load(); }

private:
    DecoderLog* const decoders_;
    std::atomic<int> callsAfterDecoderGone_{0};
    // Guards calls_.
    mutable std::mutex mutex_;
    std::vector<AudioCall> calls_;
};

// A video sink that only exists so that media servers make a decoder; it
// counts the pictures pushed to it (any thread).
class NullVideoSink : public StreamVideoSink {
public:
    void Push(AVFrame*) override { pushes_.fetch_add(1); }
    void ShowBlack() override {}
    void SetFrame(AVFrame*) override {}
    int pushes() const { return pushes_.load(); }

private:
    std::atomic<int> pushes_{0};
};

// What a server reported to the hub and which command texts it read.
class HubLog {
public:
    void AddEvent(int event);
    void AddText(const std::string& text);
    std::vector<int> Events() const;
    std::vector<std::string> Texts() const;
    int EventCount(int event) const;

private:
    // Guards events_ and texts_.
    mutable std::mutex mutex_;
    std::vector<int> events_;
    std::vector<std::string> texts_;
};

// A server whose hub reports go to a HubLog instead (the hub stays the real
// one for everything else). The most derived class leaves the reactor first.
template <class Server>
class Watched : public Server {
public:
    template <class... Args>
    explicit Watched(HubLog* log, Args&&... args) : Server(std::forward<Args>(args)...), log_(log) {}
    ~Watched() override { this->Shutdown(); }

    // Tests may watch the chunk sizes a read delivers.
    void OnRead(const char* data, int length) override {
        if (length > maxRead_.load()) maxRead_.store(length);
        Server::OnRead(data, length);
    }
    int maxRead() const { return maxRead_.load(); }

protected:
    void NotifyHub(int event) override { log_->AddEvent(event); }

private:
    HubLog* const log_;
    std::atomic<int> maxRead_{0};
};

class WatchedCommandServer : public Watched<CommandServer> {
public:
    WatchedCommandServer(HubLog* log, AsyncReactor* reactor, StreamManager* hub)
        : Watched<CommandServer>(log, reactor, hub), texts_(log) {}
    // Most derived: out of the reactor before this class's part (and its
    // DeliverCommand) goes, so a read in flight never sees the vtable change.
    ~WatchedCommandServer() override { Shutdown(); }

protected:
    void DeliverCommand(const std::string& text) override { texts_->AddText(text); }

private:
    HubLog* const texts_;
};

// A hub with no sinks (or the given video sinks) and no recorder cache.
std::unique_ptr<StreamManager> MakeHub(const std::vector<StreamVideoSink*>& videoSinks = {});

// Listens on a port the kernel picks; false when even that fails.
bool ListenAnywhere(SingleConnectionServer* server);

}  // namespace servertest
