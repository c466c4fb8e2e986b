// ThreadSanitizer build only: the happens-before edges of Qt's own
// synchronisation, which TSan cannot see because Qt is not instrumented.
//
// QMutex and the queue of posted events are built on futexes and atomics
// inside libQt5Core, so TSan sees a slot run by a queued call, or code after
// QMutex::lock(), as unordered with what the other thread did before. This
// object is linked into every test program of the TSan build; it defines the
// Qt entry points the project calls (they override libQt5Core's for calls
// from the program's own code) and forwards to Qt's, adding the edges:
//  - QMutex lock/unlock/tryLock and QBasicMutex's contended paths: an
//    acquire on the mutex after locking, a release before unlocking;
//  - QWaitCondition::wait: a release of the mutex before, an acquire after;
//  - QThread: a release when the thread emits finished() (on that thread,
//    after run()), acquired when QThread::wait() returns true; Qt's wait
//    returns through a futex when the thread had already ended;
//  - signal emission, posted events, queued invokeMethod, deleteLater and
//    single-shot functors: a release on one shared object, acquired before
//    every event Qt delivers (QInternal's event notification hook, which
//    runs in the receiving thread for every event of every thread).
// Limits: Qt's calls from inside libQt5Core to these functions are bound
// inside the library and not seen (none carry the project's data); and the
// shared object orders every emission before every later delivery, so a race
// between two threads that both run Qt event loops and both emit signals can
// go unseen. Races between the project's own threads, std::mutex, atomics
// and sockets are seen as in any TSan build.
#if defined(__SANITIZE_THREAD__)

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include <QtCore/QThread>
#include <QtCore/QVariant>
#include <QtCore/qnamespace.h>

extern "C" {
void __tsan_acquire(void* addr);
void __tsan_release(void* addr);
}

namespace {

char g_queuedCalls;  // the shared object of posted events and signals

void* Next(const char* symbol) {
    void* real = dlsym(RTLD_NEXT, symbol);
    if (!real) {
        std::fprintf(stderr, "tsan_qt_sync: %s not found in Qt\n", symbol);
        std::abort();
    }
    return real;
}

// The real function behind a name, looked up once.
template <typename Fn>
Fn Real(const char* symbol, Fn* cache) {
    Fn fn = __atomic_load_n(cache, __ATOMIC_ACQUIRE);
    if (!fn) {
        fn = reinterpret_cast<Fn>(Next(symbol));
        __atomic_store_n(cache, fn, __ATOMIC_RELEASE);
    }
    return fn;
}

#define ZUCAM_REAL(symbol, ...)       \
    using Fn_ = __VA_ARGS__;          \
    static Fn_ cache_ = nullptr;      \
    const Fn_ real = Real(symbol, &cache_)

void ReleaseQueued() { __tsan_release(&g_queuedCalls); }

// Runs in the receiving thread before every event is delivered; returning
// false lets Qt deliver it as usual.
bool BeforeEvent(void**) {
    __tsan_acquire(&g_queuedCalls);
    return false;
}

const bool g_hooked = QInternal::registerCallback(QInternal::EventNotifyCallback, BeforeEvent);

// QGenericArgument and QGenericReturnArgument: two pointers, passed by value.
struct GenericArgument {
    const char* name;
    void* data;
};

}  // namespace

