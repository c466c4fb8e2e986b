// IProxyWorker: runs the iOS transport's blocking calls into libimobiledevice
// and libusbmuxd (listing, pairing, connecting) one at a time on a thread of
// its own, so a daemon that is slow or never answers holds up nothing on
// the hub's thread. Each job's result comes back to the owner's thread as a
// queued call.
//
// Threads: Post and the destructor on the owner's thread (the thread of the
// QObject given to the constructor); a job's work on the worker thread; its
// delivery on the owner's thread, and only while the worker exists (the
// deliveries go to an object of the worker's in the owner's thread; Qt drops
// the events still queued for it when it goes, and the destructor stops new
// ones under the lock that every post takes).
#pragma once

#include <QObject>
#include <functional>
#include <memory>

class IProxyWorker {
public:
    // How long the destructor waits for a call that is still running; after
    // that the thread is left to finish it alone. It then touches only its
    // own shared state and the process-wide library functions.
    static constexpr int kStopWaitMs = 300;

    struct Job {
        std::function<void()> work;     // worker thread: the blocking calls
        std::function<void()> deliver;  // owner's thread, after work, unless the worker is gone by then
    };

    explicit IProxyWorker(QObject* owner);
    ~IProxyWorker();
    IProxyWorker(const IProxyWorker&) = delete;
    IProxyWorker& operator=(const IProxyWorker&) = delete;

    // Queues a job behind those already waiting. False when the thread could
    // not be started (the job is dropped).
    bool Post(Job job);

    struct State;

private:
    std::shared_ptr<State> state_;
    std::unique_ptr<QObject> receiver_;  // in the owner's thread: runs the deliveries
    bool threadStarted_ = false;  // owner's thread; the thread starts with the first job
};
