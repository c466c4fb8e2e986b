// A thread that made a module call, as the place its reply is queued to.
//
// Each thread gets one target on its first call. The target owns nothing:
// the thread's QObject context belongs to a thread_local holder that detaches
// it from the target when the thread ends, so a reply arriving later from any
// thread finds no context and is dropped instead of reaching a dead object.
// A thread without a Qt event loop never runs the work queued to it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

class QObject;

namespace tq {

class ReplyTarget {
public:
    // The calling thread's target, created on its first use.
    static std::shared_ptr<ReplyTarget> ofCurrentThread();

    explicit ReplyTarget(QObject* context);

    // Queues work to the target thread's event loop; never runs it now.
    // Dropped when the thread has ended. Safe from any thread.
    void post(std::function<void()> work);

    // Called by the target thread as it ends; later posts are dropped.
    void detach();

private:
    std::mutex mutex_;  // guards context_: held while posting, so the context cannot go meanwhile
    QObject* context_;  // borrowed from the thread's holder; null once detached
};

}  // namespace tq
