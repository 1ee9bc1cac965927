// Small helpers shared by the patch-engine tests.
#pragma once

#include <cstdint>

#include "QelBitmap.h"

struct TRgb {
    uint8_t R = 0, G = 0, B = 0;
    friend bool operator==(const TRgb&, const TRgb&) = default;
};

inline void MakeImage(TQelPixelBuffer& image, int32_t width, int32_t height) {
    image.Allocate(QelFormatBGR24, TQelRect(0, 0, width, height));
}

inline void Put(TQelPixels& image, int32_t x, int32_t y, TRgb c) {
    uint8_t* p = image.PixelAddress(x, y);
    p[0] = c.B;
    p[1] = c.G;
    p[2] = c.R;
}

inline TRgb Get(const TQelPixels& image, int32_t x, int32_t y) {
    const uint8_t* p = image.PixelAddress(x, y);
    return TRgb{p[2], p[1], p[0]};
}

inline void CopyImage(TQelPixelBuffer& to, const TQelPixelBuffer& from) {
    MakeImage(to, from.Width, from.Height);
    to.CopyFrom(from);
}
