#include "QelParallel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace {

int32_t FromProcessors() {
    return int32_t(std::clamp(std::thread::hardware_concurrency(), 1u, 16u));
}

std::atomic<int32_t>& Setting() {
    static std::atomic<int32_t> count{FromProcessors()};
    return count;
}

}  // namespace

int32_t QelThreadCount() { return Setting().load(std::memory_order_relaxed); }

void QelSetThreadCount(int32_t Count) { Setting().store(Count > 0 ? std::min(Count, 64) : FromProcessors()); }

int32_t QelParallelThreads(int64_t Pieces, int32_t Wanted) {
    const int32_t wanted = Wanted > 0 ? Wanted : QelThreadCount();
    return int32_t(std::max<int64_t>(1, std::min<int64_t>(wanted, Pieces)));
}

void QelParallelFor(int64_t Pieces, int32_t Threads, const std::function<void(int64_t, int32_t)>& Piece,
                    const std::function<void()>& Idle) {
    if (Pieces <= 0) return;
    const int32_t threads = QelParallelThreads(Pieces, std::max(Threads, 1));
    std::atomic<int64_t> next{0};
    std::atomic<int32_t> running{0};
    auto work = [&](int32_t slot) {
        for (int64_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < Pieces;) Piece(i, slot);
    };
    std::vector<std::thread> helpers;
    try {
        helpers.reserve(size_t(threads - 1));
        for (int32_t slot = 1; slot < threads; ++slot) {
            running.fetch_add(1);
            try {
                helpers.emplace_back([&work, &running, slot]() noexcept {
                    work(slot);
                    running.fetch_sub(1, std::memory_order_release);
                });
            } catch (const std::system_error&) {
                running.fetch_sub(1);
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        // No room for the list: the caller does it all.
    }
    // What the caller raises comes out once the helpers have stopped: they
    // use this frame.
    std::exception_ptr failure;
    try {
        work(0);
        if (Idle)
            while (running.load(std::memory_order_acquire) > 0) {
                Idle();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
    } catch (...) {
        next.store(Pieces);
        failure = std::current_exception();
    }
    for (std::thread& t : helpers) t.join();
    if (failure) std::rethrow_exception(failure);
}
