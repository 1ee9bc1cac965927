#include "QelDrawTools.h"

#include <QCursor>
#include <QPaintEvent>
#include <QPainter>
#include <QScopeGuard>
#include <QSlider>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "QelCursors.h"
#include "QelDemoHooks.h"
#include "QelDemoScript.h"
#include "QelError.h"
#include "QelLTBitmap.h"
#include "QelQtGeometry.h"

namespace {

int32_t Saturate(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// The centre offset of a footprint of Size; never negative.
int32_t HalfSize(int32_t Size) { return std::max(Size, 0) / 2; }

}  // namespace

// --- TQelDrawTool ----------------------------------------------------------------

TQelDrawTool::TQelDrawTool()
    : TQelGraphicsTool(),
      DrawingControl(nullptr),
      DrawMode(DrawModeDrag),
      Button(mbLeft),
      Shift(0),
      Size(10),
      MinSize(1),
      MaxSize(50),
      SizeTrackBar(),
      Opacity(255),
      OpacityTrackBar(),
      FSizeConnection(),
      FOpacityConnection(),
      FEnding(false) {
    AvailableInPluginMode = true;
}

TQelDrawTool::~TQelDrawTool() {
    QObject::disconnect(FSizeConnection);
    QObject::disconnect(FOpacityConnection);
}

TQelRect TQelDrawTool::GetBrushRect(const TQelPoint& Point, int32_t Size) {
    const int64_t h = HalfSize(Size);
    return TQelRect(Saturate(Point.X - h), Saturate(Point.Y - h), Saturate(Point.X + h + 1), Saturate(Point.Y + h + 1));
}

QByteArray TQelDrawTool::CommandName(const char* Suffix) const {
    if (Name.isEmpty()) return QByteArray();
    return (Name + Suffix).toUpper();
}

QByteArray TQelDrawTool::ElementName(const TQelDemoScriptParams& Params) {
    return QByteArray::fromStdString(Params.AsText(0)).toUpper();
}

void MoveTrackBar(QSlider* TrackBar, int32_t Value) {
    if (!TrackBar) return;
    const QSignalBlocker blocker(TrackBar);
    TrackBar->setValue(Value);
}

void TQelDrawTool::BindTrackBar(QSlider* TrackBar, QMetaObject::Connection& Connection, int32_t Min, int32_t Max,
                                int32_t Frequency, int32_t Value, std::function<void(int32_t)> Setter) {
    QObject::disconnect(Connection);
    Connection = QMetaObject::Connection();
    if (!TrackBar) return;
    {
        // Qt clamps and signals while the range is set; the tool's value
        // must not follow.
        const QSignalBlocker blocker(TrackBar);
        TrackBar->setRange(Min, Max);
        TrackBar->setTickPosition(QSlider::TicksBelow);
        TrackBar->setTickInterval(std::max(Frequency, 1));
        TrackBar->setValue(Value);
    }
    Connection = connect(TrackBar, &QSlider::valueChanged, this, [Setter = std::move(Setter)](int v) { Setter(v); });
}

bool TQelDrawTool::TrackBarPoint(QSlider* TrackBar, QPoint& Point) {
    if (!TrackBar) return false;
    GetControlCenter(TrackBar, Point);
    return true;
}

void TQelDrawTool::BindSizeTrackBar(QSlider* TrackBar) {
    SizeTrackBar = TrackBar;
    BindTrackBar(TrackBar, FSizeConnection, MinSize, MaxSize, MaxSize / 10, Size,
                 [this](int32_t v) { SetSize(v); });
}

void TQelDrawTool::BindOpacityTrackBar(QSlider* TrackBar) {
    OpacityTrackBar = TrackBar;
    BindTrackBar(TrackBar, FOpacityConnection, 0, 255, 16, Opacity, [this](int32_t v) { SetOpacity(v); });
}

void TQelDrawTool::SetSize(int32_t Value) {
    if (Value == Size || Value < MinSize || Value > MaxSize) return;
    // The outlines are repainted while they still have the old size.
    for (int i = 0; i < GetControlCount(); ++i) GetControl(i)->Invalidate();
    Size = Value;
    SizeChanged();
    MoveTrackBar(SizeTrackBar, Size);
    if (!Name.isEmpty()) RecordLine(Name + "Size " + QByteArray::number(Size));
}

void TQelDrawTool::SetOpacity(int32_t Value) {
    if (Value == Opacity || Value < 0 || Value > 255) return;
    Opacity = Value;
    OpacityChanged();
    MoveTrackBar(OpacityTrackBar, Opacity);
    if (!Name.isEmpty()) RecordLine(Name + "Opacity " + QByteArray::number(Opacity));
}

void TQelDrawTool::ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command,
                                  const TQelDemoScriptParams& Params, TQelDemoScriptUserAction* Action,
                                  bool& Handled) {
    if (!Name.isEmpty()) {
        if (Command == CommandName("Size")) {
            SetSize(Params.AsInteger(0));
            Handled = true;
            return;
        }
        if (Command == CommandName("Opacity")) {
            SetOpacity(Params.AsInteger(0));
            Handled = true;
            return;
        }
    }
    TQelGraphicsTool::ExecuteCommand(Playback, Command, Params, Action, Handled);
}

