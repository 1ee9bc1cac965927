#include "QelNumeric.h"

#include <cmath>

#include "QelGeometry.h"

namespace {

constexpr double DefaultEpsilon = 1e-8;

// "A is at least B" with NaN below every number; two NaNs tie, so the
// earlier index wins as for equal values and the order stays total.
bool AtLeast(float A, float B) {
    if (std::isnan(B)) return true;
    if (std::isnan(A)) return false;
    return A >= B;
}

}  // namespace

bool SameFloat(double A, double B, double Epsilon) {
    long double eps = Epsilon < 0 ? DefaultEpsilon : Epsilon;
    return std::fabs(static_cast<long double>(A) - static_cast<long double>(B)) <= eps;
}

bool IsZeroFloat(double X, double Epsilon) { return SameFloat(X, 0, Epsilon); }

void RankVectorComponents(const TQelColorVector& V, int32_t& MaxIndex, int32_t& MidIndex, int32_t& MinIndex) {
    int scores[3] = {0, 0, 0};
    for (int i = 0; i < 2; ++i)
        for (int j = i + 1; j < 3; ++j) {
            if (AtLeast(V[i], V[j]))
                ++scores[i];
            else
                ++scores[j];
        }
    for (int i = 0; i < 3; ++i) {
        if (scores[i] == 2)
            MaxIndex = i;
        else if (scores[i] == 1)
            MidIndex = i;
        else
            MinIndex = i;
    }
}

void ScaleVector(const TQelColorVector& V, TQelColorVector& W, double Factor) {
    // The products are formed in extended precision and rounded once.
    const long double f = Factor;
    W.x = float(V.x * f);
    W.y = float(V.y * f);
    W.z = float(V.z * f);
}

uint8_t FloatToByte(double X) {
    if (std::isnan(X)) return 0;
    return uint8_t(QelRoundEven(ClampDouble(X, 0, 255)));
}

void ColorBytesFromFloats(TQelRGBTriple& Triple, double X, double Y, double Z) {
    Triple.Blue = FloatToByte(Z);
    Triple.Green = FloatToByte(Y);
    Triple.Red = FloatToByte(X);
}

void ColorBytesFromVector(const TQelColorVector& V, TQelRGBTriple& Triple) {
    Triple.Blue = FloatToByte(V.x);
    Triple.Green = FloatToByte(V.y);
    Triple.Red = FloatToByte(V.z);
}

void ScaleRGB(uint8_t Numerator, uint8_t Denominator, TQelRGBTriple& Triple, uint32_t Colour) {
    Triple.Blue = uint8_t(MulDiv(int32_t(Colour & 0xFFu), Numerator, Denominator));
    Triple.Green = uint8_t(MulDiv(int32_t((Colour >> 8) & 0xFFu), Numerator, Denominator));
    Triple.Red = uint8_t(MulDiv(int32_t((Colour >> 16) & 0xFFu), Numerator, Denominator));
}
