#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
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
void WaitFor(const std::atomic<bool>& Flag) {
    for (int i = 0; i < 10000 && !Flag.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// 64 pieces of Ms each over Threads threads, the caller's FailNth allocation failing.
void ExpectEachPieceOnce(int32_t Threads, int32_t Ms, int32_t FailNth = 0) {
    std::vector<std::atomic<int32_t>> done(64);
    const std::function<void(int64_t, int32_t)> piece = [&](int64_t i, int32_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(Ms));
        done[size_t(i)].fetch_add(1);
    };
    FailAllocation(FailNth);  // a failed start that escaped would end the process here
    QelParallelFor(64, Threads, piece);
    FailAllocation(0);
    EXPECT_TRUE(std::all_of(done.begin(), done.end(), [](const std::atomic<int32_t>& d) { return d.load() == 1; }));
}

// Scenario in a process of its own (no helpers yet); a hang fails.
void ExpectInAFreshProcess(void (*Scenario)()) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT((alarm(40), Scenario(), _exit(::testing::Test::HasFailure())), ::testing::ExitedWithCode(0), "");
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

// Idle runs on the caller only; the caller's exception comes after the helpers stopped.
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

    // A helper's exception comes out of the call.
    std::atomic<bool> helperStarted{false};
    EXPECT_THROW(QelParallelFor(2, 2,
                                [&](int64_t, int32_t slot) {
                                    if (slot == 0) return WaitFor(helperStarted);
                                    helperStarted = true;
                                    throw std::logic_error("helper");
                                }),
                 std::logic_error);
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
    // Thread starts slower than an idle helper waits before it ends.
    ExpectInAFreshProcess([] {
        QelSetHelperIdleEnd(5);
        SlowThreadStarts(10);
        for (int call = 0; call < 4; ++call) ExpectEachPieceOnce(16, 0);
    });
    // Thread starts that run out of memory, the first to the fourth of a
    // call; afterwards calls still find a board and helpers.
    ExpectInAFreshProcess([] {
        QelParallelFor(2, 2, [](int64_t, int32_t) {});
        for (int32_t nth = 1; nth <= 4; ++nth) ExpectEachPieceOnce(4 * nth, 1, nth);
        std::atomic<bool> helped{false};
        QelParallelFor(2, 2, [&](int64_t, int32_t slot) {
            if (slot == 0) WaitFor(helped);
            else helped = true;
        });
        EXPECT_TRUE(helped.load()) << "no helper served a call after failed starts";
    });
}

// Caller A's Idle throws while B has posted on the board A left; B's job
// must stay on it for A's helper to take once A's piece lets it go.
TEST(QelParallel, AThrowingIdleLeavesAnotherCallersBoard) {
    ExpectInAFreshProcess([] {
        std::atomic<bool> helperAtA{false}, posted{false}, helperAtB{false};
        const std::function<void(int64_t, int32_t)> pieceB = [&](int64_t i, int32_t slot) {
            if (slot != 0) helperAtB = true;
            else if (i == 0) {
                posted = true;
                WaitFor(helperAtB);
            }
        };
        const std::function<void(int64_t, int32_t)> pieceA = [&](int64_t, int32_t slot) {
            if (slot == 0) return WaitFor(helperAtA);
            helperAtA = true;
            WaitFor(posted);
            // A's Idle throws meanwhile.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        };
        std::thread b;
        EXPECT_THROW(QelParallelFor(2, 2, pieceA, [&] {
            if (!b.joinable()) b = std::thread([&] { QelParallelFor(2, 2, pieceB); });
            WaitFor(posted);
            throw std::runtime_error("idle");
        }), std::runtime_error);
        if (b.joinable()) b.join();
        EXPECT_TRUE(helperAtB.load()) << "the other caller's job was taken off its board";
    });
}