void TQelDrawTool::GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params, QPoint& Point,
                                   bool& Handled) {
    if (!Name.isEmpty()) {
        const QByteArray element = ElementName(Params);
        if (element == CommandName("Size")) {
            if (TrackBarPoint(SizeTrackBar, Point)) Handled = true;
            return;
        }
        if (element == CommandName("Opacity")) {
            if (TrackBarPoint(OpacityTrackBar, Point)) Handled = true;
            return;
        }
    }
    TQelGraphicsTool::GetCommandPoint(Playback, Params, Point, Handled);
}

bool TQelDrawTool::BeginDraw(TQelDrawToolControl* Control, TMouseButton NewButton, TShiftState NewShift) {
    if (!Control) return false;
    // Begun before the control is remembered: beginning may finish a
    // running modification of this very tool, which ends its stroke.
    BeginModification(Control->View);
    if (!RunningDocument) return false;
    DrawingControl = Control;
    Button = NewButton;
    Shift = NewShift;
    return true;
}

void TQelDrawTool::DrawRect(const TQelRect& Rect) {
    // The modification may have been finished from elsewhere.
    if (!RunningDocument || !BackupPixels) return;
    TQelRect r;
    if (!QelIntersectRect(r, Rect, BackupPixels->GetBounds())) return;
    PaintRect(r);
    AddModifiedRect(r);
}

void TQelDrawTool::EndDraw() {
    FEnding = true;
    auto done = qScopeGuard([this] {
        FEnding = false;
        DrawingControl = nullptr;
    });
    FinishModification();
}

void TQelDrawTool::FinishModification() {
    auto endStroke = qScopeGuard([this] {
        if (DrawingControl && !FEnding) DrawingControl->EndDrawing();
    });
    TQelGraphicsTool::FinishModification();
}

void TQelDrawTool::RemoveControl(TQelGraphicsToolControl* Control) {
    if (Control && Control == DrawingControl) DrawingControl = nullptr;
    TQelGraphicsTool::RemoveControl(Control);
}

// --- TQelDrawToolControl ------------------------------------------------------------

TQelDrawTool* TQelDrawToolControl::DrawTool() const { return qobject_cast<TQelDrawTool*>(Tool.data()); }

bool TQelDrawToolControl::BeginDrawing(TMouseButton Button, TShiftState Shift) {
    TQelDrawTool* tool = DrawTool();
    if (Drawing || !tool) return false;
    Drawing = tool->BeginDraw(this, Button, Shift);
    return Drawing;
}

void TQelDrawToolControl::EndDrawing() {
    Drawing = false;
    if (TQelDrawTool* tool = DrawTool()) tool->EndDraw();
}

void TQelDrawToolControl::DrawAtBrush() {
    if (TQelDrawTool* tool = DrawTool()) tool->DrawRect(Bounds);
}

void TQelDrawToolControl::SetBounds(const TQelRect& Rect) {
    Invalidate();
    TQelGraphicsToolControl::SetBounds(Rect);
    Invalidate();
}

void TQelDrawToolControl::Activate() {
    SetVisible(true);
    TQelGraphicsToolControl::Activate();
}

void TQelDrawToolControl::Deactivate() {
    if (Drawing) EndDrawing();
    SetVisible(false);
    TQelGraphicsToolControl::Deactivate();
}

// --- TQelMaskDrawToolControl --------------------------------------------------------

void TQelMaskDrawToolControl::SetBrushPos(const TQelPoint& Point) {
    FBrushPos = Point;
    const TQelDrawTool* tool = DrawTool();
    SetBounds(TQelDrawTool::GetBrushRect(Point, tool ? tool->Size : 1));
}

void TQelMaskDrawToolControl::Activate() {
    if (View) SetBrushPos(View->MapMode().DeviceToLogical(GetMousePos()));
    TQelDrawToolControl::Activate();
}

bool TQelMaskDrawToolControl::GetCursor(TShiftState, const TQelPoint&, int16_t& Cursor) {
    if (!Active) return false;
    // The outline is the pointer.
    Cursor = crNone;
    return true;
}

void TQelMaskDrawToolControl::MouseEnter() {
    if (Active) SetVisible(true);
}

void TQelMaskDrawToolControl::MouseLeave() {
    if (Active) SetVisible(false);
}

bool TQelMaskDrawToolControl::MouseDown(TMouseButton Button, TShiftState Shift, const TQelPoint&) {
    if (!Active) return false;
    TQelDrawTool* tool = DrawTool();
    if (!tool) return false;
    // The button is the tool's to judge.
    if (BeginDrawing(Button, Shift)) {
        DrawAtBrush();
        if (tool->DrawMode == TQelDrawTool::DrawModeStamp && Drawing) EndDrawing();
    }
    return true;
}

bool TQelMaskDrawToolControl::MouseMove(TShiftState, const TQelPoint& Point) {
    if (!Active || !View) return false;
    SetBrushPos(View->MapMode().DeviceToLogical(Point));
    // Only the reported positions get a footprint.
    if (Drawing) DrawAtBrush();
    return true;
}

bool TQelMaskDrawToolControl::MouseUp(TMouseButton, TShiftState, const TQelPoint&) {
    if (!Active) return false;
    const TQelDrawTool* tool = DrawTool();
    if (tool && tool->DrawMode == TQelDrawTool::DrawModeDrag && Drawing) EndDrawing();
    return true;
}

