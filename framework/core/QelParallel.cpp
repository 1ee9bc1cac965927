#include "QelParallel.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

namespace {

// How long a helper waits for the next job before it ends. With 20 ms, a
// small call after a 30 ms pause took 1.2-1.8 times as long as one after
// 5 ms (ParallelBench); from 100 ms on about 1.1, and a quarter turn took as
// long with woken helpers as with fresh ones.
constexpr int32_t DefaultIdleEnd = 1000;
std::atomic<int32_t> IdleEnd{DefaultIdleEnd};


int32_t FromProcessors() {
    return int32_t(std::clamp(std::thread::hardware_concurrency(), 1u, 16u));
}

std::atomic<int32_t>& Setting() {
    static std::atomic<int32_t> count{FromProcessors()};
    return count;
}

// One call's pieces, as the pool's threads see it.
struct TJob {
    int64_t Pieces = 0;
    const std::function<void(int64_t, int32_t)>* Piece = nullptr;
    std::atomic<int64_t> Next{0};
    int32_t Helpers = 0;
    // Seats left for helpers: the helper that takes seat S has slot
    // Helpers - S + 1.
    std::atomic<int32_t> Seats{0};
    // Helpers that sat down and have not yet left.
    std::atomic<int32_t> Running{0};
    // The first exception of a piece or of Idle, which the caller raises
    // once the helpers have left.
    std::atomic<bool> Failed{false};
    std::exception_ptr Error;

    void Work(int32_t Slot) noexcept {
        try {
            for (int64_t i; (i = Next.fetch_add(1, std::memory_order_relaxed)) < Pieces;) (*Piece)(i, Slot);
        } catch (...) {
            Fail(std::current_exception());
        }
    }

    // Keeps Error and hands out no more pieces.
    void Fail(std::exception_ptr What) noexcept {
        if (!Failed.exchange(true)) Error = std::move(What);
        Next.store(Pieces);
    }
};

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// Whether Done came true within about Micro microseconds.
template <class TDone>
bool Spin(const TDone& Done, int32_t Micro) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(Micro);
    for (int32_t i = 0;; ++i) {
        if (Done()) return true;
        if ((i & 63) == 63 && std::chrono::steady_clock::now() > end) return false;
        Pause();
    }
}

// Threads that stay while calls keep coming, so that a call costs a wake-up
// instead of starting threads: a small edit's work is over in well under a
// millisecond. A call posts its job on one of a few boards and does the
// pieces itself as well; it never waits for a helper that has not sat down,
// so a call while every board is taken, from inside a piece, while the
// helpers are busy elsewhere, or while threads are slow to start or cannot
// be started still ends: its caller does what nobody takes.
class TPool {
public:
    // Posts the job for up to Job.Helpers helpers and returns its board,
    // or -1 when every board is taken.
    int32_t Post(TJob& Job) noexcept {
        for (int32_t b = 0; b < Boards; ++b) {
            TJob* none = nullptr;
            if (FBoard[b].Job.compare_exchange_strong(none, &Job)) {
                FPosted.fetch_add(1);
                if (FSleepers.load() > 0) {
                    // A helper that decided to end has, once this lock was
                    // free, left the count for Grow.
                    { std::lock_guard lock(FSleep); }
                    FWake.notify_all();
                }
                // Threads started now find the job at once.
                Grow(Job);
                return b;
            }
        }
        return -1;
    }

