// Runs work on the UI thread from any thread and waits for it, the way a
// worker hands its events over. Called on the UI thread, the work runs at
// once. Exceptions thrown by the work are carried back to the caller and
// never unwind through Qt. Once closing, pending and later calls do nothing.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <thread>

class TQelMainCaller {
public:
    // Construct on the UI thread: the target lives where it is made.
    TQelMainCaller() = default;

    void Run(const std::function<void()>& fn) {
        if (FClosing.load()) return;
        if (QThread::currentThread() == FTarget.thread()) {
            fn();
            return;
        }
        std::exception_ptr error;
        QMetaObject::invokeMethod(
            &FTarget,
            [&] {
                if (FClosing.load()) return;
                try {
                    fn();
                } catch (...) {
                    error = std::current_exception();
                }
            },
            Qt::BlockingQueuedConnection);
        if (error) std::rethrow_exception(error);
    }

    void SetClosing(bool closing) { FClosing.store(closing); }
    bool Closing() const { return FClosing.load(); }

    // Waits on the UI thread for a thread that may be inside Run: its
    // hand-overs are answered (as no-ops once closing) while waiting, so a
    // plain join can never deadlock against it.
    void WaitUntil(const std::function<bool()>& finished) {
        const bool onMain = QThread::currentThread() == FTarget.thread();
        while (!finished()) {
            if (onMain) QCoreApplication::sendPostedEvents(&FTarget, QEvent::MetaCall);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (onMain) QCoreApplication::sendPostedEvents(&FTarget, QEvent::MetaCall);
    }

private:
    QObject FTarget;
    std::atomic<bool> FClosing{false};
};
