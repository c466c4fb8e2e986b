#include "server/single_connection_server.h"

#include <poll.h>
#include <sys/socket.h>

#include <atomic>

#include "core/system/time.h"
#include "core/tether/tq_log.h"
#include "socket/async_reactor.h"
#include "socket/async_socket.h"
#include "stream_manager.h"

namespace {
// Ids of adopted connections, process-wide so that no two servers share one.
std::atomic<uint64_t> s_nextConnectionId{1};

// How long a closing connection may take to write out what is still queued
// (a reply the phone waits for, such as the answer to its disconnect).
constexpr int kCloseFlushTimeoutMs = 0;  // what the socket takes at once: nothing waits on the hub's thread

// Whether the peer of a connected socket has closed or reset it already (an
// end of file, a reset or an error is pending), without reading anything.
// A peer that only stopped writing (a half close) counts as gone too: the
// connection would end at its end of file anyway.
bool PeerIsGone(int fd) {
    if (fd < 0) return true;
    pollfd state{fd, static_cast<short>(POLLIN | POLLRDHUP), 0};
    if (poll(&state, 1, 0) <= 0) return false;
    return (state.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}
}  // namespace

SingleConnectionServer::SingleConnectionServer(AsyncReactor* reactor, StreamManager* hub, int readBufferSize,
                                               bool newcomersWaitBehindDead)
    : reactor_(reactor), hub_(hub), readBufferSize_(readBufferSize), newcomersWaitBehindDead_(newcomersWaitBehindDead) {}

SingleConnectionServer::~SingleConnectionServer() { Shutdown(); }

void SingleConnectionServer::Shutdown() {
    CloseAcceptor();
    AsyncConneciton* connection = nullptr;
    {
        std::lock_guard<std::mutex> lock(connectionMutex_);
        connection = connection_.get();
    }
    // Remove ignores an object that was never added (a pending connection).
    if (connection != nullptr) reactor_->Remove(connection);
    // Out of the reactor now: nothing calls the connection any more.
    std::unique_ptr<AsyncConneciton> closing;
    {
        std::lock_guard<std::mutex> lock(connectionMutex_);
        closing = std::move(connection_);
        connectionId_ = 0;
        waiting_.reset();
    }
}

void SingleConnectionServer::CloseAcceptor() {
    if (!acceptor_) return;
    reactor_->Remove(acceptor_.get());
    // A poll still in flight on the reactor thread holds the descriptor until
    // it returns, and with it the port: a new listener on the same port (a
    // restarted transport) would fail. Shutting the listener down frees the
    // port at once.
    shutdown(acceptor_->GetFd(), SHUT_RDWR);
    acceptor_.reset();
}

bool SingleConnectionServer::Listen(uint16_t port) {
    CloseAcceptor();
    auto acceptor = std::make_unique<AsyncAcceptor>(this);
    if (!acceptor->Bind("0.0.0.0", port) || !acceptor->Listen(1)) return false;
    // The bound port, so that port 0 (any free port) reports the real one.
    port_ = acceptor->GetLocalPort();
    acceptor_ = std::move(acceptor);
    reactor_->Add(acceptor_.get());
    return true;
}

bool SingleConnectionServer::HeldIsDeadLocked() const {
    return heldGivenUp_ || PeerIsGone(connection_->GetFd());
}

bool SingleConnectionServer::AdoptSocket(std::unique_ptr<AsyncSocket>& socket) {
    if (!socket) return false;
    std::lock_guard<std::mutex> lock(connectionMutex_);
    if (connection_) {
        if (!newcomersWaitBehindDead_) return false;
        // One client waits at a time; one that is gone itself gives way.
        if (waiting_ && !PeerIsGone(waiting_->GetFd())) return false;
        // It waits also when the held connection still looks alive: the end
        // of a client that closed right before this one connected may not
        // have been taken in yet. ReviewWaitingClient turns it away once the
        // held connection has outlived the grace.
        waiting_ = std::move(socket);  // a gone waiting one is closed here
        waitingSinceNs_ = GetTimeNs();
        return false;
    }
    // Not polled until the hub activates it.
    connection_ = std::make_unique<AsyncConneciton>(std::move(socket), this, readBufferSize_);
    connectionId_ = s_nextConnectionId.fetch_add(1);
    heldGivenUp_ = false;
    return true;
}

void SingleConnectionServer::OnAccept(std::unique_ptr<AsyncSocket> socket) { AdoptSocket(socket); }

void SingleConnectionServer::ActivateConnection() {
    AsyncConneciton* connection = nullptr;
    {
        std::lock_guard<std::mutex> lock(connectionMutex_);
        connection = connection_.get();
    }
    // Only this thread destroys the connection, so it outlives the lock.
    if (connection == nullptr) return;
    // Add ignores a connection already registered (a repeated activation).
    connection->SetEvents(kAsyncEventRead);
    reactor_->Add(connection);
}

void SingleConnectionServer::CloseConnection() {
    AsyncConneciton* connection = nullptr;
    {
        std::lock_guard<std::mutex> lock(connectionMutex_);
        connection = connection_.get();
    }
    if (connection == nullptr) return;
    reactor_->Remove(connection);
    // The slot stays taken until here, so no new client slips in between;
    // a client waiting behind the closing one takes it in the same step.
    std::unique_ptr<AsyncConneciton> closing;
    uint64_t adopted = 0;
    {
        std::lock_guard<std::mutex> lock(connectionMutex_);
        closing = std::move(connection_);
        connectionId_ = 0;
        heldGivenUp_ = false;
        if (waiting_) {
            // Not polled until the hub activates it.
            connection_ = std::make_unique<AsyncConneciton>(std::move(waiting_), this, readBufferSize_);
            connectionId_ = s_nextConnectionId.fetch_add(1);
            adopted = connectionId_;
        }
    }
    closing->FlushBlocking(kCloseFlushTimeoutMs);
    closing.reset();
    if (adopted != 0) OnWaitingAdopted(adopted);
}

int SingleConnectionServer::Send(const char* data, int length) {
    AsyncConneciton* connection = nullptr;
    {
        std::lock_guard<std::mutex> lock(connectionMutex_);
        connection = connection_.get();
    }
    return connection != nullptr ? connection->Send(data, length) : -1;
}

void SingleConnectionServer::ReviewWaitingClient(const uint64_t nowNs) {
    std::unique_ptr<AsyncSocket> turnedAway;
    {
        std::lock_guard<std::mutex> lock(connectionMutex_);
        if (!waiting_) return;
        const bool gone = PeerIsGone(waiting_->GetFd());
        // nowNs may have been read right before the client came.
        const bool graceOver = nowNs >= waitingSinceNs_ && nowNs - waitingSinceNs_ >= kWaitingGraceNs;
        const bool behindLive = connection_ && !HeldIsDeadLocked() && graceOver;
        if (gone || behindLive) turnedAway = std::move(waiting_);
    }
    if (turnedAway) LOG_W("a client waiting behind a live connection on port %d is turned away", port_);
}

void SingleConnectionServer::StopPolling() {
    AsyncConneciton* connection = nullptr;
    {
        std::lock_guard<std::mutex> lock(connectionMutex_);
        connection = connection_.get();
        // The reporting connection is the held one: it is in the reactor, and
        // the hub's thread lets it go only after taking it out.
        if (connection != nullptr) heldGivenUp_ = true;
    }
    if (connection != nullptr) connection->SetEvents(0);
}

bool SingleConnectionServer::HeldConnectionHasEnded() {
    std::lock_guard<std::mutex> lock(connectionMutex_);
    return connection_ && HeldIsDeadLocked();
}

bool SingleConnectionServer::WaitingClientHasGone() {
    std::lock_guard<std::mutex> lock(connectionMutex_);
    return waiting_ && PeerIsGone(waiting_->GetFd());
}

uint64_t SingleConnectionServer::HeldConnectionId() {
    std::lock_guard<std::mutex> lock(connectionMutex_);
    return connection_ ? connectionId_ : 0;
}

void SingleConnectionServer::NotifyHub(int event) {
    // Reactor thread: the connection reporting is the held one (it leaves the
    // reactor before it is let go), or, for a socket turned away, the held one
    // is what the hub activates.
    if (hub_ != nullptr) hub_->HandleEvent(event, HeldConnectionId());
}
