#include "SaneLink.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sane/sane.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <system_error>

#include "SaneProgressWire.h"

extern char** environ;

static_assert(SaneProgressFd == SaneSocketFd, "both children find the bridge's socket on one descriptor");

namespace {

void Anchor() {}

// The folder this library was loaded from: the helper programs are beside it.
std::string OwnFolder() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&Anchor), &info) || !info.dli_fname) return ".";
    const std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

int64_t Ticks(TSaneClock::time_point t) { return t.time_since_epoch().count(); }

int MillisecondsUntil(TSaneClock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TSaneClock::now()).count();
    return int(std::clamp<int64_t>(left, 0, 1000));
}

}  // namespace

TSaneLink& TSaneLink::Instance() {
    static std::mutex made;
    static TSaneLink* link = nullptr;  // lives as long as the process
    std::lock_guard<std::mutex> lock(made);
    if (!link) link = new TSaneLink();
    return *link;
}

TSaneLink::TSaneLink() : FFolder(OwnFolder()) {
    FWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FWake < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    try {
        FThread = std::thread([this] { Execute(); });
    } catch (...) {
        close(FWake);
        throw;
    }
}

void TSaneLink::Execute() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(FMutex);
            FCond.wait(lock, [this] { return !FTasks.empty(); });
            task = std::move(FTasks.front());
            FTasks.pop_front();
        }
        try {
            task();
        } catch (...) {
            // A task reports through its own state; the thread goes on.
        }
        ReapLeftovers();
    }
}

void TSaneLink::Post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FTasks.push_back(std::move(task));
    }
    FCond.notify_all();
}

bool TSaneLink::Run(const std::function<void()>& task, TSaneClock::duration limit) {
    // Shared, as a waiter that gives up leaves the task behind.
    struct TState {
        bool Started = false, Done = false;
    };
    auto state = std::make_shared<TState>();
    Post([this, task, state] {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            state->Started = true;
        }
        FCond.notify_all();
        try {
            task();
        } catch (...) {
        }
        std::lock_guard<std::mutex> lock(FMutex);
        state->Done = true;
        FCond.notify_all();
    });
    // The time a task ahead may take (the longest but a scan's), then its own.
    std::unique_lock<std::mutex> lock(FMutex);
    if (!FCond.wait_for(lock, TSaneLimits::Start + TSaneLimits::Search + TSaneLimits::Slack,
                        [&] { return state->Started; }))
        return false;
    return FCond.wait_for(lock, limit + TSaneLimits::Slack, [&] { return state->Done; });
}

// --- Operations ---------------------------------------------------------------------

void TSaneLink::Search(std::function<void(bool, std::vector<TSaneFound>)> done) {
    Post([this, done] {
        std::vector<uint8_t> reply;
        TSaneWriter w(SaneReqList);
        std::vector<TSaneFound> list;
        bool ok = Exchange(w, SaneRepDevices, reply, TSaneLimits::Search);
        if (ok) {
            TSaneReader r(reply.data(), reply.size());
            ok = SaneReadDevices(r, list);
            if (!ok) EndHelper(false);  // not what it should send
        }
        done(ok, ok ? std::move(list) : std::vector<TSaneFound>());
    });
}

int32_t TSaneLink::Open(const std::string& name, const std::vector<std::pair<std::string, std::string>>& options,
                        TSaneOptions& now) {
    struct TOut {
        int32_t Status = SANE_STATUS_IO_ERROR;
        TSaneOptions Options;
    };
    auto out = std::make_shared<TOut>();
    auto request = std::make_shared<TSaneWriter>(SaneReqOpen);
    request->Text(name).U32(uint32_t(options.size()));
    for (const auto& [key, value] : options) request->Text(key).Text(value);
    const bool ran = Run(
        [this, out, request] {
            std::vector<uint8_t> reply;
            if (!Exchange(*request, SaneRepOpened, reply, TSaneLimits::Open)) return;
            TSaneReader r(reply.data(), reply.size());
            const int32_t status = r.I32();
            if (!out->Options.Read(r) || !r.AtEnd()) return EndHelper(false);
            out->Status = status;
        },
        TSaneLimits::Start + TSaneLimits::Open);
    if (!ran) return SANE_STATUS_IO_ERROR;
    now = out->Options;
    return out->Status;
}

bool TSaneLink::Set(TSaneWriter& request, TSaneOptions& now) {
    struct TOut {
        bool Answered = false, Taken = false;
        TSaneOptions Options;
    };
    auto out = std::make_shared<TOut>();
    auto sent = std::make_shared<TSaneWriter>(request);
    const bool ran = Run(
        [this, out, sent] {
            std::vector<uint8_t> reply;
            if (!Exchange(*sent, SaneRepOptions, reply, TSaneLimits::Option)) return;
            TSaneReader r(reply.data(), reply.size());
            out->Taken = r.U8() != 0;
            if (!out->Options.Read(r) || !r.AtEnd()) return EndHelper(false);
            out->Answered = true;
        },
        TSaneLimits::Start + TSaneLimits::Option);
    if (!ran || !out->Answered) return false;
    now = out->Options;
    return out->Taken;
}

