// AsyncConneciton: a connected socket with a bounded output queue.
//
// Reading: while active (events include kAsyncEventRead) the reactor calls
// OnReadable, which reads chunks of at most the read buffer size and hands
// each, in order, to Observer::OnRead, until a read comes back short or finds
// nothing (EAGAIN is not an end), at most kMaxReadsPerEvent per event. The end of the connection (orderly close: 0,
// error: -1) is reported once; after that the connection wants no events.
//
// Writing: Send (any thread) copies bytes into the 40,960-byte output queue
// and wakes the reactor, which writes them out on its thread (OnWritable).
// Send never blocks and never writes to the socket itself.
//
// Activation: a new connection has events 0 and is not polled at all (neither
// read nor write), also while added to a reactor. SetEvents(kAsyncEventRead)
// activates it; SetEvents(0) gives it up.
//
// Threads and locks: OnReadable/OnWritable run on the reactor thread with the
// reactor's lock held, and take outputLock_ inside it (reactor lock first).
// Send, SetEvents and GetQueuedBytes may be called from any thread;
// FlushBlocking only after the connection has been removed from its reactor.
// The observer must not delete the connection from inside OnRead; it may call
// SetEvents(0), Send, or AsyncReactor::Remove on it, and delete it later.
//
// Wake-up: the reactor hands itself over in OnAttached; the pointer is kept
// under outputLock_ until OnDetached, so a Send that queues bytes can call
// AsyncReactor::Wake (which takes no lock) and the reply leaves at once
// instead of after the poll time-out.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/system/thread.h"
#include "socket/async_object.h"

class AsyncConneciton : public AsyncObject {
public:
    class Observer {
    public:
        virtual ~Observer() = default;
        // Reactor thread, reactor lock held. length > 0: data (valid only
        // during the call). length <= 0: the connection was closed by the
        // peer (0) or broke (-1, data may be null); reported once.
        virtual void OnRead(const char* data, int length) = 0;
    };

    static constexpr int kDefaultReadBufferSize = 4096;
    static constexpr int kOutputBufferSize = 40960;
    // Bounds the time one readable event spends on a fast sender.
    static constexpr int kMaxReadsPerEvent = 16;

    // socket is taken over, observer borrowed (may be null: data is dropped).
    AsyncConneciton(std::unique_ptr<AsyncSocket> socket, Observer* observer,
                    int readBufferSize = kDefaultReadBufferSize);
    ~AsyncConneciton() override;
    AsyncConneciton(const AsyncConneciton&) = delete;
    AsyncConneciton& operator=(const AsyncConneciton&) = delete;

    // Any thread. kAsyncEventRead activates the connection, 0 gives it up.
    // Takes effect at the reactor's next round (the reactor is woken).
    void SetEvents(int events);

    // Any thread. Copies as many bytes as fit into the output queue and
    // returns that count (all of them when they fit). Returns 0 when the
    // queue is full but the connection is active, so the reactor is draining
    // it: the caller may try again. Returns -1 when nothing can be taken and
    // nothing will drain the queue: the connection is inactive (events <= 0)
    // with a full queue, it broke, or it has no socket. Callers that loop
    // until everything is taken must stop on -1.
    int Send(const char* data, int length);

    // Only after the connection left its reactor (nothing else writes then):
    // writes what is still queued straight to the socket, waiting for it to
    // become writable for at most timeoutMs in total. True when the queue is
    // empty afterwards. Used right before closing, so that a last reply
    // reaches the peer.
    bool FlushBlocking(int timeoutMs);

    // Any thread: bytes queued and not yet written.
    uint64_t GetQueuedBytes() const;

    // -1 without socket.
    int GetFd() const override;
    // 0 without socket or after the end was reported; the events set by
    // SetEvents when they are 0 or less; otherwise those plus
    // kAsyncEventWrite while bytes are queued.
    int GetEvents() const override;
    void OnReadable() override;
    void OnWritable() override;
    void OnAttached(AsyncReactor* reactor) override;
    void OnDetached() override;

private:
    // Calls the observer with the end of the connection, once.
    void ReportEnd(const char* data, int result);

    const std::unique_ptr<AsyncSocket> socket_;  // owned
    Observer* const observer_;                   // borrowed
    std::atomic<int> events_{0};                 // set by the owner, read by the reactor
    std::atomic<bool> ended_{false};             // the end was reported to the observer
    std::atomic<bool> attached_{false};          // between OnAttached and OnDetached

    const int readBufferSize_;
    std::vector<char> readBuffer_;  // reactor thread only; allocated at the first read

    // Guards outputBuffer_, queuedBytes_ and reactor_.
    mutable mutex_t outputLock_;
    std::vector<char> outputBuffer_;  // allocated at the first Send; bytes [0, queuedBytes_) queued
    uint64_t queuedBytes_ = 0;
    AsyncReactor* reactor_ = nullptr;  // borrowed, set between OnAttached and OnDetached
};
