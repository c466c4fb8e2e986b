#include "reply_target.h"

#include <QMetaObject>
#include <QObject>
#include <utility>

namespace tq {
namespace {

// Lives in the thread_local storage of one thread: it creates that thread's
// context (so the context belongs to this thread's event loop) and deletes it
// when the thread ends, after detaching it from the target.
class ThreadContextHolder {
public:
    ThreadContextHolder() : context_(new QObject()), target_(std::make_shared<ReplyTarget>(context_.get())) {}
    ~ThreadContextHolder() { target_->detach(); }
    ThreadContextHolder(const ThreadContextHolder&) = delete;
    ThreadContextHolder& operator=(const ThreadContextHolder&) = delete;

    const std::shared_ptr<ReplyTarget>& target() const { return target_; }

private:
    std::unique_ptr<QObject> context_;  // deleted after target_ has let go of it
    std::shared_ptr<ReplyTarget> target_;
};

}  // namespace

ReplyTarget::ReplyTarget(QObject* context) : context_(context) {}

std::shared_ptr<ReplyTarget> ReplyTarget::ofCurrentThread() {
    thread_local ThreadContextHolder holder;
    return holder.target();
}

void ReplyTarget::post(std::function<void()> work) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (context_ == nullptr) return;
    QMetaObject::invokeMethod(context_, std::move(work), Qt::QueuedConnection);
}

void ReplyTarget::detach() {
    const std::lock_guard<std::mutex> lock(mutex_);
    context_ = nullptr;
}

}  // namespace tq
