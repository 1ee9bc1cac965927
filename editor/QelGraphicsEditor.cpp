#include "QelGraphicsEditor.h"

#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLayout>
#include <QMenu>
#include <QPointer>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "QelCursors.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelError.h"
#include "QelForms.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelMessageBox.h"
#include "QelQtGeometry.h"

namespace {

// --- Resolution ----------------------------------------------------------------

constexpr double InchesPerMetre = 1 / 0.0254;

uint32_t BigEndian16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t BigEndian32(const uint8_t* p) { return BigEndian16(p) << 16 | BigEndian16(p + 2); }
uint32_t LittleEndian32(const uint8_t* p) { return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]; }

// Dots per inch as a file header states them; false when it states none.
// Every offset is checked against the data's size.
bool HeaderResolution(TQelImageFileType Type, const QByteArray& Data, double& X, double& Y) {
    const auto* d = reinterpret_cast<const uint8_t*>(Data.constData());
    const int64_t n = Data.size();
    switch (Type) {
    case TQelImageFileType::Jpeg:
        // The segments before the scan; JFIF density in APP0.
        for (int64_t i = 2; i + 4 <= n && d[i] == 0xFF;) {
            const uint8_t marker = d[i + 1];
            if (marker == 0xFF) {
                ++i;
                continue;
            }
            if (marker == 0xDA || marker == 0xD9) break;
            const int64_t length = BigEndian16(d + i + 2);
            if (length < 2 || i + 2 + length > n) break;
            if (marker == 0xE0 && length >= 16 && std::memcmp(d + i + 4, "JFIF", 5) == 0) {
                const uint8_t units = d[i + 11];
                const double x = BigEndian16(d + i + 12), y = BigEndian16(d + i + 14);
                if ((units != 1 && units != 2) || x == 0 || y == 0) return false;
                X = units == 1 ? x : x * 2.54;
                Y = units == 1 ? y : y * 2.54;
                return true;
            }
            i += 2 + length;
        }
        return false;
    case TQelImageFileType::Png:
        for (int64_t i = 8; i + 12 <= n;) {
            const int64_t length = BigEndian32(d + i);
            if (length > n - i - 12) break;
            const uint8_t* type = d + i + 4;
            if (std::memcmp(type, "IDAT", 4) == 0) break;
            if (std::memcmp(type, "pHYs", 4) == 0 && length == 9) {
                const double x = BigEndian32(d + i + 8), y = BigEndian32(d + i + 12);
                if (d[i + 16] != 1 || x == 0 || y == 0) return false;  // 1: per metre
                X = x / InchesPerMetre;
                Y = y / InchesPerMetre;
                return true;
            }
            i += length + 12;
        }
        return false;
    case TQelImageFileType::Bmp: {
        if (n < 46 || LittleEndian32(d + 14) < 40) return false;
        const double x = int32_t(LittleEndian32(d + 38)), y = int32_t(LittleEndian32(d + 42));
        if (x <= 0 || y <= 0) return false;
        X = x / InchesPerMetre;
        Y = y / InchesPerMetre;
        return true;
    }
    default:
        return false;
    }
}

// An unsigned rational item as a number; false when absent or unusable.
bool RationalItem(const TQelPropertyItems& Items, uint32_t Id, double& Value) {
    for (qsizetype i = Items.size() - 1; i >= 0; --i) {
        const TQelPropertyItem& item = Items[i];
        if (item.Id != Id) continue;
        if (item.Type != 5 || item.Value.size() < 8) return false;
        const auto* p = reinterpret_cast<const uint8_t*>(item.Value.constData());
        const uint32_t num = LittleEndian32(p), den = LittleEndian32(p + 4);
        if (num == 0 || den == 0) return false;
        Value = double(num) / den;
        return true;
    }
    return false;
}

// The resolution the main directory's items state (inches unless the unit
// item says centimetres).
bool ItemResolution(const TQelPropertyItems& Items, double& X, double& Y) {
    if (!RationalItem(Items, 282, X) || !RationalItem(Items, 283, Y)) return false;
    for (qsizetype i = Items.size() - 1; i >= 0; --i)
        if (Items[i].Id == 296 && Items[i].Type == 3 && Items[i].Value.size() >= 2) {
            const uint8_t* p = reinterpret_cast<const uint8_t*>(Items[i].Value.constData());
            const uint32_t unit = uint32_t(p[1]) << 8 | p[0];
            if (unit == 1) return false;  // no absolute unit
            if (unit == 3) {
                X *= 2.54;
                Y *= 2.54;
            }
            break;
        }
    return true;
}

// Flat ids under which the thumbnail items are known; 20506 is not one of
// them.
bool IsThumbnailId(uint32_t Id) { return (Id >= 20498 && Id <= 20505) || (Id >= 20507 && Id <= 20539); }

}  // namespace

// --- TQelGraphicsDocumentProperties --------------------------------------------

void TQelGraphicsDocumentProperties::AddItem(uint32_t Id, uint16_t Type, const void* Data, uint32_t Size) {
    // Appended, never merged: the file's order and every item are kept.
    TQelPropertyValue value;
    value.Id = Id;
    value.DataType = Type;
    value.Size = Size;
    try {
        value.Data.resize(Size);
        FItems.reserve(FItems.size() + 1);
    } catch (const std::bad_alloc&) {
        throw EQelOutOfMemory("Not enough memory for a property item of " + std::to_string(Size) + " bytes");
    }
    if (Data && Size) std::memcpy(value.Data.data(), Data, Size);
    FItems.push_back(std::move(value));
}

void TQelGraphicsDocumentProperties::ReadFromImage(const TQelImageDecoder& Image) {
    Clear();
    TQelPropertyItems items;
    if (Image.ReadPropertyItems(items))
        for (const TQelPropertyItem& item : items)
            AddItem(item.Id, item.Type, item.Value.constData(), uint32_t(item.Value.size()));
    double x = 96, y = 96;
    if (!HeaderResolution(Image.FileType(), Image.Data(), x, y) && !ItemResolution(items, x, y)) x = y = 96;
    HorizontalResolution = QelRoundEven(x);
    VerticalResolution = QelRoundEven(y);
}

void TQelGraphicsDocumentProperties::WriteToImage(TQelPropertyItems& Items) const {
    Items.clear();
    Items.reserve(Count());
    for (const TQelPropertyValue& value : FItems) {
        TQelPropertyItem item;
        item.Id = value.Id;
        item.Type = uint16_t(value.DataType);
        item.Value = QByteArray(reinterpret_cast<const char*>(value.Data.data()), qsizetype(value.Size));
        Items.append(std::move(item));
    }
}

void TQelGraphicsDocumentProperties::RemoveThumbnailTags() {
    for (int i = Count() - 1; i >= 0; --i) {
        if (!IsThumbnailId(FItems[size_t(i)].Id)) continue;
        FreeValue(FItems[size_t(i)]);
        FItems.erase(FItems.begin() + i);
    }
}

namespace {

// --- Document helpers --------------------------------------------------------

[[noreturn]] void NoMemory(const char* What) {
    throw EQelOutOfMemory(std::string("Not enough memory to ") + What + " the image");
}

using TBitmapTurn = bool (TQelLTBitmap::*)();

// Turns or mirrors the image and then the original with Turn; when the
// original fails, Back takes the image's turn back so that the two stay
// alike.
void TurnBoth(TQelLTBitmap& Image, TQelLTBitmap& Original, TBitmapTurn Turn, TBitmapTurn Back, const char* What) {
    if (!(Image.*Turn)()) NoMemory(What);
    if (!Original.IsEmpty() && !(Original.*Turn)()) {
        (Image.*Back)();
        NoMemory(What);
    }
}

// Every tool module, in component order.
template <class F>
void ForEachTool(F&& Call) {
    TQelApplication* app = TQelApplication::Instance();
    if (!app) return;
    app->ForEachComponent<TQelGraphicsTool>(Call);
}

IQelGraphicsStatus* StatusOf(const TQelDocument* Document) {
    return Document ? dynamic_cast<IQelGraphicsStatus*>(Document->Editor()) : nullptr;
}

int32_t CeilToInt(double v) { return QelTrunc(std::ceil(v)); }
int32_t FloorToInt(double v) { return QelTrunc(std::floor(v)); }

}  // namespace

// --- TQelGraphicsDocument --------------------------------------------------------

TQelGraphicsDocument::TQelGraphicsDocument(TQelEditor* Editor)
    : TQelDocument(Editor),
      SelectionRect(),
      JpegSession(),
      ModifiedRect(),
      Modifying(false),
      ModifyingTool(nullptr),
      Image(),
      OriginalImage(),
      Backup(),
      Properties() {
    // No session (the library is missing) is a normal state.
    if (CreateJolvexObject(JpegSession) != JLVX_S_OK) JpegSession.reset();
}

TQelGraphicsDocument::~TQelGraphicsDocument() {
    // The view paints from the images below; it goes first.
    DestroyView();
}

void TQelGraphicsDocument::CreateView(TQelViewControl*& View) { View = QelCreateViewControl<TQelGraphicsView>(this); }

TQelGraphicsView* TQelGraphicsDocument::FindGraphicsView() const {
    TQelViewControl* view = nullptr;
    if (!FindView(view)) return nullptr;
    return qobject_cast<TQelGraphicsView*>(view);
}

