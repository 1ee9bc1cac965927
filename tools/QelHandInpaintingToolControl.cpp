#include "QelHandInpaintingToolControl.h"

#include <QCursor>
#include <QCheckBox>
#include <QGuiApplication>

#include "QelCursors.h"
#include "QelGraphicsEditor.h"
#include "QelHandInpaintingTool.h"

namespace {

constexpr uint16_t VK_A = 'A';
constexpr uint16_t VK_N = 'N';
constexpr uint16_t VK_R = 'R';
constexpr uint16_t VK_Z = 'Z';

// Where a pointer key moves the pointer, in screen pixels before the step.
bool PointerKeyDelta(uint16_t Key, int32_t& Dx, int32_t& Dy) {
    switch (Key) {
    case VK_PRIOR: Dx = 1; Dy = -1; return true;
    case VK_NEXT: Dx = 1; Dy = 1; return true;
    case VK_END: Dx = -1; Dy = 1; return true;
    case VK_HOME: Dx = -1; Dy = -1; return true;
    case VK_LEFT: Dx = -1; Dy = 0; return true;
    case VK_UP: Dx = 0; Dy = -1; return true;
    case VK_RIGHT: Dx = 1; Dy = 0; return true;
    case VK_DOWN: Dx = 0; Dy = 1; return true;
    default: return false;
    }
}

bool IsArrow(uint16_t Key) { return Key == VK_LEFT || Key == VK_UP || Key == VK_RIGHT || Key == VK_DOWN; }

}  // namespace

TQelHandInpaintingTool* TQelHandInpaintingToolControl::InpaintingTool() const {
    return qobject_cast<TQelHandInpaintingTool*>(Tool.data());
}

void TQelHandInpaintingToolControl::Reset() { Flags = QelViewBody | QelViewOverlay | QelViewNoExtent; }

bool TQelHandInpaintingToolControl::GetCursor(TShiftState, const TQelPoint&, int16_t& Cursor) {
    if (!Active) return false;
    // Only the brush outline shows where the patch goes.
    Cursor = crNone;
    return true;
}

bool TQelHandInpaintingToolControl::MouseDown(TMouseButton Button, TShiftState, const TQelPoint& Point) {
    TQelHandInpaintingTool* tool = InpaintingTool();
    if (!Active || !tool || !View) return false;
    tool->CurrentPoint = View->MapMode().DeviceToLogical(Point);
    if (Button == mbLeft) tool->Click();
    return true;
}

bool TQelHandInpaintingToolControl::MouseMove(TShiftState Shift, const TQelPoint& Point) {
    FLastPoint = Point;
    FHasLastPoint = true;
    TQelHandInpaintingTool* tool = InpaintingTool();
    if (Active && tool && View) {
        tool->CurrentPoint = View->MapMode().DeviceToLogical(Point);
        if (tool->Pending)
            tool->UpdateSource();
        else if (tool->TargetPreview && !tool->IsNearLastCommit())
            tool->RefreshPreviewAround();
    }
    return TQelBrushToolControl::MouseMove(Shift, Point);
}

bool TQelHandInpaintingToolControl::MouseWheel(TShiftState Shift, int32_t Delta, const TQelPoint& Point) {
    TQelHandInpaintingTool* tool = InpaintingTool();
    if (!Active || !tool) return false;
    if (tool->Pending) {
        tool->StepReflectionDirection(Delta);
        return true;
    }
    return TQelBrushToolControl::MouseWheel(Shift, Delta, Point);
}

TQelHandInpaintingToolControl::TKeyAction TQelHandInpaintingToolControl::KeyAction(uint16_t Key, TShiftState Shift,
                                                                                 bool Pending) {
    const bool ctrl = (Shift & ssCtrl) != 0;
    int32_t dx = 0, dy = 0;
    if (ctrl && IsArrow(Key)) return Pending ? TKeyAction::Step : TKeyAction::Size;
    if (ctrl && (Key == VK_A || Key == VK_N || Key == VK_R)) return TKeyAction::Toggle;
    if (PointerKeyDelta(Key, dx, dy)) return TKeyAction::Pointer;
    if (Key == VK_RETURN) return TKeyAction::Click;
    // Idle, Ctrl+Z is the editor's undo.
    if (Key == VK_ESCAPE || (ctrl && Key == VK_Z)) return Pending ? TKeyAction::Cancel : TKeyAction::None;
    return TKeyAction::None;
}

bool TQelHandInpaintingToolControl::ClaimsKey(uint16_t Key, TShiftState Shift) {
    const TQelHandInpaintingTool* tool = InpaintingTool();
    return Active && tool && KeyAction(Key, Shift, tool->Pending) != TKeyAction::None;
}

bool TQelHandInpaintingToolControl::KeyDown(uint16_t& Key, TShiftState Shift) {
    TQelHandInpaintingTool* tool = InpaintingTool();
    if (!Active || !tool) return false;
    TQelHandInpaintingFrame* frame = tool->Frame();
    switch (KeyAction(Key, Shift, tool->Pending)) {
    case TKeyAction::Step:
        tool->StepReflectionDirection(Key == VK_LEFT || Key == VK_DOWN ? -1 : 1);
        return true;
    case TKeyAction::Size:
        return TQelBrushToolControl::KeyDown(Key, Shift);
    case TKeyAction::Toggle:
        if (frame) {
            QCheckBox* box = Key == VK_A   ? frame->AdjustmentTBXCheckBox
                             : Key == VK_N ? frame->AntiAliasingTBXCheckBox
                                           : frame->AutoReflectionTBXCheckBox;
            box->toggle();
        }
        // Idle, there is no patch to redraw; starting one here would leave a
        // modification running that nothing ends.
        if (tool->Pending) tool->UpdateSource();
        return true;
    case TKeyAction::Pointer: {
        int32_t dx = 0, dy = 0;
        PointerKeyDelta(Key, dx, dy);
        const int32_t step = (Shift & ssShift) ? 5 : 1;
        MovePointer(dx * step, dy * step, Shift);
        return true;
    }
    case TKeyAction::Click:
        tool->Click();
        return true;
    case TKeyAction::Cancel:
        if (frame)
            frame->CancelTBXButtonClick();
        else
            tool->CancelPatch();
        return true;
    case TKeyAction::None: break;
    }
    return false;
}

void TQelHandInpaintingToolControl::MovePointer(int32_t Dx, int32_t Dy, TShiftState Shift) {
    if (!View) return;
    const TQelPoint from = FHasLastPoint ? FLastPoint : GetMousePos();
    QCursor::setPos(QCursor::pos() + QPoint(Dx, Dy));
    // On X11 the warp comes back as a real motion event. Elsewhere (Wayland
    // forbids warping, the offscreen platform has no pointer) the control
    // takes the move itself.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        MouseMove(Shift, TQelPoint{from.X + Dx, from.Y + Dy});
}
