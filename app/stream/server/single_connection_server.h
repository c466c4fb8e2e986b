// SingleConnectionServer: a TCP listener that keeps exactly one client
// connection at a time. A new connection waits unpolled until the hub
// activates it; while one is held (also an inactive one, after its peer
// closed or it failed), further clients are closed at once. Only
// CloseConnection frees the slot.
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
    SingleConnectionServer(AsyncReactor* reactor, StreamManager* hub, int readBufferSize);
    ~SingleConnectionServer() override;
    SingleConnectionServer(const SingleConnectionServer&) = delete;
    SingleConnectionServer& operator=(const SingleConnectionServer&) = delete;

    // Hub thread. Replaces any previous listener by one on 0.0.0.0:port (0:
    // any free port; port() then tells which).
    bool Listen(uint16_t port);
    // Hub thread. Starts polling the held connection (pending or inactive).
    void ActivateConnection();
    // Hub thread. Takes the held connection out of the reactor, writes out
    // what is still queued on it (bounded wait) and closes it.
    void CloseConnection();
    // Hub thread. Queues bytes on the held connection; -1 when none is held.
    int Send(const char* data, int length);

    // Any thread. The id of the held connection (unique in the process, never
    // reused), 0 when none is held. Reports to the hub carry it, so that one
    // from a connection that is gone changes nothing.
    uint64_t HeldConnectionId();

    // The listening port; 0 until Listen succeeded.
    uint16_t port() const { return port_; }

    // Reactor thread.
    void OnAccept(std::unique_ptr<AsyncSocket> socket) override;

protected:
    // Reactor thread. Wraps the socket in the held connection when none is
    // held and then returns true (the socket is moved from); otherwise the
    // socket stays with the caller, which closes it.
    bool AdoptSocket(std::unique_ptr<AsyncSocket>& socket);
    // Reactor thread, from OnRead: the held connection is no longer polled.
    void StopPolling();
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

    const int readBufferSize_;
    uint16_t port_ = 0;
    // Hub thread only.
    std::unique_ptr<AsyncAcceptor> acceptor_;
    // Guards connection_: the reactor thread fills it, the hub's thread reads
    // and empties it.
    std::mutex connectionMutex_;
    std::unique_ptr<AsyncConneciton> connection_;
    uint64_t connectionId_ = 0;
};
