// Thread starts that are slow or fail on demand: the test program's own
// pthread_create waits or fails before it passes on to the real one (or a
// sanitizer's), and its own operator new can fail as a std::thread's state
// does when memory runs out. Programs list ThreadStartFaults.cpp as a source.
#pragma once

#include <cstdint>

// Every thread start from now on takes Milliseconds longer; 0 restores.
void SlowThreadStarts(int32_t Milliseconds);
// The calling thread's next thread start fails as when there is no room for
// another thread.
void FailNextThreadStart();
// The calling thread's Nth allocation from now on throws std::bad_alloc; 0
// fails none.
void FailAllocation(int32_t Nth);
