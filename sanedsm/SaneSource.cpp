#include "SaneSource.h"

#include <cmath>

#include "SaneLink.h"

int32_t TSaneSource::Open(const std::string& name, const std::vector<std::pair<std::string, std::string>>& options) {
    return TSaneLink::Instance().Open(name, options, FOptions);
}

void TSaneSource::EndBatch() { TSaneLink::Instance().EndBatch(); }

bool TSaneSource::Change(TSaneWriter& request) { return TSaneLink::Instance().Set(request, FOptions); }

bool TSaneSource::SetMode(const std::string& mode) {
    TSaneWriter w(SaneReqSet);
    w.U32(SaneSetMode).Text(mode);
    return Change(w);
}

bool TSaneSource::SetDepth(int depth) {
    TSaneWriter w(SaneReqSet);
    w.U32(SaneSetDepth).I32(depth);
    return Change(w);
}

bool TSaneSource::ResolutionRange(double& min, double& max, double& step, std::vector<double>& list) const {
    if (!FOptions.HasResolution) return false;
    min = FOptions.ResolutionMin;
    max = FOptions.ResolutionMax;
    step = FOptions.ResolutionStep;
    list = FOptions.Resolutions;
    return true;
}

bool TSaneSource::SetResolution(double dpi) {
    if (!std::isfinite(dpi) || dpi <= 0 || dpi > 1e6) return false;
    TSaneWriter w(SaneReqSet);
    w.U32(SaneSetResolution).I64(SaneMicro(dpi));
    return Change(w);
}

bool TSaneSource::Area(double& l, double& t, double& r, double& b) const {
    if (!FOptions.HasArea) return false;
    l = FOptions.Left;
    t = FOptions.Top;
    r = FOptions.Right;
    b = FOptions.Bottom;
    return true;
}

bool TSaneSource::SetArea(double l, double t, double r, double b) {
    for (double v : {l, t, r, b})
        if (!std::isfinite(v) || std::fabs(v) > 1e9) return false;
    TSaneWriter w(SaneReqSet);
    w.U32(SaneSetArea).I64(SaneMicro(l)).I64(SaneMicro(t)).I64(SaneMicro(r)).I64(SaneMicro(b));
    return Change(w);
}

bool TSaneSource::SetFeederEnabled(bool on) {
    TSaneWriter w(SaneReqSet);
    w.U32(SaneSetFeeder).U8(on);
    return Change(w);
}