void TQelGraphicsDocument::AfterOpen() {
    TQelDocument::AfterOpen();
    ForEachTool([this](TQelGraphicsTool* tool) { tool->DocumentOpened(this); });
}

void TQelGraphicsDocument::BeforeSave() {
    TQelDocument::BeforeSave();
    ForEachTool([this](TQelGraphicsTool* tool) { tool->DocumentSaving(this); });
}

void TQelGraphicsDocument::BeforeClose() {
    TQelDocument::BeforeClose();
    ForEachTool([this](TQelGraphicsTool* tool) { tool->DocumentClosing(this); });
}

void TQelGraphicsDocument::BeginModification(TQelGraphicsTool* Tool) {
    if (Modifying) EndModification(this);
    ModifiedRect = TQelRect();
    ModifyingTool = Tool;
    Modifying = true;
}

void TQelGraphicsDocument::EndModification(const void* Caller) {
    Modifying = false;
    if (Caller == static_cast<const void*>(this) && ModifyingTool) ModifyingTool->FinishModification();
    ModifiedRect = TQelRect();
}

void TQelGraphicsDocument::ResetModification() {
    Modifying = false;
    ModifyingTool = nullptr;
    ModifiedRect = TQelRect();
}

void TQelGraphicsDocument::AddModifiedRect(const TQelRect& Rect) {
    if (ModifiedRect.IsEmpty())
        ModifiedRect = Rect;
    else
        QelUnionRect(ModifiedRect, ModifiedRect, Rect);
    InvalidateImageRect(Rect);
}

void TQelGraphicsDocument::InvalidateImageRect(const TQelRect& Rect) {
    TQelGraphicsView* view = FindGraphicsView();
    if (!view || Rect.IsEmpty()) return;
    const TQelRect r = view->MapMode().LogicalToDeviceRect(Rect);
    auto grow = [](int32_t v, int32_t d) {
        return int32_t(std::clamp<int64_t>(int64_t(v) + d, std::numeric_limits<int32_t>::min(),
                                           std::numeric_limits<int32_t>::max()));
    };
    view->viewport()->update(
        QelToQRect(TQelRect(grow(r.Left, -1), grow(r.Top, -1), grow(r.Right, 1), grow(r.Bottom, 1))));
}

void TQelGraphicsDocument::SyncBackup() {
    const TQelPixels* pixels = Image.GetPixels();
    if (!pixels) {
        Backup.Release();
        return;
    }
    Backup.Allocate(pixels->Format, pixels->GetBounds());
    if (!Backup.Bits) NoMemory("back up");
    Backup.CopyFrom(*pixels);
}

TQelRect TQelGraphicsDocument::GetWorkRect() const { return HasSelection() ? SelectionRect : Image.GetBoundsRect(); }

void TQelGraphicsDocument::SetSelectionRect(const TQelRect& Rect) {
    const TQelRect bounds = Image.GetBoundsRect();
    TQelRect r;
    QelIntersectRect(r, Rect, bounds);
    if (r == bounds) r = TQelRect();
    SelectionRect = r;
    RefreshView();
}

void TQelGraphicsDocument::RefreshView() {
    if (TQelGraphicsView* view = FindGraphicsView()) {
        if (view->DocumentObject) view->DocumentObject->UpdateBounds();
        view->UpdateView();
    }
    if (IQelGraphicsStatus* status = StatusOf(this)) {
        status->SetStatusText(TQelGraphicsStatusPanel::W, QString::number(Image.GetWidth()));
        status->SetStatusText(TQelGraphicsStatusPanel::H, QString::number(Image.GetHeight()));
    }
}

void TQelGraphicsDocument::Resync() {
    SyncBackup();
    RefreshView();
}

void TQelGraphicsDocument::AssignImage(const TQelPixels& Pixels, const TQelPixels* OriginalPixels) {
    if (OriginalPixels) {
        OriginalImage.Assign(*OriginalPixels);
        if (OriginalPixels->Bits && OriginalImage.IsEmpty()) NoMemory("restore");
    }
    Image.Assign(Pixels);
    const bool failed = Pixels.Bits && Image.IsEmpty();
    Resync();
    if (failed) NoMemory("restore");
}

void TQelGraphicsDocument::CopyImageTo(TQelPixelBuffer& Pixels, TQelPixelBuffer* OriginalPixels) const {
    CopyBitmapToBuffer(Image, Pixels);
    if (OriginalPixels) CopyBitmapToBuffer(OriginalImage, *OriginalPixels);
}

std::unique_ptr<TQelLTBitmap> TQelGraphicsDocument::CreatePreviewBitmap(int32_t MaxSize) const {
    auto result = std::make_unique<TQelLTBitmap>();
    const TQelPixels* source = Image.GetPixels();
    // Callers clone the result unchecked: an empty bitmap, never none.
    if (!source || source->Format != QelFormatBGR24 || MaxSize < 1) return result;
    int32_t w = 0, h = 0;
    if (!FitSizeInto(Image.GetWidth(), Image.GetHeight(), MaxSize, MaxSize, w, h)) return result;
    // A very thin image still gets one row or column.
    w = std::max(1, w);
    h = std::max(1, h);
    if (!result->SetSize(w, h, QelFormatBGR24)) NoMemory("preview");
    const TLanczosResampler lanczos;
    ResamplePixels(*result->GetPixels(), result->GetBoundsRect(), result->GetBoundsRect(), *source,
                   Image.GetBoundsRect(), lanczos);
    return result;
}

void TQelGraphicsDocument::RotateLeft() {
    if (Image.IsEmpty()) return;
    const int32_t w = Image.GetWidth();
    TurnBoth(Image, OriginalImage, &TQelLTBitmap::RotateLeft, &TQelLTBitmap::RotateRight, "rotate");
    if (HasSelection()) {
        const TQelRect s = SelectionRect;
        SelectionRect = TQelRect(s.Top, w - s.Right, s.Bottom, w - s.Left);
    }
    if (SessionOpen()) JpegSession->RotateLeft();
    Resync();
}

void TQelGraphicsDocument::RotateRight() {
    if (Image.IsEmpty()) return;
    const int32_t h = Image.GetHeight();
    TurnBoth(Image, OriginalImage, &TQelLTBitmap::RotateRight, &TQelLTBitmap::RotateLeft, "rotate");
    if (HasSelection()) {
        const TQelRect s = SelectionRect;
        SelectionRect = TQelRect(h - s.Bottom, s.Left, h - s.Top, s.Right);
    }
    if (SessionOpen()) JpegSession->RotateRight();
    Resync();
}

void TQelGraphicsDocument::FlipHorizontal() {
    if (Image.IsEmpty()) return;
    const int32_t w = Image.GetWidth();
    TurnBoth(Image, OriginalImage, &TQelLTBitmap::FlipHorizontal, &TQelLTBitmap::FlipHorizontal, "flip");
    if (HasSelection()) {
        const TQelRect s = SelectionRect;
        SelectionRect = TQelRect(w - s.Right, s.Top, w - s.Left, s.Bottom);
    }
    if (SessionOpen()) JpegSession->FlipHorizontal();
    Resync();
}

void TQelGraphicsDocument::FlipVertical() {
    if (Image.IsEmpty()) return;
    const int32_t h = Image.GetHeight();
    TurnBoth(Image, OriginalImage, &TQelLTBitmap::FlipVertical, &TQelLTBitmap::FlipVertical, "flip");
    if (HasSelection()) {
        const TQelRect s = SelectionRect;
        SelectionRect = TQelRect(s.Left, h - s.Bottom, s.Right, h - s.Top);
    }
    if (SessionOpen()) JpegSession->FlipVertical();
    Resync();
}

void TQelGraphicsDocument::Crop(const TQelRect& Rect) {
    TQelRect r;
    if (!QelIntersectRect(r, Rect, Image.GetBoundsRect())) return;
    if (!Image.Crop(r)) NoMemory("crop");
    // An original of another size keeps what lies outside it.
    TQelRect o;
    const bool originalFailed =
        QelIntersectRect(o, r, OriginalImage.GetBoundsRect()) && !OriginalImage.Crop(r);
    ClearSelection();
    if (SessionOpen()) {
        // The session crops by whole blocks.
        const int32_t bw = std::max(1, JpegSession->GetBlockWidth());
        const int32_t bh = std::max(1, JpegSession->GetBlockHeight());
        const int32_t x0 = (r.Left / bw) * bw;
        const int32_t y0 = (r.Top / bh) * bh;
        JpegSession->SetRegion(x0, y0, x0 + r.Width(), y0 + r.Height());
    }
    Resync();
    if (originalFailed) NoMemory("crop");
}

