#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "QelParallel.h"
#include "ThreadStartFaults.h"

namespace {

struct TThreadCount {
    explicit TThreadCount(int32_t n) { QelSetThreadCount(n); }
    ~TThreadCount() { QelSetThreadCount(0); }
};

// Waits for Flag up to a limit that only a hang reaches.
bool WaitFor(const std::atomic<bool>& Flag) {
    for (int i = 0; i < 10000 && !Flag.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Flag.load();
}

int Failed(const char* What) { return std::fprintf(stderr, "%s\n", What), 1; }

// Every piece done once.
bool Once(const std::vector<std::atomic<int32_t>>& Done) {
    return std::all_of(Done.begin(), Done.end(), [](const std::atomic<int32_t>& d) { return d.load() == 1; });
}

// Runs Scenario in a process of its own, which starts with no helper
// threads, under a watchdog that turns a hang into a failure. The scenario
// returns 0, or says on stderr what went wrong.
void ExpectInAFreshProcess(int (*Scenario)()) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT({ alarm(40); _exit(Scenario()); }, ::testing::ExitedWithCode(0), "");
}

// Thread starts slower than an idle helper waits before it ends, so that
// helpers end while the call still starts others.
int SlowStarts() {
    QelSetHelperIdleEnd(5);
    SlowThreadStarts(10);
    for (int call = 0; call < 4; ++call) {
        std::vector<std::atomic<int32_t>> done(64);
        QelParallelFor(64, 16, [&](int64_t i, int32_t) { done[size_t(i)].fetch_add(1); });
        if (!Once(done)) return Failed("a piece was not done once");
    }
    return 0;
}

// Thread starts that run out of memory, the first to the fourth of a call;
// afterwards calls still find a board and helpers.
int FailedStarts() {
    std::vector<std::atomic<int32_t>> done(64);
    const std::function<void(int64_t, int32_t)> piece = [&](int64_t i, int32_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        done[size_t(i)].fetch_add(1);
    };
    QelParallelFor(2, 2, [](int64_t, int32_t) {});
    for (int32_t nth = 1; nth <= 4; ++nth) {
        for (std::atomic<int32_t>& d : done) d = 0;
        // A failed start that escaped would end the process here.
        FailAllocation(nth);
        QelParallelFor(64, 4 * nth, piece);
        FailAllocation(0);
        if (!Once(done)) return Failed("a piece was not done once");
    }
    std::atomic<bool> helped{false};
    QelParallelFor(2, 2, [&](int64_t, int32_t slot) {
        if (slot == 0) WaitFor(helped);
        else helped = true;
    });
    return helped ? 0 : Failed("no helper served a call after failed starts");
}

// Caller A's Idle throws while B has posted on the board A left; B's job
// must stay on it for A's helper to take once A's piece lets it go.
int IdleThrowsBesideAnotherCall() {
    std::atomic<bool> helperAtA{false}, posted{false}, helperAtB{false};
    const std::function<void(int64_t, int32_t)> pieceB = [&](int64_t i, int32_t slot) {
        if (slot != 0) helperAtB = true;
        else if (i == 0) {
            posted = true;
            WaitFor(helperAtB);
        }
    };
    std::thread b;
    bool threw = false;
    try {
        QelParallelFor(
            2, 2,
            [&](int64_t, int32_t slot) {
                if (slot == 0) {
                    WaitFor(helperAtA);
                    return;
                }
                helperAtA = true;
                WaitFor(posted);
                // A's Idle throws meanwhile.
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            },
            [&] {
                if (!b.joinable()) b = std::thread([&] { QelParallelFor(2, 2, pieceB); });
                WaitFor(posted);
                throw std::runtime_error("idle");
            });
    } catch (const std::runtime_error&) {
        threw = true;
    }
    if (b.joinable()) b.join();
    if (!threw) return Failed("Idle's exception did not reach the caller");
    return helperAtB ? 0 : Failed("the other caller's job was taken off its board");
}

}  // namespace

// Every piece once, on a slot below the count; more threads than pieces, or none.
TEST(QelParallel, EveryPieceOnceOnASlotOfItsOwn) {
    for (const int64_t pieces : {int64_t(0), int64_t(1), int64_t(3), int64_t(1000)})
        for (const int32_t threads : {1, 4, 16}) {
            std::vector<std::atomic<int32_t>> done(static_cast<size_t>(pieces));
            std::atomic<int32_t> badSlot{0};
            const int32_t used = QelParallelThreads(pieces, threads);
            QelParallelFor(pieces, used, [&](int64_t i, int32_t slot) {
                done[size_t(i)].fetch_add(1);
                if (slot < 0 || slot >= used) badSlot.fetch_add(1);
            });
            for (int64_t i = 0; i < pieces; ++i) EXPECT_EQ(done[size_t(i)].load(), 1) << pieces << " " << threads;
            EXPECT_EQ(badSlot.load(), 0);
            EXPECT_LE(used, std::max<int64_t>(pieces, 1));
            EXPECT_GE(used, 1);
        }
}

