// Thread plumbing of the acquisition threads: a message queue per thread
// (post, blocking get, peek by range, quit) and a per-request completion
// with its own sequence number, so a late answer can never be taken by the
// next caller.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>
#include <mutex>

#include "TwnDefs.h"

constexpr uint32_t TWN_WM_USER = 1024;
constexpr uint32_t TWN_WM_QUIT = 0x0012;

// One data source manager call as the queue thread makes it.
struct TwnCallRecord {
    TW_IDENTITY* origin = nullptr;
    TW_IDENTITY* dest = nullptr;
    uint32_t dg = 0;
    uint16_t dat = 0;
    uint16_t msg = 0;
    void* data = nullptr;
};

// A request handed to the queue thread and waited for by its poster.
class TwnRequest {
public:
    enum class State { Pending, Running, Done, Abandoned };

    explicit TwnRequest(uint64_t seq) : Seq(seq) {}

    const uint64_t Seq;
    TwnCallRecord Call;
    // The call's data as the queue thread uses it: the request's own copy,
    // so a call that runs after its poster gave up never writes into the
    // poster's (gone) memory.
    std::vector<uint8_t> Data;
    // Frees what an abandoned call holds (a container sent or returned).
    std::function<void(void* data)> Release;
    bool ShowUI = false;   // enable: in and out
    bool ModalUI = false;  // enable: out
    uint64_t ParentWindow = 0;  // enable: the application's window, its native id

    // Queue side: true when the request is to run (it was not abandoned).
    bool Start() {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FState != State::Pending) return false;
        FState = State::Running;
        return true;
    }
    void Finish(uint16_t result) {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            if (FState != State::Abandoned) {
                FResult = result;
                FState = State::Done;
                FCond.notify_all();
                return;
            }
        }
        if (Release) Release(Call.data);
    }
    // Queue side, for a request that did not start: frees what it holds
    // when its poster gave it up.
    void Skip() {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            if (FState != State::Abandoned) return;
        }
        if (Release) Release(Call.data);
    }
    // Poster side: waits up to timeoutMs (-1: no limit) for the result;
    // false when none came in that time.
    bool WaitDone(int32_t timeoutMs) {
        std::unique_lock<std::mutex> lock(FMutex);
        auto done = [this] { return FState == State::Done; };
        if (timeoutMs < 0) {
            FCond.wait(lock, done);
            return true;
        }
        return FCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
    }
    // Gives the request up: the queue thread skips it when it has not
    // started, and discards its result otherwise. False when it is done.
    bool Abandon() {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FState == State::Done) return false;
        FState = State::Abandoned;
        return true;
    }
    // Gives the request up only when it has not started.
    bool AbandonIfPending() {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FState != State::Pending) return false;
        FState = State::Abandoned;
        return true;
    }
    uint16_t Result() {
        std::lock_guard<std::mutex> lock(FMutex);
        return FResult;
    }

private:
    std::mutex FMutex;
    std::condition_variable FCond;
    State FState = State::Pending;
    uint16_t FResult = TWRC_FAILURE;
};

struct TwnMsg {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    bool window = false;  // a window message from a source, not a thread message
    std::shared_ptr<TwnRequest> request;
    // A failure report carries its six values by value.
    uint32_t failDG = 0;
    uint16_t failDAT = 0, failCap = 0, failMSG = 0, failRC = 0, failCC = 0;
};

class TwnMessageQueue {
public:
    // Signals under the lock: the reader may destroy the queue as soon as
    // it has the message.
    void Post(TwnMsg msg) {
        std::lock_guard<std::mutex> lock(FMutex);
        FQueue.push_back(std::move(msg));
        FCond.notify_all();
    }
    void PostQuit() {
        TwnMsg m;
        m.message = TWN_WM_QUIT;
        Post(std::move(m));
    }
    // Waits for the next message.
    TwnMsg Get() {
        std::unique_lock<std::mutex> lock(FMutex);
        FCond.wait(lock, [this] { return !FQueue.empty(); });
        TwnMsg m = std::move(FQueue.front());
        FQueue.pop_front();
        return m;
    }
    std::deque<TwnMsg> TakeAll() {
        std::lock_guard<std::mutex> lock(FMutex);
        std::deque<TwnMsg> all;
        all.swap(FQueue);
        return all;
    }

private:
    std::mutex FMutex;
    std::condition_variable FCond;
    std::deque<TwnMsg> FQueue;
};

// An in-process manual-reset event.
class TwnEvent {
public:
    void Set() {
        std::lock_guard<std::mutex> lock(FMutex);
        FSet = true;
        FCond.notify_all();
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(FMutex);
        FSet = false;
    }
    bool Wait(int32_t timeoutMs) {
        std::unique_lock<std::mutex> lock(FMutex);
        if (timeoutMs < 0) {
            FCond.wait(lock, [this] { return FSet; });
            return true;
        }
        return FCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FSet; });
    }

private:
    std::mutex FMutex;
    std::condition_variable FCond;
    bool FSet = false;
};