void TQelGraphicsDocument::Resize(int32_t Width, int32_t Height, bool ScaleSelection, bool ResizeOriginal) {
    // Checked before anything changes, so a bad size leaves the document whole.
    if (Width < 1 || Height < 1 || Image.IsEmpty()) return;
    const int32_t w = Image.GetWidth();
    const int32_t h = Image.GetHeight();
    if (!Image.Resize(Width, Height)) NoMemory("resize");
    if (ScaleSelection && HasSelection()) {
        TQelRect& s = SelectionRect;
        const double sx = double(Width) / w, sy = double(Height) / h;
        s = TQelRect(CeilToInt(s.Left * sx), CeilToInt(s.Top * sy), FloorToInt(s.Right * sx),
                     FloorToInt(s.Bottom * sy));
    }
    bool originalFailed = false;
    if (ResizeOriginal && !OriginalImage.IsEmpty()) {
        int32_t ow = Width, oh = Height;
        if (OriginalImage.GetWidth() != w || OriginalImage.GetHeight() != h) {
            ow = std::max(1, QelRoundEven(double(OriginalImage.GetWidth()) * Width / w));
            oh = std::max(1, QelRoundEven(double(OriginalImage.GetHeight()) * Height / h));
        }
        originalFailed = !OriginalImage.Resize(ow, oh);
    }
    if (SessionOpen()) JpegSession->SetRegion(0, 0, Width, Height);
    Resync();
    if (originalFailed) NoMemory("resize");
}

void TQelGraphicsDocument::NotifyBeforeUndo() {
    TQelCommandState* state = History.NextUndo();
    ForEachTool([state](TQelGraphicsTool* tool) { tool->BeforeUndo(state); });
}

void TQelGraphicsDocument::NotifyAfterUndo() {
    TQelCommandState* state = History.NextUndo();
    ForEachTool([state](TQelGraphicsTool* tool) { tool->AfterUndo(state); });
}

void TQelGraphicsDocument::NotifyBeforeRedo() {
    TQelCommandState* state = History.NextRedo();
    ForEachTool([state](TQelGraphicsTool* tool) { tool->BeforeRedo(state); });
}

void TQelGraphicsDocument::NotifyAfterRedo() {
    TQelCommandState* state = History.NextRedo();
    ForEachTool([state](TQelGraphicsTool* tool) { tool->AfterRedo(state); });
}

void TQelGraphicsDocument::NotifyImageChanged(TQelGraphicsTool* Tool, const TQelRect& Rect) {
    ForEachTool([this, Tool, &Rect](TQelGraphicsTool* tool) { tool->ImageChanged(this, Tool, Rect); });
}

// --- Zoom steps ------------------------------------------------------------------

const TQelZoomStep QelZoomSteps[QelZoomStepCount] = {
    {1, 16}, {1, 12}, {1, 8}, {1, 7}, {1, 6}, {1, 5}, {1, 4}, {1, 3}, {1, 2}, {3, 4}, {1, 1},
    {3, 2},  {2, 1},  {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {12, 1}, {16, 1},
};

// --- TQelGraphicDocumentView -----------------------------------------------------

void TQelGraphicDocumentView::Create() {
    TQelViewObject::Create();
    UpdateBounds();
}

void TQelGraphicDocumentView::Reset() { Flags = QelViewVisible | QelViewBody | QelViewPaintable; }

void TQelGraphicDocumentView::UpdateBounds() { Bounds = FDocument ? FDocument->Image.GetBoundsRect() : TQelRect(); }

void TQelGraphicDocumentView::PaintBody(TQelViewCanvas& Canvas) {
    if (!FDocument) return;
    const TQelRect work = FDocument->GetWorkRect();
    if (work.IsEmpty()) return;
    const TQelRect device = Canvas.MapMode.LogicalToDeviceRect(work);
    // Draw reads only the source pixels that fall inside the clip box.
    FDocument->Image.Draw(Canvas.Canvas, device, work, Canvas.GetClipBox());
    Canvas.ExcludeClipRect(device);
}

// --- TQelGraphicsView ------------------------------------------------------------

TQelGraphicsView::TQelGraphicsView(TQelGraphicsDocument* Document, QWidget* Parent)
    : TQelScrollViewControl(Parent),
      DocumentObject(nullptr),
      ButtonDown(false),
      LastPoint(),
      MouseInside(false),
      FDocument(Document),
      FPendingFit(TPendingFit::None),
      FCursorId(-32768) {
    setFocusPolicy(Qt::StrongFocus);
}

TQelGraphicsView::~TQelGraphicsView() {
    if (FDocument) FDocument->RemoveListener(this);
}

void TQelGraphicsView::Create() {
    TQelScrollViewControl::Create();
    if (FDocument) FDocument->AddListener(this);
    std::unique_ptr<TQelGraphicDocumentView> object = QelCreateViewObject<TQelGraphicDocumentView>(FDocument);
    DocumentObject = object.get();
    Objects.Add(std::move(object));
    // Shown once the editor has set the view up.
    DocumentObject->SetVisible(false);
}

void TQelGraphicsView::DocumentLoaded(TQelDocument*) {
    // The loaded image may have another size than the one the view knew.
    if (DocumentObject) DocumentObject->UpdateBounds();
    UpdateView();
}

void TQelGraphicsView::DocumentClosed(TQelDocument*) {}

void TQelGraphicsView::Zoom(int32_t Numerator, int32_t Denominator) {
    // A zero extent would make every later mapping meaningless.
    if (Numerator < 1 || Denominator < 1) return;
    FPendingFit = TPendingFit::None;
    const QSize client = viewport()->size();
    const TQelPoint centre = MapMode().DeviceToLogical(TQelPoint{client.width() / 2, client.height() / 2});
    MapMode().DeviceExtent = TQelPoint{Numerator, Numerator};
    MapMode().LogicalExtent = TQelPoint{Denominator, Denominator};
    CenterOn(centre);
    UpdateCursor();
}

int32_t TQelGraphicsView::CompareScale(int32_t Numerator, int32_t Denominator) const {
    const int32_t wanted = MulDiv(1000, Numerator, Denominator);
    const int32_t present = MulDiv(1000, MapMode().DeviceExtent.X, MapMode().LogicalExtent.X);
    return wanted < present ? -1 : wanted > present ? 1 : 0;
}

void TQelGraphicsView::ZoomIn() {
    for (const TQelZoomStep& step : QelZoomSteps)
        if (CompareScale(step.Numerator, step.Denominator) > 0) {
            Zoom(step.Numerator, step.Denominator);
            return;
        }
    Zoom(QelZoomSteps[QelZoomStepCount - 1].Numerator, QelZoomSteps[QelZoomStepCount - 1].Denominator);
}

void TQelGraphicsView::ZoomOut() {
    for (int32_t i = QelZoomStepCount - 1; i >= 0; --i)
        if (CompareScale(QelZoomSteps[i].Numerator, QelZoomSteps[i].Denominator) < 0) {
            Zoom(QelZoomSteps[i].Numerator, QelZoomSteps[i].Denominator);
            return;
        }
    Zoom(QelZoomSteps[0].Numerator, QelZoomSteps[0].Denominator);
}

void TQelGraphicsView::ActualSize() { Zoom(1, 1); }

bool TQelGraphicsView::FitSizes(int32_t& W, int32_t& H, int32_t& ImageW, int32_t& ImageH, TPendingFit Fit) {
    ImageW = FDocument ? FDocument->Image.GetWidth() : 0;
    ImageH = FDocument ? FDocument->Image.GetHeight() : 0;
    if (ImageW < 1 || ImageH < 1) return false;
    // Before the first show the layouts may not have given the view its
    // size yet; the outermost goes first.
    std::vector<QLayout*> layouts;
    for (QWidget* w = parentWidget(); w; w = w->parentWidget())
        if (w->layout()) layouts.push_back(w->layout());
    for (auto it = layouts.rbegin(); it != layouts.rend(); ++it) (*it)->activate();
    W = width();
    H = height();
    if (W < 1 || H < 1) {
        // Runs again on the first resize that gives the view a size.
        FPendingFit = Fit;
        return false;
    }
    return true;
}

void TQelGraphicsView::BestFit() {
    int32_t w, h, iw, ih;
    if (!FitSizes(w, h, iw, ih, TPendingFit::Best)) return;
    if (double(ih) / h >= double(iw) / w)
        Zoom(h, ih);
    else
        Zoom(w, iw);
}

void TQelGraphicsView::FitView() {
    int32_t w, h, iw, ih;
    if (!FitSizes(w, h, iw, ih, TPendingFit::Fit)) return;
    if (w >= iw && h >= ih)
        ActualSize();
    else
        BestFit();
}

void TQelGraphicsView::resizeEvent(QResizeEvent* Event) {
    TQelScrollViewControl::resizeEvent(Event);
    if (FPendingFit == TPendingFit::None || width() < 1 || height() < 1) return;
    const TPendingFit fit = FPendingFit;
    FPendingFit = TPendingFit::None;
    if (fit == TPendingFit::Fit)
        FitView();
    else
        BestFit();
}

void TQelGraphicsView::GetPixelAt(const TQelPoint& ImagePoint, TQelRGBTriple& Triple) const {
    const TQelPixels* pixels = FDocument ? FDocument->GetPixels() : nullptr;
    if (!pixels || pixels->BytesPerPixel < 3 || !pixels->GetBounds().Contains(ImagePoint.X, ImagePoint.Y)) {
        Triple = TQelRGBTriple{};
        return;
    }
    const uint8_t* p = pixels->PixelAddress(ImagePoint.X, ImagePoint.Y);
    Triple.Blue = p[0];
    Triple.Green = p[1];
    Triple.Red = p[2];
}

template <class F>
bool TQelGraphicsView::WalkControls(F&& Call) {
    QPointer<TQelGraphicsView> self(this);
    for (int32_t i = Objects.Count() - 1; i >= 0; --i) {
        auto* control = dynamic_cast<TQelGraphicsToolControl*>(Objects.GetObject(i));
        if (!control) continue;
        if (Call(*control)) return true;
        // A control closed the document: nothing of this view is left.
        if (!self) return true;
    }
    return false;
}

bool TQelGraphicsView::DispatchWheel(TShiftState Shift, int32_t Delta, const QPoint& ScreenPoint) {
    const QPoint p = viewport()->mapFromGlobal(ScreenPoint);
    return MouseWheel(Shift, Delta, TQelPoint{p.x(), p.y()});
}

bool TQelGraphicsView::MouseWheel(TShiftState Shift, int32_t WheelDelta, const TQelPoint& MousePos) {
    const int32_t delta = WheelDelta > 0 ? 1 : -1;
    if (WalkControls([&](TQelGraphicsToolControl& c) { return c.MouseWheel(Shift, delta, MousePos); })) return true;
    return TQelScrollViewControl::MouseWheel(Shift, delta, MousePos);
}

void TQelGraphicsView::UpdateCursor() {
    const QPoint p = viewport()->mapFromGlobal(QCursor::pos());
    ShowCursorAt(TQelPoint{p.x(), p.y()},
                 QelShiftState(QGuiApplication::queryKeyboardModifiers(), QGuiApplication::mouseButtons()));
}

void TQelGraphicsView::ShowCursorAt(const TQelPoint& Point, TShiftState Shift) {
    QPointer<TQelGraphicsView> self(this);
    int16_t id = crDefault;
    WalkControls([&](TQelGraphicsToolControl& c) { return c.GetCursor(Shift, Point, id); });
    if (!self || id == FCursorId) return;
    FCursorId = id;
    viewport()->setCursor(TQelCursorRegistry::Instance().Cursor(id));
}

void TQelGraphicsView::SetFocus() {
    if (window()->isActiveWindow() && !hasFocus()) setFocus();
}

void TQelGraphicsView::MouseEnter() { MouseEntered(); }

void TQelGraphicsView::MouseLeave() { MouseLeft(); }

void TQelGraphicsView::MouseEntered() {
    if (MouseInside) return;
    MouseInside = true;
    QPointer<TQelGraphicsView> self(this);
    WalkControls([](TQelGraphicsToolControl& c) {
        c.MouseEnter();
        return false;
    });
    if (!self) return;
    SetFocus();
    UpdateCursor();
}

void TQelGraphicsView::MouseLeft() {
    if (!MouseInside) return;
    MouseInside = false;
    WalkControls([](TQelGraphicsToolControl& c) {
        c.MouseLeave();
        return false;
    });
}

TQelDemoPlayback* TQelGraphicsView::ActiveRecorder() const {
    TQelEditor* editor = FDocument ? FDocument->Editor() : nullptr;
    if (!editor || !editor->Recorder || !editor->Recorder->IsRecording()) return nullptr;
    return editor->Recorder;
}

void TQelGraphicsView::RecordPoint(TQelDemoPlayback* Recorder, const char* Text, const TQelPoint& P) {
    Recorder->RecordLine(QByteArray(Text) + QByteArray::number(P.X) + ", " + QByteArray::number(P.Y));
}

void TQelGraphicsView::ShowPointer(const TQelPoint& ClientPoint) {
    IQelGraphicsStatus* status = StatusOf(FDocument);
    if (!status) return;
    const TQelPoint p = MapMode().DeviceToLogical(ClientPoint);
    TQelRGBTriple pixel;
    GetPixelAt(p, pixel);
    status->SetStatusText(TQelGraphicsStatusPanel::X, QString::number(p.X));
    status->SetStatusText(TQelGraphicsStatusPanel::Y, QString::number(p.Y));
    status->SetStatusText(TQelGraphicsStatusPanel::R, QString::number(pixel.Red));
    status->SetStatusText(TQelGraphicsStatusPanel::G, QString::number(pixel.Green));
    status->SetStatusText(TQelGraphicsStatusPanel::B, QString::number(pixel.Blue));
}

void TQelGraphicsView::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
    TQelScrollViewControl::MouseDown(Button, Shift, X, Y);
    const TQelPoint point{X, Y};
    if (TQelDemoPlayback* recorder = ActiveRecorder()) {
        const TQelPoint p = MapMode().DeviceToLogical(point);
        LastPoint = p;
        RecordPoint(recorder, ButtonDown ? "MouseMove Image, " : "MouseCurvedMove Image, ", p);
        const TQelDemoHooks* hooks = TQelDemoHooks::Instance();
        if (recorder->ShowMessages && hooks) recorder->RecordLine("Message \"" + hooks->DefaultMessageText + '"');
        if (Button == mbLeft) {
            RecordPoint(recorder, "MouseDown Image, ", p);
            ButtonDown = true;
        } else if (Button == mbRight) {
            RecordPoint(recorder, "MouseRightDown Image, ", p);
            ButtonDown = true;
        }
    }
    WalkControls([&](TQelGraphicsToolControl& c) { return c.MouseDown(Button, Shift, point); });
}

