// Tone curves: a table that maps every input level to an output level,
// built from curve segments through given points.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

struct TQelCurvePoint {
    double X = 0;
    double Y = 0;
};

using TQelToneTable = std::vector<uint16_t>;

class TQelCurveSegment {
public:
    virtual ~TQelCurveSegment() = default;

    // Called after either point was set.
    virtual void Update() {}
    void SetStartPoint(const TQelCurvePoint& Point);
    void SetEndPoint(const TQelCurvePoint& Point);

    TQelCurvePoint StartPoint;
    TQelCurvePoint EndPoint;
};

// The straight line through the two points.
class TQelLineSegment : public TQelCurveSegment {
public:
    void Update() override;
    // Table[i] for i from ceil(First) while i <= Last: the line's value,
    // clamped to 0..MaxValue. Nothing for a vertical line.
    virtual void Evaluate(int32_t MaxValue, TQelToneTable& Table, double Last, double First) const;

    double Slope = 0;
    double Intercept = 0;
};

// Slope and intercept of the line through Start and End; false for a
// vertical line (slope +infinity, intercept -infinity).
bool LineFromPoints(const TQelCurvePoint& Start, const TQelCurvePoint& End, double& Slope, double& Intercept);
// MaxValue above it, 0 below 0, else the nearest integer (halves to even).
uint16_t ClampNearest(int32_t MaxValue, double X);
// MaxValue + 1 entries from the line through the two points; false, with
// an empty table, for any other number of points.
bool BuildToneCurve(std::span<const TQelCurvePoint> Points, int32_t MaxValue, TQelToneTable& Table);