bool TSaneLink::EndBatch() {
    auto ok = std::make_shared<bool>(false);
    const bool ran = Run(
        [this, ok] {
            std::vector<uint8_t> reply;
            TSaneWriter w(SaneReqEndBatch);
            *ok = Exchange(w, SaneRepDone, reply, TSaneLimits::Option);
        },
        TSaneLimits::Start + TSaneLimits::Option);
    return ran && *ok;
}

void TSaneLink::Retire() {
    Post([this] { EndHelper(true); });
}

void TSaneLink::Kill() {
    std::lock_guard<std::mutex> lock(FChildMutex);
    if (FHelper.Pid > 0) ::kill(FHelper.Pid, SIGKILL);
}

void TSaneLink::StartScan(const TSaneScanRequest& request, std::function<void(TSaneScanResult)> done) {
    FCancel.store(false);
    uint64_t drained;
    while (read(FWake, &drained, sizeof drained) > 0) {
    }
    FLastProgress.store(Ticks(TSaneClock::now()));
    Post([this, request, done] {
        TSaneScanResult result = Scan(request);
        // The program learns the result before the window has gone.
        done(std::move(result));
        EndWindow();
    });
}

void TSaneLink::CancelScan() {
    FCancel.store(true);
    const uint64_t one = 1;
    static_cast<void>(write(FWake, &one, sizeof one));
}

TSaneClock::time_point TSaneLink::LastProgress() const {
    return TSaneClock::time_point(TSaneClock::duration(FLastProgress.load()));
}

// --- The helper ---------------------------------------------------------------------

pid_t TSaneLink::Spawn(const char* program, const std::vector<std::string>& args, int& fd) {
    const bool window = program == std::string(SaneProgressProgram);
    int pair[2];
    if (socketpair(AF_UNIX, (window ? SOCK_SEQPACKET : SOCK_STREAM) | SOCK_CLOEXEC, 0, pair) != 0) return -1;
    int child = pair[1];
    if (child == SaneSocketFd) {  // a dup onto itself would keep close-on-exec
        child = fcntl(pair[1], F_DUPFD_CLOEXEC, SaneSocketFd + 1);
        close(pair[1]);
    }
    const std::string path = FFolder + "/" + program;
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    pid_t pid = -1;
    if (child >= 0) {
        posix_spawn_file_actions_adddup2(&actions, child, SaneSocketFd);
        posix_spawn_file_actions_addclosefrom_np(&actions, SaneSocketFd + 1);
        // No signal blocked or ignored as this thread or the program has them.
        sigset_t none, reset;
        sigemptyset(&none);
        sigemptyset(&reset);
        for (int s : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2}) sigaddset(&reset, s);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &reset);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        if (posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ) != 0) pid = -1;
        close(child);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (pid <= 0) {
        close(pair[0]);
        return -1;
    }
    fcntl(pair[0], F_SETFL, fcntl(pair[0], F_GETFL) | O_NONBLOCK);
    fd = pair[0];
    return pid;
}

