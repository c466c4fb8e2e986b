// Sanitizer settings built into every test program of a sanitizer build, so
// that a test run by hand behaves as under CTest. ASAN_OPTIONS, TSAN_OPTIONS
// and friends in the environment still override them.
#if defined(__SANITIZE_ADDRESS__)

#ifdef ZUCAM_FULL_MALLOC_STACKS
// Qt's offscreen platform leaves its screen objects behind at exit; the
// suppression below can only match them with full allocation stacks.
#define ZUCAM_UNWIND ":fast_unwind_on_malloc=0"
#else
#define ZUCAM_UNWIND ""
#endif

extern "C" const char* __asan_default_options() {
    return "detect_leaks=1:abort_on_error=1:strict_string_checks=1" ZUCAM_UNWIND;
}

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libqoffscreen.so\n";
}

extern "C" const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}

#endif

#if defined(__SANITIZE_THREAD__)

// The first report fails the case. The suppressions (tsan.supp beside this
// file) cover Qt, glib and PulseAudio only; tsan_qt_sync.cpp adds the edges
// of Qt's own locking and queued calls.
extern "C" const char* __tsan_default_options() {
    return "halt_on_error=1:second_deadlock_stack=1:history_size=4:suppressions=" ZUCAM_TSAN_SUPPRESSIONS;
}

#endif
