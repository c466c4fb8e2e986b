#include "socket/async_acceptor.h"

#include "socket/async_socket.h"

AsyncAcceptor::AsyncAcceptor(Observer* observer) : observer_(observer), socket_(std::make_unique<AsycnSocketWin32>()) {}

AsyncAcceptor::~AsyncAcceptor() = default;

bool AsyncAcceptor::Bind(const std::string& ip, uint16_t port) { return socket_->Bind(ip, port); }

bool AsyncAcceptor::Listen(int backlog) { return socket_->Listen(backlog); }

uint16_t AsyncAcceptor::GetLocalPort() const { return socket_->GetLocalPort(); }

int AsyncAcceptor::GetFd() const { return socket_ ? socket_->GetFd() : -1; }

int AsyncAcceptor::GetEvents() const { return kAsyncEventRead; }

void AsyncAcceptor::OnReadable() {
    std::unique_ptr<AsyncSocket> accepted = socket_->Accept();
    if (!accepted) return;
    // Without an observer nobody would own the connection: it closes here.
    if (observer_ != nullptr) observer_->OnAccept(std::move(accepted));
}

void AsyncAcceptor::OnWritable() {}
