// SingleConnectionServer: a TCP listener that keeps exactly one client
// connection at a time. A new connection waits unpolled until the hub
// activates it; while a live one is held, further clients are closed at
// once. Only CloseConnection frees the slot.
//
// On a server made with newcomersWaitBehindDead, a dead held connection (its
// peer closed or reset it, or its end or a broken input was already
// reported) does not keep the next client out: the newcomer waits, unpolled,
// until the hub closes the dead one (it always does: the dead one reports
// its loss once activated), and CloseConnection then adopts it as the held
// connection and reports it (OnWaitingAdopted). The newcomer waits also
// while the held connection still looks alive, since the end of a client
// that closed right before it may not have arrived yet; when the held
// connection is still alive kWaitingGraceNs after the newcomer came,
// ReviewWaitingClient (the hub's watch) turns the newcomer away: a live
// client keeps its session. One client waits at a time: a waiting client
// that is gone itself gives way to the next newcomer, a live one turns it
// away at once.
//
// Threads: OnAccept and OnRead run on the reactor thread, inside the
// reactor's lock. Listen, ActivateConnection, CloseConnection, Send and the
// destructor run on the hub's thread, which alone destroys a connection.
//
// Lock order: reactor lock -> connectionMutex_, which is a leaf. The reactor
// thread takes the server's lock inside its callbacks; the hub's thread
// therefore never calls the reactor (Add, Remove) nor the connection
// (SetEvents, Send, which take its output lock) while holding the server's
// lock: it reads or takes the connection pointer under the lock, releases
// it, then makes the call. A connection leaves the reactor before it is
// destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "socket/async_acceptor.h"
#include "socket/async_conneciton.h"
#include "stream_receiver.h"  // the StreamEvent codes reported to the hub

class AsyncReactor;
class AsyncSocket;
class StreamManager;

class SingleConnectionServer : public AsyncAcceptor::Observer, public AsyncConneciton::Observer {
public:
    // readBufferSize: how much one read of the connection may deliver.
    // newcomersWaitBehindDead: see above.
    SingleConnectionServer(AsyncReactor* reactor, StreamManager* hub, int readBufferSize,
                           bool newcomersWaitBehindDead = false);
    ~SingleConnectionServer() override;
    SingleConnectionServer(const SingleConnectionServer&) = delete;
    SingleConnectionServer& operator=(const SingleConnectionServer&) = delete;

    // Hub thread. Replaces any previous listener by one on 0.0.0.0:port (0:
    // any free port; port() then tells which).
    bool Listen(uint16_t port);
    // Hub thread. Starts polling the held connection (pending or inactive).
    void ActivateConnection();
    // Hub thread. Takes the held connection out of the reactor, writes out
    // what is still queued on it (bounded wait) and closes it. A client
    // waiting behind it becomes the held connection (pending, reported
    // through OnWaitingAdopted).
    void CloseConnection();
    // How long a client waits behind a held connection that stays alive.
    static constexpr uint64_t kWaitingGraceNs = 300'000'000ull;
    // Hub thread, called periodically: closes a waiting client that is gone,
    // or that has waited kWaitingGraceNs (at nowNs, GetTimeNs) behind a held
    // connection that is still alive.
    void ReviewWaitingClient(uint64_t nowNs);

    // Hub thread. Queues bytes on the held connection; -1 when none is held.
    int Send(const char* data, int length);

    // Any thread. The id of the held connection (unique in the process, never
    // reused), 0 when none is held. Reports to the hub carry it, so that one
    // from a connection that is gone changes nothing.
    uint64_t HeldConnectionId();
    // Any thread. Whether the server already sees the held connection's end
    // (given up, or its peer gone), and a waiting client's: the kernel takes
    // a peer's close in a moment later, which tests wait for.
    bool HeldConnectionHasEnded();
    bool WaitingClientHasGone();

    // The listening port; 0 until Listen succeeded.
    uint16_t port() const { return port_; }

    // Reactor thread.
    void OnAccept(std::unique_ptr<AsyncSocket> socket) override;

protected:
    // Reactor thread. Wraps the socket in the held connection when none is
    // held and then returns true (the socket is moved from). When newcomers
    // may wait and no live client waits yet, the socket waits behind the
    // held connection (moved from; false). Otherwise the socket stays with
    // the caller, which closes it (false).
    bool AdoptSocket(std::unique_ptr<AsyncSocket>& socket);
    // Reactor thread, from OnRead: the held connection is no longer polled;
    // its end (or broken input) is reported, so it counts as dead.
    void StopPolling();
    // Hub thread, from CloseConnection, no lock held: the client that waited
    // behind a dead connection is now the held connection `id` (pending).
    // The subclass reports it as it reports an accepted one.
    virtual void OnWaitingAdopted(uint64_t /*id*/) {}
    // Takes the listener and the connection out of the reactor. The most
    // derived destructor calls it first, so that no callback reaches members
    // that are already gone; the base destructor calls it again (no-op).
    void Shutdown();

    // Reports to the hub (queued there). Tests replace it to watch events.
    virtual void NotifyHub(int event);

    AsyncReactor* const reactor_;
    StreamManager* const hub_;

private:
    // Hub thread: the listener leaves the reactor and frees its port.
    void CloseAcceptor();
    // connectionMutex_ held: whether the held connection can serve no one.
    bool HeldIsDeadLocked() const;

    const int readBufferSize_;
    const bool newcomersWaitBehindDead_;
    uint16_t port_ = 0;
    // Hub thread only.
    std::unique_ptr<AsyncAcceptor> acceptor_;
    // Guards connection_: the reactor thread fills it, the hub's thread reads
    // and empties it.
    std::mutex connectionMutex_;
    std::unique_ptr<AsyncConneciton> connection_;
    uint64_t connectionId_ = 0;
    bool heldGivenUp_ = false;               // StopPolling was called on the held connection
    std::unique_ptr<AsyncSocket> waiting_;   // a client behind the held connection
    uint64_t waitingSinceNs_ = 0;            // when waiting_ came (GetTimeNs)
};