void TQelGraphicsView::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
    QPointer<TQelGraphicsView> self(this);
    if (!MouseInside) {
        MouseEntered();
        if (!self) return;
    }
    TQelScrollViewControl::MouseMove(Shift, X, Y);
    const TQelPoint point{X, Y};
    ShowPointer(point);
    if (TQelDemoPlayback* recorder = ActiveRecorder(); recorder && ButtonDown) {
        const TQelPoint p = MapMode().DeviceToLogical(point);
        if (p != LastPoint) {
            LastPoint = p;
            RecordPoint(recorder, "MouseTo Image, ", p);
        }
    }
    WalkControls([&](TQelGraphicsToolControl& c) { return c.MouseMove(Shift, point); });
    if (!self) return;
    ShowCursorAt(point, Shift);
}

void TQelGraphicsView::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
    TQelScrollViewControl::MouseUp(Button, Shift, X, Y);
    const TQelPoint point{X, Y};
    if (TQelDemoPlayback* recorder = ActiveRecorder()) {
        const TQelPoint p = MapMode().DeviceToLogical(point);
        LastPoint = p;
        if (Button == mbLeft) {
            RecordPoint(recorder, "MouseUp Image, ", p);
            ButtonDown = false;
        } else if (Button == mbRight) {
            RecordPoint(recorder, "MouseRightUp Image, ", p);
            ButtonDown = false;
        }
        recorder->RecordLine("Pause 0.5");
    }
    WalkControls([&](TQelGraphicsToolControl& c) { return c.MouseUp(Button, Shift, point); });
}

void TQelGraphicsView::KeyDown(uint16_t& Key, TShiftState Shift) {
    TQelScrollViewControl::KeyDown(Key, Shift);
    // A key a control used goes no further.
    if (WalkControls([&](TQelGraphicsToolControl& c) { return c.KeyDown(Key, Shift); })) Key = 0;
}

void TQelGraphicsView::KeyUp(uint16_t& Key, TShiftState Shift) {
    TQelScrollViewControl::KeyUp(Key, Shift);
    if (WalkControls([&](TQelGraphicsToolControl& c) { return c.KeyUp(Key, Shift); })) Key = 0;
}

// --- Tools ---------------------------------------------------------------------

namespace {

IQelGraphicsToolHost* FindToolHost() {
    TQelApplication* app = TQelApplication::Instance();
    if (!app) return nullptr;
    IQelGraphicsToolHost* found = nullptr;
    app->ForEachComponent<IQelGraphicsToolHost>([&](IQelGraphicsToolHost* host) {
        found = host;
        return true;
    });
    return found;
}

// Brings the backup in step with the image after Rect of it changed: only
// Rect while the two match in size and format (outside it they are equal
// already), otherwise the whole image.
void SyncBackupRect(TQelGraphicsDocument& Document, const TQelPixels& Image, const TQelRect& Rect) {
    TQelPixelBuffer& backup = Document.Backup;
    if (backup.Bits && backup.Format == Image.Format && backup.GetBounds() == Image.GetBounds())
        backup.CopyRect(Rect.Left, Rect.Top, Rect, Image);
    else
        Document.SyncBackup();
}

}  // namespace

bool QelCanToolModify(const TQelGraphicsDocument* Document, const TQelGraphicsTool* Tool,
                      const TQelGraphicsTool* ActiveTool, bool ActiveToolLocked) {
    if (!Document) return false;
    if (ActiveToolLocked && Tool != ActiveTool) return false;
    const TQelGraphicsTool* running = Document->ModifyingTool;
    return !(Document->Modifying && running && running != Tool && running->Exclusive);
}

TQelGraphicsTool::TQelGraphicsTool()
    : TQelModuleWithControls(),
      RunningView(),
      RunningDocument(nullptr),
      OriginalPixels(nullptr),
      BackupPixels(nullptr),
      CurrentPixels(nullptr),
      Name(),
      ControlClass(),
      Recorder(nullptr),
      Active(false),
      Available(true),
      AvailableInPluginMode(false),
      Exclusive(false),
      FControls() {}

// The controls stay with their views; their guarded tool reference clears.
TQelGraphicsTool::~TQelGraphicsTool() = default;

void TQelGraphicsTool::AfterConstruction() {
    TQelModuleWithControls::AfterConstruction();
    RegisterDemoTargets();
}

