// Helpers for the socket layer tests: loopback peers driven with plain
// blocking POSIX calls (independent of the code under test), an observer that
// records what a connection delivers, and a polled probe object.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "socket/async_conneciton.h"
#include "socket/async_object.h"

class AsyncReactor;

namespace sockettest {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Owns a descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd();
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    int get() const { return fd_; }
    int release();
    void reset();

private:
    int fd_ = -1;
};

// A blocking client connected to 127.0.0.1:port (invalid Fd on failure).
// receiveBuffer > 0 sets SO_RCVBUF before connecting.
Fd ConnectLoopback(uint16_t port, int receiveBuffer = 0);

// A connected TCP pair: local is the accepted end wrapped for the code under
// test, peer the plain blocking client.
struct TcpPair {
    std::unique_ptr<AsyncSocket> local;
    Fd peer;
};
// peerReceiveBuffer / localSendBuffer > 0 shrink the kernel buffers, so that
// the sender meets a full socket soon.
TcpPair MakeTcpPair(int peerReceiveBuffer = 0, int localSendBuffer = 0);

// An AF_UNIX stream socketpair (non-blocking both ends), for probe objects.
struct UnixPair {
    Fd a;
    Fd b;
};
UnixPair MakeUnixPair();

// Plain blocking I/O on the peer side.
bool WriteAll(int fd, const std::string& data);
// Reads exactly size bytes, or less when the time runs out or the peer closes.
std::string ReadExactly(int fd, size_t size, milliseconds timeout);
// Reads until end of file; false when the time ran out first.
bool ReadUntilEof(int fd, std::string* data, milliseconds timeout);
// Waits until fd is readable.
bool WaitReadable(int fd, milliseconds timeout);
// Closes fd with an RST instead of a FIN.
void ResetConnection(Fd* fd);

// Deterministic test bytes: byte i of a stream with the given seed.
std::string Pattern(size_t size, uint32_t seed, size_t offset = 0);

// Polls predicate every millisecond until it holds or the time runs out.
bool WaitUntil(const std::function<bool()>& predicate, milliseconds timeout);

// Records what an AsyncConneciton delivers; any thread may wait on it.
class RecordingObserver : public AsyncConneciton::Observer {
public:
    void OnRead(const char* data, int length) override;

    bool WaitForBytes(size_t size, milliseconds timeout);
    bool WaitForEnd(milliseconds timeout);
    std::string Data() const;
    std::vector<int> Ends() const;
    std::vector<int> ChunkSizes() const;

    // Called (on the reactor thread) after each delivery is recorded.
    std::function<void(int length)> afterRead;

private:
    // Guards data_, chunks_ and ends_.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string data_;
    std::vector<int> chunks_;
    std::vector<int> ends_;
};

// What a probe saw; outlives the probe, so a deleted probe can still be judged.
struct ProbeLog {
    std::atomic<int> reads{0};
    std::atomic<int> writes{0};
    std::atomic<int> getEventsCalls{0};
    // Set by the test right after Remove returned; any callback afterwards is
    // a fault.
    std::atomic<bool> removed{false};
    std::atomic<int> callsAfterRemoval{0};
};

// A polled object over a borrowed descriptor that records its callbacks.
// By default it consumes nothing, so a readable descriptor stays readable
// and the probe is called every round.
class ProbeObject : public AsyncObject {
public:
    ProbeObject(int fd, int events, ProbeLog* log) : fd_(fd), events_(events), log_(log) {}

    int GetFd() const override { return fd_; }
    int GetEvents() const override;
    void OnReadable() override;
    void OnWritable() override;

    void SetEvents(int events) { events_.store(events); }
    // When set, OnReadable reads everything pending, so that the descriptor
    // is readable again only when new bytes come.
    void SetConsume(bool consume) { consume_.store(consume); }

    // Once armed, the next OnReadable (not OnWritable: the same round's
    // OnWritable is what must be skipped) removes this probe from reactor (and
    // deletes it when deleteAfterRemove) and marks the log removed.
    void ArmSelfRemoval(AsyncReactor* reactor, bool deleteAfterRemove);
    // Once armed, the next callback removes victim (and deletes it when
    // deleteAfterRemove) and marks victimLog removed.
    void ArmVictimRemoval(AsyncReactor* reactor, ProbeObject* victim, ProbeLog* victimLog, bool deleteAfterRemove);

private:
    void Record(std::atomic<int>* counter);
    // True when this probe was deleted by the call.
    bool RunArmedRemoval();

    const int fd_;
    std::atomic<int> events_;
    ProbeLog* const log_;
    // Armed removal, set by the test thread before arming.
    AsyncReactor* reactor_ = nullptr;
    ProbeObject* victim_ = nullptr;
    ProbeLog* victimLog_ = nullptr;
    bool deleteAfterRemove_ = false;
    std::atomic<bool> armed_{false};
    std::atomic<bool> consume_{false};
};

}  // namespace sockettest
