#include "iproxy/iproxy_worker.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include <QCoreApplication>
#include <QEvent>

#include "core/tether/tq_log.h"

// Shared by the owner and the thread, so that a thread left running after
// the owner went still has it.
struct IProxyWorker::State {
    std::mutex mutex;  // guards everything below
    std::condition_variable changed;
    std::deque<Job> jobs;
    QObject* receiver = nullptr;  // null once the worker is being destroyed: nothing more is posted
    bool stop = false;
    bool finished = false;  // the thread left its loop
};

namespace {

// Carries a job's delivery to the owner's thread. Qt owns a posted event and
// deletes it on the receiving thread, once delivered or when its receiver
// goes, so the worker thread touches nothing of it after posting (a queued
// functor call would leave the functor's last reference, and its deletion,
// to the posting thread).
class DeliveryEvent : public QEvent {
public:
    static QEvent::Type Kind() {
        static const int type = QEvent::registerEventType();
        return static_cast<QEvent::Type>(type);
    }
    explicit DeliveryEvent(std::function<void()> deliver) : QEvent(Kind()), deliver_(std::move(deliver)) {}
    void Run() { deliver_(); }

private:
    std::function<void()> deliver_;
};

// Lives in the owner's thread and runs the deliveries posted to it.
class DeliveryReceiver : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() != DeliveryEvent::Kind()) return QObject::event(event);
        static_cast<DeliveryEvent*>(event)->Run();
        return true;
    }
};

void Run(const std::shared_ptr<IProxyWorker::State>& state) {
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        state->changed.wait(lock, [&] { return state->stop || !state->jobs.empty(); });
        if (state->stop) break;
        IProxyWorker::Job job = std::move(state->jobs.front());
        state->jobs.pop_front();
        lock.unlock();
        if (job.work) job.work();
        lock.lock();
        // Posted under the lock: the destructor cannot let the owner go
        // between the check and the post. A job dropped here releases what
        // its work got through the destructors of its captures.
        if (state->receiver != nullptr && job.deliver) {
            QCoreApplication::postEvent(state->receiver, new DeliveryEvent(std::move(job.deliver)));
        }
        lock.unlock();
        job = IProxyWorker::Job();
        lock.lock();
    }
    state->finished = true;
    state->changed.notify_all();
}

}  // namespace

IProxyWorker::IProxyWorker(QObject* owner)
    : state_(std::make_shared<State>()), receiver_(std::make_unique<DeliveryReceiver>()) {
    receiver_->moveToThread(owner->thread());
    state_->receiver = receiver_.get();
}

bool IProxyWorker::Post(Job job) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->receiver == nullptr) return false;
    if (!threadStarted_) {
        try {
            std::thread([state = state_] { Run(state); }).detach();
        } catch (const std::system_error& e) {
            LOG_E("iproxy worker thread cannot start: %s", e.what());
            return false;
        }
        threadStarted_ = true;
    }
    state_->jobs.push_back(std::move(job));
    state_->changed.notify_all();
    return true;
}

IProxyWorker::~IProxyWorker() {
    std::deque<Job> dropped;
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->receiver = nullptr;
    state_->stop = true;
    dropped.swap(state_->jobs);
    state_->changed.notify_all();
    if (threadStarted_ &&
        !state_->changed.wait_for(lock, std::chrono::milliseconds(kStopWaitMs), [&] { return state_->finished; })) {
        LOG_W("an iOS device call still waits for usbmuxd; it finishes on its own");
    }
    lock.unlock();
    // dropped jobs release what they hold here, outside the lock
}
