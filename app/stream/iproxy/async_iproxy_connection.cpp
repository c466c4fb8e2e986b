#include "iproxy/async_iproxy_connection.h"

#include <fcntl.h>
#include <usbmuxd.h>

#include <cerrno>

namespace {
// usbmuxd_recv_timeout waits without limit when given 0; a readable socket
// answers at once, and a spurious wake-up costs at most this.
constexpr unsigned int kReadWaitMs = 1;
// Bounds the time one readable event spends on a fast sender.
constexpr int kMaxReadsPerEvent = 16;

bool NothingNow(int result) {
    return result == -EAGAIN || result == -EWOULDBLOCK || result == -EINTR || result == -ETIMEDOUT;
}
}  // namespace

AsyncIProxyConnection::AsyncIProxyConnection(int handle, Observer* observer, int readBufferSize)
    : handle_(handle), observer_(observer), readBufferSize_(readBufferSize) {
    if (handle_ >= 0) fcntl(handle_, F_SETFL, fcntl(handle_, F_GETFL, 0) | O_NONBLOCK);
}

AsyncIProxyConnection::~AsyncIProxyConnection() {
    if (handle_ >= 0) usbmuxd_disconnect(handle_);
}

void AsyncIProxyConnection::OnReadable() {
    if (readBuffer_.empty()) readBuffer_.resize(static_cast<size_t>(readBufferSize_));
    for (int i = 0; i < kMaxReadsPerEvent && events_.load() > 0; ++i) {
        uint32_t received = 0;
        const int result = usbmuxd_recv_timeout(handle_, reinterpret_cast<char*>(readBuffer_.data()),
                                                static_cast<uint32_t>(readBuffer_.size()), &received, kReadWaitMs);
        if (result != 0 && NothingNow(result)) return;
        if (result != 0 || received == 0) {
            events_.store(0);
            if (!ended_.exchange(true) && observer_ != nullptr) observer_->OnRead(nullptr, result != 0 ? result : 0);
            return;
        }
        if (observer_ != nullptr) observer_->OnRead(readBuffer_.data(), static_cast<int>(received));
        if (received < readBuffer_.size()) return;
    }
}

bool AsyncIProxyConnection::SendAll(const char* data, size_t length) {
    while (length > 0) {
        uint32_t sent = 0;
        const int result = usbmuxd_send(handle_, data, static_cast<uint32_t>(length), &sent);
        if (result == -EINTR) continue;
        if (result != 0 || sent == 0) return false;
        data += sent;
        length -= sent;
    }
    return true;
}
