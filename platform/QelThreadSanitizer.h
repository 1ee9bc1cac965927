// Tells ThreadSanitizer what it cannot see for itself. Qt is not built for
// it, so a hand-over through Qt's event queue or thread pool looks to it
// like a race. Nothing in other builds.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define QEL_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QEL_THREAD_SANITIZER 1
#endif
#endif

#ifdef QEL_THREAD_SANITIZER
extern "C" {
void __tsan_acquire(void* addr);
void __tsan_release(void* addr);
void __tsan_ignore_thread_begin();
void __tsan_ignore_thread_end();
}
#endif

// What a thread did before QelSanitizerRelease(Key) is seen by a thread
// that calls QelSanitizerAcquire(Key) after it.
inline void QelSanitizerRelease([[maybe_unused]] const void* Key) {
#ifdef QEL_THREAD_SANITIZER
    __tsan_release(const_cast<void*>(Key));
#endif
}
inline void QelSanitizerAcquire([[maybe_unused]] const void* Key) {
#ifdef QEL_THREAD_SANITIZER
    __tsan_acquire(const_cast<void*>(Key));
#endif
}

// Makes something that Qt alone will read and free on another thread (an
// event posted there) without the sanitizer tracking it, as it tracks
// nothing of Qt's own.
template <class TMake>
auto QelSanitizerUntracked(const TMake& Make) {
#ifdef QEL_THREAD_SANITIZER
    __tsan_ignore_thread_begin();
    auto made = Make();
    __tsan_ignore_thread_end();
    return made;
#else
    return Make();
#endif
}
