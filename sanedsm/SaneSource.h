// An open device as the bridge sees it: its options as the helper last
// reported them, so that reading a capability asks nothing, and changes
// sent to the helper, each within its limit. No Qt here.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "SaneWire.h"

class TSaneSource {
public:
    // Opens the device in the helper with the defaults and the options
    // given; SANE's status.
    int32_t Open(const std::string& name, const std::vector<std::pair<std::string, std::string>>& options);

    const std::vector<std::string>& Modes() const { return FOptions.Modes; }
    const std::string& Mode() const { return FOptions.Mode; }
    bool SetMode(const std::string& mode);
    const std::vector<int32_t>& Depths() const { return FOptions.Depths; }
    // 8 when the device has no depth option.
    int Depth() const { return FOptions.Depth < 0 ? 8 : FOptions.Depth; }
    bool SetDepth(int depth);
    // Resolutions in dots per inch: the range or the list offered.
    bool ResolutionRange(double& min, double& max, double& step, std::vector<double>& list) const;
    double Resolution() const { return FOptions.Resolution; }
    bool SetResolution(double dpi);
    // The scan area in millimetres; false without one.
    bool Area(double& l, double& t, double& r, double& b) const;
    bool SetArea(double l, double t, double r, double b);
    bool HasFeeder() const { return FOptions.HasFeeder; }
    bool FeederEnabled() const { return FOptions.FeederEnabled; }
    bool SetFeederEnabled(bool on);
    // Ends a feeder's batch.
    void EndBatch();

private:
    bool Change(TSaneWriter& request);

    TSaneOptions FOptions;
};
