// The SANE helper: the bridge starts it and it makes every SANE call in a
// process of its own, so that nothing a backend's threads do can hold the
// program's locks, and a backend that wedges can be ended by killing it.
//   visara_sane <the bridge's process id>   (the socket on descriptor 3)
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "SaneServer.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    // It dies with the program; a program already gone is not waited for.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != pid_t(std::strtol(argv[1], nullptr, 10))) return 1;
    std::signal(SIGPIPE, SIG_IGN);
    TSaneServer(SaneSocketFd).Run();
}