bool TQelMaskDrawToolControl::MouseWheel(TShiftState, int32_t Delta, const TQelPoint&) {
    if (Active && !Drawing)
        if (TQelDrawTool* tool = DrawTool()) tool->SetSize(tool->Size + Delta);
    // Also while drawing: the view must not scroll under the brush.
    return Active;
}

bool TQelMaskDrawToolControl::KeyDown(uint16_t& Key, TShiftState) {
    if (!Active) return false;
    int32_t delta = 0;
    switch (Key) {
    case VK_PRIOR:
    case VK_UP:
    case VK_RIGHT:
        delta = 1;
        break;
    case VK_NEXT:
    case VK_LEFT:
    case VK_DOWN:
        delta = -1;
        break;
    default:
        return false;
    }
    if (TQelDrawTool* tool = DrawTool()) tool->SetSize(tool->Size + delta);
    return true;
}

// --- TQelPaintBox -----------------------------------------------------------------

TQelPaintBox::TQelPaintBox(QWidget* Parent) : QWidget(Parent), OnPaint() {}

void TQelPaintBox::paintEvent(QPaintEvent*) {
    if (!OnPaint) return;
    QPainter painter(this);
    OnPaint(painter);
}

// --- TQelMaskDrawTool -------------------------------------------------------------

TQelMaskDrawTool::TQelMaskDrawTool() : TQelDrawTool(), BrushMask(), StrokeMask(), PreviewBox(), Accumulate(false) {}

TQelMaskDrawTool::~TQelMaskDrawTool() {
    // The box lives in a frame that may outlive the tool.
    if (PreviewBox) PreviewBox->OnPaint = nullptr;
}

void TQelMaskDrawTool::Create() {
    TQelDrawTool::Create();
    BuildMask();
}

void TQelMaskDrawTool::BuildMask() { UpdatePreview(); }

void TQelMaskDrawTool::SizeChanged() {
    BuildMask();
    for (int i = 0; i < GetControlCount(); ++i)
        if (auto* control = dynamic_cast<TQelMaskDrawToolControl*>(GetControl(i)))
            control->SetBrushPos(control->GetBrushPos());
}

void TQelMaskDrawTool::OpacityChanged() { BuildMask(); }

void TQelMaskDrawTool::ReserveStroke(const TQelRect& Rect) {
    const TQelRect old = StrokeMask.GetBounds();
    if (old.IsEmpty() || StrokeMask.Data == nullptr) {
        StrokeMask.Extend(Rect);
        return;
    }
    TQelRect need;
    QelUnionRect(need, old, Rect);
    if (need == old) return;
    // Each side that must grow gets as much again as the mask spans, within
    // the image, so the copies of a long stroke add up to a few times its
    // final area. The footprints' union is always covered.
    const TQelRect limit = BackupPixels ? BackupPixels->GetBounds() : need;
    const int64_t growX = old.Width();
    const int64_t growY = old.Height();
    TQelRect want = need;
    if (need.Left < old.Left) want.Left = std::min(need.Left, Saturate(std::max<int64_t>(need.Left - growX, limit.Left)));
    if (need.Top < old.Top) want.Top = std::min(need.Top, Saturate(std::max<int64_t>(need.Top - growY, limit.Top)));
    if (need.Right > old.Right)
        want.Right = std::max(need.Right, Saturate(std::min<int64_t>(int64_t(need.Right) + growX, limit.Right)));
    if (need.Bottom > old.Bottom)
        want.Bottom = std::max(need.Bottom, Saturate(std::min<int64_t>(int64_t(need.Bottom) + growY, limit.Bottom)));
    StrokeMask.Extend(want);
}

void TQelMaskDrawTool::DrawRect(const TQelRect& Rect) {
    if (!RunningDocument) return;
    BrushMask.Left = Rect.Left;
    BrushMask.Top = Rect.Top;
    auto home = qScopeGuard([this] {
        BrushMask.Left = 0;
        BrushMask.Top = 0;
    });
    // A footprint wholly off the image paints nothing; were it kept, a drag
    // far past the edge would grow the stroke mask to the size of the drag.
    TQelRect onImage;
    if (Accumulate && BackupPixels && QelIntersectRect(onImage, BrushMask.GetBounds(), BackupPixels->GetBounds())) {
        ReserveStroke(BrushMask.GetBounds());
        StrokeMask.MergeMax(BrushMask);
    }
    TQelDrawTool::DrawRect(Rect);
}

void TQelMaskDrawTool::EndDraw() {
    StrokeMask.Clear();
    TQelDrawTool::EndDraw();
}

bool TQelMaskDrawTool::GetPaintArea(const TQelRect& Rect, TQelRect& Area) const {
    if (!BackupPixels || !CurrentPixels) return false;
    const TQelPixelMask& mask = GetDrawMask();
    if (!mask.Data || !QelIntersectRect(Area, Rect, mask.GetBounds()) ||
        !QelIntersectRect(Area, Area, CurrentPixels->GetBounds()) ||
        !QelIntersectRect(Area, Area, BackupPixels->GetBounds()))
        return false;
    return CurrentPixels->BytesPerPixel >= 3 && BackupPixels->BytesPerPixel >= 3;
}

