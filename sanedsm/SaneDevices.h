// The devices the bridge offers as sources: searched for by the helper,
// kept sorted by SANE name, and searched for again in the background once
// they are older than the time to live. A search can take seconds (network
// backends), so nobody waits for one: the list is what the last search
// found. No Qt here.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct TSaneDeviceInfo {
    std::string Name;         // SANE's device name
    std::string ProductName;  // unique, at most 32 bytes
    std::string Vendor;
    std::string Model;
};

class TSaneDevices {
public:
    static TSaneDevices& Instance();
    // Starts the first search unless it has started.
    void StartSearch();
    // What has been found so far; never waits for a search.
    std::vector<TSaneDeviceInfo> List();
    // Waits up to timeoutMs for the first search to end; true when it has.
    bool WaitForFirstSearch(int timeoutMs);

private:
    void Search();

    std::mutex FMutex;
    std::condition_variable FSearched;
    std::vector<TSaneDeviceInfo> FList;
    bool FHaveList = false;
    bool FSearching = false;
    std::chrono::steady_clock::time_point FTaken;
};

// Makes names unique and cuts them to 32 bytes; exposed for the tests.
std::vector<std::string> SaneUniqueProductNames(const std::vector<std::pair<std::string, std::string>>& modelAndName);
