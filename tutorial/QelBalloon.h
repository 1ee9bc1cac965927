// The speech balloon a tutorial explains a step in: a rounded body with a
// triangular stem whose tip touches a screen point, in the tooltip colours,
// always on top and never taking the focus.
#pragma once

#include <QRect>
#include <QRegion>
#include <QString>
#include <QWidget>

class TQelBalloon : public QWidget {
    Q_OBJECT
public:
    static constexpr int MaxTextWidth = 350;
    static constexpr int Margin = 16;       // added to the text's width and height
    static constexpr int CornerSize = 16;   // the corner ellipse
    static constexpr int StemSize = 16;     // height, and width at the base

    TQelBalloon();
    ~TQelBalloon() override;

    // Shows the balloon with its stem's tip on (X, Y). Corner 0 picks the
    // quarter of the screen that holds the point, so the balloon opens toward
    // the middle; 1 to 4 put the tip at the top left, top right, bottom left
    // or bottom right of the balloon.
    void ShowAt(int X, int Y, int Corner, const QString& Text);
    // Takes the window off the screen; a later ShowAt builds it again.
    void HideBalloon();
    // Replaces the window's shape; an empty region removes it.
    void SetRegion(const QRegion& Region);

    const QRegion& Region() const { return FRegion; }
    QRect TextRect() const { return FTextRect; }
    QString Text() const { return FText; }

    // The hint window's measure of Text: the wrapped text's extent plus the
    // small padding a hint window keeps around its text.
    static QRect CalcHintRect(const QString& Text, int MaxWidth);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRegion FRegion;
    QRect FTextRect;
    QString FText;
};

// The region's inner one-pixel edge.
QRegion CreateRegionOutline(const QRegion& Region);
