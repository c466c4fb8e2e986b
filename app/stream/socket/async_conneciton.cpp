#include "socket/async_conneciton.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/system/time.h"
#include "core/tether/tq_log.h"
#include "socket/async_reactor.h"

AsyncConneciton::AsyncConneciton(std::unique_ptr<AsyncSocket> socket, Observer* observer, int readBufferSize)
    : socket_(std::move(socket)),
      observer_(observer),
      readBufferSize_(readBufferSize > 0 ? readBufferSize : kDefaultReadBufferSize) {
    mutex_init(&outputLock_);
}

AsyncConneciton::~AsyncConneciton() { mutex_destroy(&outputLock_); }

void AsyncConneciton::SetEvents(int events) {
    events_.store(events);
    mutex_lock(&outputLock_);
    if (reactor_ != nullptr) reactor_->Wake();
    mutex_unlock(&outputLock_);
}

int AsyncConneciton::Send(const char* data, int length) {
    if (length <= 0) return 0;
    mutex_lock(&outputLock_);
    int taken = -1;
    if (socket_ && socket_->GetFd() != -1 && !ended_.load()) {
        if (outputBuffer_.empty()) outputBuffer_.resize(kOutputBufferSize);
        const uint64_t room = kOutputBufferSize - queuedBytes_;
        taken = static_cast<int>(std::min<uint64_t>(room, static_cast<uint64_t>(length)));
        if (taken > 0) {
            std::memcpy(outputBuffer_.data() + queuedBytes_, data, static_cast<size_t>(taken));
            queuedBytes_ += static_cast<uint64_t>(taken);
            if (reactor_ != nullptr && events_.load() > 0) reactor_->Wake();
        } else if (events_.load() <= 0) {
            // Full and not polled: nothing would ever make room.
            taken = -1;
        }
    }
    mutex_unlock(&outputLock_);
    return taken;
}

bool AsyncConneciton::FlushBlocking(int timeoutMs) {
    mutex_lock(&outputLock_);
    const uint64_t deadlineNs = GetTimeNs() + static_cast<uint64_t>(std::max(timeoutMs, 0)) * 1000000u;
    while (queuedBytes_ > 0 && socket_ && socket_->GetFd() != -1) {
        const int chunk = static_cast<int>(queuedBytes_);
        const int sent = socket_->Send(outputBuffer_.data(), chunk);
        if (sent > 0) {
            std::memmove(outputBuffer_.data(), outputBuffer_.data() + sent, static_cast<size_t>(chunk - sent));
            queuedBytes_ -= static_cast<uint64_t>(sent);
            continue;
        }
        if (sent != AsyncSocket::kWouldBlock) {
            LOG_W("flush before close failed, %d bytes dropped", chunk);
            break;
        }
        const uint64_t now = GetTimeNs();
        if (now >= deadlineNs) break;
        pollfd writable{socket_->GetFd(), POLLOUT, 0};
        const int waitMs = static_cast<int>((deadlineNs - now + 999999u) / 1000000u);
        if (poll(&writable, 1, waitMs) < 0 && errno != EINTR) break;
    }
    const bool flushed = queuedBytes_ == 0;
    mutex_unlock(&outputLock_);
    return flushed;
}

uint64_t AsyncConneciton::GetQueuedBytes() const {
    mutex_lock(&outputLock_);
    const uint64_t queued = queuedBytes_;
    mutex_unlock(&outputLock_);
    return queued;
}

int AsyncConneciton::GetFd() const { return socket_ ? socket_->GetFd() : -1; }

int AsyncConneciton::GetEvents() const {
    if (!socket_ || ended_.load()) return 0;
    int events = events_.load();
    if (events <= 0) return events;
    if (GetQueuedBytes() > 0) events |= kAsyncEventWrite;
    return events;
}

void AsyncConneciton::OnReadable() {
    if (!socket_ || ended_.load() || events_.load() <= 0) return;
    if (readBuffer_.empty()) readBuffer_.resize(static_cast<size_t>(readBufferSize_));
    const bool wasAttached = attached_.load();
    for (int read = 0; read < kMaxReadsPerEvent; ++read) {
        const int received = socket_->Recv(readBuffer_.data(), readBufferSize_);
        if (received == AsyncSocket::kWouldBlock) return;
        if (received <= 0) {
            ReportEnd(readBuffer_.data(), received < 0 ? -1 : 0);
            return;
        }
        if (observer_ != nullptr) observer_->OnRead(readBuffer_.data(), received);
        // The observer may have given the connection up or removed it.
        if (events_.load() <= 0 || ended_.load() || (wasAttached && !attached_.load())) return;
        // A short read means the socket is drained; the next poll says when more comes.
        if (received < readBufferSize_) return;
    }
}

void AsyncConneciton::OnWritable() {
    bool broken = false;
    mutex_lock(&outputLock_);
    if (queuedBytes_ > 0 && socket_ && !ended_.load()) {
        const int chunk = static_cast<int>(queuedBytes_);
        const int sent = socket_->Send(outputBuffer_.data(), chunk);
        if (sent > 0) {
            std::memmove(outputBuffer_.data(), outputBuffer_.data() + sent, static_cast<size_t>(chunk - sent));
            queuedBytes_ -= static_cast<uint64_t>(sent);
        } else if (sent < 0 && sent != AsyncSocket::kWouldBlock) {
            queuedBytes_ = 0;
            broken = true;
        }
    }
    mutex_unlock(&outputLock_);
    // Reported outside the output lock, so the observer may take its own locks.
    if (broken) ReportEnd(nullptr, -1);
}

void AsyncConneciton::OnAttached(AsyncReactor* reactor) {
    mutex_lock(&outputLock_);
    reactor_ = reactor;
    attached_.store(true);
    mutex_unlock(&outputLock_);
}

void AsyncConneciton::OnDetached() {
    mutex_lock(&outputLock_);
    reactor_ = nullptr;
    attached_.store(false);
    mutex_unlock(&outputLock_);
}

void AsyncConneciton::ReportEnd(const char* data, int result) {
    if (ended_.exchange(true)) return;
    if (observer_ != nullptr) observer_->OnRead(data, result);
}
