// The hand tool: while Space is held over a view it is current and a
// left-button drag scrolls the view. Its control, the lowest of every view,
// also turns the equals and minus keys into zoom in and zoom out for
// whichever tool is current.
#pragma once

#include <QPointer>

#include "QelGraphicsTool.h"

// No name, frame or button: the editor creates it.
class TQelScrollTool : public TQelGraphicsTool {
    Q_OBJECT
public:
    TQelScrollTool();
};

class TQelScrollToolControl : public TQelGraphicsToolControl {
public:
    // The hand, while active.
    static constexpr int16_t HandCursor = 100;

    bool GetCursor(TShiftState Shift, const TQelPoint& Point, int16_t& Cursor) override;
    // Space makes the hand current (the repeats of a held Space are not
    // handled); = and - zoom and are left to the controls below.
    bool KeyDown(uint16_t& Key, TShiftState Shift) override;
    // Space up brings back the tool that was current before.
    bool KeyUp(uint16_t& Key, TShiftState Shift) override;
    bool MouseDown(TMouseButton Button, TShiftState Shift, const TQelPoint& Point) override;
    // The content follows the pointer as far as the scroll range allows.
    bool MouseMove(TShiftState Shift, const TQelPoint& Point) override;
    bool MouseUp(TMouseButton Button, TShiftState Shift, const TQelPoint& Point) override;
    void Deactivate() override;

    bool Dragging = false;
    TQelPoint LastPoint;
    // May be none: then no tool is current after Space is released.
    QPointer<TQelGraphicsTool> PreviousTool;
};
