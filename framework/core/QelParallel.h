// One way to split a computation over threads for the time of one call.
// The threads are a pool, started as needed and kept while calls keep
// coming, so that a call costs a wake-up rather than starting threads.
//
// The rule every caller keeps: a split never changes a result. A piece is
// computed from its inputs alone, never from what another piece or thread
// left behind (scratch memory belongs to a slot and is set up afresh for
// each piece), so the same bytes come out whatever the thread count and
// whichever thread takes which piece.
//
// The calling thread takes part (slot 0) and returns when every piece is
// done. It never waits for a helper that has not started, so a call from
// inside a piece, from several threads at once, in a forked child, or while
// threads are slow to start or cannot be started still ends (its caller
// then does more of the pieces). What a piece or Idle throws stops the
// handing out of pieces and comes out of the call once the helpers have
// left (the first exception, when several threw). Pieces run on plain
// threads and touch nothing of Qt. Only the calling thread reports
// progress: in its own pieces and in Idle while the others finish.
#pragma once

#include <cstdint>
#include <functional>

// The program's thread count: chosen once, at first use, from the
// processor count (at most 16).
int32_t QelThreadCount();
// Replaces the program's count; 0 chooses from the processor count again.
// For tests and benchmarks.
void QelSetThreadCount(int32_t Count);
// How long an idle helper waits for the next job before it ends, in
// milliseconds; 0 restores the program's choice. For tests.
void QelSetHelperIdleEnd(int32_t Milliseconds);

// Threads for Pieces pieces: Wanted (0: the program's count), no more than
// there are pieces, at least 1.
int32_t QelParallelThreads(int64_t Pieces, int32_t Wanted = 0);

// Piece(Index, Slot) for every Index in [0, Pieces), handed out in order to
// whichever of Threads threads is free; Slot is the thread's number, 0 for
// the caller, and no two threads have the same slot at once. A helper that
// cannot be started or is busy leaves its share to the others. While
// helpers finish their last pieces, the caller calls Idle (when given)
// every 2 ms.
void QelParallelFor(int64_t Pieces, int32_t Threads, const std::function<void(int64_t Index, int32_t Slot)>& Piece,
                    const std::function<void()>& Idle = nullptr);
