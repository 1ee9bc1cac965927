#include "AreaCorrelator.h"

#include <algorithm>
#include <cmath>

#include "ApproximationBGRLSM2.h"
#include "ApproximationLSM2.h"
#include "Correlator.h"
#include "KMean.h"
#include "QelNumeric.h"

namespace {

// Pixel bytes are B, G, R.
constexpr int KBlue = 0;
constexpr int KGreen = 1;
constexpr int KRed = 2;

uint32_t PackedColour(const uint8_t* p) { return uint32_t(p[KBlue]) | uint32_t(p[KGreen]) << 8 | uint32_t(p[KRed]) << 16; }

int ChannelSum(const uint8_t* p) { return int(p[KBlue]) + int(p[KGreen]) + int(p[KRed]); }

// Per channel Round((a·A + b·B) / (a + b)); a + b > 0.
void BlendByWeights(uint8_t* out, const uint8_t* colourA, const uint8_t* colourB, int32_t a, int32_t b) {
    const double total = double(a) + double(b);
    for (int c = 0; c < 3; ++c)
        out[c] = FloatToByte((double(colourA[c]) * a + double(colourB[c]) * b) / total);
}

// The cell's own position and the patch position feeding it, when both lie
// inside the image.
struct TCellPair {
    int32_t X, Y;    // destination, absolute
    int32_t SX, SY;  // source, absolute
};

bool PairInside(const TBorderArea8& list, int32_t index, const TQelPoint& offset, uint8_t orientation,
                const TQelRect& bounds, TCellPair& pair) {
    const TBorderArea8::TPlace& own = list.Place(index, 0);
    const TBorderArea8::TPlace& feed = list.Place(index, orientation);
    const int64_t sx = int64_t(offset.X) + feed.X;
    const int64_t sy = int64_t(offset.Y) + feed.Y;
    if (!bounds.Contains(own.AbsX, own.AbsY)) return false;
    if (sx < bounds.Left || sx >= bounds.Right || sy < bounds.Top || sy >= bounds.Bottom) return false;
    pair = TCellPair{own.AbsX, own.AbsY, int32_t(sx), int32_t(sy)};
    return true;
}

}  // namespace

TAreaCorrelator::TAreaCorrelator(const TQelRect& region, int32_t squaredRadius, const TQelPixels* source,
                                 TQelPixels* destination)
    : FRegion(region), FWidth(std::max(region.Width(), 0)), FHeight(std::max(region.Height(), 0)),
      FSquaredRadius(squaredRadius), FMask(size_t(FWidth) * size_t(FHeight), 0), FBounds(), FSource(source),
      FDest(destination), FBorder(region), FInterior(region) {
    // Reads and writes are checked against the part both buffers cover, so a
    // size mismatch cannot reach outside either.
    const auto usable = [](const TQelPixels* p) {
        return p && p->Bits && p->Format == QelFormatBGR24 && p->BytesPerPixel == 3;
    };
    if (usable(source) && usable(destination)) QelIntersectRect(FBounds, source->GetBounds(), destination->GetBounds());
}

void TAreaCorrelator::SetMask(int32_t x, int32_t y, uint8_t masked) {
    const int64_t lx = int64_t(x) - FRegion.Left;
    const int64_t ly = int64_t(y) - FRegion.Top;
    if (lx < 0 || ly < 0 || lx >= FWidth || ly >= FHeight) return;
    FMask[size_t(lx) * size_t(FHeight) + size_t(ly)] = masked;
}

bool TAreaCorrelator::IsBorderCell(int32_t x, int32_t y, int32_t reach) const {
    for (int32_t i = x - reach; i <= x + reach; ++i) {
        for (int32_t j = y - reach; j <= y + reach; ++j) {
            const int64_t d = int64_t(x - i) * (x - i) + int64_t(y - j) * (y - j);
            if (d > FSquaredRadius) continue;
            if (i >= 0 && i < FWidth && j >= 0 && j < FHeight) {
                if (FMask[size_t(i) * size_t(FHeight) + size_t(j)] == 0) return true;
            } else if (FBounds.Contains(i + FRegion.Left, j + FRegion.Top)) {
                return true;
            }
        }
    }
    return false;
}

