// Real pointer input for tutorials: moves the pointer and presses and
// releases mouse buttons as if the user did. One service is chosen when it is
// first asked for, after the GUI application exists: on X11 the real pointer
// moves and XTest presses the real buttons; on every other platform Qt's own
// window-system input path delivers the presses (grabs, popups, modality and
// double clicks then behave as for real input).
#pragma once

#include <QPoint>
#include <Qt>

class IQelMouseSynth {
public:
    virtual ~IQelMouseSynth() = default;

    // The real pointer position in screen coordinates.
    virtual QPoint GetPos() = 0;
    // Moves the real pointer.
    virtual void SetPos(const QPoint& Pos) = 0;
    // One press (Down) or release of a button at the pointer's position,
    // without movement. Qt::LeftButton is always the primary button and
    // Qt::RightButton the secondary one, also when the user has swapped them.
    virtual void Button(Qt::MouseButton Which, bool Down) = 0;
};

// The program's service; created on the first call.
IQelMouseSynth* QelMouseSynth();
