#include "server/command_server.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "core/tether/tq_log.h"
#include "parser/command_frame.h"
#include "parser/command_frame_buffer.h"
#include "socket/async_socket.h"
#include "stream_manager.h"

namespace {
// A reply that finds the output queue full waits this long at most for the
// reactor to drain it; replies are small, so this only happens with a phone
// that stopped reading.
constexpr auto kSendRetryBudget = std::chrono::milliseconds(200);
constexpr auto kSendRetryPause = std::chrono::milliseconds(1);
}  // namespace

CommandServer::CommandServer(AsyncReactor* reactor, StreamManager* hub)
    : SingleConnectionServer(reactor, hub, AsyncConneciton::kDefaultReadBufferSize) {}

CommandServer::~CommandServer() {
    // Out of the reactor before the frame buffer goes.
    Shutdown();
}

bool CommandServer::SendCommand(const std::string& json) {
    const std::string frame = MakeCommandFrame(json);
    const char* next = frame.data();
    int left = static_cast<int>(frame.size());
    const auto deadline = std::chrono::steady_clock::now() + kSendRetryBudget;
    while (left > 0) {
        const int taken = Send(next, left);
        if (taken < 0) break;
        next += taken;
        left -= taken;
        if (left > 0) {
            if (std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(kSendRetryPause);
        }
    }
    if (left > 0) LOG_E("command reply not queued: %d of %d bytes left", left, static_cast<int>(frame.size()));
    return left == 0;
}

void CommandServer::OnAccept(std::unique_ptr<AsyncSocket> socket) {
    fprintf(stderr, "---------------cmd: connection come in\n");
    if (AdoptSocket(socket) && frameBuffer_) frameBuffer_->Clear();
    // A socket not taken (a connection is held) closes when it goes out of
    // scope; the hub is told either way and activates the held connection.
    NotifyHub(kStreamEventCommandConnected);
}

void CommandServer::OnRead(const char* data, int length) {
    if (length < 1) {
        fprintf(stderr, "---------------cmd: connection closed\n");
        StopPolling();
        NotifyHub(kStreamEventConnectionLost);
        return;
    }
    if (!frameBuffer_) frameBuffer_ = std::make_unique<CommandFrameBuffer>();
    std::vector<std::string> texts;
    if (!ParseCommandFrames(frameBuffer_.get(), data, length, &texts)) {
        StopPolling();
        NotifyHub(kStreamEventConnectionLost);
        return;
    }
    for (const std::string& text : texts) {
        fprintf(stderr, "---------------cmd read: %s\n", text.c_str());
        DeliverCommand(text);
    }
}

void CommandServer::DeliverCommand(const std::string& text) {
    if (hub_ != nullptr) hub_->HandleCommand(text, HeldConnectionId());
}
