// The bridge's one thread of its own, which owns the helper process that
// makes every SANE call (visara_sane, beside this library): it starts the
// helper when it is first needed, makes every exchange with it, each within
// a limit, and kills it when it does not answer in time; for a scan it also
// starts the progress window (visara_saneprogress) and ends it with the
// scan. Children are started by this thread, which lives as long as the
// process, and die with it (their parent-death signal). No Qt, no SANE
// calls in this process.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SaneWire.h"

using TSaneClock = std::chrono::steady_clock;

// How long each exchange with the helper may take before it is killed.
struct TSaneLimits {
    static constexpr auto Start = std::chrono::seconds(20);       // started and SANE initialised
    static constexpr auto Search = std::chrono::seconds(60);      // the device list (network backends)
    static constexpr auto Open = std::chrono::seconds(30);
    static constexpr auto Option = std::chrono::seconds(10);      // one option set, a batch or device closed
    static constexpr auto ScanStart = std::chrono::seconds(120);  // a frame's start (lamps warm up)
    static constexpr auto Cancel = std::chrono::seconds(3);       // a cancelled scan's end
    static constexpr auto Quit = std::chrono::seconds(2);         // a process's end once told
    // A waiter gives a task up after its own limits and this much more.
    static constexpr auto Slack = std::chrono::seconds(5);
};

struct TSaneScanRequest {
    bool KeepBatch = false;      // a feeder's batch goes on after this page
    bool Fail = false;           // the tests' scan that runs out of memory
    bool Window = false;         // show the progress window
    uint64_t ParentWindow = 0;   // the program's window the progress window stays with
    uint16_t Language = 0;       // TWLG_...
    std::string DeviceName;      // as the window names it
    std::chrono::milliseconds ReadLimit{30000};  // no byte for this long: the device stopped answering
};

struct TSaneScanResult {
    enum class TEnd : uint8_t {
        Scanned,    // the helper reported Status (GOOD with the image)
        Cancelled,  // by the user, or by the program
        Stalled,    // the device stopped answering
        Broken,     // the helper died, broke the protocol, or could not be started
    };
    TEnd End = TEnd::Broken;
    int32_t Status = 9;  // SANE_STATUS_IO_ERROR
    TSaneImage Image;
};

class TSaneLink {
public:
    // The thread starts on first use; throws std::system_error when it
    // cannot, and is tried again at the next call.
    static TSaneLink& Instance();

    // --- From any thread but the link thread: each waits within its limits ---
    // Asks for the devices; Done runs on the link thread with them, or
    // with false when the helper could not tell.
    void Search(std::function<void(bool, std::vector<TSaneFound>)> done);
    // Opens a device with the defaults and the options given; SANE's status.
    int32_t Open(const std::string& name, const std::vector<std::pair<std::string, std::string>>& options,
                 TSaneOptions& now);
    // A change of one option; false when the device did not take it. Now
    // is what the device has afterwards.
    bool Set(TSaneWriter& request, TSaneOptions& now);
    bool EndBatch();

    // Starts a scan; Done runs on the link thread with the result. A
    // cancel from CancelScan or the window ends it; so does the helper's
    // silence, after the limits.
    void StartScan(const TSaneScanRequest& request, std::function<void(TSaneScanResult)> done);
    void CancelScan();
    // Ends the helper (after the running task): asked to quit, killed if it
    // does not; the next exchange starts a new one.
    void Retire();
    // Kills the helper now; whatever it was doing fails.
    void Kill();
    // When the running scan last showed a sign of life.
    TSaneClock::time_point LastProgress() const;

    // Posts a task for the link thread.
    void Post(std::function<void()> task);

private:
    struct TChild {
        pid_t Pid = -1;
        int Fd = -1;
    };

    TSaneLink();
    void Execute();
    // Runs task on the thread and waits up to limit for it; false when it
    // did not end in time.
    bool Run(const std::function<void()>& task, TSaneClock::duration limit);

    // --- On the link thread ---
    bool EnsureHelper();
    bool Exchange(TSaneWriter& request, uint32_t replyKind, std::vector<uint8_t>& reply,
                  TSaneClock::duration limit);
    bool SendFrame(TSaneWriter& w, TSaneClock::time_point deadline);
    bool ReadSome(int fd, TSaneFrames& frames);
    bool NextReply(uint32_t& kind, std::vector<uint8_t>& fields, TSaneClock::time_point deadline);
    TSaneScanResult Scan(const TSaneScanRequest& request);
    void EndHelper(bool politely);
    void StartWindow(const TSaneScanRequest& request);
    void TellWindow(uint32_t permille);
    bool WindowCancelled();
    void EndWindow();
    pid_t Spawn(const char* program, const std::vector<std::string>& args, int& fd);
    bool Reap(pid_t pid, TSaneClock::duration limit);
    void ReapLeftovers();

    std::mutex FMutex;
    std::condition_variable FCond;
    std::deque<std::function<void()>> FTasks;
    std::thread FThread;
    std::string FFolder;  // where the helper programs are

    // The children; Pid changes under FChildMutex, so that Kill from another
    // thread never signals a process id already reaped.
    std::mutex FChildMutex;
    TChild FHelper;
    TSaneFrames FHelperIn;
    TChild FWindow;
    std::vector<pid_t> FLeftovers;  // killed, not yet reaped

    int FWake = -1;  // an eventfd: a cancel was asked for
    std::atomic<bool> FCancel{false};
    std::atomic<int64_t> FLastProgress{0};
};
