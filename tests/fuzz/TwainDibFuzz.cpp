// The images a source hands over: the same bytes as a packed DIB in a
// block of their own size, and as a transfer BMP file, through both of its
// readers.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "OrloTWAINDib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TW_HANDLE block = TwnGlobal::alloc(Size);
    if (block) {
        if (Size) std::memcpy(TwnGlobal::lock(block), Data, Size);
        TwnGlobal::unlock(block);
        int32_t w = 0, h = 0;
        (void)TwnPackedDibSize(block, w, h);
        TwnFreeImage(TwnDibFromPackedDib(block));  // frees the block
    }
    TwnFreeImage(TwnDibFromBmpBytes(Data, Size));
    if (TW_HANDLE g = TwnGlobalFromBmpBytes(Data, Size)) TwnGlobal::free(g);
    return 0;
}
