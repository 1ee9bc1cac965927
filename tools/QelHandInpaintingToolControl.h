// The per-view control of hand in-painting.
#pragma once

#include <cstdint>

#include "QelDrawTools.h"

class TQelHandInpaintingTool;

// Follows the mouse with the brush outline instead of a pointer; clicks,
// moves, the wheel and the keys drive the tool's two-click patch.
class TQelHandInpaintingToolControl : public TQelBrushToolControl {
public:
    void Reset() override;
    bool GetCursor(TShiftState Shift, const TQelPoint& Point, int16_t& Cursor) override;
    bool MouseDown(TMouseButton Button, TShiftState Shift, const TQelPoint& Point) override;
    // The brush outline follows also while the tool is inactive.
    bool MouseMove(TShiftState Shift, const TQelPoint& Point) override;
    bool MouseWheel(TShiftState Shift, int32_t Delta, const TQelPoint& Point) override;
    bool KeyDown(uint16_t& Key, TShiftState Shift) override;
    // The keys of the tool, so that no menu shortcut (Ctrl+Z) takes them.
    bool ClaimsKey(uint16_t Key, TShiftState Shift) override;

    // Moves the pointer by (Dx, Dy) screen pixels. Where the window system
    // does not report the move back (no pointer warping, or no real
    // screen), the move is handed to the control directly.
    void MovePointer(int32_t Dx, int32_t Dy, TShiftState Shift);

    TQelHandInpaintingTool* InpaintingTool() const;

private:
    enum class TKeyAction { None, Step, Size, Toggle, Pointer, Click, Cancel };
    // What a key does, tested in the order of the key table.
    static TKeyAction KeyAction(uint16_t Key, TShiftState Shift, bool Pending);

    TQelPoint FLastPoint;
    bool FHasLastPoint = false;
};