void TQelMaskDrawTool::SetPreviewBox(TQelPaintBox* Box) {
    if (PreviewBox && PreviewBox != Box) PreviewBox->OnPaint = nullptr;
    PreviewBox = Box;
    if (Box) Box->OnPaint = [this](QPainter& painter) { PaintPreviewBox(painter); };
}

void TQelMaskDrawTool::PaintPreviewBox(QPainter& Painter) {
    if (!PreviewBox || !PreviewBox->isVisible()) return;
    DrawPreview(Painter, QelFromQRect(PreviewBox->rect()), PreviewBox->isEnabled() ? 0x000000u : 0xC0C0C0u);
}

void TQelMaskDrawTool::UpdatePreview() {
    if (PreviewBox) PreviewBox->update();
}

void TQelMaskDrawTool::DrawPreview(QPainter& Painter, const TQelRect& Rect, uint32_t Colour) {
    const int32_t w = Rect.Width();
    const int32_t h = Rect.Height();
    TQelLTBitmap bitmap;
    if (w < 1 || h < 1 || !bitmap.SetSize(w, h, QelFormatBGR24)) return;
    TQelPixels& pixels = *bitmap.GetPixels();
    for (int32_t y = 0; y < h; ++y) std::memset(pixels.PixelAddress(0, y), 0xFF, size_t(w) * 3);

    BrushMask.Left = (w - BrushMask.Width) / 2;
    BrushMask.Top = (h - BrushMask.Height) / 2;
    auto home = qScopeGuard([this] {
        BrushMask.Left = 0;
        BrushMask.Top = 0;
    });
    BlendColorMask(BrushMask, pixels, Colour, bitmap.GetBoundsRect(), pixels);

    auto grey = [&pixels](int32_t x, int32_t y) { std::memset(pixels.PixelAddress(x, y), 128, 3); };
    for (int32_t x = 0; x < w; ++x) {
        grey(x, 0);
        grey(x, h - 1);
    }
    for (int32_t y = 0; y < h; ++y) {
        grey(0, y);
        grey(w - 1, y);
    }
    Painter.drawImage(QelToQRect(Rect), QelPixelsImage(pixels));
}

void TQelMaskDrawTool::BuildDiscMask(TQelPixelMask& Mask, int32_t Size, uint8_t Value) {
    const int32_t h = HalfSize(Size);
    const int32_t side = 2 * h + 1;
    Mask.Init(0, 0, side, side);
    if (h == 0) {
        Mask.Data[0] = Value;
        return;
    }
    const double r = Size / 2.0;
    const int64_t limit = QelRoundEven((r + 0.1) * (r + 0.1));
    std::memset(Mask.MaskAddress(0, h), Value, size_t(side));
    for (int32_t k = 1; k <= h; ++k) {
        int32_t j = 1;
        while (j <= h && int64_t(j) * j + int64_t(k) * k <= limit) ++j;
        // Columns h - j + 1 .. h + j - 1.
        const int32_t from = h - j + 1;
        const size_t count = size_t(2 * j - 1);
        std::memset(Mask.MaskAddress(from, h - k), Value, count);
        std::memset(Mask.MaskAddress(from, h + k), Value, count);
    }
}

void TQelMaskDrawTool::BuildSoftMask(TQelPixelMask& Mask, int32_t Size, int32_t Opacity, int32_t Hardness) {
    const int32_t h = HalfSize(Size);
    const int32_t side = 2 * h + 1;
    Mask.Init(0, 0, side, side);
    if (h == 0) {
        Mask.Data[0] = 255;
        return;
    }
    const double r = Size / 2.0;
    const double outer = r + 0.5;
    const double inner = r * Hardness / 255.0 - 0.5;
    const double width = outer - inner;
    const uint8_t full = uint8_t(ClampInt(Opacity, 0, 255));
    for (int32_t y = 0; y < side; ++y) {
        uint8_t* row = Mask.MaskAddress(0, y);
        for (int32_t x = 0; x < side; ++x) {
            const double d = std::hypot(double(x - h), double(y - h));
            if (d > outer) continue;
            row[x] = d < inner ? full : uint8_t(ClampInt(QelRoundEven((outer - d) / width * full), 0, 255));
        }
    }
}

void TQelMaskDrawTool::BuildFalloffMask(TQelPixelMask& Mask, int32_t Size, int32_t Value, int32_t Exponent16) {
    const int32_t h = HalfSize(Size);
    const int32_t side = 2 * h + 1;
    Mask.Init(0, 0, side, side);
    const uint8_t value = uint8_t(ClampInt(Value, 0, 255));
    if (h == 0) {
        Mask.Data[0] = value;
        return;
    }
    const double exponent = Exponent16 / 16.0;
    for (int32_t y = 0; y < side; ++y) {
        uint8_t* row = Mask.MaskAddress(0, y);
        for (int32_t x = 0; x < side; ++x) {
            const double t = 2 * std::hypot(double(x - h), double(y - h)) / Size;
            if (t >= 1) continue;
            row[x] = uint8_t(ClampInt(QelRoundEven((1 - std::pow(t, exponent)) * value), 0, 255));
        }
    }
}

