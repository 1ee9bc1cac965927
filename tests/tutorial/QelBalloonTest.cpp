// Balloon placement (the stem's tip on the point, the balloon toward the
// middle of the screen), shape, outline and painting.
#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QToolTip>
#include <gtest/gtest.h>

#include "QelBalloon.h"

namespace {

TEST(Balloon, TheTipLandsOnThePointAndTheBalloonOpensTowardTheMiddle) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const int mx = screen.x() + screen.width() / 2;  // the middle lines count as left and top
    const int my = screen.y() + screen.height() / 2;
    QString longText;
    for (int i = 0; i < 60; ++i) longText += QStringLiteral("word%1 ").arg(i);
    struct TCase {
        int X, Y, Corner;
        QString Text;
        QPoint TipInWindow;  // from the window's top left, inclusive pixels
        QPoint TextAt;
    };
    const TCase cases[] = {
        {100, 100, 0, "Hi", {16, 0}, {12, 24}},        {mx, my, 0, "Hi", {16, 0}, {12, 24}},
        {mx + 1, my, 0, "Hi", {-16, 0}, {12, 24}},     {mx, my + 1, 0, "Hi", {15, -1}, {12, 8}},
        {mx + 9, my + 9, 0, "Hi", {-17, -1}, {12, 8}}, {100, 100, 4, "Hi", {-17, -1}, {12, 8}},
        {100, 100, 1, longText, {16, 0}, {12, 24}},    {700, 500, 4, longText, {-17, -1}, {12, 8}},
    };
    TQelBalloon balloon;
    for (const TCase& c : cases) {
        balloon.ShowAt(c.X, c.Y, c.Corner, c.Text);
        const QRect text = TQelBalloon::CalcHintRect(c.Text, TQelBalloon::MaxTextWidth);
        const QRect g = balloon.geometry();
        const int left = c.TipInWindow.x() >= 0 ? g.left() : g.left() + g.width();
        const int top = c.TipInWindow.y() >= 0 ? g.top() : g.top() + g.height();
        EXPECT_EQ(QPoint(c.X, c.Y) - QPoint(left, top), c.TipInWindow) << c.X << "," << c.Y << " " << c.Corner;
        EXPECT_EQ(g.size(), QSize(text.width() + 16, text.height() + 32));
        EXPECT_EQ(balloon.TextRect(), QRect(c.TextAt, text.size()));
    }
    // The long text wraps at the maximum width and grows in height instead.
    EXPECT_LE(balloon.width(), TQelBalloon::MaxTextWidth + 6 + 16);
    EXPECT_GT(balloon.height(), QFontMetrics(QToolTip::font()).height() * 3 + 32);
}

TEST(Balloon, ShapeIsTheBodyWithItsStemAndShowsAgainTheSameWithoutTakingFocus) {
    QWidget owner;
    owner.setGeometry(50, 50, 300, 200);
    owner.show();
    owner.activateWindow();
    QApplication::processEvents();
    QWidget* active = QApplication::activeWindow();

    TQelBalloon balloon;
    balloon.ShowAt(100, 100, 1, "Stem up");
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), active);
    const QRect geometry = balloon.geometry();
    const QRegion shape = balloon.Region();
    const int w = geometry.width(), h = geometry.height() - 16;
    EXPECT_TRUE(shape.contains(QPoint(w / 2, 16 + h / 2)));
    EXPECT_FALSE(shape.contains(QPoint(0, 16)));  // rounded corners
    EXPECT_FALSE(shape.contains(QPoint(w - 1, 16 + h - 1)));
    EXPECT_TRUE(shape.contains(QPoint(17, 4)));  // the stem, and beside it nothing
    EXPECT_FALSE(shape.contains(QPoint(40, 4)));
    EXPECT_FALSE(shape.contains(QPoint(10, 4)));

    balloon.HideBalloon();
    EXPECT_FALSE(balloon.isVisible());
    balloon.ShowAt(100, 100, 1, "Stem up");
    EXPECT_TRUE(balloon.isVisible());
    EXPECT_EQ(balloon.geometry(), geometry);
    EXPECT_EQ(balloon.Region(), shape);
    EXPECT_EQ(balloon.mask(), shape);

    balloon.ShowAt(100, 100, 3, "Stem down");
    const int bodyHeight = balloon.geometry().height() - 16;
    EXPECT_TRUE(balloon.Region().contains(QPoint(16, bodyHeight + 4)));
    EXPECT_FALSE(balloon.Region().contains(QPoint(40, bodyHeight + 4)));
}

TEST(Balloon, OutlineIsTheInnerEdgeAndIsPaintedInTheTextColour) {
    const QRegion outline = CreateRegionOutline(QRegion(0, 0, 10, 10));
    int pixels = 0;
    for (const QRect& r : outline) pixels += r.width() * r.height();
    EXPECT_EQ(pixels, 36);
    EXPECT_FALSE(outline.contains(QPoint(5, 5)));
    EXPECT_TRUE(CreateRegionOutline(QRegion()).isEmpty());

    TQelBalloon balloon;
    balloon.ShowAt(100, 100, 3, "Outline");
    const QImage image = balloon.grab().toImage();
    const QPalette colours = QToolTip::palette();
    const QRgb base = colours.color(QPalette::Inactive, QPalette::ToolTipBase).rgb();
    const QRgb ink = colours.color(QPalette::Inactive, QPalette::ToolTipText).rgb();
    const int midY = (balloon.height() - 16) / 2;
    EXPECT_EQ(image.pixel(0, midY), ink);
    EXPECT_EQ(image.pixel(2, midY), base);
    EXPECT_EQ(image.pixel(image.width() - 1, midY), ink);
}

}  // namespace
