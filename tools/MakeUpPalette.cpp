#include "MakeUpPalette.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Half the length of a marker line and its width.
constexpr int32_t MarkerArm = 7;
constexpr int32_t MarkerHalfWidth = 1;

constexpr int32_t SwatchWidth = 80;
constexpr int32_t SwatchHeight = 41;

void Invert(QImage& Image, int32_t X0, int32_t Y0, int32_t X1, int32_t Y1) {
    X0 = std::max(X0, 0);
    Y0 = std::max(Y0, 0);
    X1 = std::min(X1, Image.width() - 1);
    Y1 = std::min(Y1, Image.height() - 1);
    for (int32_t y = Y0; y <= Y1; ++y) {
        uchar* p = Image.scanLine(y) + ptrdiff_t(X0) * 3;
        for (int32_t x = X0; x <= X1; ++x, p += 3) {
            p[0] = uchar(~p[0]);
            p[1] = uchar(~p[1]);
            p[2] = uchar(~p[2]);
        }
    }
}

}  // namespace

void TMakeUpPalette::Create(QWidget* PlaneBox, QWidget* SwatchBox, int32_t PlaneSize, int32_t Mode, int32_t Level,
                            const TQelPoint& Marker) {
    FPlaneBox = PlaneBox;
    FSwatchBox = SwatchBox;
    FPlaneSize = std::max(PlaneSize, 1);
    FPlane = QImage(FPlaneSize, FPlaneSize, QImage::Format_BGR888);
    FMode = std::clamp(Mode, ModeRed, ModeBlue);
    FLevel = std::clamp(Level, 0, 255);
    FMarker = TQelPoint{std::clamp(Marker.X, 0, FPlaneSize - 1), std::clamp(Marker.Y, 0, FPlaneSize - 1)};
    FTint = false;
    FRenderedLevel = -1;
    Refresh();
}

void TMakeUpPalette::RenderPlane() {
    const int32_t level = EffectiveLevel();
    if (level == FRenderedLevel && FMode == FRenderedMode) return;
    const double step = FPlaneSize > 1 ? double(level) / (FPlaneSize - 1) : 0.0;
    const uint8_t fixed = FloatToByte(level);
    for (int32_t y = 0; y < FPlaneSize; ++y) {
        uchar* p = FPlane.scanLine(y);
        const uint8_t ry = FloatToByte(step * y);
        for (int32_t x = 0; x < FPlaneSize; ++x, p += 3) {
            // The image's bytes are B, G, R like a pixel of ours.
            const uint8_t rx = FloatToByte(step * x);
            switch (FMode) {
            case ModeRed:
                p[0] = ry, p[1] = rx, p[2] = fixed;
                break;
            case ModeGreen:
                p[0] = rx, p[1] = fixed, p[2] = ry;
                break;
            default:
                p[0] = fixed, p[1] = ry, p[2] = rx;
                break;
            }
        }
    }
    FRenderedLevel = level;
    FRenderedMode = FMode;
    ++FRenderCount;
}

TQelRGBTriple TMakeUpPalette::PlanePixel(const TQelPoint& Point) const {
    TQelRGBTriple t;
    if (FPlane.isNull()) return t;
    const int32_t x = std::clamp(Point.X, 0, FPlaneSize - 1);
    const int32_t y = std::clamp(Point.Y, 0, FPlaneSize - 1);
    const uchar* p = FPlane.constScanLine(y) + ptrdiff_t(x) * 3;
    t.Blue = p[0];
    t.Green = p[1];
    t.Red = p[2];
    return t;
}

void TMakeUpPalette::UpdateBoxes() const {
    if (FPlaneBox) FPlaneBox->update();
    if (FSwatchBox) FSwatchBox->update();
}

void TMakeUpPalette::SetColor(uint32_t Colour) {
    const int32_t b = int32_t(Colour & 0xFFu);
    const int32_t g = int32_t((Colour >> 8) & 0xFFu);
    const int32_t r = int32_t((Colour >> 16) & 0xFFu);
    if (b == FColor.Blue && g == FColor.Green && r == FColor.Red) return;
    FLevel = std::max({r, g, b});
    const int32_t fixed = FMode == ModeRed ? r : (FMode == ModeGreen ? g : b);
    if (fixed < FLevel) FMode = r == FLevel ? ModeRed : (g == FLevel ? ModeGreen : ModeBlue);
    // Black has no place on a plane of level 0 (every point is black): the
    // marker stays where it is.
    if (FLevel > 0) {
        int32_t a = 0, c = 0;
        switch (FMode) {
        case ModeRed:
            a = g, c = b;
            break;
        case ModeGreen:
            a = b, c = r;
            break;
        default:
            a = r, c = g;
            break;
        }
        // In extended precision and in this order, so that a ratio of one
        // half lands on the even side as it always did.
        auto place = [this](int32_t v) {
            return int32_t(uint8_t(std::nearbyintl((long double)v / FLevel * (FPlaneSize - 1))));
        };
        FMarker = TQelPoint{place(a), place(c)};
        FMarker.X = std::min(FMarker.X, FPlaneSize - 1);
        FMarker.Y = std::min(FMarker.Y, FPlaneSize - 1);
    }
    SetLevel(EffectiveLevel());
    Refresh();
}

void TMakeUpPalette::SetLevel(int32_t Value) {
    Value = std::clamp(Value, 0, 255);
    if (Value == FLevel) return;
    FLevel = Value;
    Refresh();
}

void TMakeUpPalette::SetMode(int32_t Value) {
    if (Value == FMode || Value < ModeRed || Value > ModeBlue) return;
    FMode = Value;
    Refresh();
}

void TMakeUpPalette::SetMarker(const TQelPoint& Point) {
    const TQelPoint p{std::clamp(Point.X, 0, FPlaneSize - 1), std::clamp(Point.Y, 0, FPlaneSize - 1)};
    if (p == FMarker) return;
    FMarker = p;
    FColor = PlanePixel(FMarker);
    UpdateBoxes();
}

void TMakeUpPalette::Refresh() {
    RenderPlane();
    FColor = PlanePixel(FMarker);
    if (FTint) {
        const double scale = FLevel / 255.0;
        FColor.Blue = FloatToByte(FColor.Blue * scale);
        FColor.Green = FloatToByte(FColor.Green * scale);
        FColor.Red = FloatToByte(FColor.Red * scale);
    }
    UpdateBoxes();
}

void TMakeUpPalette::PaintPlane(QPainter& Painter) const {
    if (FPlane.isNull()) return;
    // Each line inverts what lies under it, so where the two cross the plane
    // shows through: the chosen colour stays visible in the middle.
    QImage shown = FPlane.copy();
    const int32_t x = FMarker.X, y = FMarker.Y;
    Invert(shown, x - MarkerArm, y - MarkerHalfWidth, x + MarkerArm, y + MarkerHalfWidth);
    Invert(shown, x - MarkerHalfWidth, y - MarkerArm, x + MarkerHalfWidth, y + MarkerArm);
    Painter.drawImage(0, 0, shown);
}

void TMakeUpPalette::PaintSwatch(QPainter& Painter) const {
    Painter.setRenderHint(QPainter::Antialiasing, false);
    Painter.setPen(QPen(Qt::black, 0));
    Painter.setBrush(QColor(FColor.Red, FColor.Green, FColor.Blue));
    Painter.drawEllipse(QRect(0, 0, SwatchWidth - 1, SwatchHeight - 1));
}
