// A FIFO for tests of readers that must never block on one. Should a reader
// wait in open() or read() all the same, a watchdog opens the writing end
// after a second, which lets it go, and the test sees ReaderBlocked()
// instead of hanging.
#pragma once

#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class TWatchedFifo {
public:
    explicit TWatchedFifo(const QString& Path) : Name(QFile::encodeName(Path)) {
        Made = ::mkfifo(Name.constData(), 0600) == 0;
        if (Made) Watchdog = std::thread([this] { Watch(); });
    }
    ~TWatchedFifo() {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            Done = true;
        }
        Wake.notify_all();
        if (Watchdog.joinable()) Watchdog.join();
    }
    TWatchedFifo(const TWatchedFifo&) = delete;
    TWatchedFifo& operator=(const TWatchedFifo&) = delete;

    bool Made = false;
    bool ReaderBlocked() const { return Blocked; }

private:
    void Watch() {
        std::unique_lock<std::mutex> lock(Mutex);
        while (!Wake.wait_for(lock, std::chrono::seconds(1), [this] { return Done; })) {
            // Succeeds only while someone holds the reading end open.
            const int writer = ::open(Name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (writer >= 0) {
                Blocked = true;
                ::close(writer);
            }
        }
    }

    const QByteArray Name;
    std::mutex Mutex;
    std::condition_variable Wake;
    bool Done = false;
    std::atomic<bool> Blocked{false};
    std::thread Watchdog;
};
