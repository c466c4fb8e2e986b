// AsyncAcceptor: a listening socket polled for reads; each readable event
// accepts one connection and hands it to the observer.
//
// Threads: Bind and Listen on the owner's thread before the acceptor is added
// to a reactor; OnReadable (and so Observer::OnAccept) on the reactor thread
// with the reactor's lock held. The owner removes the acceptor from the
// reactor before destroying it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "socket/async_object.h"

class AsyncAcceptor : public AsyncObject {
public:
    class Observer {
    public:
        virtual ~Observer() = default;
        // Reactor thread, reactor lock held: a new connection, owned by the
        // observer from now on. Must not wait for other threads.
        virtual void OnAccept(std::unique_ptr<AsyncSocket> socket) = 0;
    };

    // observer is borrowed and may be null (accepted sockets are then closed).
    explicit AsyncAcceptor(Observer* observer);
    ~AsyncAcceptor() override;
    AsyncAcceptor(const AsyncAcceptor&) = delete;
    AsyncAcceptor& operator=(const AsyncAcceptor&) = delete;

    // See AsyncSocket::Bind (SO_REUSEADDR; port 0 picks a free port).
    bool Bind(const std::string& ip, uint16_t port);
    bool Listen(int backlog = 1);
    // The bound port in host order (useful after Bind with port 0).
    uint16_t GetLocalPort() const;

    int GetFd() const override;
    // Always kAsyncEventRead.
    int GetEvents() const override;
    void OnReadable() override;
    void OnWritable() override;

private:
    Observer* const observer_;                   // borrowed
    const std::unique_ptr<AsyncSocket> socket_;  // owned listening socket
};