void TQelGraphicsTool::ExecuteCommand(TQelDemoPlayback*, const QByteArray& Command, const TQelDemoScriptParams&,
                                      TQelDemoScriptUserAction*, bool& Handled) {
    if (Name.isEmpty() || Command != Name.toUpper()) return;
    MakeCurrent();
    Handled = true;
}

void TQelGraphicsTool::GetCommandPoint(TQelDemoPlayback*, const TQelDemoScriptParams&, QPoint&, bool&) {}

void TQelGraphicsTool::StartRecording(TQelDemoPlayback* Playback) { Recorder = Playback; }

void TQelGraphicsTool::StopRecording(TQelDemoPlayback*) { Recorder = nullptr; }

bool TQelGraphicsTool::Recording() const { return Recorder && Recorder->IsRecording(); }

void TQelGraphicsTool::RecordLine(const QByteArray& Line) const {
    if (Recording()) Recorder->RecordLine(Line);
}

void TQelGraphicsTool::AddControl(TQelGraphicsToolControl* Control) {
    if (Control && std::find(FControls.begin(), FControls.end(), Control) == FControls.end())
        FControls.push_back(Control);
}

void TQelGraphicsTool::RemoveControl(TQelGraphicsToolControl* Control) {
    FControls.erase(std::remove(FControls.begin(), FControls.end(), Control), FControls.end());
}

TQelGraphicsToolControl* TQelGraphicsTool::GetControl(int Index) const {
    return Index >= 0 && size_t(Index) < FControls.size() ? FControls[size_t(Index)] : nullptr;
}

void TQelGraphicsTool::CreateControl(TQelGraphicsView* View) {
    if (ControlClass && View) ControlClass(this, View);
}

void TQelGraphicsTool::MakeCurrent() {
    if (IQelGraphicsToolHost* host = FindToolHost()) host->SetActiveTool(this);
    if (Recording()) {
        RecordLine("MouseCurvedMove " + Name);
        RecordLine("Message \"" + Name + '"');
        RecordLine(Name);
    }
}

void TQelGraphicsTool::Activate() {
    // By index: a control's cursor query may reach other code.
    for (size_t i = 0; i < FControls.size(); ++i) FControls[i]->Activate();
    Active = true;
}

void TQelGraphicsTool::Deactivate() {
    for (size_t i = 0; i < FControls.size(); ++i) FControls[i]->Deactivate();
    Active = false;
}

void TQelGraphicsTool::DocumentOpened(TQelGraphicsDocument* Document) {
    if (Document && Document->Editor() && Document->Editor()->PluginMode) SetAvailable(AvailableInPluginMode);
}

void TQelGraphicsTool::DocumentClosing(TQelGraphicsDocument* Document) {
    if (Document && RunningDocument == Document) FinishModification();
}

void TQelGraphicsTool::BeginModification(TQelGraphicsView* View) {
    TQelGraphicsDocument* document = View ? View->Document() : nullptr;
    if (!document) return;
    // One modification per tool: one running on another document ends first.
    if (RunningDocument && RunningDocument != document) FinishModification();
    // May finish a running modification, this tool's own among them.
    document->BeginModification(this);
    RunningView = View;
    RunningDocument = document;
    BackupPixels = &document->Backup;
    CurrentPixels = document->GetPixels();
    OriginalPixels = document->GetOriginalPixels();
}

void TQelGraphicsTool::AddModifiedRect(const TQelRect& Rect) {
    if (RunningDocument) RunningDocument->AddModifiedRect(Rect);
}

void TQelGraphicsTool::ClearReferences() {
    RunningView = nullptr;
    RunningDocument = nullptr;
    OriginalPixels = nullptr;
    BackupPixels = nullptr;
    CurrentPixels = nullptr;
}

void TQelGraphicsTool::CommitModification() {
    TQelGraphicsDocument* document = RunningDocument;
    if (!document || document->ModifiedRect.IsEmpty()) return;
    const TQelRect rect = document->ModifiedRect;
    std::unique_ptr<TQelGraphicsCommandState> state;
    try {
        state = std::make_unique<TQelGraphicsCommandState>(this, rect, document);
    } catch (...) {
        // No state holds the change, so it must not stay in the image: the
        // backup still has the pixels from before it.
        if (TQelPixels* image = document->GetPixels())
            QelCopyPixelsRect(*image, rect.Left, rect.Top, rect, document->Backup);
        document->InvalidateImageRect(rect);
        throw;
    }
    document->AddCommandState(std::move(state));
    // The image is read afresh: a tool may have replaced it meanwhile.
    if (const TQelPixels* image = document->GetPixels()) SyncBackupRect(*document, *image, rect);
}

void TQelGraphicsTool::FinishModification() {
    TQelGraphicsDocument* document = RunningDocument;
    if (!document) return;
    // The modification ends whatever the commit does, so undo and redo stay
    // usable after a failed one.
    auto end = qScopeGuard([this, document] {
        if (document->Modifying) document->EndModification(this);
        ClearReferences();
    });
    CommitModification();
}

void TQelGraphicsTool::CancelModification() {
    TQelGraphicsDocument* document = RunningDocument;
    if (document && document->Modifying) {
        if (TQelPixels* image = document->GetPixels())
            QelCopyPixelsRect(*image, document->Backup.Left, document->Backup.Top, document->Backup.GetBounds(),
                              document->Backup);
        if (RunningView) RunningView->viewport()->update();
        document->ResetModification();
    }
    // Also after the document ended the modification itself, so nothing
    // stale is kept.
    ClearReferences();
}

// --- TQelGraphicsToolControl -------------------------------------------------------

TQelGraphicsToolControl::~TQelGraphicsToolControl() {
    if (Tool) Tool->RemoveControl(this);
}

void TQelGraphicsToolControl::Attach(TQelGraphicsTool* NewTool, TQelGraphicsView* NewView,
                                     std::unique_ptr<TQelGraphicsToolControl> Self) {
    Tool = NewTool;
    if (Tool) Tool->AddControl(this);
    View = NewView;
    if (View && Self) View->Objects.Add(std::move(Self));
    Init();
}

void TQelGraphicsToolControl::Reset() { Flags = QelViewOverlay | QelViewNoExtent; }

void TQelGraphicsToolControl::SetVisible(bool Value) {
    if (Value == GetVisible()) return;
    TQelViewObject::SetVisible(Value);
    Invalidate();
}

TQelPoint TQelGraphicsToolControl::GetMousePos() const {
    if (!View) return TQelPoint{};
    const QPoint p = View->viewport()->mapFromGlobal(QCursor::pos());
    return TQelPoint{p.x(), p.y()};
}

void TQelGraphicsToolControl::Invalidate() {
    if (!View) return;
    TQelRect r;
    GetBounds(View->MapMode(), r);
    if (!r.IsEmpty()) View->viewport()->update(QelToQRect(r));
}

void TQelGraphicsToolControl::Activate() {
    Active = true;
    if (View && View->MouseInside) MouseEnter();
    Invalidate();
    if (View) View->UpdateCursor();
}

void TQelGraphicsToolControl::Deactivate() {
    Active = false;
    Invalidate();
}

// --- Undo states -------------------------------------------------------------------

TQelCustomGraphicsCommandState::TQelCustomGraphicsCommandState(TQelGraphicsTool* NewTool, const TQelRect& NewRect,
                                                               TQelGraphicsDocument* NewDocument)
    : TQelCommandState(), Tool(NewTool), Document(NewDocument), Rect(NewRect) {
    // The tools hear of the change before any copy is taken.
    if (Document) Document->NotifyImageChanged(Tool.data(), Rect);
}

void TQelCustomGraphicsCommandState::Undo() {
    if (Document) Document->NotifyImageChanged(Tool.data(), Rect);
}

void TQelCustomGraphicsCommandState::Redo() {
    if (Document) Document->NotifyImageChanged(Tool.data(), Rect);
}

namespace {

// A buffer over Rect in Source's format holding Source's pixels where the two
// overlap. A copy that cannot be held is an error: a state without its pixels
// would undo nothing.
void TakePixels(TQelPixelBuffer& Buffer, const TQelRect& Rect, const TQelPixels& Source) {
    Buffer.Allocate(Source.Format, Rect);
    if (!Buffer.Bits && !Rect.IsEmpty())
        throw EQelOutOfMemory("Not enough memory to keep the change of " + std::to_string(Rect.Width()) + " x " +
                              std::to_string(Rect.Height()) + " pixels for undo");
    Buffer.CopyFrom(Source);
}

}  // namespace

TQelGraphicsCommandState::TQelGraphicsCommandState(TQelGraphicsTool* NewTool, const TQelRect& NewRect,
                                                   TQelGraphicsDocument* NewDocument)
    : TQelCustomGraphicsCommandState(NewTool, NewRect, NewDocument), Before(), After() {
    if (!Document) return;
    TakePixels(Before, Rect, Document->Backup);
    if (const TQelPixels* image = Document->GetPixels()) TakePixels(After, Rect, *image);
}

void TQelGraphicsCommandState::Restore(const TQelPixelBuffer& Pixels) {
    if (!Document) return;
    TQelPixels* image = Document->GetPixels();
    if (image) QelCopyPixelsRect(*image, Pixels.Left, Pixels.Top, Pixels.GetBounds(), Pixels);
    Document->InvalidateImageRect(Rect);
    // An undo of a small change copies only that change into the backup.
    if (image)
        SyncBackupRect(*Document, *image, Rect);
    else
        Document->SyncBackup();
}

