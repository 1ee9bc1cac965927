#include "QelScrollTool.h"

#include "QelGraphicsEditor.h"

TQelScrollTool::TQelScrollTool() : TQelGraphicsTool() { SetControlClass<TQelScrollToolControl>(); }

bool TQelScrollToolControl::GetCursor(TShiftState, const TQelPoint&, int16_t& Cursor) {
    if (!Active) return false;
    Cursor = HandCursor;
    return true;
}

bool TQelScrollToolControl::KeyDown(uint16_t& Key, TShiftState) {
    TQelGraphicsEditor* editor = GraphicsEditor;
    if (!editor) return false;
    if (Key == VK_OEM_PLUS) {
        editor->ZoomInClick(nullptr);
        return false;
    }
    if (Key == VK_OEM_MINUS) {
        editor->ZoomOutClick(nullptr);
        return false;
    }
    if (Active || Key != VK_SPACE || !Tool) return false;
    PreviousTool = editor->ActiveTool.data();
    editor->SetActiveTool(Tool);
    return true;
}

bool TQelScrollToolControl::KeyUp(uint16_t& Key, TShiftState) {
    if (!Active || Key != VK_SPACE) return false;
    if (TQelGraphicsEditor* editor = GraphicsEditor) editor->SetActiveTool(PreviousTool.data());
    return true;
}

bool TQelScrollToolControl::MouseDown(TMouseButton Button, TShiftState, const TQelPoint& Point) {
    if (!Active || Button != mbLeft) return false;
    Dragging = true;
    LastPoint = Point;
    return true;
}

bool TQelScrollToolControl::MouseMove(TShiftState, const TQelPoint& Point) {
    if (!Active || !Dragging || !View) return false;
    // Pointer positions in the view's client area: their differences and
    // sums stay far inside 32 bits.
    int32_t dx = Point.X - LastPoint.X;
    int32_t dy = Point.Y - LastPoint.Y;
    ClampScrollDelta(*View, dx, dy);
    View->ScrollByDelta(dx, dy);
    LastPoint.X += dx;
    LastPoint.Y += dy;
    return true;
}

bool TQelScrollToolControl::MouseUp(TMouseButton Button, TShiftState, const TQelPoint&) {
    if (!Active || Button != mbLeft || !Dragging) return false;
    Dragging = false;
    return true;
}

void TQelScrollToolControl::Deactivate() {
    Dragging = false;
    TQelGraphicsToolControl::Deactivate();
}