bool TSaneLink::Reap(pid_t pid, TSaneClock::duration limit) {
    const auto deadline = TSaneClock::now() + limit;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(FChildMutex);
            const pid_t r = waitpid(pid, nullptr, WNOHANG);
            if (r == pid || (r < 0 && errno == ECHILD)) {
                if (FHelper.Pid == pid) FHelper.Pid = -1;
                if (FWindow.Pid == pid) FWindow.Pid = -1;
                return true;
            }
        }
        if (TSaneClock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void TSaneLink::ReapLeftovers() {
    std::lock_guard<std::mutex> lock(FChildMutex);
    FLeftovers.erase(std::remove_if(FLeftovers.begin(), FLeftovers.end(),
                                    [](pid_t p) {
                                        const pid_t r = waitpid(p, nullptr, WNOHANG);
                                        return r == p || (r < 0 && errno == ECHILD);
                                    }),
                     FLeftovers.end());
}

bool TSaneLink::EnsureHelper() {
    // One that has died since (a backend that crashed) is replaced.
    bool died = false;
    {
        std::lock_guard<std::mutex> lock(FChildMutex);
        if (FHelper.Pid > 0 && waitpid(FHelper.Pid, nullptr, WNOHANG) == FHelper.Pid) {
            FHelper.Pid = -1;
            died = true;
        }
    }
    if (died) EndHelper(false);
    if (FHelper.Pid > 0 && FHelper.Fd >= 0) return true;
    if (FHelper.Pid > 0) EndHelper(false);
    int fd = -1;
    const pid_t pid = Spawn(SaneHelperProgram, {std::to_string(getpid())}, fd);
    if (pid <= 0) return false;
    {
        std::lock_guard<std::mutex> lock(FChildMutex);
        FHelper = TChild{pid, fd};
    }
    FHelperIn.Clear();
    uint32_t kind = 0;
    std::vector<uint8_t> fields;
    if (!NextReply(kind, fields, TSaneClock::now() + TSaneLimits::Start) || kind != SaneRepReady) {
        EndHelper(false);
        return false;
    }
    TSaneReader r(fields.data(), fields.size());
    const int32_t status = r.I32();
    if (!r.AtEnd() || status != SANE_STATUS_GOOD) {
        EndHelper(true);  // SANE is not there: nothing to ask it
        return false;
    }
    return true;
}

void TSaneLink::EndHelper(bool politely) {
    const pid_t pid = FHelper.Pid;
    if (FHelper.Fd >= 0) close(FHelper.Fd);  // closed, it quits
    FHelper.Fd = -1;
    FHelperIn.Clear();
    if (pid <= 0) return;
    if (!politely) Kill();
    if (Reap(pid, TSaneLimits::Quit)) return;
    Kill();
    if (Reap(pid, TSaneLimits::Quit)) return;
    std::lock_guard<std::mutex> lock(FChildMutex);
    FLeftovers.push_back(pid);  // in the kernel's hands still: reaped later
    FHelper.Pid = -1;
}

bool TSaneLink::SendFrame(TSaneWriter& w, TSaneClock::time_point deadline) {
    const std::vector<uint8_t>& bytes = w.Frame();
    size_t at = 0;
    while (at < bytes.size()) {
        if (FHelper.Fd < 0) return false;
        const ssize_t n = ::send(FHelper.Fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            at += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        if (TSaneClock::now() >= deadline) return false;
        pollfd p{FHelper.Fd, POLLOUT, 0};
        poll(&p, 1, MillisecondsUntil(deadline));
    }
    return true;
}

// Reads what is there without waiting; false when the peer has gone or
// sent a frame of an impossible size.
bool TSaneLink::ReadSome(int fd, TSaneFrames& frames) {
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            if (!frames.Take(buffer, size_t(n))) return false;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

bool TSaneLink::NextReply(uint32_t& kind, std::vector<uint8_t>& fields, TSaneClock::time_point deadline) {
    for (;;) {
        if (FHelperIn.Next(kind, fields)) return true;
        if (FHelperIn.Broken() || FHelper.Fd < 0 || TSaneClock::now() >= deadline) return false;
        pollfd p{FHelper.Fd, POLLIN, 0};
        if (poll(&p, 1, MillisecondsUntil(deadline)) > 0 && !ReadSome(FHelper.Fd, FHelperIn)) return false;
    }
}

bool TSaneLink::Exchange(TSaneWriter& request, uint32_t replyKind, std::vector<uint8_t>& reply,
                         TSaneClock::duration limit) {
    if (!EnsureHelper()) return false;
    const auto deadline = TSaneClock::now() + limit;
    uint32_t kind = 0;
    if (SendFrame(request, deadline) && NextReply(kind, reply, deadline) && kind == replyKind) return true;
    EndHelper(false);  // silent, gone or talking nonsense
    return false;
}

// --- A scan -------------------------------------------------------------------------

TSaneScanResult TSaneLink::Scan(const TSaneScanRequest& request) {
    using TEnd = TSaneScanResult::TEnd;
    TSaneScanResult result;
    if (!EnsureHelper()) return result;
    TSaneWriter scan(SaneReqScan);
    scan.U8(request.KeepBatch).U8(request.Fail);
    if (!SendFrame(scan, TSaneClock::now() + TSaneLimits::Option)) {
        EndHelper(false);
        return result;
    }
    StartWindow(request);
    auto deadline = TSaneClock::now() + TSaneLimits::ScanStart;
    bool cancelSent = false, userCancel = false, stalled = false, noMemory = false;
    bool ended = false, broken = false;
    TSaneImageIn image;
    auto alive = [&] {
        FLastProgress.store(Ticks(TSaneClock::now()));
        if (!cancelSent) deadline = TSaneClock::now() + request.ReadLimit;
    };
    auto sendCancel = [&] {
        cancelSent = true;
        deadline = TSaneClock::now() + TSaneLimits::Cancel;
        TSaneWriter cancel(SaneReqCancel);
        if (!SendFrame(cancel, deadline)) broken = true;
    };
    while (!ended && !broken) {
        const bool windowCancel = WindowCancelled();
        if (!cancelSent && (FCancel.load() || windowCancel)) {
            userCancel = true;
            sendCancel();
            continue;
        }
        pollfd fds[3] = {{FHelper.Fd, POLLIN, 0}, {FWake, POLLIN, 0}, {FWindow.Fd, POLLIN, 0}};
        poll(fds, FWindow.Fd >= 0 ? 3 : 2, MillisecondsUntil(deadline));
        uint64_t drained;
        while (read(FWake, &drained, sizeof drained) > 0) {
        }
        if (!ReadSome(FHelper.Fd, FHelperIn)) broken = true;
        uint32_t kind = 0;
        std::vector<uint8_t> fields;
        while (!ended && !broken && FHelperIn.Next(kind, fields)) {
            TSaneReader r(fields.data(), fields.size());
            switch (kind) {
                case SaneRepStarted:
                    broken = !r.AtEnd();
                    alive();
                    break;
                case SaneRepProgress: {
                    const uint32_t permille = r.U32();
                    r.U64();
                    broken = !r.AtEnd() || (permille > 1000 && permille != SaneNoPermille);
                    alive();
                    TellWindow(permille);
                    break;
                }
                case SaneRepImage: broken = !image.Header(r); break;
                case SaneRepData:
                    if (noMemory) break;
                    try {
                        broken = !image.Data(r);
                    } catch (const std::bad_alloc&) {
                        noMemory = true;  // the rest is read and dropped
                        image.Image.Rows = std::vector<uint8_t>();
                    }
                    break;
                case SaneRepScanEnd:
                    result.Status = r.I32();
                    broken = !r.AtEnd();
                    ended = true;
                    break;
                default: broken = true; break;
            }
        }
        if (FHelperIn.Broken()) broken = true;
        if (!ended && !broken && TSaneClock::now() >= deadline) {
            if (cancelSent) break;  // it ignores the cancel: killed below
            stalled = true;
            sendCancel();
        }
    }
    if (!ended || broken || (result.Status == SANE_STATUS_GOOD && !noMemory && !image.Complete())) {
        EndHelper(false);
        result.End = stalled ? TEnd::Stalled : (userCancel ? TEnd::Cancelled : TEnd::Broken);
        return result;
    }
    if (noMemory) result.Status = SANE_STATUS_NO_MEM;
    if (stalled) result.End = TEnd::Stalled;
    // A cancel that came as the scan ended still holds: the user said no.
    else if (userCancel || result.Status == SANE_STATUS_CANCELLED) result.End = TEnd::Cancelled;
    else result.End = TEnd::Scanned;
    if (result.End == TEnd::Scanned && result.Status == SANE_STATUS_GOOD) result.Image = std::move(image.Image);
    return result;
}

// --- The progress window --------------------------------------------------------------

void TSaneLink::StartWindow(const TSaneScanRequest& request) {
    // Only with the program's window to stay with: without one (no X11
    // window, no display) nobody would see it.
    if (!request.Window || request.ParentWindow == 0 || FWindow.Pid > 0) return;
    const std::string path = FFolder + "/" + SaneProgressProgram;
    if (access(path.c_str(), X_OK) != 0) return;
    int fd = -1;
    const pid_t pid = Spawn(SaneProgressProgram,
                            {std::to_string(getpid()), std::to_string(request.ParentWindow),
                             std::to_string(request.Language), request.DeviceName},
                            fd);
    if (pid <= 0) return;  // the scan goes on without it
    std::lock_guard<std::mutex> lock(FChildMutex);
    FWindow = TChild{pid, fd};
}

void TSaneLink::TellWindow(uint32_t permille) {
    if (FWindow.Fd < 0) return;
    uint8_t record[SaneProgressRecord];
    SaneProgressPut(record, SaneProgressPermille, permille);
    // A window that does not read loses a step of progress, no more.
    static_cast<void>(::send(FWindow.Fd, record, sizeof record, MSG_NOSIGNAL | MSG_DONTWAIT));
}

bool TSaneLink::WindowCancelled() {
    bool cancelled = false;
    while (FWindow.Fd >= 0) {
        uint8_t record[SaneProgressRecord];
        const ssize_t n = ::recv(FWindow.Fd, record, sizeof record, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n <= 0) {  // it has gone
            close(FWindow.Fd);
            FWindow.Fd = -1;
            break;
        }
        if (n == ssize_t(sizeof record) && SaneProgressField(record, 0) == SaneProgressCancel) cancelled = true;
    }
    return cancelled;
}

void TSaneLink::EndWindow() {
    const pid_t pid = FWindow.Pid;
    if (FWindow.Fd >= 0) close(FWindow.Fd);
    FWindow.Fd = -1;
    if (pid <= 0 || Reap(pid, TSaneLimits::Quit)) return;
    std::lock_guard<std::mutex> lock(FChildMutex);
    ::kill(pid, SIGKILL);
    FLeftovers.push_back(pid);
    FWindow.Pid = -1;
}