void TQelGraphicsCommandState::Undo() {
    Restore(Before);
    TQelCustomGraphicsCommandState::Undo();
}

void TQelGraphicsCommandState::Redo() {
    Restore(After);
    TQelCustomGraphicsCommandState::Redo();
}

// --- TQelGraphicsEditor --------------------------------------------------------------

TQelGraphicsEditor* GraphicsEditor = nullptr;

namespace {

constexpr TQelGuid GraphicsEditorSettingsGuid = TQelGuid::Parse("{E1195915-FFAE-4A56-B331-F4567336FF25}");
constexpr uint32_t GraphicsEditorNodeId = 1;
constexpr uint32_t JpegQualityElement = 1;

// Texts of the language files.
constexpr int32_t TextOk = 1;
constexpr int32_t TextCancel = 2;
constexpr int32_t TextZoomIn = 98;
constexpr int32_t TextZoomOut = 99;
// The actual-size caption before the first localisation.
constexpr int32_t TextActualSizeInitial = 133;
constexpr int32_t TextActualSize = 166;
constexpr int32_t TextBestFit = 178;
constexpr int32_t TextPrevImage = 2104;
constexpr int32_t TextNextImage = 2105;

// An extension (dot included) names an image file when it is part of this
// list.
const QLatin1String FolderImageExtensions(".JPG;.JPEG;.TIF;.TIFF;.PNG;.BMP;.RLE;.DIB");

void EnableIfChanged(QAction* Action, bool Value) {
    if (Action && Action->isEnabled() != Value) Action->setEnabled(Value);
}

void SetCaptionAndHint(QAction* Action, const QString& Text) {
    if (!Action) return;
    Action->setText(Text);
    Action->setToolTip(Text);
}

// Pos and Size of one axis kept inside the area from AreaPos, AreaSize long.
void KeepInArea(int& Pos, int& Size, int AreaPos, int AreaSize) {
    if (Pos < AreaPos) Pos = AreaPos;
    if (int64_t(Pos) + Size > int64_t(AreaPos) + AreaSize) {
        if (Size < AreaSize) {
            Pos = AreaPos + (AreaSize - Size) / 2;
        } else {
            Pos = AreaPos;
            Size = AreaSize;
        }
    }
}

// Width and height grow by Delta where it is positive, without overflow.
int Grown(int Size, int64_t Delta) {
    return int(std::min<int64_t>(std::numeric_limits<int>::max(), Size + std::max<int64_t>(Delta, 0)));
}

}  // namespace

TQelGraphicsEditor::TQelGraphicsEditor()
    : TQelEditor(), IQelGraphicsStatus(), IQelGraphicsToolHost(), Formats(std::make_unique<TQelGraphicsFormats>()) {
    GraphicsEditor = this;
}

TQelGraphicsEditor::~TQelGraphicsEditor() {
    if (MainForm) MainForm->OnDropFile = nullptr;
    if (GraphicsEditor == this) GraphicsEditor = nullptr;
}

void TQelGraphicsEditor::Create() {
    TQelEditor::Create();
    // Documents are shown one at a time in the main window's work area, so
    // the window needs no multiple-document style.
    MainForm->OnDropFile = [this](const QString& FileName) { OpenFileByName(FileName); };

    // Images are given by the composition root.
    TQelImageList* images = MainForm->GetImages();
    MainForm->AddToolButton(
        StandardToolbar, PrevImageButton, [this](QObject* sender) { PrevImageClick(sender); }, -1,
        QelText(TextPrevImage), SaveToolButton, images);
    PrevImageButton->setObjectName(QStringLiteral("PrevImageButton"));
    MainForm->AddToolButton(
        StandardToolbar, NextImageButton, [this](QObject* sender) { NextImageClick(sender); }, -1,
        QelText(TextNextImage), SaveToolButton, images);
    NextImageButton->setObjectName(QStringLiteral("NextImageButton"));

    QMenu* viewMenu = MainForm->ViewMenuItem;
    ZoomMenuSeparator = MainForm->AddSeparator(viewMenu, MainForm->ToolbarsMenuItem->menuAction());
    ZoomMenuSeparator->setObjectName(QStringLiteral("ZoomMenuSeparator"));
    ZoomToolbarSeparator = MainForm->AddSeparator(StandardToolbar, nullptr);
    ZoomToolbarSeparator->setObjectName(QStringLiteral("ZoomToolbarSeparator"));

    struct TZoomCommand {
        QAction*& MenuItem;
        QAction*& Button;
        const char* MenuName;
        const char* ButtonName;
        int32_t Text;
        QKeySequence ShortCut;
        void (TQelGraphicsEditor::*Handler)(QObject*);
    };
    const TZoomCommand commands[] = {
        {ZoomInMenuItem, ZoomInButton, "ZoomInMenuItem", "ZoomInButton", TextZoomIn,
         QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Plus)), &TQelGraphicsEditor::ZoomInClick},
        {ZoomOutMenuItem, ZoomOutButton, "ZoomOutMenuItem", "ZoomOutButton", TextZoomOut,
         QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Minus)), &TQelGraphicsEditor::ZoomOutClick},
        {ActualSizeMenuItem, ActualSizeButton, "ActualSizeMenuItem", "ActualSizeButton", TextActualSizeInitial,
         QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_0), &TQelGraphicsEditor::ActualSizeClick},
        {ScaleToBestFitMenuItem, ScaleToBestFitButton, "ScaleToBestFitMenuItem", "ScaleToBestFitButton",
         TextBestFit, QKeySequence(), &TQelGraphicsEditor::BestFitClick},
    };
    for (const TZoomCommand& command : commands) {
        const auto handler = [this, h = command.Handler](QObject* sender) { (this->*h)(sender); };
        command.MenuItem =
            MainForm->AddMenuItem(QelText(command.Text), command.ShortCut, handler, -1, viewMenu, ZoomMenuSeparator);
        command.MenuItem->setObjectName(QLatin1String(command.MenuName));
        MainForm->AddToolButton(StandardToolbar, command.Button, handler, -1, QelText(command.Text), nullptr, images);
        command.Button->setObjectName(QLatin1String(command.ButtonName));
    }

    // The scanner import items go between this and the File separator.
    CloseMenuSeperator = MainForm->AddSeparator(MainForm->FileMenuItem, MainForm->FileMenuSeparator);
    CloseMenuSeperator->setObjectName(QStringLiteral("CloseMenuSeperator"));

    // Widths in multiples of the main window font's height in whole pixels
    // (its pixel size, not its line spacing).
    const QFont font = MainForm->font();
    const int32_t f =
        font.pixelSize() > 0 ? font.pixelSize() : QelRoundEven(font.pointSizeF() * MainForm->logicalDpiY() / 72.0);
    TQelStatusPanels& panels = MainForm->StatusPanels();
    auto add = [&](double k, Qt::Alignment alignment, bool framed) {
        return panels.Add(QelRoundEven(k * f), alignment, framed);
    };
    auto label = [&](const char* text, double k) { panels.SetCaption(add(k, Qt::AlignRight, false), text); };
    label("X:", 2);
    XStatusPanel = add(4, Qt::AlignLeft, false);
    label("Y:", 1.5);
    YStatusPanel = add(5, Qt::AlignLeft, true);
    label("W:", 2);
    WStatusPanel = add(4, Qt::AlignLeft, false);
    label("H:", 1.5);
    HStatusPanel = add(5, Qt::AlignLeft, true);
    label("R:", 1.5);
    RStatusPanel = add(4, Qt::AlignLeft, false);
    label("G:", 1.5);
    GStatusPanel = add(4, Qt::AlignLeft, false);
    label("B:", 1.5);
    BStatusPanel = add(5, Qt::AlignLeft, true);

    // The hand cursor is in its slot from the start (QelCursors).
    FolderFiles.clear();
    FolderIndex = -1;
}

void TQelGraphicsEditor::Localize() {
    TQelEditor::Localize();
    ZoomInMenuItem->setText(QelText(TextZoomIn));
    ZoomOutMenuItem->setText(QelText(TextZoomOut));
    ActualSizeMenuItem->setText(QelText(TextActualSize));
    ScaleToBestFitMenuItem->setText(QelText(TextBestFit));
    SetCaptionAndHint(ZoomInButton, QelText(TextZoomIn));
    SetCaptionAndHint(ZoomOutButton, QelText(TextZoomOut));
    SetCaptionAndHint(ActualSizeButton, QelText(TextActualSize));
    SetCaptionAndHint(ScaleToBestFitButton, QelText(TextBestFit));
    SetCaptionAndHint(PrevImageButton, QelText(TextPrevImage));
    SetCaptionAndHint(NextImageButton, QelText(TextNextImage));
    SetCaptionAndHint(OkButton, QelText(TextOk));
    SetCaptionAndHint(CancelButton, QelText(TextCancel));
}

void TQelGraphicsEditor::LoadSettings(TQelSDFReader& Reader) {
    TQelEditor::LoadSettings(Reader);
    if (!Reader.OpenNode(GraphicsEditorNodeId, GraphicsEditorSettingsGuid)) return;
    int32_t quality = Formats->JpegQuality;
    // A value from a damaged file is brought into the quality's range.
    if (Reader.ReadInteger(JpegQualityElement, quality)) Formats->JpegQuality = std::clamp(quality, 0, 100);
    Reader.CloseNode();
}