void TQelMaskDrawTool::BlendColorMask(const TQelPixelMask& Mask, const TQelPixels& Source, uint32_t Colour,
                                      const TQelRect& Rect, TQelPixels& Dest) {
    if (!Mask.Data || !Source.Bits || !Dest.Bits || Source.BytesPerPixel < 3 || Dest.BytesPerPixel < 3) return;
    // Only where the mask and both bitmaps have pixels: a mask placed partly
    // outside a small bitmap writes nothing beyond it.
    TQelRect r;
    if (!QelIntersectRect(r, Rect, Mask.GetBounds()) || !QelIntersectRect(r, r, Source.GetBounds()) ||
        !QelIntersectRect(r, r, Dest.GetBounds()))
        return;
    const int32_t cb = int32_t(Colour & 0xFF);
    const int32_t cg = int32_t((Colour >> 8) & 0xFF);
    const int32_t cr = int32_t((Colour >> 16) & 0xFF);
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
        const uint8_t* m = Mask.MaskAddress(r.Left, y);
        const uint8_t* s = Source.PixelAddress(r.Left, y);
        uint8_t* d = Dest.PixelAddress(r.Left, y);
        for (int32_t x = r.Left; x < r.Right; ++x, ++m, s += Source.BytesPerPixel, d += Dest.BytesPerPixel) {
            const int32_t a = *m;
            if (a == 0) continue;
            if (a == 255) {
                d[0] = uint8_t(cb);
                d[1] = uint8_t(cg);
                d[2] = uint8_t(cr);
            } else {
                d[0] = QelColorDetail::BlendChannel(uint8_t(a), cb, s[0]);
                d[1] = QelColorDetail::BlendChannel(uint8_t(a), cg, s[1]);
                d[2] = QelColorDetail::BlendChannel(uint8_t(a), cr, s[2]);
            }
        }
    }
}

// --- TQelBrushTool ----------------------------------------------------------------

TQelBrushTool::TQelBrushTool() : TQelMaskDrawTool(), Hardness(0), HardnessTrackBar(), FHardnessConnection() {
    SetControlClass<TQelBrushToolControl>();
}

void TQelBrushTool::Create() {
    TQelMaskDrawTool::Create();
    SetHardness(128);
}

void TQelBrushTool::BuildMask() {
    BuildSoftMask(BrushMask, Size, Opacity, Hardness);
    TQelMaskDrawTool::BuildMask();
}

void TQelBrushTool::SetHardness(int32_t Value) {
    if (Value == Hardness || Value < 0 || Value > 255) return;
    Hardness = Value;
    BuildMask();
    MoveTrackBar(HardnessTrackBar, Hardness);
    if (!Name.isEmpty()) RecordLine(Name + "Hardness " + QByteArray::number(Hardness));
}

void TQelBrushTool::BindHardnessTrackBar(QSlider* TrackBar) {
    HardnessTrackBar = TrackBar;
    BindTrackBar(TrackBar, FHardnessConnection, 0, 255, 16, Hardness, [this](int32_t v) { SetHardness(v); });
}

void TQelBrushTool::ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command,
                                   const TQelDemoScriptParams& Params, TQelDemoScriptUserAction* Action,
                                   bool& Handled) {
    if (!Name.isEmpty() && Command == CommandName("Hardness")) {
        SetHardness(Params.AsInteger(0));
        Handled = true;
        return;
    }
    TQelMaskDrawTool::ExecuteCommand(Playback, Command, Params, Action, Handled);
}

void TQelBrushTool::GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params, QPoint& Point,
                                    bool& Handled) {
    if (!Name.isEmpty() && ElementName(Params) == CommandName("Hardness")) {
        if (TrackBarPoint(HardnessTrackBar, Point)) Handled = true;
        return;
    }
    TQelMaskDrawTool::GetCommandPoint(Playback, Params, Point, Handled);
}

// --- TQelBrushToolControl -----------------------------------------------------------

TQelRect TQelBrushToolControl::GetOutlineRect(const TQelMapMode& MapMode) const {
    const TQelPoint p = GetBrushPos();
    const TQelRect pixel =
        MapMode.LogicalToDeviceRect(TQelRect(p.X, p.Y, Saturate(int64_t(p.X) + 1), Saturate(int64_t(p.Y) + 1)));
    const int32_t cx = Saturate((int64_t(pixel.Left) + pixel.Right) / 2);
    const int32_t cy = Saturate((int64_t(pixel.Top) + pixel.Bottom) / 2);
    const TQelDrawTool* tool = DrawTool();
    const int32_t size = tool ? tool->Size : 1;
    const TQelRect extent = MapMode.LogicalToDeviceRect(TQelRect(0, 0, size, size));
    const int64_t w = int64_t(extent.Right) - extent.Left;
    const int64_t h = int64_t(extent.Bottom) - extent.Top;
    TQelRect r;
    if (w <= 0 || h <= 0) {
        r = TQelRect(cx, cy, Saturate(int64_t(cx) + 1), Saturate(int64_t(cy) + 1));
    } else {
        const int64_t left = cx - w / 2;
        const int64_t top = cy - h / 2;
        r = TQelRect(Saturate(left), Saturate(top), Saturate(left + w), Saturate(top + h));
    }
    return TQelRect(Saturate(int64_t(r.Left) - 1), Saturate(int64_t(r.Top) - 1), Saturate(int64_t(r.Right) + 1),
                    Saturate(int64_t(r.Bottom) + 1));
}

