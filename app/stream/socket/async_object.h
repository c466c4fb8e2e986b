// The reactor's view of a polled thing (AsyncObject) and the abstract
// non-blocking socket (AsyncSocket) that acceptors and connections wrap.
//
// Threads: AsyncReactor calls GetFd, GetEvents, OnReadable, OnWritable,
// OnAttached and OnDetached with its lock held; OnReadable and OnWritable
// run on the reactor thread only. An object is registered with at most one
// reactor at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class AsyncReactor;

// Bits of AsyncObject::GetEvents.
enum AsyncEvent : int {
    kAsyncEventRead = 1,
    kAsyncEventWrite = 2,
};

class AsyncObject {
public:
    virtual ~AsyncObject() = default;

    // The descriptor to poll, -1 when there is none (the object is skipped).
    virtual int GetFd() const = 0;
    // The wanted AsyncEvent bits; 0 or less means none (the object is skipped).
    virtual int GetEvents() const = 0;
    // Reactor thread: the descriptor is readable (or hung up / in error).
    virtual void OnReadable() = 0;
    // Reactor thread: the descriptor is writable (or hung up / in error).
    virtual void OnWritable() = 0;

    // Called by AsyncReactor::Add (once, when the object enters the list) and
    // AsyncReactor::Remove / the reactor's destructor (when it leaves), with
    // the reactor's lock held, on the calling thread. An object that needs to
    // wake the reactor from another thread (a connection queuing a reply)
    // keeps the pointer between the two calls and calls AsyncReactor::Wake.
    virtual void OnAttached(AsyncReactor* /*reactor*/) {}
    virtual void OnDetached() {}
};

// A non-blocking IPv4 TCP socket. The object owns its descriptor.
class AsyncSocket : public AsyncObject {
public:
    // Returned by Recv and Send when nothing can be done now (EAGAIN,
    // EWOULDBLOCK, EINTR): not an error, try again when polled.
    static constexpr int kWouldBlock = -2;

    // ip is dotted IPv4 text ("0.0.0.0", "127.0.0.1"); port 0 picks a free
    // port (see GetLocalPort). Sets SO_REUSEADDR first, so a restarted
    // program rebinds its port at once; a port in use fails.
    virtual bool Bind(const std::string& ip, uint16_t port) = 0;
    virtual bool Listen(int backlog) = 0;
    // A newly accepted connection, or null when none was pending.
    virtual std::unique_ptr<AsyncSocket> Accept() = 0;
    // > 0 bytes received, 0 orderly close by the peer, kWouldBlock nothing
    // now, -1 error (also when there is no descriptor).
    virtual int Recv(char* buffer, int size) = 0;
    // >= 0 bytes sent (0 also when there is no descriptor), kWouldBlock
    // nothing could be sent now, -1 error (e.g. the peer is gone). Never
    // raises SIGPIPE.
    virtual int Send(const char* data, int size) = 0;
    // The bound local port in host order, 0 when unbound or unknown.
    virtual uint16_t GetLocalPort() const = 0;
};