void TQelGraphicsEditor::SaveSettings(TQelSDFWriter& Writer) {
    TQelEditor::SaveSettings(Writer);
    Writer.BeginNode(GraphicsEditorNodeId, GraphicsEditorSettingsGuid);
    Writer.WriteInteger(JpegQualityElement, Formats->JpegQuality);
    Writer.EndNode();
}

void TQelGraphicsEditor::UpdateControls() {
    TQelEditor::UpdateControls();
    const bool canZoom = SaveAsMenuItem && SaveAsMenuItem->isEnabled();
    for (QAction* item : {ZoomInMenuItem, ZoomOutMenuItem, ActualSizeMenuItem, ScaleToBestFitMenuItem, ZoomInButton,
                          ZoomOutButton, ActualSizeButton, ScaleToBestFitButton})
        EnableIfChanged(item, canZoom);
    EnableIfChanged(PrevImageButton, !FolderFiles.isEmpty() && FolderIndex > 0);
    EnableIfChanged(NextImageButton, !FolderFiles.isEmpty() && FolderIndex < FolderFiles.size() - 1);
}

TQelDocumentFormats* TQelGraphicsEditor::GetFormats() { return Formats.get(); }

std::unique_ptr<TQelDocument> TQelGraphicsEditor::CreateDocument() {
    return std::make_unique<TQelGraphicsDocument>(this);
}

// --- documents and views ---------------------------------------------------------

TQelGraphicsDocument* TQelGraphicsEditor::GetActiveDocument() const {
    return dynamic_cast<TQelGraphicsDocument*>(TQelEditor::GetActiveDocument());
}

TQelGraphicsView* TQelGraphicsEditor::GetActiveView() const {
    TQelGraphicsDocument* document = GetActiveDocument();
    return document ? document->FindGraphicsView() : nullptr;
}

void TQelGraphicsEditor::SetActiveDocument(TQelDocument* Document) {
    if (Document && Document->FormatId == QelExchangeFormatId) SetPluginMode(true);
    TQelEditor::SetActiveDocument(Document);
}

void TQelGraphicsEditor::DocumentFormActivate(TQelDocument* Document) { SetActiveDocument(Document); }

void TQelGraphicsEditor::UpdateCaption() {
    if (!PluginMode) {
        TQelEditor::UpdateCaption();
        return;
    }
    TQelApplication* app = TQelApplication::Instance();
    if (MainForm) MainForm->setWindowTitle(app ? app->GetTitle() : QString());
}

bool TQelGraphicsEditor::ShowDocument(TQelDocument* Document, TQelViewControl*& View) {
    if (!TQelEditor::ShowDocument(Document, View)) return false;
    auto* view = qobject_cast<TQelGraphicsView*>(View);
    if (!view) return true;
    ForEachTool([view](TQelGraphicsTool* tool) { tool->CreateControl(view); });
    // Shown before the fit, so that the fit sees the image's extent.
    if (view->DocumentObject) view->DocumentObject->SetVisible(true);
    view->UpdateView();
    view->FitView();
    if (ActiveTool) ActiveTool->Activate();
    return true;
}

bool TQelGraphicsEditor::OpenDocument(const QString& FileName, TQelDocument*& Document, bool AddToRecent) {
    if (!TQelEditor::OpenDocument(FileName, Document, AddToRecent)) return false;
    TQelGraphicsView* view = GetActiveView();
    if (!view) return true;
    BuildFolderList(FileName);
    view->FitView();
    if (Recorder && Recorder->IsRecording())
        RecordCommand("Open", "Open Image",
                      "ImageOpen \"" + QFileInfo(FileName).fileName().toUtf8() + "\", " +
                          QByteArray::number(view->width()) + ", " + QByteArray::number(view->height()));
    return true;
}

void TQelGraphicsEditor::OpenFileByName(const QString& FileName) {
    TQelDocument* document = nullptr;
    OpenDocument(FileName, document, true);
}

void TQelGraphicsEditor::AddToRecentFiles(TQelDocument* Document) {
    // The host's temporary exchange file is no file to come back to.
    if (!PluginMode) TQelEditor::AddToRecentFiles(Document);
}

void TQelGraphicsEditor::RefitView() {
    if (TQelGraphicsView* view = GetActiveView()) view->FitView();
}

QRect TQelGraphicsEditor::WorkArea() const {
    QScreen* screen = MainForm ? MainForm->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

namespace {

// Gives the main window the outer bounds (frame included).
void SetFrameBounds(QWidget* Window, int Left, int Top, int Width, int Height) {
    const QRect frame = Window->frameGeometry();
    const QRect inner = Window->geometry();
    Window->setGeometry(Left + inner.x() - frame.x(), Top + inner.y() - frame.y(),
                        std::max(1, Width - (frame.width() - inner.width())),
                        std::max(1, Height - (frame.height() - inner.height())));
}

}  // namespace

void TQelGraphicsEditor::GrowMainWindow(int32_t Width, int32_t Height) {
    TQelGraphicsView* view = GetActiveView();
    if (!view || !MainForm) return;
    const QRect frame = MainForm->frameGeometry();
    int width = Grown(frame.width(), int64_t(Width) - view->width());
    int height = Grown(frame.height(), int64_t(Height) - view->height());
    int left = frame.x();
    int top = frame.y();
    const QRect area = WorkArea();
    if (!area.isEmpty()) {
        // Measured from the area's own corner, which is not the screen's
        // origin on a second screen.
        KeepInArea(left, width, area.x(), area.width());
        KeepInArea(top, height, area.y(), area.height());
    }
    SetFrameBounds(MainForm, left, top, width, height);
}

void TQelGraphicsEditor::SetMinWindowSize(int32_t Width, int32_t Height) {
    if (!MainForm) return;
    const QRect frame = MainForm->frameGeometry();
    const QRect area = WorkArea();
    int left = frame.x(), top = frame.y(), width = frame.width(), height = frame.height();
    if (width < Width) {
        width = Width;
        left = area.x() + (area.width() - Width) / 2;
    }
    if (height < Height) {
        height = Height;
        top = area.y() + (area.height() - Height) / 2;
    }
    SetFrameBounds(MainForm, left, top, width, height);
    RefitView();
}

void TQelGraphicsEditor::HandleMouseWheel(QObject*, TShiftState Shift, int32_t WheelDelta, const QPoint& MousePos,
                                          bool& Handled) {
    TQelGraphicsView* view = GetActiveView();
    if (view && view->MouseInside) Handled = view->DispatchWheel(Shift, WheelDelta, MousePos);
}

bool TQelGraphicsEditor::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::Wheel && MainForm && Watched == MainForm) {
        auto* wheel = static_cast<QWheelEvent*>(Event);
        const int delta = wheel->angleDelta().y();
        // Sideways and pixel-only scrolling are no wheel steps.
        if (delta != 0) {
            bool handled = false;
            HandleMouseWheel(MainForm, QelShiftState(wheel->modifiers(), wheel->buttons()), delta,
                             wheel->globalPosition().toPoint(), handled);
            if (handled) return true;
        }
    }
    return TQelEditor::eventFilter(Watched, Event);
}

void TQelGraphicsEditor::SetStatusText(TQelGraphicsStatusPanel Panel, const QString& Text) {
    if (!MainForm) return;
    int32_t index = -1;
    switch (Panel) {
    case TQelGraphicsStatusPanel::X: index = XStatusPanel; break;
    case TQelGraphicsStatusPanel::Y: index = YStatusPanel; break;
    case TQelGraphicsStatusPanel::W: index = WStatusPanel; break;
    case TQelGraphicsStatusPanel::H: index = HStatusPanel; break;
    case TQelGraphicsStatusPanel::R: index = RStatusPanel; break;
    case TQelGraphicsStatusPanel::G: index = GStatusPanel; break;
    case TQelGraphicsStatusPanel::B: index = BStatusPanel; break;
    }
    if (index >= 0) MainForm->StatusPanels().SetCaption(index, Text);
}

// --- tools, undo and redo --------------------------------------------------------

void TQelGraphicsEditor::SetActiveTool(TQelGraphicsTool* Tool) {
    if (ActiveTool) ActiveTool->Deactivate();
    if (Tool) Tool->Activate();
    ActiveTool = Tool;
}

bool TQelGraphicsEditor::CanToolModify(const TQelGraphicsTool* Tool) const {
    return QelCanToolModify(GetActiveDocument(), Tool, ActiveTool, ActiveToolLocked);
}

bool TQelGraphicsEditor::CanUndo() {
    const TQelGraphicsDocument* document = GetActiveDocument();
    return TQelEditor::CanUndo() && !(document && document->Modifying);
}

bool TQelGraphicsEditor::CanRedo() {
    const TQelGraphicsDocument* document = GetActiveDocument();
    return TQelEditor::CanRedo() && !(document && document->Modifying);
}

void TQelGraphicsEditor::DoUndo() {
    const QPointer<TQelGraphicsTool> tool = ActiveTool;
    SetActiveTool(nullptr);
    // The tool comes back even when the undo fails.
    auto restore = qScopeGuard([this, tool] { SetActiveTool(tool); });
    TQelGraphicsDocument* document = GetActiveDocument();
    if (document) document->NotifyBeforeUndo();
    TQelEditor::DoUndo();
    if (document) document->NotifyAfterUndo();
}

