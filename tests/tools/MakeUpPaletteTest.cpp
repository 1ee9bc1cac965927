#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "MakeUpPalette.h"

namespace {

TQelRGBTriple PlaneAt(const TMakeUpPalette& p, int x, int y) {
    const uchar* px = p.GetPlane().constScanLine(y) + x * 3;
    return TQelRGBTriple{px[0], px[1], px[2]};
}

// R, G, B order, as colours are written in the make-up texts.
TQelRGBTriple Rgb(uint8_t r, uint8_t g, uint8_t b) { return TQelRGBTriple{b, g, r}; }

struct TPalette : TMakeUpPalette {
    TPalette() { Create(nullptr, nullptr, 256, ModeRed, 128, TQelPoint{128, 128}); }
};

}  // namespace

TEST(MakeUpPalette, PlaneAndColourOfTheToolsStart) {
    TPalette p;
    EXPECT_EQ(p.GetColorBytes(), Rgb(128, 64, 64));
    EXPECT_EQ(p.GetColor(), 0x804040u);
    EXPECT_EQ(PlaneAt(p, 0, 0), Rgb(128, 0, 0));
    EXPECT_EQ(PlaneAt(p, 255, 255), Rgb(128, 128, 128));
    // x runs along green and y along blue while red is fixed.
    EXPECT_EQ(PlaneAt(p, 255, 0), Rgb(128, 128, 0));
    p.SetMode(TMakeUpPalette::ModeGreen);
    EXPECT_EQ(PlaneAt(p, 255, 0), Rgb(0, 128, 128));
    p.SetMode(TMakeUpPalette::ModeBlue);
    EXPECT_EQ(PlaneAt(p, 255, 0), Rgb(128, 0, 128));
}

TEST(MakeUpPalette, SetColorFindsModeLevelAndMarker) {
    TPalette p;
    p.SetMode(TMakeUpPalette::ModeGreen);
    p.SetColor(0xFF0000);  // pure red
    EXPECT_EQ(p.GetMode(), TMakeUpPalette::ModeRed);
    EXPECT_EQ(p.GetLevel(), 255);
    EXPECT_EQ(p.GetMarker(), (TQelPoint{0, 0}));
    p.SetColor(0xFFFFFF);
    EXPECT_EQ(p.GetLevel(), 255);
    EXPECT_EQ(p.GetMarker(), (TQelPoint{255, 255}));
    EXPECT_EQ(p.GetColorBytes(), Rgb(255, 255, 255));
    // The fixed channel already at the level keeps the mode; ties prefer red.
    p.SetColor(0x966432);  // R 150, G 100, B 50
    EXPECT_EQ(p.GetMode(), TMakeUpPalette::ModeRed);
    EXPECT_EQ(p.GetMarker(), (TQelPoint{170, 85}));
    EXPECT_EQ(p.GetColorBytes(), Rgb(150, 100, 50));
    p.SetColor(0xC8C864);  // R 200, G 200, B 100: blue below the level
    p.SetMode(TMakeUpPalette::ModeBlue);
    p.SetColor(0x64C8C8);  // R 100, G 200, B 200
    EXPECT_EQ(p.GetMode(), TMakeUpPalette::ModeBlue);
}

TEST(MakeUpPalette, BlackKeepsTheMarkerWithoutDividingByZero) {
    TPalette p;
    p.SetMarker(TQelPoint{40, 90});
    p.SetColor(0x000000);
    EXPECT_EQ(p.GetLevel(), 0);
    EXPECT_EQ(p.GetMarker(), (TQelPoint{40, 90}));
    EXPECT_EQ(p.GetColorBytes(), Rgb(0, 0, 0));
    // With the tint on the level goes to full: the plane colour under the
    // kept marker.
    TPalette tinted;
    tinted.SetTint(true);
    tinted.SetColor(0x000000);
    EXPECT_EQ(tinted.GetLevel(), 255);
    EXPECT_EQ(tinted.GetMarker(), (TQelPoint{128, 128}));
    EXPECT_EQ(tinted.GetColorBytes(), Rgb(255, 128, 128));
}

TEST(MakeUpPalette, TintRendersAtFullAndScalesTheColourButNotAMarkerMove) {
    TPalette p;
    p.SetTint(true);
    // Nothing shows until the next refresh.
    EXPECT_EQ(p.GetColorBytes(), Rgb(128, 64, 64));
    const int renders = p.RenderCount();
    p.SetLevel(128);
    EXPECT_EQ(p.RenderCount(), renders);
    p.SetLevel(255);
    EXPECT_EQ(p.RenderCount(), renders + 1);
    EXPECT_EQ(p.GetColorBytes(), Rgb(255, 128, 128));
    p.SetLevel(51);
    EXPECT_EQ(p.RenderCount(), renders + 1);
    EXPECT_EQ(PlaneAt(p, 0, 0), Rgb(255, 0, 0));
    EXPECT_EQ(p.GetColorBytes(), Rgb(51, 26, 26));
    // A click on the plane gives the colour at full brightness.
    p.SetMarker(TQelPoint{0, 0});
    EXPECT_EQ(p.GetColorBytes(), Rgb(255, 0, 0));
}

TEST(MakeUpPalette, SameValuesDoNotRenderAndTheMarkerStaysOnThePlane) {
    TPalette p;
    const int renders = p.RenderCount();
    p.SetLevel(128);
    p.SetMode(TMakeUpPalette::ModeRed);
    p.SetMode(7);
    EXPECT_EQ(p.RenderCount(), renders);
    p.SetMarker(TQelPoint{-5, 900});
    EXPECT_EQ(p.GetMarker(), (TQelPoint{0, 255}));
    EXPECT_EQ(p.GetColorBytes(), Rgb(128, 0, 128));
}

TEST(MakeUpPalette, MarkerIsInvertedExceptWhereItsLinesCross) {
    TPalette p;
    QImage shown(256, 256, QImage::Format_RGB32);
    {
        QPainter painter(&shown);
        p.PaintPlane(painter);
    }
    auto rgb = [](QRgb c) { return Rgb(uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))); };
    EXPECT_EQ(rgb(shown.pixel(128, 128)), PlaneAt(p, 128, 128));
    const TQelRGBTriple under = PlaneAt(p, 134, 128);
    EXPECT_EQ(rgb(shown.pixel(134, 128)),
              (TQelRGBTriple{uint8_t(~under.Blue), uint8_t(~under.Green), uint8_t(~under.Red)}));
    EXPECT_EQ(rgb(shown.pixel(137, 128)), PlaneAt(p, 137, 128));
    // The plane itself is untouched by painting.
    EXPECT_EQ(PlaneAt(p, 134, 128), under);
}
