// The SANE side of our data source manager: one thread that owns every
// SANE call (backends are not thread-safe), the device list kept across
// openings, an open device with its options, and a scan into an 8-bit
// image of our own. No Qt here.
#pragma once

#include <sane/sane.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scanned image: top-down rows of width x channels bytes (1: grey with 0
// black, 3: R, G, B), 8 bits per sample.
struct TSaneImage {
    int32_t Width = 0;
    int32_t Height = 0;
    int Channels = 0;
    double XResolution = 0;
    double YResolution = 0;
    std::vector<uint8_t> Rows;

    uint64_t RowBytes() const { return uint64_t(Width) * uint64_t(Channels); }
};

struct TSaneDeviceInfo {
    std::string Name;         // SANE's device name
    std::string ProductName;  // unique, at most 32 bytes
    std::string Vendor;
    std::string Model;
};

// Runs work on the one SANE thread, which is started on first use and kept
// for the life of the process (libsane stays initialised).
class TSaneThread {
public:
    static TSaneThread& Instance();
    // Runs fn on the SANE thread and waits for it; what fn throws is
    // thrown here.
    void Run(const std::function<void()>& fn);
    // Queues fn on the SANE thread. Should fn throw, failed gets what it
    // threw, on the SANE thread, so the work it stood for can end.
    void Post(std::function<void()> fn, std::function<void(std::exception_ptr)> failed);
    bool OnThread() const { return std::this_thread::get_id() == FThread.get_id(); }
    bool Initialised() const { return FInitialised; }

private:
    TSaneThread();
    void Execute();

    std::mutex FMutex;
    std::condition_variable FCond;
    struct TTask {
        std::function<void()> Work;
        std::function<void(std::exception_ptr)> Failed;
    };
    std::deque<TTask> FQueue;
    bool FInitialised = false;
    std::thread FThread;
};

// The devices, searched for on the SANE thread, kept sorted by SANE name
// and searched for again in the background once they are older than the
// time to live. A search can take seconds (network backends), so nobody
// waits for one: the list is what the last search found.
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
    void Enumerate();

    std::mutex FMutex;
    std::condition_variable FSearched;
    std::vector<TSaneDeviceInfo> FList;
    bool FHaveList = false;
    bool FSearching = false;
    std::chrono::steady_clock::time_point FTaken;
};

// Makes names unique and cuts them to 32 bytes; exposed for the tests.
std::vector<std::string> SaneUniqueProductNames(const std::vector<std::pair<std::string, std::string>>& modelAndName);

// Maps a SANE status onto a TWAIN condition code.
uint16_t SaneConditionCode(SANE_Status status);

// An open device. Every call goes through the SANE thread.
class TSaneDevice {
public:
    ~TSaneDevice();
    SANE_Status Open(const std::string& name);
    void Close();
    bool IsOpen() const { return FHandle != nullptr; }

    // The options the data source manager maps onto capabilities.
    std::vector<std::string> Modes();
    std::string Mode();
    bool SetMode(const std::string& mode);
    std::vector<int> Depths();
    int Depth();
    bool SetDepth(int depth);
    // Resolutions in dots per inch: the range or the list offered.
    bool ResolutionRange(double& min, double& max, double& step, std::vector<double>& list);
    double Resolution();
    bool SetResolution(double dpi);
    // The scan area in millimetres; false without one.
    bool Area(double& l, double& t, double& r, double& b);
    bool SetArea(double l, double t, double r, double b);
    bool HasFeeder();
    bool FeederEnabled();
    bool SetFeederEnabled(bool on);
    // Any option by its SANE name, from text (a number for numeric options).
    bool SetOptionText(const std::string& name, const std::string& value);

    // Colour at about 300 dpi where the device offers them.
    void ApplyDefaults();

    // Scans one image (all frames of a three-pass device). A read that makes
    // no progress for readTimeoutMs is cancelled; timedOut tells. A batch
    // (a document feeder) stays started for its next page.
    SANE_Status Scan(TSaneImage& image, int readTimeoutMs, bool& timedOut, bool keepBatch);
    // May be called from any thread, as SANE allows.
    void Cancel();
    // Ends a feeder's batch (on the SANE thread).
    void EndBatch();

private:
    int FindOption(const char* name);
    const SANE_Option_Descriptor* Descriptor(int index);
    bool SetWord(int index, SANE_Word value);
    bool GetWord(int index, SANE_Word& value);
    bool SetString(int index, const std::string& value);
    std::string GetString(int index);
    SANE_Status ReadFrame(const SANE_Parameters& p, std::vector<uint8_t>& data, int readTimeoutMs, bool& timedOut);

    std::atomic<SANE_Handle> FHandle{nullptr};
};