void TAreaCorrelator::BuildLists() {
    FBorder.Clear();
    FInterior.Clear();
    // sqrt of a negative radius is NaN, which QelTrunc turns into 0.
    const int32_t reach = QelTrunc(std::sqrt(double(FSquaredRadius)) + 0.001);
    // Classify first, so that both lists can be sized before they are filled.
    enum : uint8_t { KKeep, KBorder, KInterior };
    std::vector<uint8_t> kinds(FMask.size(), KKeep);
    int32_t borderCount = 0, interiorCount = 0;
    for (int32_t x = 0; x < FWidth; ++x) {
        for (int32_t y = 0; y < FHeight; ++y) {
            const size_t slot = size_t(x) * size_t(FHeight) + size_t(y);
            if (FMask[slot] == 0) continue;
            if (IsBorderCell(x, y, reach)) {
                kinds[slot] = KBorder;
                ++borderCount;
            } else {
                kinds[slot] = KInterior;
                ++interiorCount;
            }
        }
    }
    FBorder.Reserve(borderCount);
    FInterior.Reserve(interiorCount);
    // Column by column: this order fixes the list order.
    for (int32_t x = 0; x < FWidth; ++x) {
        for (int32_t y = 0; y < FHeight; ++y) {
            const uint8_t kind = kinds[size_t(x) * size_t(FHeight) + size_t(y)];
            if (kind == KBorder)
                FBorder.Add(x, y);
            else if (kind == KInterior)
                FInterior.Add(x, y);
        }
    }
}

void TAreaCorrelator::RemoveBorderOutliers(double fraction) {
    const int32_t borderCount = FBorder.Count();
    TKMean means(borderCount, 2);
    for (int32_t i = 0; i < borderCount; ++i) {
        const TBorderArea8::TPlace& p = FBorder.Place(i, 0);
        if (FBounds.Contains(p.AbsX, p.AbsY)) means.AddColour(PackedColour(Dest(p.AbsX, p.AbsY)));
    }
    if (means.ColourCount() < 2) return;

    means.AddCluster(true, means.GetColour(0).Packed());
    means.AddCluster(true, means.GetColour(1).Packed());
    // Passes end when no colour moves; the cap only guards against a cycle
    // that float rounding might cause.
    for (int pass = 0; pass < TKMean::MaxPasses; ++pass)
        if (means.Iterate() == 0) break;

    const int smaller = means.GetCluster(1).Total < means.GetCluster(0).Total ? 1 : 0;
    if (double(borderCount) * fraction < double(means.GetCluster(smaller).Total)) return;
    for (int32_t i = 0; i < borderCount; ++i) {
        const TBorderArea8::TPlace& p = FBorder.Place(i, 0);
        if (!FBounds.Contains(p.AbsX, p.AbsY)) continue;
        const int index = means.IndexOfColour(PackedColour(Dest(p.AbsX, p.AbsY)));
        if (index >= 0 && means.GetColour(index).Cluster == smaller) FBorder.SetRemoveFlag(i, 1);
    }
    FBorder.Compact();
}

void TAreaCorrelator::ComputeWeights() { FInterior.ComputeNeighbourWeights(FBorder); }

uint8_t TAreaCorrelator::BestOrientation(const TQelRect& sourceRect) {
    double best = -1.0;
    uint8_t result = 0;
    const TQelPoint offset{sourceRect.Left, sourceRect.Top};
    TCorrelator correlator;
    TCellPair pair;
    for (int o = 0; o < 8; ++o) {
        correlator.Reset();
        for (int32_t i = 0; i < FBorder.Count(); ++i) {
            if (!PairInside(FBorder, i, offset, uint8_t(o), FBounds, pair)) continue;
            const uint8_t* patch = Source(pair.SX, pair.SY);
            const uint8_t* here = Source(pair.X, pair.Y);
            correlator.Add(patch[KRed], here[KRed]);
            correlator.Add(patch[KGreen], here[KGreen]);
            correlator.Add(patch[KBlue], here[KBlue]);
        }
        const double r = correlator.Coefficient();
        if (r > best) {
            best = r;
            result = uint8_t(o);
        }
    }
    return result;
}

void TAreaCorrelator::Transfer(const TQelPoint& offset, uint8_t orientation, int degree, int kind, bool blend) {
    if (orientation > 7) return;
    switch (kind) {
    case KindCopy: TransferCopy(offset, orientation, blend); break;
    case KindChannelSum: TransferChannelSum(offset, orientation, degree); break;
    case KindPerChannel: TransferPerChannel(offset, orientation, degree, blend); break;
    default: break;
    }
}

