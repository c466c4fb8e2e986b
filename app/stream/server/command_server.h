// CommandServer: the phone's command channel. Reads length-prefixed JSON
// frames from its one connection and hands each text, in arrival order, to
// the hub; queues the hub's replies as frames on the same connection.
//
// Threads: OnAccept and OnRead on the reactor thread (the frame buffer is
// used there only); SendCommand and the rest on the hub's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "server/single_connection_server.h"

class CommandFrameBuffer;

class CommandServer : public SingleConnectionServer {
public:
    CommandServer(AsyncReactor* reactor, StreamManager* hub);
    ~CommandServer() override;

    // A client that has not been greeted (its hello answered) this long
    // after it connected, or that leaves a frame unfinished this long, holds
    // the one slot for nothing: it is dropped.
    static constexpr uint64_t kHelloTimeoutNs = 5'000'000'000ull;
    static constexpr uint64_t kFrameStallTimeoutNs = 5'000'000'000ull;

    // Hub thread. Frames json and queues it, never waiting; false when the
    // held connection's output queue could not take the whole frame (a
    // client that does not read its replies). Without a live connection the
    // reply is dropped: there is no client to drop.
    bool SendCommand(const std::string& json);
    // Hub thread: the held connection's hello was answered.
    void MarkGreeted();
    // Hub thread: why the held connection should be dropped at time nowNs
    // (GetTimeNs), or null when it keeps its slot.
    const char* OverdueReason(uint64_t nowNs);

    void OnAccept(std::unique_ptr<AsyncSocket> socket) override;
    void OnRead(const char* data, int length) override;

protected:
    // A client that waited behind a dead connection is held now: its watch
    // starts and the hub is told, as for an accepted one.
    void OnWaitingAdopted(uint64_t id) override;
    // Reactor thread: one command text from the phone, in arrival order.
    // Hands it to the hub; tests replace it to see the texts.
    virtual void DeliverCommand(const std::string& text);

private:
    // Starts the hello and frame deadlines of the held connection id.
    void StartWatch(uint64_t id);

    std::unique_ptr<CommandFrameBuffer> frameBuffer_;  // reactor thread only
    uint64_t bufferOwnerId_ = 0;                       // the connection frameBuffer_ holds bytes of; reactor thread

    // Guards the watch of the held connection: the reactor thread starts it
    // at the accept and follows unfinished frames; the hub's thread marks the
    // greeting and checks the deadlines. A leaf lock.
    std::mutex watchMutex_;
    uint64_t watchedId_ = 0;        // the connection the fields below describe
    uint64_t openedAtNs_ = 0;
    uint64_t partialSinceNs_ = 0;   // 0: no frame unfinished
    bool greeted_ = false;
};
