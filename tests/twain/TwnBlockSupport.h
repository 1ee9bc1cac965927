// A block of the shared allocator holding given bytes, as a source hands
// its images and containers over.
#pragma once

#include <cstring>
#include <vector>

#include "TwnDefs.h"

inline TW_HANDLE TwnBlockOf(const std::vector<uint8_t>& bytes) {
    TW_HANDLE h = TwnGlobal::alloc(bytes.size());
    std::memcpy(TwnGlobal::lock(h), bytes.data(), bytes.size());
    TwnGlobal::unlock(h);
    return h;
}

// A core header claiming 65024 x 58270 pixels at 1 bit (470 MB) in 32 bytes.
inline std::vector<uint8_t> TwnHugeClaim() {
    const TwnBitmapCoreHeader core{12, 65024, 58270, 1, 1};
    std::vector<uint8_t> out(32, 0);
    std::memcpy(out.data(), &core, sizeof core);
    return out;
}
