#include "QelToneCurve.h"

#include <cmath>
#include <limits>

#include "QelGeometry.h"

void TQelCurveSegment::SetStartPoint(const TQelCurvePoint& Point) {
    StartPoint = Point;
    Update();
}

void TQelCurveSegment::SetEndPoint(const TQelCurvePoint& Point) {
    EndPoint = Point;
    Update();
}

void TQelLineSegment::Update() { LineFromPoints(StartPoint, EndPoint, Slope, Intercept); }

void TQelLineSegment::Evaluate(int32_t MaxValue, TQelToneTable& Table, double Last, double First) const {
    if (std::isinf(Slope) || std::isnan(Slope)) return;
    const double first = std::ceil(First);
    if (!(first >= 0) || !(Last >= first)) return;
    const int64_t end = std::min<int64_t>(int64_t(std::floor(Last)), int64_t(Table.size()) - 1);
    for (int64_t i = int64_t(first); i <= end; ++i) Table[size_t(i)] = ClampNearest(MaxValue, Slope * double(i) + Intercept);
}

bool LineFromPoints(const TQelCurvePoint& Start, const TQelCurvePoint& End, double& Slope, double& Intercept) {
    const double dx = End.X - Start.X;
    if (dx == 0) {
        Slope = std::numeric_limits<double>::infinity();
        Intercept = -std::numeric_limits<double>::infinity();
        return false;
    }
    Slope = (End.Y - Start.Y) / dx;
    Intercept = Start.Y - Slope * Start.X;
    return true;
}

uint16_t ClampNearest(int32_t MaxValue, double X) {
    if (X > MaxValue) return uint16_t(MaxValue);
    if (!(X >= 0)) return 0;
    return uint16_t(QelRoundEven(X));
}

bool BuildToneCurve(std::span<const TQelCurvePoint> Points, int32_t MaxValue, TQelToneTable& Table) {
    Table.clear();
    if (Points.size() != 2 || MaxValue < 0 || MaxValue > 65535) return false;
    TQelLineSegment line;
    line.SetStartPoint(Points[0]);
    line.SetEndPoint(Points[1]);
    Table.assign(size_t(MaxValue) + 1, 0);
    line.Evaluate(MaxValue, Table, MaxValue, 0);
    return true;
}
