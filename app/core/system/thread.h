// The thread layer the streaming engine and the recorder are written against:
// plain functions over POSIX mutexes, condition variables and threads.
//
// Every function returns 0 on success unless stated otherwise. Failures that
// leave the caller no sane way on (a failed join or wait) print the reason to
// standard error and abort the process instead of returning. All functions may
// be called from any thread.
#pragma once

#include <pthread.h>

#include <cstdint>

// A recursive mutex: the thread that holds it may lock it again and must then
// unlock it as many times as it locked it.
struct mutex_t {
    pthread_mutex_t native;
};

// A condition variable whose timed waits run on CLOCK_MONOTONIC, so setting
// the wall clock neither shortens nor stretches a wait.
struct cond_t {
    pthread_cond_t native;
};

// A thread handle. A default- or zero-initialised thread_t is the null handle
// (joinable == false); thread_create fills it and thread_join nulls it again.
struct thread_t {
    pthread_t native{};
    bool joinable = false;
};

int mutex_init(mutex_t* mutex);
// The same initialisation as mutex_init; kept for callers that spell it out.
int mutex_init_recursive(mutex_t* mutex);
// The mutex must be unlocked. Returns -1 when it is still held.
int mutex_destroy(mutex_t* mutex);
// Blocks until the mutex is held. -1 only when the recursion count would
// overflow.
int mutex_lock(mutex_t* mutex);
// 0 when the mutex was entered (also again by the thread already holding it),
// -1 when another thread holds it.
int mutex_trylock(mutex_t* mutex);
// -1 when the calling thread does not hold the mutex.
int mutex_unlock(mutex_t* mutex);

// Starts function(argument) on a new thread and stores its handle in *thread.
// Returns -1 (the handle untouched) when function is null or the thread cannot
// be started. The thread is joinable: every handle must be passed to
// thread_join exactly once.
int thread_create(thread_t* thread, void (*function)(void*), void* argument);
// Waits without a time limit for the thread to end, then nulls the handle.
// Joining the null handle or the calling thread's own handle aborts the
// process; so does any other failure of the join.
int thread_join(thread_t* thread);

int cond_init(cond_t* cond);
// No thread may be waiting on the condition.
int cond_destroy(cond_t* cond);
// Wakes at least one waiter, if any.
int cond_signal(cond_t* cond);
// Wakes every waiter.
int cond_broadcast(cond_t* cond);

// The waits below must be called with mutex held exactly once by the calling
// thread: a recursive hold is released only one level, and the waiter would
// sleep still owning the mutex. The mutex is released while waiting and held
// again on return. A wake-up may be spurious, so callers re-check their
// predicate under the lock and wait again:
//
//   mutex_lock(&m);
//   while (!ready) cond_wait(&c, &m);
//   mutex_unlock(&m);
//
// Waits without a time limit; a failure (e.g. the mutex is not held) aborts.
int cond_wait(cond_t* cond, mutex_t* mutex);
// Waits at most milliseconds, measured on CLOCK_MONOTONIC (0 or less: gives
// up at once; any large value is safe and waits as long as it says). Returns 0
// when woken, 1 when the time ran out; any other failure aborts.
int cond_timedwait(cond_t* cond, mutex_t* mutex, int64_t milliseconds);
