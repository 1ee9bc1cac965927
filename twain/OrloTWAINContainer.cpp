#include "OrloTWAINContainer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "OrloTWAINFix.h"
#include "QelGeometry.h"

namespace {

// Most items a container read from a source may hold.
constexpr uint64_t MaxSourceItems = 65536;

struct CapRange {
    uint16_t first, last;
};

bool InRanges(uint16_t cap, std::initializer_list<CapRange> ranges) {
    for (const CapRange& r : ranges)
        if (cap >= r.first && cap <= r.last) return true;
    return false;
}

uint32_t ReadLE(const uint8_t* p, uint32_t n) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < n && i < 4; ++i) v |= uint32_t(p[i]) << (8 * i);
    return v;
}

void WriteLE(uint8_t* p, uint32_t v, uint32_t n) {
    for (uint32_t i = 0; i < n && i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

int64_t TwnValueToInt(const TwnValue& v) {
    if (const auto* i = std::get_if<int64_t>(&v)) return *i;
    if (const auto* d = std::get_if<double>(&v)) {
        if (!std::isfinite(*d)) return 0;
        // Beyond 64 bits the cast is undefined: such a value is held at the limit.
        constexpr double Limit = 9223372036854775808.0;  // 2^63
        const double r = std::nearbyint(*d);
        if (r >= Limit) return INT64_MAX;
        if (r < -Limit) return INT64_MIN;
        return int64_t(r);
    }
    if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    return 0;
}

double TwnValueToDouble(const TwnValue& v) {
    if (const auto* i = std::get_if<int64_t>(&v)) return double(*i);
    if (const auto* d = std::get_if<double>(&v)) return *d;
    if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    return 0;
}

int TwnDefaultItemType(uint16_t cap) {
    if (InRanges(cap, {{0x0001, 0x0001}, {0x1033, 0x1033}, {0x113e, 0x113e}, {0x1153, 0x1153}})) return TWTY_INT16;
    if (InRanges(cap, {{0x1019, 0x101c}, {0x1032, 0x1032}})) return TWTY_INT32;
    if (cap == 0x1104) return TWTY_UINT8;
    if (InRanges(cap, {{0x0100, 0x0103}, {0x1005, 0x1006}, {0x1012, 0x1012}, {0x1017, 0x1018}, {0x101d, 0x101d},
                       {0x1020, 0x1020}, {0x1022, 0x1022}, {0x1026, 0x1026}, {0x1029, 0x1029}, {0x102c, 0x102e},
                       {0x1106, 0x1106}, {0x110c, 0x110c}, {0x110e, 0x110e}, {0x1110, 0x1110}, {0x111a, 0x111a},
                       {0x111c, 0x1120}, {0x1122, 0x1122}, {0x1126, 0x1128}, {0x112a, 0x112c}, {0x1136, 0x1136},
                       {0x1138, 0x1138}, {0x113a, 0x113b}, {0x1140, 0x1140}, {0x1142, 0x1143}, {0x1146, 0x1149},
                       {0x1201, 0x1202}}))
        return TWTY_UINT16;
    if (InRanges(cap, {{0x1016, 0x1016}, {0x101e, 0x101e}, {0x1028, 0x1028}, {0x112e, 0x112e}, {0x1139, 0x1139},
                       {0x113c, 0x113d}, {0x1141, 0x1141}, {0x1144, 0x1145}}))
        return TWTY_UINT32;
    if (InRanges(cap, {{0x1002, 0x1003}, {0x1007, 0x100b}, {0x100d, 0x1011}, {0x1013, 0x1015}, {0x1021, 0x1021},
                       {0x1027, 0x1027}, {0x1030, 0x1030}, {0x1100, 0x1100}, {0x1107, 0x1107}, {0x110d, 0x110d},
                       {0x111b, 0x111b}, {0x112d, 0x112d}, {0x112f, 0x112f}, {0x1137, 0x1137}, {0x113f, 0x113f},
                       {0x1150, 0x1152}}))
        return TWTY_BOOL;
    if (InRanges(cap, {{0x1101, 0x1101}, {0x1103, 0x1103}, {0x1105, 0x1105}, {0x1108, 0x1108}, {0x110a, 0x110a},
                       {0x1111, 0x1113}, {0x1116, 0x1119}, {0x1121, 0x1121}, {0x1123, 0x1125}, {0x1130, 0x1131}}))
        return TWTY_FIX32;
    if (cap == 0x1114) return TWTY_FRAME;
    if (InRanges(cap, {{0x1004, 0x1004}, {0x101f, 0x101f}, {0x1109, 0x1109}})) return TWTY_STR32;
    if (cap == 0x1000) return TWTY_STR128;
    if (InRanges(cap, {{0x1001, 0x1001}, {0x1024, 0x1024}, {0x102a, 0x102b}})) return TWTY_STR255;
    return -1;
}

// --- Container -------------------------------------------------------------------

TTwnContainer::TTwnContainer()
    : FCap(0),
      FConType(TWON_ONEVALUE),
      FItemType(TWTY_UINT16),
      FHasBlock(false),
      FItems(),
      FCurrentIndex(0),
      FDefaultIndex(0),
      FOneValue(),
      FRange() {}

void TTwnContainer::SetCap(uint16_t cap) {
    if (cap != FCap) Clear();
    FCap = cap;
    const int t = TwnDefaultItemType(cap);
    if (t >= 0) SetItemType(uint16_t(t));
}

void TTwnContainer::SetConType(uint16_t conType) {
    if (conType == FConType) return;
    Clear();
    FConType = conType;
    if (conType == TWON_ARRAY || conType == TWON_ENUMERATION || conType == TWON_RANGE) {
        FHasBlock = true;
        FItems.clear();
        FItems.reserve(10);
    }
}

void TTwnContainer::SetItemType(uint16_t itemType) {
    if (itemType == FItemType || TwnItemSize(itemType) == 0) return;
    FItemType = itemType;
    FOneValue = EmptySlot();
}

int TTwnContainer::ItemCount() const {
    switch (FConType) {
        case TWON_ARRAY:
        case TWON_ENUMERATION: return FHasBlock ? int(FItems.size()) : -1;
        case TWON_ONEVALUE: return 1;
        case TWON_RANGE: return FHasBlock ? 1 : -1;
        default: return -1;
    }
}

void TTwnContainer::SetItemCount(int count) {
    if (FConType != TWON_ARRAY && FConType != TWON_ENUMERATION) return;
    FHasBlock = true;
    if (count < 0) count = 0;
    FItems.resize(size_t(count), EmptySlot());
}

TwnValue TTwnContainer::Item(int index) const {
    switch (FConType) {
        case TWON_ARRAY:
        case TWON_ENUMERATION:
            if (FHasBlock && index >= 0 && size_t(index) < FItems.size()) return ToValue(FItems[size_t(index)]);
            return int64_t(-1);
        case TWON_ONEVALUE: return ToValue(FOneValue);
        case TWON_RANGE: return FHasBlock ? ToValue(FRange[4]) : TwnValue(int64_t(-1));
        default: return int64_t(-1);
    }
}

void TTwnContainer::AddItem(const TwnValue& v) {
    if (FConType != TWON_ARRAY && FConType != TWON_ENUMERATION) return;
    FHasBlock = true;
    FItems.push_back(FromValue(v));
}

TwnValue TTwnContainer::CurrentValue() const {
    const TwnValue none = Numeric() ? TwnValue(int64_t(-1)) : TwnValue(std::string());
    switch (FConType) {
        case TWON_ENUMERATION:
            if (FHasBlock && FCurrentIndex < FItems.size()) return ToValue(FItems[FCurrentIndex]);
            return none;
        case TWON_ONEVALUE: return ToValue(FOneValue);
        case TWON_RANGE: return FHasBlock ? ToValue(FRange[4]) : none;
        default: return none;
    }
}

void TTwnContainer::SetCurrentValue(const TwnValue& v) {
    switch (FConType) {
        case TWON_ENUMERATION: {
            const int i = IndexOf(v);
            if (i >= 0) FCurrentIndex = uint32_t(i);
            break;
        }
        case TWON_ONEVALUE: FOneValue = FromValue(v); break;
        case TWON_RANGE: {
            if (!FHasBlock || !Numeric()) break;
            // The arithmetic runs on converted values: a FIX32 step that is
            // not zero in its raw bits may still read as 0.0.
            const double lo = TwnValueToDouble(ToValue(FRange[0]));
            const double hi = TwnValueToDouble(ToValue(FRange[1]));
            const double step = TwnValueToDouble(ToValue(FRange[2]));
            double x = TwnValueToDouble(v);
            if (std::isnan(x)) break;  // no value: the current one stays
            x = std::clamp(x, std::min(lo, hi), std::max(lo, hi));
            if (step != 0) {
                x = std::nearbyint((x - lo) / step) * step + lo;
                if (x > hi) x = hi;
            }
            FRange[4] = FromValue(x);
            break;
        }
        default: break;
    }
}

TwnValue TTwnContainer::MinValue() const {
    if (!Numeric()) return int64_t(-1);
    switch (FConType) {
        case TWON_RANGE: return FHasBlock ? ToValue(FRange[0]) : TwnValue(int64_t(-1));
        case TWON_ONEVALUE: return ToValue(FOneValue);
        case TWON_ARRAY:
        case TWON_ENUMERATION: {
            if (FItems.empty()) return int64_t(-1);
            auto it = std::min_element(FItems.begin(), FItems.end(),
                                       [this](const Slot& a, const Slot& b) { return Less(a, b); });
            return ToValue(*it);
        }
        default: return int64_t(-1);
    }
}

TwnValue TTwnContainer::MaxValue() const {
    if (!Numeric()) return int64_t(-1);
    switch (FConType) {
        case TWON_RANGE: return FHasBlock ? ToValue(FRange[1]) : TwnValue(int64_t(-1));
        case TWON_ONEVALUE: return ToValue(FOneValue);
        case TWON_ARRAY:
        case TWON_ENUMERATION: {
            if (FItems.empty()) return int64_t(-1);
            auto it = std::max_element(FItems.begin(), FItems.end(),
                                       [this](const Slot& a, const Slot& b) { return Less(a, b); });
            return ToValue(*it);
        }
        default: return int64_t(-1);
    }
}

TwnValue TTwnContainer::StepValue() const {
    if (FConType == TWON_RANGE && FHasBlock) return ToValue(FRange[2]);
    return int64_t(-1);
}

int TTwnContainer::IndexOf(const TwnValue& v) const {
    if (FConType != TWON_ARRAY && FConType != TWON_ENUMERATION) return -1;
    const Slot s = FromValue(v);
    for (size_t i = 0; i < FItems.size(); ++i)
        if (Equal(FItems[i], s)) return int(i);
    return -1;
}

void TTwnContainer::Clear() {
    FHasBlock = false;
    FItems.clear();
    FCurrentIndex = 0;
    FDefaultIndex = 0;
    for (Slot& s : FRange) s = Slot();
    FOneValue = EmptySlot();
}

void TTwnContainer::Assign(const TTwnContainer& source) { *this = source; }

std::vector<TTwnFrame> TTwnContainer::Frames() const {
    std::vector<TTwnFrame> frames;
    if (FItemType != TWTY_FRAME) return frames;
    auto add = [&](const Slot& s) {
        frames.push_back(
            {FixToFloat(s.frame.Left), FixToFloat(s.frame.Top), FixToFloat(s.frame.Right), FixToFloat(s.frame.Bottom)});
    };
    if (FConType == TWON_ONEVALUE) add(FOneValue);
    else
        for (const Slot& s : FItems) add(s);
    return frames;
}

TTwnContainer::Slot TTwnContainer::EmptySlot() const {
    Slot s;
    if (Numeric()) s.num = 0xffffffffu;  // -1
    return s;
}

TwnValue TTwnContainer::ToValue(const Slot& s) const {
    switch (FItemType) {
        case TWTY_INT8:
        case TWTY_INT16:
        case TWTY_INT32: return int64_t(int32_t(s.num));
        case TWTY_UINT8:
        case TWTY_UINT16:
        case TWTY_UINT32: return int64_t(s.num);
        case TWTY_BOOL: return s.num != 0;
        case TWTY_FIX32: return FixToFloat(BitsToFix(s.num));
        case TWTY_FRAME: return int64_t(0);
        default: return s.str;
    }
}

TTwnContainer::Slot TTwnContainer::FromValue(const TwnValue& v) const {
    Slot s;
    const int64_t i = TwnValueToInt(v);
    switch (FItemType) {
        case TWTY_INT8: s.num = uint32_t(int32_t(int8_t(i))); break;
        case TWTY_INT16: s.num = uint32_t(int32_t(int16_t(i))); break;
        case TWTY_INT32: s.num = uint32_t(int32_t(i)); break;
        case TWTY_UINT8: s.num = uint8_t(i); break;
        case TWTY_UINT16: s.num = uint16_t(i); break;
        case TWTY_UINT32: s.num = uint32_t(i); break;
        case TWTY_BOOL: s.num = i != 0 ? 1 : 0; break;
        case TWTY_FIX32: s.num = FixToBits(FloatToFix(TwnValueToDouble(v))); break;
        case TWTY_FRAME: break;
        default:
            if (const auto* str = std::get_if<std::string>(&v)) {
                const size_t limit = TwnItemSize(FItemType) - 1;
                s.str = str->substr(0, std::min(limit, str->size()));
            }
            break;
    }
    return s;
}

bool TTwnContainer::Less(const Slot& a, const Slot& b) const {
    return TwnValueToDouble(ToValue(a)) < TwnValueToDouble(ToValue(b));
}

bool TTwnContainer::Equal(const Slot& a, const Slot& b) const {
    if (Numeric()) return a.num == b.num;
    if (FItemType == TWTY_FRAME) return std::memcmp(&a.frame, &b.frame, sizeof a.frame) == 0;
    return a.str == b.str;
}

bool TTwnContainer::ReadFromSource(uint16_t cap, uint16_t conType, TW_HANDLE block) {
    const uint64_t size = TwnGlobal::size(block);
    const auto* p = static_cast<const uint8_t*>(TwnGlobal::lock(block));
    struct Unlock {
        TW_HANDLE h;
        ~Unlock() { TwnGlobal::unlock(h); }
    } unlock{block};
    if (!p || size < 2) return false;
    const uint16_t itemType = uint16_t(ReadLE(p, 2));
    const uint32_t isz = TwnItemSize(itemType);
    if (isz == 0) return false;

    TTwnContainer c;
    c.FCap = cap;
    c.FItemType = itemType;
    c.FConType = conType;
    auto readSlot = [&](const uint8_t* q) {
        Slot s;
        if (itemType <= TWTY_FIX32) {
            s.num = ReadLE(q, isz);
            if (itemType == TWTY_INT8) s.num = uint32_t(int32_t(int8_t(s.num)));
            if (itemType == TWTY_INT16) s.num = uint32_t(int32_t(int16_t(s.num)));
        } else if (itemType == TWTY_FRAME) {
            std::memcpy(&s.frame, q, sizeof s.frame);
        } else {
            s.str.assign(reinterpret_cast<const char*>(q), TwnStrLen(reinterpret_cast<const char*>(q), isz));
        }
        return s;
    };
    switch (conType) {
        case TWON_ONEVALUE:
            if (size < 2 + uint64_t(isz)) return false;
            c.FOneValue = readSlot(p + 2);
            break;
        case TWON_RANGE:
            if (itemType > TWTY_FIX32 || size < sizeof(TW_RANGE)) return false;
            c.FHasBlock = true;
            for (int k = 0; k < 5; ++k) c.FRange[k] = readSlot(p + 2 + 4 * k);
            c.FOneValue = c.FRange[4];
            break;
        case TWON_ARRAY:
        case TWON_ENUMERATION: {
            const uint64_t head = conType == TWON_ARRAY ? sizeof(TW_ARRAY) : sizeof(TW_ENUMERATION);
            if (size < head) return false;
            const uint64_t n = ReadLE(p + 2, 4);
            if (n > MaxSourceItems || n > (size - head) / isz) return false;
            c.FHasBlock = true;
            c.FItems.reserve(size_t(n));
            for (uint64_t k = 0; k < n; ++k) c.FItems.push_back(readSlot(p + head + k * isz));
            if (conType == TWON_ENUMERATION) {
                c.FCurrentIndex = ReadLE(p + 6, 4);
                c.FDefaultIndex = ReadLE(p + 10, 4);
                // The one-value mirrors the current item only when it exists.
                if (c.FCurrentIndex < n) c.FOneValue = c.FItems[c.FCurrentIndex];
            }
            break;
        }
        default: return false;
    }
    c.SupportFlags = SupportFlags;
    *this = std::move(c);
    return true;
}

TW_HANDLE TTwnContainer::ToTwain(bool asOneValue) const {
    const uint32_t isz = TwnItemSize(FItemType);
    auto writeSlot = [&](uint8_t* q, const Slot& s) {
        if (Numeric()) WriteLE(q, s.num, isz);
        else if (FItemType == TWTY_FRAME) std::memcpy(q, &s.frame, sizeof s.frame);
        else std::memcpy(q, s.str.data(), std::min<size_t>(s.str.size(), isz - 1));
    };
    const uint16_t type = asOneValue ? TWON_ONEVALUE : FConType;
    TW_HANDLE h = nullptr;
    switch (type) {
        case TWON_ONEVALUE: {
            Slot s = asOneValue ? Slot() : FOneValue;
            if (asOneValue) {
                const TwnValue cur = CurrentValue();
                s = FConType == TWON_ONEVALUE ? FOneValue : FromValue(cur);
                if (FConType == TWON_ENUMERATION && FHasBlock && FCurrentIndex < FItems.size())
                    s = FItems[FCurrentIndex];
                if (FConType == TWON_RANGE) s = FRange[4];
            }
            // The item field is at least the 4 bytes a reader of TW_ONEVALUE
            // expects.
            h = TwnGlobal::alloc(2 + std::max<uint32_t>(isz, 4));
            auto* p = static_cast<uint8_t*>(TwnGlobal::lock(h));
            if (!p) return nullptr;
            WriteLE(p, FItemType, 2);
            writeSlot(p + 2, s);
            break;
        }
        case TWON_RANGE: {
            h = TwnGlobal::alloc(sizeof(TW_RANGE));
            auto* p = static_cast<uint8_t*>(TwnGlobal::lock(h));
            if (!p) return nullptr;
            WriteLE(p, FItemType, 2);
            for (int k = 0; k < 5; ++k) WriteLE(p + 2 + 4 * k, FRange[k].num, 4);
            break;
        }
        case TWON_ARRAY:
        case TWON_ENUMERATION: {
            const uint64_t head = type == TWON_ARRAY ? sizeof(TW_ARRAY) : sizeof(TW_ENUMERATION);
            h = TwnGlobal::alloc(head + uint64_t(isz) * FItems.size());
            auto* p = static_cast<uint8_t*>(TwnGlobal::lock(h));
            if (!p) return nullptr;
            WriteLE(p, FItemType, 2);
            WriteLE(p + 2, uint32_t(FItems.size()), 4);
            if (type == TWON_ENUMERATION) {
                WriteLE(p + 6, FCurrentIndex, 4);
                WriteLE(p + 10, FDefaultIndex, 4);
            }
            for (size_t k = 0; k < FItems.size(); ++k) writeSlot(p + head + k * isz, FItems[k]);
            break;
        }
        default: return nullptr;
    }
    TwnGlobal::unlock(h);
    return h;
}

// --- Container list ----------------------------------------------------------------

TTwnContainer* TTwnContainerList::Find(uint16_t cap) const {
    for (const auto& c : FItems)
        if (c->Cap() == cap) return c.get();
    return nullptr;
}

TTwnContainer* TTwnContainerList::Add(uint16_t cap, std::unique_ptr<TTwnContainer> container) {
    container->SetCap(cap);
    FItems.erase(std::remove_if(FItems.begin(), FItems.end(), [cap](const auto& c) { return c->Cap() == cap; }),
                 FItems.end());
    FItems.push_back(std::move(container));
    return FItems.back().get();
}

TTwnContainer* TTwnContainerList::Create(uint16_t cap) { return Add(cap, std::make_unique<TTwnContainer>()); }
