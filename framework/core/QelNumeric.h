// Clamping, tolerant comparison and colour conversions shared by the pixel
// code, the make-up tools and the in-painting engine. Plain functions without
// state, safe on any thread.
//
// Three colour layouts meet here:
//   packed colour  0x00RRGGBB: blue in byte 0, green in byte 1, red in byte 2;
//   TColor         the platform colour value: red in byte 0, blue in byte 2;
//   triple         the 24-bit pixel, 3 bytes in memory order B, G, R.
// A colour vector holds the triple's channels as floats in the same memory
// order (x blue, y green, z red).
#pragma once

#include <cstdint>

using TColor = uint32_t;

// One 24-bit pixel as it lies in the rows of a 0x1012 buffer.
struct TQelRGBTriple {
    uint8_t Blue = 0;
    uint8_t Green = 0;
    uint8_t Red = 0;
    friend bool operator==(const TQelRGBTriple&, const TQelRGBTriple&) = default;
};
static_assert(sizeof(TQelRGBTriple) == 3, "a triple must match the pixel layout");

struct TQelColorVector {
    float x = 0;  // blue
    float y = 0;  // green
    float z = 0;  // red

    float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
};

// Low when Value < Low, else High when Value > High, else Value. Low is
// tested first, so Low above High gives Low.
constexpr int32_t ClampInt(int32_t Value, int32_t Low, int32_t High) {
    return Value < Low ? Low : (Value > High ? High : Value);
}
constexpr int64_t ClampInt64(int64_t Value, int64_t Low, int64_t High) {
    return Value < Low ? Low : (Value > High ? High : Value);
}
constexpr double ClampDouble(double Value, double Low, double High) {
    return Value < Low ? Low : (Value > High ? High : Value);
}
constexpr long double ClampExtended(long double Value, long double Low, long double High) {
    return Value < Low ? Low : (Value > High ? High : Value);
}

// abs(A - B) <= Epsilon, compared in extended precision; a negative Epsilon
// stands for 1e-8.
bool SameFloat(double A, double B, double Epsilon);
bool IsZeroFloat(double X, double Epsilon);

// Indices 0..2 of the largest, middle and smallest component; on ties the
// earlier component counts as the larger. A NaN ranks below every number, so
// the result is always a permutation of 0, 1, 2.
void RankVectorComponents(const TQelColorVector& V, int32_t& MaxIndex, int32_t& MidIndex, int32_t& MinIndex);

void ScaleVector(const TQelColorVector& V, TQelColorVector& W, double Factor);

// Nearest byte, halves to even, after clamping to 0..255; NaN gives 0.
uint8_t FloatToByte(double X);

// True when A, B, C equal bytes 2, 1, 0 of Colour.
constexpr bool SameColorBytes(uint8_t A, uint8_t B, uint8_t C, uint32_t Colour) {
    return A == uint8_t(Colour >> 16) && B == uint8_t(Colour >> 8) && C == uint8_t(Colour);
}

// Bytes 0 to 2 equal; byte 3 is ignored.
constexpr bool SameColor(uint32_t Colour1, uint32_t Colour2) { return ((Colour1 ^ Colour2) & 0xFFFFFFu) == 0; }

// Bytes 0 and 2 exchanged, byte 1 kept, byte 3 cleared.
constexpr uint32_t SwapRedBlue(uint32_t Colour) {
    return ((Colour & 0xFFu) << 16) | (Colour & 0xFF00u) | ((Colour >> 16) & 0xFFu);
}

// The platform colour value of a packed colour.
constexpr TColor ColorFromBGR(uint32_t Colour) { return SwapRedBlue(Colour); }

// Memory order Z, Y, X: called with R, G, B it gives the pixel B, G, R.
inline void MakeColorBytes(uint8_t X, uint8_t Y, uint8_t Z, TQelRGBTriple& Triple) {
    Triple.Blue = Z;
    Triple.Green = Y;
    Triple.Red = X;
}

