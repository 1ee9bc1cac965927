// Thread starts that are slow or fail, on demand, for tests of code that
// starts threads. The test program has its own pthread_create, which waits
// or fails and otherwise passes on to the real one (or a sanitizer's), and
// its own operator new, which can fail the way a std::thread's state does
// when memory runs out. A program that uses it lists ThreadStartFaults.cpp
// among its sources.
#pragma once

#include <cstdint>

// Every thread start from now on takes Milliseconds longer; 0 restores.
void SlowThreadStarts(int32_t Milliseconds);

// The calling thread's next thread start fails as when the system has no
// room for another thread.
void FailNextThreadStart();

// The Nth allocation from now on by the calling thread's operator new
// throws std::bad_alloc; 0 fails none.
void FailAllocation(int32_t Nth);