void TQelBrushToolControl::GetOverlayBounds(const TQelMapMode& MapMode, TQelRect& Rect) const {
    TQelRect r = MapMode.LogicalToDeviceRect(Bounds);
    if (r.IsEmpty()) r = TQelRect(r.Left, r.Top, Saturate(int64_t(r.Left) + 1), Saturate(int64_t(r.Top) + 1));
    Rect = TQelRect(Saturate(int64_t(r.Left) - 2), Saturate(int64_t(r.Top) - 2), Saturate(int64_t(r.Right) + 2),
                    Saturate(int64_t(r.Bottom) + 2));
}

void TQelBrushToolControl::PaintOverlay(TQelViewCanvas& Canvas) {
    const TQelRect outline = GetOutlineRect(Canvas.MapMode);
    const int64_t w = int64_t(outline.Right) - outline.Left;
    const int64_t h = int64_t(outline.Bottom) - outline.Top;
    // An outline far larger than any view is not worth drawing.
    if (w < 1 || h < 1 || w > 65536 || h > 65536) return;
    // Only the part on the surface and inside the clip is touched.
    TQelRect visible;
    if (!Canvas.Pixels.Bits || Canvas.Pixels.BytesPerPixel < 3 ||
        !QelIntersectRect(visible, outline, Canvas.Pixels.GetBounds()))
        return;
    if (FOutline.width() != w || FOutline.height() != h) {
        // The ellipse of the outline rectangle, right and bottom edges
        // excluded, one pixel wide and without smoothing.
        FOutline = QImage(int(w), int(h), QImage::Format_Grayscale8);
        FOutline.fill(0);
        QPainter painter(&FOutline);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(Qt::white, 0));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRect(0, 0, int(w) - 1, int(h) - 1));
    }
    // Inverting the pixels under a black pen, as an exclusive-or outline,
    // keeps it visible on any image.
    for (const QRect& clip : Canvas.GetClipRegion()) {
        TQelRect part;
        if (!QelIntersectRect(part, visible, QelFromQRect(clip))) continue;
        for (int32_t y = part.Top; y < part.Bottom; ++y) {
            const uchar* mask = FOutline.constScanLine(y - outline.Top);
            uint8_t* px = Canvas.Pixels.PixelAddress(part.Left, y);
            for (int32_t x = part.Left; x < part.Right; ++x, px += Canvas.Pixels.BytesPerPixel)
                if (mask[x - outline.Left]) {
                    px[0] = uint8_t(~px[0]);
                    px[1] = uint8_t(~px[1]);
                    px[2] = uint8_t(~px[2]);
                }
        }
    }
}

// --- TQelCustomBlurBrushTool ----------------------------------------------------------

TQelCustomBlurBrushTool::TQelCustomBlurBrushTool()
    : TQelBrushTool(),
      BlurCache(),
      DiscMask(),
      Smoothing(0),
      SmoothingTrackBar(),
      FSmoothingConnection(),
      FDiscRuns(),
      FRunsMask(nullptr),
      FRunsWidth(-1),
      FRunsHeight(-1),
      FRunsStale(true),
      FHeldSums(),
      FScratchSums(),
      FWritten(),
      FWrittenBits(nullptr),
      FWrittenBounds(),
      FBlurIdleTimer() {
    BlurCache.SetFormat(QelFormatBGRA32);
    // A stroke touches the cache only around its dabs.
    BlurCache.Sparse = true;
    FBlurIdleTimer.setSingleShot(true);
    QObject::connect(&FBlurIdleTimer, &QTimer::timeout, this, [this] {
        if (!IsDrawing()) ReleaseBlurCache();
    });
}

TQelCustomBlurBrushTool::~TQelCustomBlurBrushTool() { QObject::disconnect(FSmoothingConnection); }

void TQelCustomBlurBrushTool::Create() {
    TQelBrushTool::Create();
    SetSmoothing(Size);
}

void TQelCustomBlurBrushTool::SetSize(int32_t Value) {
    TQelBrushTool::SetSize(Value);
    SetSmoothing(Size);
}

void TQelCustomBlurBrushTool::SetSmoothing(int32_t Value) {
    if (Value == Smoothing || Value < MinSize || Value > MaxSize) return;
    Smoothing = Value;
    BuildBlurMask();
    MoveTrackBar(SmoothingTrackBar, Smoothing);
    // The line the smoothing command replays.
    if (!Name.isEmpty()) RecordLine(Name + "Smoothing " + QByteArray::number(Smoothing));
}

void TQelCustomBlurBrushTool::BuildBlurMask() {
    BuildDiscMask(DiscMask, Smoothing, 255);
    const int32_t h = HalfSize(Smoothing);
    *DiscMask.MaskAddress(h, h) = 0;
    FRunsStale = true;
    // Held sums were taken for the old disc's reach.
    DropBlurSums();
}

void TQelCustomBlurBrushTool::BindSmoothingTrackBar(QSlider* TrackBar) {
    SmoothingTrackBar = TrackBar;
    BindTrackBar(TrackBar, FSmoothingConnection, MinSize, MaxSize, MaxSize / 10, Smoothing,
                 [this](int32_t v) { SetSmoothing(v); });
}