extern "C" {

// void QMutex::lock()
void _ZN6QMutex4lockEv(void* self) {
    ZUCAM_REAL("_ZN6QMutex4lockEv", void (*)(void*));
    real(self);
    __tsan_acquire(self);
}

// void QMutex::unlock()
void _ZN6QMutex6unlockEv(void* self) {
    ZUCAM_REAL("_ZN6QMutex6unlockEv", void (*)(void*));
    __tsan_release(self);
    real(self);
}

// bool QMutex::tryLock(int)
bool _ZN6QMutex7tryLockEi(void* self, int timeout) {
    ZUCAM_REAL("_ZN6QMutex7tryLockEi", bool (*)(void*, int));
    const bool locked = real(self, timeout);
    if (locked) __tsan_acquire(self);
    return locked;
}

// QBasicMutex's contended paths; its uncontended ones are inline atomics on
// the same address, which TSan sees.
void _ZN11QBasicMutex12lockInternalEv(void* self) {
    ZUCAM_REAL("_ZN11QBasicMutex12lockInternalEv", void (*)(void*));
    real(self);
    __tsan_acquire(self);
}

bool _ZN11QBasicMutex12lockInternalEi(void* self, int timeout) {
    ZUCAM_REAL("_ZN11QBasicMutex12lockInternalEi", bool (*)(void*, int));
    const bool locked = real(self, timeout);
    if (locked) __tsan_acquire(self);
    return locked;
}

void _ZN11QBasicMutex14unlockInternalEv(void* self) {
    ZUCAM_REAL("_ZN11QBasicMutex14unlockInternalEv", void (*)(void*));
    __tsan_release(self);
    real(self);
}

// bool QWaitCondition::wait(QMutex*, QDeadlineTimer) (the timer is two
// 64-bit values and an int, passed in memory as the ABI passes it).
struct DeadlineTimer {
    long long t1;
    unsigned t2;
    int type;
};
bool _ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer(void* self, void* mutex, DeadlineTimer deadline) {
    ZUCAM_REAL("_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer", bool (*)(void*, void*, DeadlineTimer));
    __tsan_release(mutex);
    const bool woken = real(self, mutex, deadline);
    __tsan_acquire(mutex);
    return woken;
}

// bool QWaitCondition::wait(QMutex*, unsigned long)
bool _ZN14QWaitCondition4waitEP6QMutexm(void* self, void* mutex, unsigned long ms) {
    ZUCAM_REAL("_ZN14QWaitCondition4waitEP6QMutexm", bool (*)(void*, void*, unsigned long));
    __tsan_release(mutex);
    const bool woken = real(self, mutex, ms);
    __tsan_acquire(mutex);
    return woken;
}

// void QThread::start(QThread::Priority)
void _ZN7QThread5startENS_8PriorityE(void* self, int priority) {
    ZUCAM_REAL("_ZN7QThread5startENS_8PriorityE", void (*)(void*, int));
    auto* thread = static_cast<QThread*>(self);
    static const char kHooked[] = "_zucam_tsan_finished_hooked";
    if (!thread->property(kHooked).toBool()) {
        thread->setProperty(kHooked, true);
        QObject::connect(
            thread, &QThread::finished, thread, [thread] { __tsan_release(thread); }, Qt::DirectConnection);
    }
    real(self, priority);
}

// bool QThread::wait(QDeadlineTimer)
bool _ZN7QThread4waitE14QDeadlineTimer(void* self, DeadlineTimer deadline) {
    ZUCAM_REAL("_ZN7QThread4waitE14QDeadlineTimer", bool (*)(void*, DeadlineTimer));
    const bool ended = real(self, deadline);
    if (ended) __tsan_acquire(self);
    return ended;
}

// bool QThread::wait(unsigned long)
bool _ZN7QThread4waitEm(void* self, unsigned long ms) {
    ZUCAM_REAL("_ZN7QThread4waitEm", bool (*)(void*, unsigned long));
    const bool ended = real(self, ms);
    if (ended) __tsan_acquire(self);
    return ended;
}

// void QMetaObject::activate(QObject*, const QMetaObject*, int, void**): moc's signals.
void _ZN11QMetaObject8activateEP7QObjectPKS_iPPv(void* sender, const void* meta, int index, void** args) {
    ZUCAM_REAL("_ZN11QMetaObject8activateEP7QObjectPKS_iPPv", void (*)(void*, const void*, int, void**));
    ReleaseQueued();
    real(sender, meta, index, args);
}

// void QMetaObject::activate(QObject*, int, void**)
void _ZN11QMetaObject8activateEP7QObjectiPPv(void* sender, int index, void** args) {
    ZUCAM_REAL("_ZN11QMetaObject8activateEP7QObjectiPPv", void (*)(void*, int, void**));
    ReleaseQueued();
    real(sender, index, args);
}

// void QMetaObject::activate(QObject*, int, int, void**)
void _ZN11QMetaObject8activateEP7QObjectiiPPv(void* sender, int offset, int index, void** args) {
    ZUCAM_REAL("_ZN11QMetaObject8activateEP7QObjectiiPPv", void (*)(void*, int, int, void**));
    ReleaseQueued();
    real(sender, offset, index, args);
}

// void QCoreApplication::postEvent(QObject*, QEvent*, int)
void _ZN16QCoreApplication9postEventEP7QObjectP6QEventi(void* receiver, void* event, int priority) {
    ZUCAM_REAL("_ZN16QCoreApplication9postEventEP7QObjectP6QEventi", void (*)(void*, void*, int));
    ReleaseQueued();
    real(receiver, event, priority);
}

// bool QMetaObject::invokeMethodImpl(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*):
// invokeMethod with a functor.
bool _ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv(
    void* object, void* slot, int type, void* ret) {
    ZUCAM_REAL("_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv", bool (*)(void*, void*, int, void*));
    ReleaseQueued();
    return real(object, slot, type, ret);
}

// bool QMetaObject::invokeMethod(QObject*, const char*, Qt::ConnectionType,
// QGenericReturnArgument, QGenericArgument x 10): invokeMethod by name.
bool _ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS7_S7_S7_S7_S7_S7_S7_S7_S7_(
    void* object, const char* member, int type, GenericArgument ret, GenericArgument a0, GenericArgument a1,
    GenericArgument a2, GenericArgument a3, GenericArgument a4, GenericArgument a5, GenericArgument a6,
    GenericArgument a7, GenericArgument a8, GenericArgument a9) {
    using Fn = bool (*)(void*, const char*, int, GenericArgument, GenericArgument, GenericArgument, GenericArgument,
                        GenericArgument, GenericArgument, GenericArgument, GenericArgument, GenericArgument,
                        GenericArgument, GenericArgument);
    ZUCAM_REAL("_ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16"
               "QGenericArgumentS7_S7_S7_S7_S7_S7_S7_S7_S7_", Fn);
    ReleaseQueued();
    return real(object, member, type, ret, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9);
}

// void QObject::deleteLater()
void _ZN7QObject11deleteLaterEv(void* self) {
    ZUCAM_REAL("_ZN7QObject11deleteLaterEv", void (*)(void*));
    ReleaseQueued();
    real(self);
}

// void QTimer::singleShotImpl(int, Qt::TimerType, const QObject*, QtPrivate::QSlotObjectBase*)
void _ZN6QTimer14singleShotImplEiN2Qt9TimerTypeEPK7QObjectPN9QtPrivate15QSlotObjectBaseE(int msec, int timerType,
                                                                                     const void* context,
                                                                                     void* slot) {
    ZUCAM_REAL("_ZN6QTimer14singleShotImplEiN2Qt9TimerTypeEPK7QObjectPN9QtPrivate15QSlotObjectBaseE", void (*)(int, int, const void*, void*));
    ReleaseQueued();
    real(msec, timerType, context, slot);
}

}  // extern "C"

// Keeps the hook's registration from being dropped as unused.
[[maybe_unused]] static const bool* const g_keepHooked = &g_hooked;

#endif
