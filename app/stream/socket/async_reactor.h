// AsyncReactor: one thread polling every registered AsyncObject of a hub
// with poll(), calling their OnReadable/OnWritable on that thread.
//
// Each round polls at most kMaxObjectsPerSet read-wanting and at most
// kMaxObjectsPerSet write-wanting descriptors, taken in list (insertion)
// order, plus an internal eventfd that Add, Remove, Wake and the destructor
// signal so that a change or a queued reply is acted on at once. A round waits
// at most 100 ms (10 ms with an empty list); it waits also when no object
// wants anything, so the loop never spins.
//
// Threads: Add, Remove and Wake from any thread, also from inside a callback
// on the reactor thread (the lock is recursive). Callbacks run with the
// reactor's lock held, so they must not wait for other threads; they only
// queue work for them.
//
// Lock order where locks nest: the reactor's lock (lock_), then a connection
// server's lock (taken inside OnAccept), then a connection's output lock.
// Nobody calls Add or Remove while holding a server's lock. Wake takes no
// lock. The reactor thread steps back from lock_ while another thread waits
// for it in Add or Remove, so a busy stream cannot starve the hub's thread.
//
// Removal: after Remove returns, no callback of the object is running or will
// run, so the caller may delete it, also when Remove is called from a
// callback (of the object itself or of another object in the same round).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>

#include "core/system/thread.h"

class AsyncObject;

class AsyncReactor {
public:
    static constexpr int kMaxObjectsPerSet = 64;
    static constexpr int kPollTimeoutMs = 100;
    static constexpr int kIdleWaitMs = 10;

    // Starts the polling thread.
    AsyncReactor();
    // Stops and joins the thread, then detaches the objects still registered
    // (they are not deleted).
    ~AsyncReactor();
    AsyncReactor(const AsyncReactor&) = delete;
    AsyncReactor& operator=(const AsyncReactor&) = delete;

    // Appends the object unless it is already registered. Borrowed: the
    // caller keeps it alive until Remove (or the reactor's destruction).
    void Add(AsyncObject* object);
    // Takes the object out of the list when present; see "Removal" above.
    void Remove(AsyncObject* object);
    // Any thread, no lock: ends the current poll wait early.
    void Wake();

private:
    struct Entry {
        AsyncObject* object;  // borrowed
        uint64_t id;          // unique per Add, so a re-added address is a new entry
    };

    static void ThreadMain(void* self);
    void Run();
    // lock_ held. Whether the entry registered as id is still in the list.
    bool IsRegistered(uint64_t id) const;
    // lock_ for Add and Remove (any thread), and for the reactor's passes.
    void LockFromOutside();
    void LockForPass();
    void DrainWakeFd();

    thread_t thread_;
    // Guards objects_, nextId_ and removals_.
    mutable mutex_t lock_;
    std::deque<Entry> objects_;  // insertion order
    uint64_t nextId_ = 1;
    uint64_t removals_ = 0;  // bumped by Remove; lets a round skip membership checks
    std::atomic<bool> stop_{false};
    // Threads waiting for lock_ in Add or Remove; the reactor thread lets
    // them in before it takes the lock for its next pass.
    std::atomic<int> lockWaiters_{0};
    int wakeFd_ = -1;  // eventfd, owned; -1 when it could not be made
};