void TQelCustomBlurBrushTool::EndDraw() {
    EmptyBlurCache();
    DropBlurSums();
    TQelBrushTool::EndDraw();
    if (BlurCache.Bits) FBlurIdleTimer.start(BlurCacheIdleMs);
}

void TQelCustomBlurBrushTool::Deactivate() {
    // Ends a running stroke first.
    TQelBrushTool::Deactivate();
    ReleaseBlurCache();
}

void TQelCustomBlurBrushTool::DocumentClosing(TQelGraphicsDocument* Document) {
    TQelBrushTool::DocumentClosing(Document);
    if (!IsDrawing()) ReleaseBlurCache();
}

void TQelCustomBlurBrushTool::EmptyBlurCache() {
    if (BlurCache.Bits && BlurCache.Bits == FWrittenBits && BlurCache.GetBounds() == FWrittenBounds) {
        const size_t bytesPerPixel = size_t(BlurCache.BytesPerPixel);
        for (size_t row = 0; row < FWritten.size(); ++row) {
            const TWrittenColumns c = FWritten[row];
            if (c.From < c.To)
                std::memset(BlurCache.PixelAddress(BlurCache.Left + c.From, BlurCache.Top + int32_t(row)), 0,
                            size_t(c.To - c.From) * bytesPerPixel);
        }
    }
    FWritten.clear();
    FWrittenBits = nullptr;
    FWrittenBounds = TQelRect();
}

void TQelCustomBlurBrushTool::ReleaseBlurCache() {
    FBlurIdleTimer.stop();
    EmptyBlurCache();
    BlurCache.Release();
}

bool TQelCustomBlurBrushTool::NoteCached(int32_t X, int32_t Y) {
    if (BlurCache.Bits != FWrittenBits || BlurCache.GetBounds() != FWrittenBounds) {
        // Rows taken since the last note, zero-filled: nothing written yet.
        try {
            FWritten.assign(size_t(BlurCache.Height),
                            TWrittenColumns{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()});
        } catch (const std::bad_alloc&) {
            FWritten.clear();
            FWrittenBits = nullptr;
            FWrittenBounds = TQelRect();
            return false;
        }
        FWrittenBits = BlurCache.Bits;
        FWrittenBounds = BlurCache.GetBounds();
    }
    TWrittenColumns& c = FWritten[size_t(Y - BlurCache.Top)];
    const int32_t x = X - BlurCache.Left;
    c.From = std::min(c.From, x);
    c.To = std::max(c.To, x + 1);
    return true;
}

void TQelCustomBlurBrushTool::ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command,
                                             const TQelDemoScriptParams& Params, TQelDemoScriptUserAction* Action,
                                             bool& Handled) {
    if (!Name.isEmpty() && Command == CommandName("Smoothing")) {
        SetSmoothing(Params.AsInteger(0));
        Handled = true;
        return;
    }
    TQelBrushTool::ExecuteCommand(Playback, Command, Params, Action, Handled);
}

void TQelCustomBlurBrushTool::GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params,
                                              QPoint& Point, bool& Handled) {
    if (!Name.isEmpty() && ElementName(Params) == CommandName("Smoothing")) {
        if (TrackBarPoint(SmoothingTrackBar, Point)) Handled = true;
        return;
    }
    TQelBrushTool::GetCommandPoint(Playback, Params, Point, Handled);
}

const std::vector<TQelCustomBlurBrushTool::TDiscRun>& TQelCustomBlurBrushTool::DiscRuns() {
    if (!FRunsStale && FRunsMask == DiscMask.Data && FRunsWidth == DiscMask.Width && FRunsHeight == DiscMask.Height)
        return FDiscRuns;
    FDiscRuns.clear();
    for (int32_t y = 0; DiscMask.Data && y < DiscMask.Height; ++y) {
        const uint8_t* row = DiscMask.MaskAddress(0, y);
        int32_t x = 0;
        while (x < DiscMask.Width) {
            if (row[x] == 0) {
                ++x;
                continue;
            }
            const int32_t from = x;
            while (x < DiscMask.Width && row[x] != 0) ++x;
            FDiscRuns.push_back(TDiscRun{y, from, x});
        }
    }
    FRunsMask = DiscMask.Data;
    FRunsWidth = DiscMask.Width;
    FRunsHeight = DiscMask.Height;
    FRunsStale = false;
    return FDiscRuns;
}

void TQelCustomBlurBrushTool::SumDisc(const TQelRowSums& Sums, const TQelRect& Footprint, const TQelRect& R,
                                      uint64_t Sum[3], uint64_t& Count) {
    for (const TDiscRun& run : DiscRuns()) {
        const int64_t y = int64_t(Footprint.Top) + run.Row;
        if (y < R.Top || y >= R.Bottom) continue;
        const int64_t x0 = std::max<int64_t>(int64_t(Footprint.Left) + run.From, R.Left);
        const int64_t x1 = std::min<int64_t>(int64_t(Footprint.Left) + run.To, R.Right);
        if (x0 >= x1) continue;
        Sums.AddRun(int32_t(y), int32_t(x0), int32_t(x1), Sum);
        Count += uint64_t(x1 - x0);
    }
}

