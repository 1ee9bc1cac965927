// What the adjustment tools' option frames and buttons share: the bold,
// underlined title, the Ok/Cancel panel, the options link, the tool-panel
// button and its screen point, and a wait cursor that an exception cannot
// leave behind.
#pragma once

#include <QAction>
#include <QIcon>
#include <QByteArray>
#include <QPoint>
#include <QString>

class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;
class QWidget;
class TQelGraphicsTool;

// The frame's column; created on first use with no margins.
QVBoxLayout* QelFrameColumn(QWidget* Frame);
// "TitleLabel", bold and underlined.
QLabel* QelAddTitleLabel(QWidget* Frame);
// A word-wrapped label.
QLabel* QelAddWrappedLabel(QWidget* Frame, const char* Name);
// "OkPanel" with two system-style buttons of at least 81 x 21.
QWidget* QelAddOkPanel(QWidget* Frame, QPushButton*& Ok, const char* OkName, QPushButton*& Cancel,
                       const char* CancelName = "CancelButton");
// The "ShowOptions" link: text and small image, hand cursor.
QToolButton* QelAddShowOptionsLink(QWidget* Frame);
// Shown: small image 1 and "Hide Options"; hidden: image 0 and "Show More
// Options".
void QelSetShowOptionsLink(QToolButton* Link, bool Shown);
// The tools' small images (16 x 16), loaded once.
QIcon QelSmallImage(int Index);

// The tool's checkable button on the tool panel's toolbar (on the editor's
// standard toolbar when there is no tool panel); its click makes the tool
// current. The composition root gives it its image.
QAction* QelAddToolButton(TQelGraphicsTool* Tool, QAction*& Button, const QString& Caption);
// The middle of the button on the screen; false when it is not shown.
bool QelToolButtonPoint(QAction* Button, QPoint& Point);

// Widget and item state, set only when it differs (idle updates run often).
void QelSetEnabled(QWidget* Widget, bool Value);
void QelSetEnabled(QAction* Action, bool Value);
void QelSetChecked(QAction* Action, bool Value);

// The hourglass from construction to destruction.
class TQelWaitCursor {
public:
    TQelWaitCursor();
    ~TQelWaitCursor();
    TQelWaitCursor(const TQelWaitCursor&) = delete;
    TQelWaitCursor& operator=(const TQelWaitCursor&) = delete;
};