    // Takes the job off its board, once, and waits for the helpers that sat
    // down at it; Idle, when given, every 2 ms until it throws.
    void Finish(TJob& Job, int32_t Board, const std::function<void()>& Idle) noexcept {
        TBoard& board = FBoard[Board];
        board.Job.store(nullptr);
        // A helper looking at the board has either sat down or gone.
        for (int32_t i = 0; board.Visitors.load() > 0; ++i)
            if (i < 1000) Pause();
            else std::this_thread::yield();
        auto done = [&] { return Job.Running.load(std::memory_order_acquire) == 0; };
        // The helpers are usually about to finish: a sleep would cost more
        // than the wait.
        if (Spin(done, 50)) return;
        auto idled = std::chrono::steady_clock::now();
        bool idle = bool(Idle);
        while (!done()) {
            if (idle && std::chrono::steady_clock::now() - idled >= std::chrono::milliseconds(2)) {
                try {
                    Idle();
                } catch (...) {
                    Job.Fail(std::current_exception());
                    idle = false;
                }
                idled = std::chrono::steady_clock::now();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }

private:
    static constexpr int32_t Boards = 4;
    static constexpr int32_t MaxThreads = 64;
    struct alignas(64) TBoard {
        std::atomic<TJob*> Job{nullptr};
        std::atomic<int32_t> Visitors{0};
    };

    // Starts the threads the job lacks, as counted once: helpers that end
    // meanwhile are not made up for, so that slow starts cannot keep the
    // caller here. Stops when the pieces are all handed out or a thread
    // cannot be started (the next call tries again).
    void Grow(const TJob& Job) noexcept {
        const int32_t wanted = std::min(Job.Helpers, MaxThreads);
        for (int32_t starts = wanted - FCount.load(); starts > 0; --starts) {
            if (Job.Next.load(std::memory_order_relaxed) >= Job.Pieces) return;
            int32_t count = FCount.load();
            do
                if (count >= wanted) return;
            while (!FCount.compare_exchange_weak(count, count + 1));
            try {
                std::thread([this] { Serve(); }).detach();
            } catch (...) {
                FCount.fetch_sub(1);
                return;
            }
        }
    }

    // Sits down at every posted job that has a seat left, in turn.
    void Visit() noexcept {
        for (TBoard& board : FBoard) {
            board.Visitors.fetch_add(1);
            TJob* job = board.Job.load();
            int32_t seat = 0;
            if (job && (seat = job->Seats.fetch_sub(1)) > 0) job->Running.fetch_add(1);
            board.Visitors.fetch_sub(1);
            if (seat <= 0) continue;
            job->Work(job->Helpers - seat + 1);
            // The caller's frame holds the job: after this it may be gone.
            job->Running.fetch_sub(1, std::memory_order_release);
        }
    }

    // Serves until no job came for IdleEnd. A caller often posts again at
    // once (the steps of one operation), so a helper looks for a while
    // before it sleeps. It stays through the pauses of a working user (a
    // call after a pause then costs a wake-up, not a thread start and the
    // thread's workspaces) and ends after a long one.
    void Serve() noexcept {
        for (;;) {
            const uint32_t seen = FPosted.load();
            Visit();
            if (Spin([&] { return FPosted.load(std::memory_order_relaxed) != seen; }, 100)) continue;
            std::unique_lock lock(FSleep);
            FSleepers.fetch_add(1);
            const bool posted = FWake.wait_for(lock, std::chrono::milliseconds(IdleEnd.load()), [&] { return FPosted.load() != seen; });
            // Before the sleeper count: a caller that sees this one gone
            // from it counts the threads without it.
            if (!posted) FCount.fetch_sub(1);
            FSleepers.fetch_sub(1);
            if (!posted) return;
        }
    }

    TBoard FBoard[Boards];
    std::atomic<uint32_t> FPosted{0};
    std::mutex FSleep;
    std::condition_variable FWake;
    std::atomic<int32_t> FSleepers{0};
    // Threads running or being started.
    std::atomic<int32_t> FCount{0};
};

TPool* Pool = nullptr;

// A child of fork has none of the pool's threads: it starts a pool of its
// own and leaves the parent's where it is (without one, its calls run on
// the caller alone).
void ForkChild() {
    if (Pool) Pool = new (std::nothrow) TPool;
}

// Null when there is none and none can be made.
TPool* ThePool() noexcept {
    try {
        // Never destroyed: its threads may wait on it until the program ends.
        static const bool made = [] {
            Pool = new TPool;
            pthread_atfork(nullptr, nullptr, ForkChild);
            return true;
        }();
        (void)made;
    } catch (...) {
        return nullptr;
    }
    return Pool;
}

}  // namespace

int32_t QelThreadCount() { return Setting().load(std::memory_order_relaxed); }

void QelSetThreadCount(int32_t Count) { Setting().store(Count > 0 ? std::min(Count, 64) : FromProcessors()); }

void QelSetHelperIdleEnd(int32_t Milliseconds) { IdleEnd.store(Milliseconds > 0 ? Milliseconds : DefaultIdleEnd); }

int32_t QelParallelThreads(int64_t Pieces, int32_t Wanted) {
    const int32_t wanted = Wanted > 0 ? Wanted : QelThreadCount();
    return int32_t(std::max<int64_t>(1, std::min<int64_t>(wanted, Pieces)));
}

void QelParallelFor(int64_t Pieces, int32_t Threads, const std::function<void(int64_t, int32_t)>& Piece,
                    const std::function<void()>& Idle) {
    if (Pieces <= 0) return;
    const int32_t threads = QelParallelThreads(Pieces, std::max(Threads, 1));
    TJob job;
    job.Pieces = Pieces;
    job.Piece = &Piece;
    job.Helpers = threads - 1;
    job.Seats = job.Helpers;
    TPool* pool = threads > 1 ? ThePool() : nullptr;
    const int32_t board = pool ? pool->Post(job) : -1;
    if (board < 0) {
        for (int64_t i = 0; i < Pieces; ++i) Piece(i, 0);
        return;
    }
    // From here until the helpers have left, nothing may leave this frame,
    // which they use: an exception waits in the job.
    job.Work(0);
    pool->Finish(job, board, Idle);
    if (job.Error) std::rethrow_exception(job.Error);
}
