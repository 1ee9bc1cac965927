// Rectangles, integer scaling and rounding shared by every layer.
//
// Rectangles keep right and bottom exclusive. Convert to QRect only at Qt
// calls (framework/QelQtGeometry.h); never do arithmetic on QRect::right()/bottom().
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

struct TQelPoint {
    int32_t X = 0;
    int32_t Y = 0;
    friend bool operator==(const TQelPoint&, const TQelPoint&) = default;
};

struct TQelRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;   // exclusive
    int32_t Bottom = 0;  // exclusive

    constexpr TQelRect() = default;
    constexpr TQelRect(int32_t l, int32_t t, int32_t r, int32_t b) : Left(l), Top(t), Right(r), Bottom(b) {}

    constexpr int32_t Width() const { return Right - Left; }
    constexpr int32_t Height() const { return Bottom - Top; }
    constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    constexpr bool Contains(int32_t x, int32_t y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
    constexpr void Offset(int32_t dx, int32_t dy) { Left += dx; Right += dx; Top += dy; Bottom += dy; }

    friend bool operator==(const TQelRect&, const TQelRect&) = default;
};

// Intersection; an empty result is all zero, as the platform's IntersectRect gives.
constexpr bool QelIntersectRect(TQelRect& out, const TQelRect& a, const TQelRect& b) {
    TQelRect r(a.Left > b.Left ? a.Left : b.Left, a.Top > b.Top ? a.Top : b.Top,
               a.Right < b.Right ? a.Right : b.Right, a.Bottom < b.Bottom ? a.Bottom : b.Bottom);
    if (r.IsEmpty()) {
        out = TQelRect();
        return false;
    }
    out = r;
    return true;
}

// Union; an empty operand does not count, as with the platform's UnionRect.
constexpr bool QelUnionRect(TQelRect& out, const TQelRect& a, const TQelRect& b) {
    if (a.IsEmpty()) { out = b.IsEmpty() ? TQelRect() : b; return !b.IsEmpty(); }
    if (b.IsEmpty()) { out = a; return true; }
    out = TQelRect(a.Left < b.Left ? a.Left : b.Left, a.Top < b.Top ? a.Top : b.Top,
                   a.Right > b.Right ? a.Right : b.Right, a.Bottom > b.Bottom ? a.Bottom : b.Bottom);
    return true;
}

// The platform's MulDiv: 64-bit product, the quotient rounded to nearest with
// halves away from zero; -1 for a zero divisor or a result outside 32 bits.
constexpr int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return -1;
    int64_t p = int64_t(a) * int64_t(b);
    int64_t d = c;
    bool negative = (p < 0) != (d < 0);
    uint64_t up = p < 0 ? uint64_t(-p) : uint64_t(p);
    uint64_t ud = d < 0 ? uint64_t(-d) : uint64_t(d);
    uint64_t q = (up + ud / 2) / ud;
    if (q > uint64_t(std::numeric_limits<int32_t>::max()) + (negative ? 1u : 0u)) return -1;
    return negative ? int32_t(-int64_t(q)) : int32_t(q);
}

// "Nearest, halves to even" in the current rounding mode (the default mode is
// to nearest). Never qRound or std::round: those round halves away from zero.
// NaN gives 0 and out-of-range values saturate, so a damaged input cannot
// reach undefined behaviour.
inline int32_t QelRoundEven(double v) {
    if (std::isnan(v)) return 0;
    double r = std::nearbyint(v);
    if (r >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (r <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(r);
}

// Truncation toward zero, guarded the same way.
inline int32_t QelTrunc(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(v);
}

// The low 32 bits of a 64-bit result as a signed value: the platform's 32-bit
// arithmetic wraps, and this reproduces it without undefined behaviour.
constexpr int32_t QelWrapInt32(int64_t v) { return int32_t(uint32_t(uint64_t(v))); }

// floor(x / 256) for pixel arithmetic: an arithmetic shift.
constexpr int32_t QelFloorDiv256(int32_t x) { return x >> 8; }

// Integer division whose divisor may come from a file, the user, a script or
// widget geometry: a zero divisor yields the fallback instead of a trap.
constexpr int32_t QelSafeDiv(int32_t a, int32_t b, int32_t fallback = 0) {
    if (b == 0) return fallback;
    if (b == -1 && a == std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::max();
    return a / b;
}
