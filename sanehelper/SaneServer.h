// The helper's side of the bridge's socket. The main thread makes every
// SANE call, one request after the other; a thread of its own reads the
// socket, so that a cancel reaches a scan that waits in the backend, and
// ends the process when the bridge has gone, whatever the main thread is
// stuck in.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "SaneScanner.h"
#include "SaneWire.h"

class TSaneServer {
public:
    explicit TSaneServer(int fd);
    // Serves until the bridge closes the socket; never returns.
    [[noreturn]] void Run();

private:
    void Receive();
    void Handle(uint32_t kind, const std::vector<uint8_t>& fields);
    void Send(TSaneWriter& w);
    void List();
    void Open(TSaneReader& r);
    void Set(TSaneReader& r);
    void Scan(TSaneReader& r);
    void SendOptions(uint32_t kind, int32_t statusOrTaken);
    [[noreturn]] void Quit();

    const int FFd;
    TSaneDevice FDevice;
    std::mutex FMutex;
    std::condition_variable FCond;
    std::deque<std::pair<uint32_t, std::vector<uint8_t>>> FRequests;
    bool FGone = false;
};
