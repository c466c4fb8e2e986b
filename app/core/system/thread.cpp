#include "core/system/thread.h"

#include <errno.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "core/tether/tq_log.h"

namespace {

// What the new thread needs to start. thread_create allocates it; from a
// successful pthread_create on the new thread owns it and frees it before
// running the function.
struct ThreadStart {
    void (*function)(void*);
    void* argument;
};

void* runThreadStart(void* raw) {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
    void (*const function)(void*) = start->function;
    void* const argument = start->argument;
    start.reset();
    function(argument);
    return nullptr;
}

// The text of an error number; strerror itself is not thread-safe.
const char* errorText(int error, char* buffer, size_t size) {
    return strerror_r(error, buffer, size);
}

// The one way out for failures the caller cannot handle: a failed join or wait
// means the thread bookkeeping is already broken.
[[noreturn]] void abortBecause(const char* operation, int error, const char* detail = "") {
    char buffer[128];
    std::fprintf(stderr, "zucam: %s failed%s: %s (errno %d)\n", operation, detail,
                 errorText(error, buffer, sizeof buffer), error);
    std::fflush(stderr);
    std::abort();
}

// now + milliseconds on CLOCK_MONOTONIC. With a 64-bit time_t even
// INT64_MAX milliseconds (about 9.2e15 s) added to the uptime cannot overflow.
timespec monotonicDeadline(int64_t milliseconds) {
    static_assert(sizeof(time_t) >= sizeof(int64_t), "deadline seconds would overflow");
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    if (milliseconds <= 0) return deadline;

    constexpr long kNanosecondsPerSecond = 1000000000L;
    deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= kNanosecondsPerSecond) {
        deadline.tv_nsec -= kNanosecondsPerSecond;
        deadline.tv_sec += 1;
    }
    return deadline;
}

}  // namespace

int mutex_init(mutex_t* mutex) {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0) return -1;
    int result = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    if (result == 0) result = pthread_mutex_init(&mutex->native, &attributes);
    pthread_mutexattr_destroy(&attributes);
    return result == 0 ? 0 : -1;
}

int mutex_init_recursive(mutex_t* mutex) {
    return mutex_init(mutex);
}

int mutex_destroy(mutex_t* mutex) {
    return pthread_mutex_destroy(&mutex->native) == 0 ? 0 : -1;
}

int mutex_lock(mutex_t* mutex) {
    return pthread_mutex_lock(&mutex->native) == 0 ? 0 : -1;
}

int mutex_trylock(mutex_t* mutex) {
    return pthread_mutex_trylock(&mutex->native) == 0 ? 0 : -1;
}

int mutex_unlock(mutex_t* mutex) {
    return pthread_mutex_unlock(&mutex->native) == 0 ? 0 : -1;
}

int thread_create(thread_t* thread, void (*function)(void*), void* argument) {
    if (thread == nullptr || function == nullptr) return -1;
    std::unique_ptr<ThreadStart> start(new (std::nothrow) ThreadStart{function, argument});
    if (!start) return -1;

    pthread_t native{};
    const int result = pthread_create(&native, nullptr, runThreadStart, start.get());
    if (result != 0) {
        char buffer[128];
        LOG_E("----> thread_create failed: %s", errorText(result, buffer, sizeof buffer));
        return -1;  // start is freed here; the thread never ran
    }
    start.release();  // owned by runThreadStart now
    thread->native = native;
    thread->joinable = true;
    return 0;
}

int thread_join(thread_t* thread) {
    if (thread == nullptr || !thread->joinable) abortBecause("thread_join", EINVAL, " on the null handle");
    const int result = pthread_join(thread->native, nullptr);
    if (result != 0) abortBecause("thread_join", result);
    *thread = thread_t{};
    return 0;
}

int cond_init(cond_t* cond) {
    pthread_condattr_t attributes;
    if (pthread_condattr_init(&attributes) != 0) return -1;
    int result = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    if (result == 0) result = pthread_cond_init(&cond->native, &attributes);
    pthread_condattr_destroy(&attributes);
    return result == 0 ? 0 : -1;
}

int cond_destroy(cond_t* cond) {
    return pthread_cond_destroy(&cond->native) == 0 ? 0 : -1;
}

int cond_signal(cond_t* cond) {
    return pthread_cond_signal(&cond->native) == 0 ? 0 : -1;
}

int cond_broadcast(cond_t* cond) {
    return pthread_cond_broadcast(&cond->native) == 0 ? 0 : -1;
}

int cond_wait(cond_t* cond, mutex_t* mutex) {
    const int result = pthread_cond_wait(&cond->native, &mutex->native);
    if (result != 0) abortBecause("cond_wait", result);
    return 0;
}

int cond_timedwait(cond_t* cond, mutex_t* mutex, int64_t milliseconds) {
    const timespec deadline = monotonicDeadline(milliseconds);
    const int result = pthread_cond_timedwait(&cond->native, &mutex->native, &deadline);
    if (result == 0) return 0;
    if (result == ETIMEDOUT) return 1;
    abortBecause("cond_timedwait", result);
}