// Memory order FloatToByte(Z), FloatToByte(Y), FloatToByte(X).
void ColorBytesFromFloats(TQelRGBTriple& Triple, double X, double Y, double Z);

// Memory order FloatToByte(V.x), FloatToByte(V.y), FloatToByte(V.z).
void ColorBytesFromVector(const TQelColorVector& V, TQelRGBTriple& Triple);

// A platform colour value into the pixel B, G, R.
inline void ColorToColorBytes(TColor Colour, TQelRGBTriple& Triple) {
    Triple.Blue = uint8_t(Colour >> 16);
    Triple.Green = uint8_t(Colour >> 8);
    Triple.Red = uint8_t(Colour);
}

// V.x := C, V.y := B, V.z := A.
inline void ColorBytesToVector(uint8_t A, uint8_t B, uint8_t C, TQelColorVector& V) {
    V.x = C;
    V.y = B;
    V.z = A;
}

// A packed colour into its channels in pixel memory order.
inline void ColorToVector(TQelColorVector& V, uint32_t Colour) {
    V.x = float(Colour & 0xFFu);
    V.y = float((Colour >> 8) & 0xFFu);
    V.z = float((Colour >> 16) & 0xFFu);
}

// --- Per-pixel colour helpers of the brushes --------------------------------

// Each channel of a packed colour scaled by Numerator / Denominator with
// MulDiv rounding; the byte keeps the low 8 bits of the result.
void ScaleRGB(uint8_t Numerator, uint8_t Denominator, TQelRGBTriple& Triple, uint32_t Colour);

inline void MakeRGBTriple(uint8_t R, uint8_t G, uint8_t B, TQelRGBTriple& Triple) {
    Triple.Blue = B;
    Triple.Green = G;
    Triple.Red = R;
}

namespace QelColorDetail {
// c0 + floor(Alpha * (c1 - c0) / 256): the signed product shifted, so the
// result never leaves the range between c0 and c1.
constexpr uint8_t BlendChannel(uint8_t Alpha, int32_t Fore, int32_t Back) {
    return uint8_t(Back + ((int32_t(Alpha) * (Fore - Back)) >> 8));
}
}  // namespace QelColorDetail

// Alpha 0 gives Back, Alpha 255 gives Fore exactly, otherwise the blend above
// per channel.
inline void BlendRGB(uint8_t Alpha, TQelRGBTriple& Triple, uint32_t Fore, uint32_t Back) {
    if (Alpha == 255) Back = Fore;
    Triple.Blue = QelColorDetail::BlendChannel(Alpha, int32_t(Fore & 0xFFu), int32_t(Back & 0xFFu));
    Triple.Green = QelColorDetail::BlendChannel(Alpha, int32_t((Fore >> 8) & 0xFFu), int32_t((Back >> 8) & 0xFFu));
    Triple.Red = QelColorDetail::BlendChannel(Alpha, int32_t((Fore >> 16) & 0xFFu), int32_t((Back >> 16) & 0xFFu));
}

// The same blend in place, the pixel's own channels as the background.
inline void BlendPixel(TQelRGBTriple& Triple, uint8_t Alpha, uint32_t Colour) {
    if (Alpha == 0) return;
    if (Alpha == 255) {
        Triple.Blue = uint8_t(Colour);
        Triple.Green = uint8_t(Colour >> 8);
        Triple.Red = uint8_t(Colour >> 16);
        return;
    }
    Triple.Blue = QelColorDetail::BlendChannel(Alpha, int32_t(Colour & 0xFFu), Triple.Blue);
    Triple.Green = QelColorDetail::BlendChannel(Alpha, int32_t((Colour >> 8) & 0xFFu), Triple.Green);
    Triple.Red = QelColorDetail::BlendChannel(Alpha, int32_t((Colour >> 16) & 0xFFu), Triple.Red);
}
