#include "socket/async_reactor.h"

#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "core/tether/tq_log.h"
#include "socket/async_object.h"

namespace {

// One polled object of a round: what was polled, so that the dispatch can
// tell whether the object is still the same registration.
struct PolledObject {
    AsyncObject* object;
    uint64_t id;
    int fd;
    size_t index;  // into the round's pollfd array
};

}  // namespace

AsyncReactor::AsyncReactor() {
    mutex_init(&lock_);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ == -1) LOG_E("eventfd failed errno=%d; replies wait for the poll time-out", errno);
    if (thread_create(&thread_, &AsyncReactor::ThreadMain, this) != 0) LOG_E("reactor thread not started");
}

AsyncReactor::~AsyncReactor() {
    stop_.store(true);
    Wake();
    if (thread_.joinable) thread_join(&thread_);
    mutex_lock(&lock_);
    for (const Entry& entry : objects_) entry.object->OnDetached();
    objects_.clear();
    mutex_unlock(&lock_);
    mutex_destroy(&lock_);
    if (wakeFd_ != -1) close(wakeFd_);
}

void AsyncReactor::LockFromOutside() {
    lockWaiters_.fetch_add(1, std::memory_order_acq_rel);
    mutex_lock(&lock_);
    lockWaiters_.fetch_sub(1, std::memory_order_acq_rel);
}

void AsyncReactor::LockForPass() {
    // pthread mutexes are not fair: without this, a reactor thread fed by a
    // fast stream re-takes the lock before a waiting Remove ever gets it.
    while (lockWaiters_.load(std::memory_order_acquire) > 0 && !stop_.load()) sched_yield();
    mutex_lock(&lock_);
}

void AsyncReactor::Add(AsyncObject* object) {
    if (object == nullptr) return;
    LockFromOutside();
    const bool present = std::any_of(objects_.begin(), objects_.end(),
                                     [object](const Entry& entry) { return entry.object == object; });
    if (!present) {
        objects_.push_back(Entry{object, nextId_++});
        object->OnAttached(this);
    }
    mutex_unlock(&lock_);
    if (!present) Wake();
}

void AsyncReactor::Remove(AsyncObject* object) {
    LockFromOutside();
    const auto found = std::find_if(objects_.begin(), objects_.end(),
                                    [object](const Entry& entry) { return entry.object == object; });
    const bool present = found != objects_.end();
    if (present) {
        objects_.erase(found);
        ++removals_;
        object->OnDetached();
    }
    mutex_unlock(&lock_);
    if (present) Wake();
}

void AsyncReactor::Wake() {
    if (wakeFd_ == -1) return;
    const uint64_t one = 1;
    // A full counter (EAGAIN) already means "wake up".
    [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof(one));
}

void AsyncReactor::ThreadMain(void* self) { static_cast<AsyncReactor*>(self)->Run(); }

bool AsyncReactor::IsRegistered(uint64_t id) const {
    return std::any_of(objects_.begin(), objects_.end(), [id](const Entry& entry) { return entry.id == id; });
}

void AsyncReactor::DrainWakeFd() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t drained = read(wakeFd_, &count, sizeof(count));
}

void AsyncReactor::Run() {
    std::vector<pollfd> pollSet;
    std::vector<PolledObject> polled;
    while (!stop_.load()) {
        pollSet.clear();
        polled.clear();
        // Slot 0 (when there is an eventfd): the wake-up. It keeps every round
        // waiting, also when no object wants anything.
        if (wakeFd_ != -1) pollSet.push_back(pollfd{wakeFd_, POLLIN, 0});

        LockForPass();
        const bool idle = objects_.empty();
        const uint64_t removalsBefore = removals_;
        int readers = 0;
        int writers = 0;
        for (const Entry& entry : objects_) {
            const int fd = entry.object->GetFd();
            const int events = entry.object->GetEvents();
            if (fd == -1 || events <= 0) continue;
            short wanted = 0;
            if ((events & kAsyncEventRead) != 0 && readers < kMaxObjectsPerSet) {
                wanted |= POLLIN;
                ++readers;
            }
            if ((events & kAsyncEventWrite) != 0 && writers < kMaxObjectsPerSet) {
                wanted |= POLLOUT;
                ++writers;
            }
            if (wanted == 0) continue;
            polled.push_back(PolledObject{entry.object, entry.id, fd, pollSet.size()});
            pollSet.push_back(pollfd{fd, wanted, 0});
        }
        mutex_unlock(&lock_);

        const int ready = poll(pollSet.data(), pollSet.size(), idle ? kIdleWaitMs : kPollTimeoutMs);
        if (ready <= 0) continue;  // time-out, EINTR or error: next round
        if (wakeFd_ != -1 && pollSet[0].revents != 0) DrainWakeFd();
        if (stop_.load()) break;

        LockForPass();
        // Callbacks (and other threads, between the two lock holds) may
        // remove objects; a removed object must get no further call, and it
        // may already be deleted, so its pointer is only compared, never used.
        const auto stillRegistered = [&](const PolledObject& entry) {
            return removals_ == removalsBefore || IsRegistered(entry.id);
        };
        for (const PolledObject& entry : polled) {
            const pollfd& result = pollSet[entry.index];
            if (result.revents == 0 || (result.revents & POLLNVAL) != 0) continue;
            const short readReady = (result.events & POLLIN) != 0 ? (POLLIN | POLLHUP | POLLERR) : 0;
            const short writeReady = (result.events & POLLOUT) != 0 ? (POLLOUT | POLLHUP | POLLERR) : 0;
            if ((result.revents & readReady) != 0) {
                if (!stillRegistered(entry) || entry.object->GetFd() != entry.fd) continue;
                const int events = entry.object->GetEvents();
                if (events > 0 && (events & kAsyncEventRead) != 0) entry.object->OnReadable();
            }
            if ((result.revents & writeReady) != 0) {
                if (!stillRegistered(entry) || entry.object->GetFd() != entry.fd) continue;
                const int events = entry.object->GetEvents();
                if (events > 0 && (events & kAsyncEventWrite) != 0) entry.object->OnWritable();
            }
        }
        mutex_unlock(&lock_);
    }
}
