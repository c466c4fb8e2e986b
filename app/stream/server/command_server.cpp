#include "server/command_server.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "core/system/time.h"
#include "core/tether/tq_log.h"
#include "parser/command_frame.h"
#include "parser/command_frame_buffer.h"
#include "socket/async_socket.h"
#include "stream_manager.h"


CommandServer::CommandServer(AsyncReactor* reactor, StreamManager* hub)
    : SingleConnectionServer(reactor, hub, AsyncConneciton::kDefaultReadBufferSize,
                             /*newcomersWaitBehindDead=*/true) {}

CommandServer::~CommandServer() {
    // Out of the reactor before the frame buffer goes.
    Shutdown();
}

bool CommandServer::SendCommand(const std::string& json) {
    const std::string frame = MakeCommandFrame(json);
    // Nothing waits on the hub's thread: the output queue (40 KiB) holds
    // hundreds of replies, so one that does not fit means the client has
    // stopped reading, and the caller drops it.
    const int taken = Send(frame.data(), static_cast<int>(frame.size()));
    if (taken < 0) {
        LOG_W("command reply dropped: no command connection");
        return true;
    }
    const bool whole = taken == static_cast<int>(frame.size());
    if (!whole) LOG_E("command reply not queued: %d of %d bytes taken", taken, static_cast<int>(frame.size()));
    return whole;
}

void CommandServer::MarkGreeted() {
    const uint64_t held = HeldConnectionId();
    std::lock_guard<std::mutex> lock(watchMutex_);
    if (held != 0 && held == watchedId_) greeted_ = true;
}

const char* CommandServer::OverdueReason(const uint64_t nowNs) {
    const uint64_t held = HeldConnectionId();
    std::lock_guard<std::mutex> lock(watchMutex_);
    // A connection adopted a moment ago whose watch has not started yet is
    // not judged by the old one's.
    if (held == 0 || held != watchedId_) return nullptr;
    // nowNs may have been read right before the watch started (or a frame
    // began) on the reactor thread: such a time is not past any deadline.
    if (!greeted_ && nowNs >= openedAtNs_ && nowNs - openedAtNs_ >= kHelloTimeoutNs) return "sent no hello in time";
    if (partialSinceNs_ != 0 && nowNs >= partialSinceNs_ && nowNs - partialSinceNs_ >= kFrameStallTimeoutNs) {
        return "stalled in the middle of a frame";
    }
    return nullptr;
}

void CommandServer::OnAccept(std::unique_ptr<AsyncSocket> socket) {
    fprintf(stderr, "---------------cmd: connection come in\n");
    if (AdoptSocket(socket)) StartWatch(HeldConnectionId());
    // A socket neither taken nor left waiting (another client already waits)
    // closes when it goes out of scope. The hub is told either way and
    // activates the held connection: a dead one then reports its end, the
    // hub closes it and the waiting client is adopted; a live one keeps the
    // slot and the hub's watch turns the waiting client away after a grace.
    NotifyHub(kStreamEventCommandConnected);
}

void CommandServer::OnWaitingAdopted(const uint64_t id) {
    StartWatch(id);
    NotifyHub(kStreamEventCommandConnected);
}

void CommandServer::StartWatch(const uint64_t id) {
    std::lock_guard<std::mutex> lock(watchMutex_);
    watchedId_ = id;
    openedAtNs_ = GetTimeNs();
    partialSinceNs_ = 0;
    greeted_ = false;
}

void CommandServer::OnRead(const char* data, int length) {
    if (length < 1) {
        fprintf(stderr, "---------------cmd: connection closed\n");
        StopPolling();
        NotifyHub(kStreamEventConnectionLost);
        return;
    }
    if (!frameBuffer_) frameBuffer_ = std::make_unique<CommandFrameBuffer>();
    // A new connection starts with an empty buffer: nothing of the previous
    // one's unfinished frame is taken for the start of its own.
    const uint64_t held = HeldConnectionId();
    if (held != bufferOwnerId_) {
        frameBuffer_->Clear();
        bufferOwnerId_ = held;
    }
    std::vector<std::string> texts;
    if (!ParseCommandFrames(frameBuffer_.get(), data, length, &texts)) {
        StopPolling();
        NotifyHub(kStreamEventConnectionLost);
        return;
    }
    {
        // A frame must arrive whole soon after it began, however slowly its
        // bytes trickle in.
        std::lock_guard<std::mutex> lock(watchMutex_);
        if (frameBuffer_->held() == 0) {
            partialSinceNs_ = 0;
        } else if (partialSinceNs_ == 0 || !texts.empty()) {
            partialSinceNs_ = GetTimeNs();
        }
    }
    for (const std::string& text : texts) {
        fprintf(stderr, "---------------cmd read: %s\n", text.c_str());
        DeliverCommand(text);
    }
}

void CommandServer::DeliverCommand(const std::string& text) {
    if (hub_ != nullptr) hub_->HandleCommand(text, HeldConnectionId());
}