void TQelGraphicsEditor::DoRedo() {
    const QPointer<TQelGraphicsTool> tool = ActiveTool;
    SetActiveTool(nullptr);
    auto restore = qScopeGuard([this, tool] { SetActiveTool(tool); });
    TQelGraphicsDocument* document = GetActiveDocument();
    if (document) document->NotifyBeforeRedo();
    TQelEditor::DoRedo();
    if (document) document->NotifyAfterRedo();
}

// --- zoom, previous and next ---------------------------------------------------

void TQelGraphicsEditor::ZoomInClick(QObject*) {
    TQelGraphicsView* view = GetActiveView();
    if (!view) return;
    RecordCommand("ZoomIn", "Zoom In", "ZoomIn");
    view->ZoomIn();
}

void TQelGraphicsEditor::ZoomOutClick(QObject*) {
    TQelGraphicsView* view = GetActiveView();
    if (!view) return;
    RecordCommand("ZoomOut", "Zoom Out", "ZoomOut");
    view->ZoomOut();
}

void TQelGraphicsEditor::ActualSizeClick(QObject*) {
    TQelGraphicsView* view = GetActiveView();
    if (!view) return;
    RecordCommand("ActualSize", "Actual Size", "ActualSize");
    view->ActualSize();
}

void TQelGraphicsEditor::BestFitClick(QObject*) {
    TQelGraphicsView* view = GetActiveView();
    if (!view) return;
    RecordCommand("BestFit", "Best Fit", "BestFit");
    view->BestFit();
}

void TQelGraphicsEditor::BuildFolderList(const QString& FileName) {
    const qsizetype slash = FileName.lastIndexOf(u'/');
    if (slash < 0) return;
    const QString folder = FileName.left(slash + 1);
    FolderFiles.clear();
    // Directory order is arbitrary here; by name, the lists stay the same
    // from run to run.
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System,
                                                             QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        const qsizetype dot = name.lastIndexOf(u'.');
        if (dot < 0) continue;
        const QString extension = name.mid(dot).toUpper();
        if (extension.size() > 2 && QString(FolderImageExtensions).contains(extension)) FolderFiles.append(folder + name);
    }
    FolderIndex = -1;
    for (qsizetype i = 0; i < FolderFiles.size(); ++i)
        if (FolderFiles[i].compare(FileName, Qt::CaseInsensitive) == 0) {
            FolderIndex = int32_t(i);
            break;
        }
}

void TQelGraphicsEditor::NextImageClick(QObject*) {
    if (FolderIndex + 1 >= FolderFiles.size()) return;
    ++FolderIndex;
    TQelDocument* document = nullptr;
    OpenDocument(FolderFiles[FolderIndex], document, true);
}

void TQelGraphicsEditor::PrevImageClick(QObject*) {
    if (FolderIndex <= 0) return;
    --FolderIndex;
    TQelDocument* document = nullptr;
    OpenDocument(FolderFiles[FolderIndex], document, true);
}

// --- plug-in mode ------------------------------------------------------------------

void TQelGraphicsEditor::SetPluginMode(bool Value) {
    if (PluginMode || !Value) return;
    if (TQelApplication* app = TQelApplication::Instance()) app->SetTitle(app->GetTitle() + QStringLiteral(" Plug-in"));
    PrevImageButton->setVisible(false);
    NextImageButton->setVisible(false);
    MainForm->FileMenuItem->menuAction()->setVisible(false);
    PluginToolbarSeparator = MainForm->AddSeparator(StandardToolbar, nullptr);
    PluginToolbarSeparator->setObjectName(QStringLiteral("PluginToolbarSeparator"));
    MainForm->AddToolButton(
        StandardToolbar, OkButton, [this](QObject* sender) { PluginOkClick(sender); }, -1, QelText(TextOk), nullptr,
        nullptr);
    OkButton->setObjectName(QStringLiteral("OkButton"));
    MainForm->AddToolButton(
        StandardToolbar, CancelButton, [this](QObject* sender) { PluginCancelClick(sender); }, -1,
        QelText(TextCancel), nullptr, nullptr);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    for (QAction* button : {OkButton, CancelButton})
        if (auto* widget = qobject_cast<QToolButton*>(StandardToolbar->widgetForAction(button)))
            widget->setToolButtonStyle(Qt::ToolButtonTextOnly);
    TQelEditor::SetPluginMode(true);
    UpdateCaption();
}

void TQelGraphicsEditor::ReportWriteBackFailure() {
    QString text = Formats->LastError();
    if (text.isEmpty()) text = QStringLiteral("The image could not be written back.");
    if (TQelApplication* app = TQelApplication::Instance()) app->MessageBoxTitled(text, MB_ICONERROR);
}

bool TQelGraphicsEditor::ExecuteSaveAsDialog(TQelDocument* Document) {
    if (!PluginMode) return TQelEditor::ExecuteSaveAsDialog(Document);
    if (!Document || !Document->CanSave()) return true;
    // Only a written image may end the program with the code that tells
    // the host to take it.
    if (!Document->Save()) {
        ReportWriteBackFailure();
        return false;
    }
    if (TQelApplication* app = TQelApplication::Instance()) app->SetExitCode(0);
    return true;
}

void TQelGraphicsEditor::PluginOkClick(QObject*) {
    if (TQelGraphicsDocument* document = GetActiveDocument()) {
        const bool modifying = document->Modifying;
        const TQelRect modified = document->ModifiedRect;
        // The running change is written as shown, without an undo state.
        document->EndModification(this);
        if (document->CanSave()) {
            if (!document->Save()) {
                // The window stays open with the change still running, so the
                // backup and the history keep matching the image.
                document->Modifying = modifying;
                document->ModifiedRect = modified;
                ReportWriteBackFailure();
                return;
            }
            if (TQelApplication* app = TQelApplication::Instance()) app->SetExitCode(0);
        }
    }
    if (MainForm) MainForm->close();
}

void TQelGraphicsEditor::PluginCancelClick(QObject*) {
    if (TQelGraphicsDocument* document = GetActiveDocument()) {
        document->EndModification(this);
        document->SetClean(true);
    }
    if (MainForm) MainForm->close();
}

// --- tutorials -----------------------------------------------------------------------

void TQelGraphicsEditor::ExecuteCommand(TQelDemoPlayback* Playback, const QByteArray& Command,
                                        const TQelDemoScriptParams& Params, TQelDemoScriptUserAction* Action,
                                        bool& Handled) {
    Handled = true;
    auto twoNumbers = [&Params](int first) {
        return Params.IsNumeric(first) && Params.IsNumeric(first + 1);
    };
    if (Command == "IMAGEOPEN") {
        const QString name = QString::fromStdString(Params.AsText(0));
        const QString inImages = ImagesFolder + name;
        const QString path = !name.isEmpty() && QFileInfo::exists(inImages) ? inImages : name;
        TQelDocument* document = nullptr;
        if (OpenDocument(path, document, true)) {
            document->TutorialDocument = true;
            if (Params.Count() == 3 && twoNumbers(1)) {
                GrowMainWindow(Params.AsInteger(1), Params.AsInteger(2));
                RefitView();
            }
        } else if (Playback) {
            Playback->ReportError("Cannot open the file.");
        }
    } else if (Command == "ZOOMIN") {
        ZoomInClick(this);
    } else if (Command == "ZOOMOUT") {
        ZoomOutClick(this);
    } else if (Command == "ACTUALSIZE") {
        ActualSizeClick(this);
    } else if (Command == "BESTFIT") {
        BestFitClick(this);
    } else if (Command == "SETMINVIEWSIZE") {
        if (Params.Count() == 2 && twoNumbers(0)) {
            GrowMainWindow(Params.AsInteger(0), Params.AsInteger(1));
            RefitView();
        }
    } else if (Command == "SETMINWINDOWSIZE") {
        if (Params.Count() == 2 && twoNumbers(0)) SetMinWindowSize(Params.AsInteger(0), Params.AsInteger(1));
    } else {
        TQelEditor::ExecuteCommand(Playback, Command, Params, Action, Handled);
    }
}

void TQelGraphicsEditor::GetCommandPoint(TQelDemoPlayback* Playback, const TQelDemoScriptParams& Params,
                                         QPoint& Point, bool& Handled) {
    const QByteArray name = QByteArray::fromStdString(Params.AsText(0)).toUpper();
    QAction* button = nullptr;
    if (name == "OPEN" || name == "OPENBUTTON")
        button = OpenToolButton;
    else if (name == "ZOOMIN")
        button = ZoomInButton;
    else if (name == "ZOOMOUT")
        button = ZoomOutButton;
    else if (name == "ACTUALSIZE")
        button = ActualSizeButton;
    else if (name == "BESTFIT")
        button = ScaleToBestFitButton;
    if (button) {
        GetToolbarItemCenter(button, Point);
        Handled = true;
        return;
    }
    if (name == "IMAGE") {
        TQelGraphicsView* view = GetActiveView();
        if (!view) return;
        const TQelPoint p = view->MapMode().LogicalToDevice(TQelPoint{Params.AsInteger(1), Params.AsInteger(2)});
        Point = view->viewport()->mapToGlobal(QPoint(p.X, p.Y));
        Handled = true;
        return;
    }
    TQelEditor::GetCommandPoint(Playback, Params, Point, Handled);
}