void TAreaCorrelator::TransferCopy(const TQelPoint& offset, uint8_t orientation, bool blend) {
    TCellPair pair;
    for (int32_t i = 0; i < FInterior.Count(); ++i) {
        if (!PairInside(FInterior, i, offset, orientation, FBounds, pair)) continue;
        const uint8_t* patch = Source(pair.SX, pair.SY);
        uint8_t* out = Dest(pair.X, pair.Y);
        if (blend && FInterior.HasOuterNeighbours(i)) {
            uint8_t mixed[3];
            BlendByWeights(mixed, Source(pair.X, pair.Y), patch, FInterior.GetOuterWeight(i),
                           FInterior.GetInnerWeight(i));
            std::copy(mixed, mixed + 3, out);
        } else {
            std::copy(patch, patch + 3, out);
        }
    }
}

void TAreaCorrelator::TransferChannelSum(const TQelPoint& offset, uint8_t orientation, int degree) {
    TApproximation surface(FBorder.Count(), degree);
    TCellPair pair;
    for (int32_t i = 0; i < FBorder.Count(); ++i) {
        const TBorderArea8::TPlace& own = FBorder.Place(i, 0);
        double z = 0.0;
        if (PairInside(FBorder, i, offset, orientation, FBounds, pair))
            z = double(ChannelSum(Source(pair.X, pair.Y)) - ChannelSum(Source(pair.SX, pair.SY)));
        surface.AddPoint(own.X, own.Y, z);
    }
    surface.Solve();
    for (int32_t i = 0; i < FInterior.Count(); ++i) {
        if (!PairInside(FInterior, i, offset, orientation, FBounds, pair)) continue;
        const TBorderArea8::TPlace& own = FInterior.Place(i, 0);
        double z = surface.Evaluate(own.X, own.Y);
        // A non-finite surface value must not reach an integer conversion.
        if (!std::isfinite(z)) z = 0.0;
        const uint8_t* patch = Source(pair.SX, pair.SY);
        uint8_t* out = Dest(pair.X, pair.Y);
        for (int c = 0; c < 3; ++c) out[c] = FloatToByte(double(patch[c]) + z / 3.0);
    }
}

void TAreaCorrelator::TransferPerChannel(const TQelPoint& offset, uint8_t orientation, int degree, bool blend) {
    TApproximationBGR surfaces(FBorder.Count(), degree);
    TCellPair pair;
    for (int32_t i = 0; i < FBorder.Count(); ++i) {
        const TBorderArea8::TPlace& own = FBorder.Place(i, 0);
        if (PairInside(FBorder, i, offset, orientation, FBounds, pair)) {
            const uint8_t* here = Source(pair.X, pair.Y);
            const uint8_t* patch = Source(pair.SX, pair.SY);
            surfaces.AddPoint(own.X, own.Y, double(int(here[KRed]) - int(patch[KRed])),
                              double(int(here[KGreen]) - int(patch[KGreen])),
                              double(int(here[KBlue]) - int(patch[KBlue])));
        } else {
            surfaces.AddPoint(own.X, own.Y, 0.0, 0.0, 0.0);
        }
    }
    surfaces.Solve();
    for (int32_t i = 0; i < FInterior.Count(); ++i) {
        if (!PairInside(FInterior, i, offset, orientation, FBounds, pair)) continue;
        const TBorderArea8::TPlace& own = FInterior.Place(i, 0);
        double d[3];  // B, G, R
        surfaces.Evaluate(own.X, own.Y, d[KRed], d[KGreen], d[KBlue]);
        if (!std::isfinite(d[0]) || !std::isfinite(d[1]) || !std::isfinite(d[2])) d[0] = d[1] = d[2] = 0.0;
        const uint8_t* patch = Source(pair.SX, pair.SY);
        uint8_t corrected[3];
        for (int c = 0; c < 3; ++c) corrected[c] = FloatToByte(double(patch[c]) + d[c]);
        uint8_t* out = Dest(pair.X, pair.Y);
        if (blend && FInterior.HasOuterNeighbours(i))
            BlendByWeights(out, Source(pair.X, pair.Y), corrected, FInterior.GetOuterWeight(i),
                           FInterior.GetInnerWeight(i));
        else
            std::copy(corrected, corrected + 3, out);
    }
}
