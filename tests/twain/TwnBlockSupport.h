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
