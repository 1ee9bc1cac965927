// An open SANE device in the helper process: the options the bridge maps
// onto capabilities, and a scan into an 8-bit image of our own. Every call
// but Cancel is made on the helper's main thread (backends are not
// thread-safe). No Qt here.
#pragma once

#include <sane/sane.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "SaneWire.h"

// What a scan reports while it reads: per mille of the image (SaneNoPermille
// when the length is unknown) and the bytes read; a frame's start has no
// bytes yet (started is true).
using TSaneProgress = std::function<void(bool started, uint32_t permille, uint64_t bytes)>;

class TSaneDevice {
public:
    TSaneDevice();
    ~TSaneDevice();
    TSaneDevice(const TSaneDevice&) = delete;
    TSaneDevice& operator=(const TSaneDevice&) = delete;
    SANE_Status Open(const std::string& name);
    void Close();
    bool IsOpen() const { return FHandle != nullptr; }

    // The options the bridge maps onto capabilities, read afresh.
    TSaneOptions Options();
    std::vector<std::string> Modes();
    std::string Mode();
    bool SetMode(const std::string& mode);
    bool SetDepth(int depth);
    double Resolution();
    bool SetResolution(double dpi);
    bool SetArea(double l, double t, double r, double b);
    bool HasFeeder();
    bool FeederEnabled();
    bool SetFeederEnabled(bool on);
    // Any option by its SANE name, from text (a number for numeric options).
    bool SetOptionText(const std::string& name, const std::string& value);

    // Colour at about 300 dpi where the device offers them.
    void ApplyDefaults();

    // Scans one image (all frames of a three-pass device). A batch (a
    // document feeder) stays started for its next page.
    SANE_Status Scan(TSaneImage& image, bool keepBatch, const TSaneProgress& progress);
    // Ends the scan in SANE unless a feeder's batch goes on. Apart from Scan,
    // so that the result is out before a backend's cancel can wedge.
    void EndScan();
    // From any thread, as SANE allows: ends a running scan (nothing else).
    void Cancel();
    // Ends a feeder's batch.
    void EndBatch();

private:
    int FindOption(const char* name);
    const SANE_Option_Descriptor* Descriptor(int index);
    bool SetWord(int index, SANE_Word value);
    bool GetWord(int index, SANE_Word& value);
    bool SetString(int index, const std::string& value);
    std::string GetString(int index);
    std::vector<int> Depths();
    bool ResolutionRange(double& min, double& max, double& step, std::vector<double>& list);
    bool Area(double& l, double& t, double& r, double& b);
    SANE_Status ReadFrame(const SANE_Parameters& p, std::vector<uint8_t>& data, uint32_t frame, uint32_t frames,
                          const TSaneProgress& progress);

    bool BeginReading(bool selectable);
    void EndReading();
    bool CancelAsked();

    // Cancel comes from another thread: whether a frame is being read (and
    // how), a cancel asked for meanwhile and the handle change under this
    // lock; the event wakes a read that waits on the backend's descriptor.
    std::mutex FCancelMutex;
    bool FReading = false;
    bool FSelectable = false;
    bool FCancelAsked = false;
    int FWake = -1;
    std::atomic<SANE_Handle> FHandle{nullptr};
    bool FScanEnded = false;
};
