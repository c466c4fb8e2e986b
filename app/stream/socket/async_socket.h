// AsyncSocketImpl: the descriptor and wanted-events fields every concrete
// socket shares. AsycnSocketWin32: the concrete TCP socket.
#pragma once

#include "socket/async_object.h"

class AsyncSocketImpl : public AsyncSocket {
public:
    int GetFd() const override { return fd_; }
    int GetEvents() const override { return events_; }
    // A bare socket is never polled for itself (acceptors and connections
    // wrap it), so the callbacks do nothing.
    void OnReadable() override {}
    void OnWritable() override {}

protected:
    int fd_ = -1;     // owned; -1 when there is none
    int events_ = 0;  // AsyncEvent bits
};

// The name is historical: the program was first written against WinSock.
// This class wraps a POSIX socket (non-blocking, close-on-exec; sends use
// MSG_NOSIGNAL). Not thread-safe by itself: its owner serialises calls.
class AsycnSocketWin32 : public AsyncSocketImpl {
public:
    // A new IPv4 stream socket; GetFd() is -1 when it could not be created
    // or made non-blocking.
    AsycnSocketWin32();
    // Takes over an accepted (or otherwise connected) descriptor and makes it
    // non-blocking; when that fails the descriptor is closed and GetFd() is -1.
    explicit AsycnSocketWin32(int fd);
    ~AsycnSocketWin32() override;
    AsycnSocketWin32(const AsycnSocketWin32&) = delete;
    AsycnSocketWin32& operator=(const AsycnSocketWin32&) = delete;

    bool Bind(const std::string& ip, uint16_t port) override;
    bool Listen(int backlog) override;
    std::unique_ptr<AsyncSocket> Accept() override;
    int Recv(char* buffer, int size) override;
    int Send(const char* data, int size) override;
    uint16_t GetLocalPort() const override;
};
