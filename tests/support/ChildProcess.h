// Runs another program from a test, as QProcess would, but through
// posix_spawn: QProcess starts its child with a raw clone that shares the
// parent's memory, which ThreadSanitizer cannot follow, so every report
// after it is noise. The child's output is read while it runs, so a
// chatty child never blocks on a full pipe.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

class TChildProcess {
public:
    // Inherited: the child writes where the test does. Standard: its output
    // is kept, its errors are not. Merged: both are kept, as one.
    enum TOutput { Inherited, Standard, Merged };

    TChildProcess() = default;
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;
    ~TChildProcess() {
        Kill();
        WaitForFinished(-1);
        if (Pipe >= 0) ::close(Pipe);
    }

    // The program's environment; by default the test's own.
    void SetEnvironment(const QProcessEnvironment& Environment) { Env = Environment.toStringList(), OwnEnv = true; }
    void SetOutput(TOutput Kind) { OutputKind = Kind; }

    // A program without a slash is looked for in PATH.
    bool Start(const QString& Program, const QStringList& Arguments) {
        std::vector<std::string> args{QFile::encodeName(Program).toStdString()}, env;
        for (const QString& a : Arguments) args.push_back(a.toLocal8Bit().toStdString());
        for (const QString& e : Env) env.push_back(e.toLocal8Bit().toStdString());
        std::vector<char*> argv, envp;
        for (std::string& s : args) argv.push_back(s.data());
        for (std::string& s : env) envp.push_back(s.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);

        int fds[2] = {-1, -1};
        if (OutputKind != Inherited && ::pipe2(fds, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (OutputKind != Inherited) posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        if (OutputKind == Merged) posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        const int error = ::posix_spawnp(&Pid, argv[0], &actions, nullptr, argv.data(), OwnEnv ? envp.data() : environ);
        posix_spawn_file_actions_destroy(&actions);
        if (fds[1] >= 0) ::close(fds[1]);
        if (error != 0 && fds[0] >= 0) ::close(fds[0]);
        Pipe = error == 0 ? fds[0] : -1;
        if (error != 0) Pid = -1;
        return error == 0;
    }

    // Waits for the child to end, at most Msecs milliseconds (-1: for
    // good), reading its output meanwhile; false when it still runs.
    bool WaitForFinished(int Msecs = 30000) {
        if (Pid <= 0) return false;
        QElapsedTimer clock;
        clock.start();
        while (!Reap()) {
            if (Msecs >= 0 && clock.elapsed() >= Msecs) return false;
            Read(20);
        }
        // What it wrote before it ended (a grandchild may keep the pipe open).
        while (Read(0)) {
        }
        return true;
    }

    bool Running() { return Pid > 0 && !Reap(); }
    void Kill() {
        if (Pid > 0 && !Exited) ::kill(Pid, SIGKILL);
    }
    pid_t ProcessId() const { return Pid; }
    int ExitCode() const { return Exited && WIFEXITED(Status) ? WEXITSTATUS(Status) : -1; }
    bool Succeeded() const { return ExitCode() == 0; }
    const QByteArray& Output() const { return Out; }

private:
    bool Reap() {
        const pid_t r = Exited ? Pid : ::waitpid(Pid, &Status, WNOHANG);
        if (r < 0 && errno != EINTR) Status = -1;
        return Exited = r == Pid || (r < 0 && errno != EINTR);
    }

    // Reads what the pipe has within Msecs; false when nothing came.
    bool Read(int Msecs) {
        pollfd p{Pipe, POLLIN, 0};
        if (Pipe < 0 && Msecs > 0) ::usleep(useconds_t(Msecs) * 1000);
        if (Pipe < 0 || ::poll(&p, 1, Msecs) <= 0) return false;
        char buffer[65536];
        const ssize_t n = ::read(Pipe, buffer, sizeof buffer);
        if (n > 0) Out.append(buffer, n);
        else if (n == 0 || errno != EINTR) ::close(Pipe), Pipe = -1;
        return n > 0;
    }

    QStringList Env;
    bool OwnEnv = false;
    TOutput OutputKind = Standard;
    pid_t Pid = -1;
    int Pipe = -1;
    int Status = 0;
    bool Exited = false;
    QByteArray Out;
};
