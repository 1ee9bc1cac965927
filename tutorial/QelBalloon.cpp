#include "QelBalloon.h"

#include <QBitmap>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <QScreen>
#include <QToolTip>
#include <QWindow>

#include "QelForms.h"
#include "QelGeometry.h"

TQelBalloon::TQelBalloon()
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      FRegion(),
      FTextRect(),
      FText() {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFont(QToolTip::font());
    setPalette(QToolTip::palette());
}

TQelBalloon::~TQelBalloon() {
    hide();
    SetRegion(QRegion());
}

QRect TQelBalloon::CalcHintRect(const QString& Text, int MaxWidth) {
    const QFontMetrics metrics(QToolTip::font());
    const QRect measured = metrics.boundingRect(QRect(0, 0, MaxWidth, 0),
                                                Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, Text);
    // A hint window keeps a few pixels around its text; without them the text
    // would touch the balloon's right edge.
    return QRect(0, 0, measured.width() + 6, measured.height() + 2);
}

void TQelBalloon::ShowAt(int X, int Y, int Corner, const QString& Text) {
    hide();
    FText = Text;

    FTextRect = CalcHintRect(Text, MaxTextWidth);
    const int W = FTextRect.width() + Margin;
    const int H = FTextRect.height() + Margin;

    if (Corner < 1 || Corner > 4) {
        const QPoint point(X, Y);
        QScreen* screen = QGuiApplication::screenAt(point);
        if (!screen) screen = QGuiApplication::primaryScreen();
        const QRect area = screen ? screen->geometry() : QRect(0, 0, 0, 0);
        const bool left = X - area.x() <= area.width() / 2;
        const bool top = Y - area.y() <= area.height() / 2;
        Corner = top ? (left ? 1 : 2) : (left ? 3 : 4);
    }

    // Stem points, the tip, and where the text goes, in the coordinates of
    // the balloon's body.
    const int textIndent = MulDiv(Margin, 3, 4);
    QPolygon stem;
    QPoint tip;
    QPoint textOffset;
    switch (Corner) {
    case 1:
        stem << QPoint(16, 0) << QPoint(16, -16) << QPoint(32, 0);
        tip = QPoint(16, -16);
        textOffset = QPoint(textIndent, StemSize + 8);
        break;
    case 2:
        stem << QPoint(W - 16, 0) << QPoint(W - 16, -16) << QPoint(W - 32, 0);
        tip = QPoint(W - 16, -16);
        textOffset = QPoint(textIndent, StemSize + 8);
        break;
    case 3:
        stem << QPoint(15, H - 1) << QPoint(31, H - 1) << QPoint(15, H + 15);
        tip = QPoint(15, H + 15);
        textOffset = QPoint(textIndent, 8);
        break;
    default:
        stem << QPoint(W - 17, H - 1) << QPoint(W - 33, H - 1) << QPoint(W - 17, H + 15);
        tip = QPoint(W - 17, H + 15);
        textOffset = QPoint(textIndent, 8);
        break;
    }
    int bodyTop = 0;
    if (tip.y() < 0) {
        // The stem points up: everything moves down so the window starts at the tip.
        bodyTop = -tip.y();
        stem.translate(0, bodyTop);
        tip.ry() = 0;
    }
    FTextRect.translate(textOffset);
    const int windowHeight = H + StemSize;

    // The shape is drawn without antialiasing and taken as a region, so the
    // window's outline and the painted outline agree pixel for pixel.
    QImage shape(W, windowHeight, QImage::Format_ARGB32_Premultiplied);
    shape.fill(Qt::transparent);
    {
        QPainter painter(&shape);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        QPainterPath body;
        body.addRoundedRect(QRectF(0, bodyTop, W, H), CornerSize / 2.0, CornerSize / 2.0);
        painter.drawPath(body);
        painter.drawPolygon(stem, Qt::WindingFill);
    }
    const QRegion region(QBitmap::fromImage(shape.createAlphaMask()));

    setGeometry(X - tip.x(), Y - tip.y(), W, windowHeight);
    create();
    if (QWindow* handle = windowHandle()) {
        TQelApplication* application = TQelApplication::Instance();
        QWidget* mainForm = application ? application->MainForm() : nullptr;
        QWindow* parentHandle = mainForm ? mainForm->windowHandle() : nullptr;
        if (parentHandle != handle) handle->setTransientParent(parentHandle);
    }
    SetRegion(region);
    setGeometry(X - tip.x(), Y - tip.y(), W, windowHeight);
    show();
    update();
}

void TQelBalloon::HideBalloon() { hide(); }

void TQelBalloon::SetRegion(const QRegion& Region) {
    FRegion = Region;
    if (Region.isEmpty())
        clearMask();
    else
        setMask(Region);
}

void TQelBalloon::paintEvent(QPaintEvent*) {
    const QPalette colours = QToolTip::palette();
    const QColor background = colours.color(QPalette::Inactive, QPalette::ToolTipBase);
    const QColor foreground = colours.color(QPalette::Inactive, QPalette::ToolTipText);

    QPainter painter(this);
    painter.fillRect(rect(), background);
    const QRegion shape = FRegion.isEmpty() ? QRegion(rect()) : FRegion;
    painter.setClipRegion(CreateRegionOutline(shape));
    painter.fillRect(rect(), foreground);
    painter.setClipping(false);

    painter.setPen(foreground);
    painter.setFont(QToolTip::font());
    painter.drawText(FTextRect, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, FText);
}

QRegion CreateRegionOutline(const QRegion& Region) {
    QRegion outline = Region.subtracted(Region.translated(0, 1));
    outline = outline.united(Region.subtracted(Region.translated(-1, 0)));
    outline = outline.united(Region.subtracted(Region.translated(0, -1)));
    outline = outline.united(Region.subtracted(Region.translated(1, 0)));
    return outline;
}
