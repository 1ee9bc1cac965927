// Runs work on the UI thread from any thread and waits for it, the way a
// worker hands its events over. Called on the UI thread, the work runs at
// once. Exceptions thrown by the work are carried back to the caller and
// never unwind through Qt. Once closing, pending and later calls do nothing.
//
// The call itself is handed over under a mutex of our own and answered
// through a condition variable; Qt only wakes the UI thread (TQelWakeUp).
// So the hand-over is one that ThreadSanitizer sees, which it cannot in
// Qt's own blocking queued call.
#pragma once

#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "QelWakeUp.h"

class TQelMainCaller {
public:
    // Construct on the UI thread: the target lives where it is made.
    TQelMainCaller() = default;
    TQelMainCaller(const TQelMainCaller&) = delete;
    TQelMainCaller& operator=(const TQelMainCaller&) = delete;

    void Run(const std::function<void()>& fn) {
        if (FClosing.load()) return;
        if (QThread::currentThread() == FTarget.thread()) {
            fn();
            return;
        }
        TCall call;
        call.Work = &fn;
        {
            std::lock_guard lock(FMutex);
            FPending.push_back(&call);
        }
        FTarget.Wake();
        std::unique_lock lock(FMutex);
        FAnswered.wait(lock, [&] { return call.Answered; });
        if (call.Error) std::rethrow_exception(call.Error);
    }

    void SetClosing(bool closing) { FClosing.store(closing); }
    bool Closing() const { return FClosing.load(); }

    // Waits on the UI thread, up to limit, for a thread that may be inside
    // Run: its hand-overs are answered (as no-ops once closing) while
    // waiting, so a plain join can never deadlock against it. False when
    // the thread had not finished in time.
    bool WaitUntil(const std::function<bool()>& finished, std::chrono::milliseconds limit) {
        const bool onMain = QThread::currentThread() == FTarget.thread();
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!finished()) {
            if (onMain) Answer();
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (onMain) Answer();
        return true;
    }

private:
    struct TCall {
        const std::function<void()>* Work = nullptr;
        std::exception_ptr Error;
        bool Answered = false;
    };

    // On the UI thread: runs every pending call. Each is taken off the
    // list before it runs, so a call that opens a nested event loop (a
    // message box) leaves the others to be answered there.
    void Answer() {
        for (;;) {
            TCall* call;
            {
                std::lock_guard lock(FMutex);
                if (FPending.empty()) return;
                call = FPending.front();
                FPending.pop_front();
            }
            if (!FClosing.load()) {
                try {
                    (*call->Work)();
                } catch (...) {
                    call->Error = std::current_exception();
                }
            }
            {
                std::lock_guard lock(FMutex);
                // From here the caller may return: the call is gone.
                call->Answered = true;
            }
            FAnswered.notify_all();
        }
    }

    std::atomic<bool> FClosing{false};
    std::mutex FMutex;
    std::condition_variable FAnswered;
    std::deque<TCall*> FPending;
    TQelWakeUp FTarget{[this] { Answer(); }};
};