void TQelCustomBlurBrushTool::HoldBlurSums(const TQelRect& Rect) {
    DropBlurSums();
    const TQelPixels* backup = BackupPixels;
    if (!backup || Rect.IsEmpty()) return;
    // Every disc around a pixel of Rect lies inside Rect grown by the
    // disc's half size.
    const int64_t h = HalfSize(Smoothing);
    const TQelRect need(Saturate(Rect.Left - h), Saturate(Rect.Top - h), Saturate(Rect.Right + h),
                        Saturate(Rect.Bottom + h));
    TQelRect r;
    if (!QelIntersectRect(r, need, backup->GetBounds())) return;
    // Beyond a few megapixels the sums would cost more memory than they save.
    constexpr int64_t MaxHeldPixels = int64_t(4) << 20;
    if (int64_t(r.Width()) * r.Height() > MaxHeldPixels) return;
    // Without the memory the means are summed per pixel.
    FHeldSums.Build(*backup, r);
}

void TQelCustomBlurBrushTool::DropBlurSums() { FHeldSums.Clear(); }

TQelRGBTriple TQelCustomBlurBrushTool::GetBlurredPixel(int32_t X, int32_t Y) {
    TQelRGBTriple result;
    const TQelPixels* backup = BackupPixels;
    if (!backup || !backup->Bits || backup->BytesPerPixel < 3) return result;
    // The cache is used only where the caller sized it; elsewhere, and when
    // its memory could not be had, the mean is computed and not kept.
    uint8_t* cached = nullptr;
    if (BlurCache.Bits && BlurCache.BytesPerPixel >= 4 && BlurCache.GetBounds().Contains(X, Y)) {
        cached = BlurCache.PixelAddress(X, Y);
        if (cached[3] != 0) {
            result.Blue = cached[0];
            result.Green = cached[1];
            result.Red = cached[2];
            return result;
        }
    }
    auto own = [&] {
        if (backup->GetBounds().Contains(X, Y)) {
            const uint8_t* p = backup->PixelAddress(X, Y);
            result.Blue = p[0];
            result.Green = p[1];
            result.Red = p[2];
        }
        return result;
    };
    const TQelRect footprint = GetBrushRect(TQelPoint{X, Y}, Smoothing);
    TQelRect r;
    if (!DiscMask.Data || !QelIntersectRect(r, footprint, backup->GetBounds())) return own();
    // The held sums when they cover the disc; else sums over the disc alone,
    // which cost what adding up its pixels would.
    const TQelRowSums* sums = &FHeldSums;
    TQelRect covered;
    if (FHeldSums.IsEmpty() || !QelIntersectRect(covered, r, FHeldSums.GetBounds()) || covered != r) {
        if (!FScratchSums.Build(*backup, r))
            throw EQelOutOfMemory("Not enough memory to average " + std::to_string(r.Width()) + " x " +
                                  std::to_string(r.Height()) + " pixels");
        sums = &FScratchSums;
    }
    auto scratch = qScopeGuard([this] { FScratchSums.Clear(); });
    uint64_t sum[3] = {0, 0, 0};
    uint64_t n = 0;
    SumDisc(*sums, footprint, r, sum, n);
    if (n == 0) return own();
    const double count = double(n);
    result.Blue = uint8_t(QelRoundEven(double(sum[0]) / count));
    result.Green = uint8_t(QelRoundEven(double(sum[1]) / count));
    result.Red = uint8_t(QelRoundEven(double(sum[2]) / count));
    if (cached && NoteCached(X, Y)) {
        cached[0] = result.Blue;
        cached[1] = result.Green;
        cached[2] = result.Red;
        cached[3] = 255;
    }
    return result;
}

// --- TQelRowSums ------------------------------------------------------------------

void TQelRowSums::Clear() {
    // The memory is kept for the next sums.
    FBounds = TQelRect();
    FRowLength = 0;
    FSums.clear();
}

bool TQelRowSums::Build(const TQelPixels& Pixels, const TQelRect& Rect) {
    Clear();
    TQelRect r;
    if (!Pixels.Bits || Pixels.BytesPerPixel < 3 || !QelIntersectRect(r, Rect, Pixels.GetBounds())) return false;
    // A row sum must fit 32 bits: 255 times the width.
    constexpr int64_t MaxWidth = int64_t(0xFFFFFFFFu / 255u);
    const int64_t width = r.Width();
    if (width > MaxWidth) return false;
    const size_t rowLength = (size_t(width) + 1) * 3;
    try {
        FSums.resize(rowLength * size_t(r.Height()));
    } catch (const std::bad_alloc&) {
        Clear();
        return false;
    }
    const int32_t step = Pixels.BytesPerPixel;
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
        uint32_t* out = FSums.data() + size_t(y - r.Top) * rowLength;
        const uint8_t* p = Pixels.PixelAddress(r.Left, y);
        uint32_t b = 0, g = 0, red = 0;
        out[0] = out[1] = out[2] = 0;
        out += 3;
        for (int64_t x = 0; x < width; ++x, p += step, out += 3) {
            b += p[0];
            g += p[1];
            red += p[2];
            out[0] = b;
            out[1] = g;
            out[2] = red;
        }
    }
    FBounds = r;
    FRowLength = rowLength;
    return true;
}
