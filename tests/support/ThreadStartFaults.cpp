#include "ThreadStartFaults.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>
#include <utility>

namespace {
std::atomic<int32_t> SlowStarts{0};
thread_local int32_t FailIn = 0;
thread_local bool FailStart = false;
}  // namespace

void SlowThreadStarts(int32_t Milliseconds) { SlowStarts.store(Milliseconds); }
void FailNextThreadStart() { FailStart = true; }
void FailAllocation(int32_t Nth) { FailIn = Nth; }

// Found before the C library's (and a sanitizer runtime's, which the next
// one in line then is), so every std::thread of the program starts here.
extern "C" int pthread_create(pthread_t* Thread, const pthread_attr_t* Attributes, void* (*Start)(void*),
                              void* Argument) noexcept {
    using TCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const TCreate real = reinterpret_cast<TCreate>(dlsym(RTLD_NEXT, "pthread_create"));
    if (std::exchange(FailStart, false)) return EAGAIN;
    if (const int32_t ms = SlowStarts.load()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return real(Thread, Attributes, Start, Argument);
}

void* operator new(std::size_t Size) {
    void* p = FailIn > 0 && --FailIn == 0 ? nullptr : std::malloc(Size ? Size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
void operator delete(void* Block) noexcept { std::free(Block); }
void operator delete(void* Block, std::size_t) noexcept { std::free(Block); }
