// Capability values: one container per capability (an array, enumeration,
// one-value or range of typed items), exchanged as variants, turned into
// TWAIN's memory layout only at the data source manager boundary, and the
// cache that holds one container per capability id.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "TwnDefs.h"

using TwnValue = std::variant<int64_t, double, bool, std::string>;

// A value as an integer: numbers converted, booleans 1/0, texts 0.
int64_t TwnValueToInt(const TwnValue& v);
double TwnValueToDouble(const TwnValue& v);

// The item type a capability's values have; -1 for an id not in the table.
int TwnDefaultItemType(uint16_t cap);

struct TTwnFrame {
    double Left = 0, Top = 0, Right = 0, Bottom = 0;
};

class TTwnContainer {
public:
    TTwnContainer();

    uint16_t Cap() const { return FCap; }
    void SetCap(uint16_t cap);
    uint16_t ConType() const { return FConType; }
    void SetConType(uint16_t conType);
    uint16_t ItemType() const { return FItemType; }
    void SetItemType(uint16_t itemType);

    int ItemCount() const;
    void SetItemCount(int count);
    TwnValue Item(int index) const;
    void AddItem(const TwnValue& v);
    TwnValue CurrentValue() const;
    void SetCurrentValue(const TwnValue& v);
    int CurrentIndex() const { return int(FCurrentIndex); }
    TwnValue MinValue() const;
    TwnValue MaxValue() const;
    TwnValue StepValue() const;
    int IndexOf(const TwnValue& v) const;
    void Clear();
    void Assign(const TTwnContainer& source);
    std::vector<TTwnFrame> Frames() const;

    int32_t SupportFlags = -1;

    // Takes a container the source returned (its memory stays the
    // caller's); false when the block is not sound (unknown layout or
    // type, counts beyond the block).
    bool ReadFromSource(uint16_t cap, uint16_t conType, TW_HANDLE block);
    // The container in TWAIN's layout, as its own type or as a one-value of
    // the current value; the caller frees the block.
    TW_HANDLE ToTwain(bool asOneValue) const;

private:
    struct Slot {
        uint32_t num = 0;  // integers (sign-extended), BOOL, FIX32 bits
        TW_FRAME frame{};
        std::string str;
    };
    TwnValue ToValue(const Slot& s) const;
    Slot FromValue(const TwnValue& v) const;
    Slot EmptySlot() const;
    bool Less(const Slot& a, const Slot& b) const;
    bool Equal(const Slot& a, const Slot& b) const;
    bool Numeric() const { return FItemType <= TWTY_FIX32; }

    uint16_t FCap;
    uint16_t FConType;
    uint16_t FItemType;
    bool FHasBlock;  // array, enumeration or range data exists
    std::vector<Slot> FItems;
    uint32_t FCurrentIndex;
    uint32_t FDefaultIndex;
    Slot FOneValue;
    Slot FRange[5];  // min, max, step, default, current
};

class TTwnContainerList {
public:
    TTwnContainer* Find(uint16_t cap) const;
    TTwnContainer* Add(uint16_t cap, std::unique_ptr<TTwnContainer> container);
    TTwnContainer* Create(uint16_t cap);
    TTwnContainer* FindOrCreate(uint16_t cap) {
        TTwnContainer* c = Find(cap);
        return c ? c : Create(cap);
    }
    void Clear() { FItems.clear(); }
    int Count() const { return int(FItems.size()); }

private:
    std::vector<std::unique_ptr<TTwnContainer>> FItems;
};
