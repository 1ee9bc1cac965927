// The colour picker of the make-up tools: a square plane in which one
// channel is fixed at a level and the other two run from 0 to that level
// along x and y, a marker on the plane that chooses the colour, and a swatch
// showing it. The palette is a model; the two boxes that show it paint it
// from their paint events, and the palette only asks them to repaint.
#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <cstdint>

#include "QelGeometry.h"
#include "QelNumeric.h"

class QPainter;

class TMakeUpPalette {
public:
    // The fixed channel.
    static constexpr int32_t ModeRed = 1;
    static constexpr int32_t ModeGreen = 2;
    static constexpr int32_t ModeBlue = 3;

    TMakeUpPalette() = default;
    TMakeUpPalette(const TMakeUpPalette&) = delete;
    TMakeUpPalette& operator=(const TMakeUpPalette&) = delete;

    // Either box may be null. A plane size below 1 is taken as 1.
    void Create(QWidget* PlaneBox, QWidget* SwatchBox, int32_t PlaneSize, int32_t Mode, int32_t Level,
                const TQelPoint& Marker);

    // Colour is B | G << 8 | R << 16. The palette takes the nearest colour
    // its plane holds: the level becomes the largest channel, the mode may
    // change to a channel at that level, and the marker moves there.
    void SetColor(uint32_t Colour);
    // 0..255; the same value changes nothing.
    void SetLevel(int32_t Value);
    // 1..3; the same value or one outside changes nothing.
    void SetMode(int32_t Value);
    // Takes effect at the next refresh.
    void SetTint(bool Value) { FTint = Value; }
    // Kept inside the plane. The colour becomes the plane's pixel under the
    // marker, without the tint's scaling.
    void SetMarker(const TQelPoint& Point);
    void Refresh();

    // The plane with the marker drawn inverted over it.
    void PaintPlane(QPainter& Painter) const;
    // The colour as a filled ellipse over the swatch.
    void PaintSwatch(QPainter& Painter) const;

    int32_t GetMode() const { return FMode; }
    int32_t GetLevel() const { return FLevel; }
    bool GetTint() const { return FTint; }
    const TQelPoint& GetMarker() const { return FMarker; }
    const TQelRGBTriple& GetColorBytes() const { return FColor; }
    // B | G << 8 | R << 16.
    uint32_t GetColor() const { return FColor.Blue | uint32_t(FColor.Green) << 8 | uint32_t(FColor.Red) << 16; }
    const QImage& GetPlane() const { return FPlane; }
    // How often the plane was filled; a test sees needless work by it.
    int32_t RenderCount() const { return FRenderCount; }

private:
    int32_t EffectiveLevel() const { return FTint ? 255 : FLevel; }
    void RenderPlane();
    TQelRGBTriple PlanePixel(const TQelPoint& Point) const;
    void UpdateBoxes() const;

    int32_t FMode = ModeRed;
    int32_t FLevel = 0;
    TQelRGBTriple FColor;
    TQelPoint FMarker;
    bool FTint = false;
    QImage FPlane;
    QPointer<QWidget> FPlaneBox;
    QPointer<QWidget> FSwatchBox;
    int32_t FPlaneSize = 0;
    int32_t FRenderedLevel = -1;
    int32_t FRenderedMode = 0;
    int32_t FRenderCount = 0;
};
