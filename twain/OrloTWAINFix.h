// TW_FIX32 to and from floating point. The fraction is rounded to four
// decimals on the way in; rounding is to nearest, halves to even.
#pragma once

#include <cmath>
#include <cstdint>

#include "QelGeometry.h"
#include "TwnDefs.h"

inline double FixToFloat(TW_FIX32 fix) {
    return fix.Whole + QelRoundEven((fix.Frac / 65536.0 + 0.000005) * 10000.0) / 10000.0;
}

inline TW_FIX32 FloatToFix(double x) {
    // Whole is 16 bits: values beyond it saturate rather than wrap.
    double scaled = std::isfinite(x) ? x * 65536.0 : 0.0;
    scaled = std::fmax(-2147483648.0, std::fmin(2147483647.0, scaled));
    const int32_t v = QelRoundEven(scaled);
    TW_FIX32 fix;
    fix.Whole = int16_t(v >> 16);
    fix.Frac = uint16_t(v & 0xffff);
    return fix;
}

inline uint32_t FixToBits(TW_FIX32 fix) {
    return uint32_t(uint16_t(fix.Whole)) | (uint32_t(fix.Frac) << 16);
}
inline TW_FIX32 BitsToFix(uint32_t bits) {
    TW_FIX32 fix;
    fix.Whole = int16_t(uint16_t(bits & 0xffff));
    fix.Frac = uint16_t(bits >> 16);
    return fix;
}
