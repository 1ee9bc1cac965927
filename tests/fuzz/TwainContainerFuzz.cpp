// Capability containers as a source returns them: two bytes of capability
// id, two of container type, eight of a value the application sets
// afterwards, then the container block itself.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "OrloTWAINContainer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size < 12) return 0;
    const uint16_t cap = uint16_t(Data[0] | Data[1] << 8);
    const uint16_t conType = uint16_t(Data[2] | Data[3] << 8);
    double asDouble;
    std::memcpy(&asDouble, Data + 4, sizeof asDouble);
    int64_t asInt;
    std::memcpy(&asInt, Data + 4, sizeof asInt);
    TW_HANDLE block = TwnGlobal::alloc(Size - 12);
    if (!block) return 0;
    if (Size > 12) std::memcpy(TwnGlobal::lock(block), Data + 12, Size - 12);
    TwnGlobal::unlock(block);
    TTwnContainer c;
    if (c.ReadFromSource(cap, conType, block)) {
        const int n = c.ItemCount();
        for (int i = -1; i <= n && i < 70000; ++i) (void)TwnValueToDouble(c.Item(i));
        (void)TwnValueToInt(c.CurrentValue());
        (void)TwnValueToInt(c.MinValue());
        (void)TwnValueToInt(c.MaxValue());
        (void)TwnValueToInt(c.StepValue());
        (void)c.Frames();
        (void)c.IndexOf(asInt);
        c.SetCurrentValue(asDouble);
        (void)TwnValueToInt(c.CurrentValue());
        c.SetCurrentValue(asInt);
        c.SetCurrentValue(std::string(reinterpret_cast<const char*>(Data + 4), 8));
        for (bool oneValue : {false, true})
            if (TW_HANDLE out = c.ToTwain(oneValue)) TwnGlobal::free(out);
        TTwnContainer copy;
        copy.Assign(c);
        copy.AddItem(asDouble);
        copy.SetItemCount(int(Data[4] % 8));
        if (TW_HANDLE out = copy.ToTwain(false)) TwnGlobal::free(out);
    }
    TwnGlobal::free(block);
    return 0;
}