TEST(QelParallel, ProgramCountIsChosenOnceAndReplaceable) {
    const int32_t chosen = QelThreadCount();
    EXPECT_GE(chosen, 1);
    {
        const TThreadCount three(3);
        EXPECT_EQ(QelThreadCount(), 3);
        EXPECT_EQ(QelParallelThreads(100), 3);
        EXPECT_EQ(QelParallelThreads(2), 2);
        EXPECT_EQ(QelParallelThreads(100, 5), 5);
    }
    EXPECT_EQ(QelThreadCount(), chosen);
}

// Idle runs on the caller only; the caller's exception comes after the
// helpers stopped, a helper's reaches the caller.
TEST(QelParallel, IdleOnTheCallerAndItsExceptionAfterTheHelpers) {
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int32_t> finished{0};
    std::atomic<bool> idleElsewhere{false};
    QelParallelFor(
        4, 4,
        [&](int64_t, int32_t slot) {
            if (slot != 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            finished.fetch_add(1);
        },
        [&] {
            if (std::this_thread::get_id() != caller) idleElsewhere = true;
        });
    EXPECT_EQ(finished.load(), 4);
    EXPECT_FALSE(idleElsewhere.load());

    std::atomic<int32_t> helpersDone{0};
    EXPECT_THROW(QelParallelFor(64, 2,
                                [&](int64_t, int32_t slot) {
                                    if (slot == 0) throw std::runtime_error("caller");
                                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                    helpersDone.fetch_add(1);
                                }),
                 std::runtime_error);
    // The caller's exception ends the handing out, and the helper is not running.
    EXPECT_LT(helpersDone.load(), 63);
    const int32_t after = helpersDone.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(helpersDone.load(), after);

    // A helper's exception ends the handing out too, and comes out of the call.
    std::atomic<bool> helperStarted{false};
    std::atomic<int32_t> done{0};
    try {
        QelParallelFor(1000, 2, [&](int64_t i, int32_t slot) {
            if (slot != 0) {
                helperStarted = true;
                throw std::runtime_error("helper");
            }
            // Slower than the helper's throw, which is to end the handing out.
            if (i == 0) WaitFor(helperStarted);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            done.fetch_add(1);
        });
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "helper");
    }
    EXPECT_LT(done.load(), 999);
}

// Calls from inside pieces, from more threads at once than the helpers
// serve, and from a forked child all end, with every piece done once and no
// slot used by two threads at a time.
TEST(QelParallel, CallsFromPiecesFromManyThreadsAndFromAChildAllEnd) {
    constexpr int32_t Threads = 6;
    std::atomic<int64_t> done{0};
    std::atomic<bool> slotShared{false};
    auto run = [&](int64_t pieces) {
        std::atomic<bool> busy[Threads] = {};
        QelParallelFor(pieces, Threads, [&](int64_t, int32_t slot) {
            if (busy[slot].exchange(true)) slotShared = true;
            done.fetch_add(1);
            busy[slot] = false;
        });
    };
    QelParallelFor(8, 4, [&](int64_t, int32_t) { run(50); });
    EXPECT_EQ(done.load(), 8 * 50);

    done = 0;
    std::vector<std::thread> callers;
    for (int t = 0; t < 10; ++t)
        callers.emplace_back([&] {
            for (int i = 0; i < 40; ++i) run(200);
        });
    for (std::thread& t : callers) t.join();
    EXPECT_EQ(done.load(), 10 * 40 * 200);
    EXPECT_FALSE(slotShared.load());

    // After a pause the helpers, woken or started again, take part.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    std::atomic<int32_t> slotsSeen{0};
    QelParallelFor(8, 4, [&](int64_t, int32_t slot) {
        slotsSeen.fetch_or(1 << slot);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    EXPECT_NE(slotsSeen.load(), 1) << "the caller did every piece alone";

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(20);
        done = 0;
        run(300);
        _exit(done.load() == 300 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child's call did not end";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A call ends and does every piece once whatever starting threads costs,
// and a start that fails leaves nothing posted.
TEST(QelParallel, ACallEndsWhenThreadsStartSlowlyOrFailToStart) {
    ExpectInAFreshProcess(SlowStarts);
    ExpectInAFreshProcess(FailedStarts);
}

// A throwing Idle leaves the board it no longer holds to the caller there.
TEST(QelParallel, AThrowingIdleLeavesAnotherCallersBoard) { ExpectInAFreshProcess(IdleThrowsBesideAnotherCall); }
