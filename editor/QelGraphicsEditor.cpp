#include "QelGraphicsEditor.h"

#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QLayout>
#include <QPointer>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "QelCursors.h"
#include "QelDemoPlayback.h"
#include "QelError.h"
#include "QelForms.h"
#include "QelQtGeometry.h"

// The metadata library still hands out std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

namespace {

// --- Metadata helpers --------------------------------------------------------

// Flat ids under which the thumbnail items are known; 20506 is not one of
// them.
bool IsThumbnailId(uint32_t Id) { return (Id >= 20498 && Id <= 20505) || (Id >= 20507 && Id <= 20539); }

constexpr const char* ThumbnailKeyPrefix = "Exif.Thumbnail.";

std::string FilePath(const QString& FileName) { return std::string(QFile::encodeName(FileName).constData()); }

}  // namespace

// --- TQelGraphicsDocumentProperties --------------------------------------------

void TQelGraphicsDocumentProperties::AddItem(uint32_t Id, uint16_t Type, const void* Data, uint32_t Size,
                                             const std::string& Key) {
    // Appended, never merged: the same id may occur in several directories.
    TQelPropertyValue value;
    value.Id = Id;
    value.DataType = Type;
    value.Size = Size;
    try {
        value.Data.resize(Size);
        FKeys.reserve(FItems.size() + 1);
        FItems.reserve(FItems.size() + 1);
    } catch (const std::bad_alloc&) {
        throw EQelOutOfMemory("Not enough memory for a metadata item of " + std::to_string(Size) + " bytes");
    }
    if (Data && Size) std::memcpy(value.Data.data(), Data, Size);
    FItems.push_back(std::move(value));
    FKeys.push_back(Key);
}

void TQelGraphicsDocumentProperties::Clear() {
    TQelCustomProperties::Clear();
    FKeys.clear();
}

std::string TQelGraphicsDocumentProperties::Key(int Index) const {
    if (Index < 0 || size_t(Index) >= FKeys.size() || Index >= Count()) return std::string();
    return FKeys[size_t(Index)];
}

void TQelGraphicsDocumentProperties::ReadFromImage(const QString& FileName, const QImage& Image) {
    Clear();
    try {
        Exiv2::Image::AutoPtr file = Exiv2::ImageFactory::open(FilePath(FileName));
        if (file.get()) {
            file->readMetadata();
            std::vector<uint8_t> bytes;
            for (const Exiv2::Exifdatum& item : file->exifData()) {
                const long size = item.size();
                const long type = long(item.typeId());
                // Only the file's own types fit the 16-bit type field.
                if (size < 0 || type <= 0 || type > 0xFFFF) continue;
                bytes.assign(size_t(size), 0);
                if (size > 0) item.copy(bytes.data(), Exiv2::littleEndian);
                AddItem(item.tag(), uint16_t(type), bytes.data(), uint32_t(size), item.key());
            }
        }
    } catch (const EQelOutOfMemory&) {
        Clear();
        throw;
    } catch (const std::exception&) {
        // A file without readable metadata has no items.
        Clear();
    }
    HorizontalResolution = QelRoundEven(Image.dotsPerMeterX() * 0.0254);
    VerticalResolution = QelRoundEven(Image.dotsPerMeterY() * 0.0254);
}

bool TQelGraphicsDocumentProperties::WriteToImage(const QString& FileName) const {
    try {
        Exiv2::Image::AutoPtr file = Exiv2::ImageFactory::open(FilePath(FileName));
        if (!file.get()) return false;
        file->readMetadata();
        Exiv2::ExifData exif;
        static const uint8_t none = 0;
        for (int i = 0; i < Count(); ++i) {
            const TQelPropertyValue& item = FItems[size_t(i)];
            const std::string key = Key(i);
            if (key.empty() && item.Id > 0xFFFF) continue;
            // One item the library cannot place is left out, not the rest.
            try {
                const Exiv2::ExifKey exifKey = key.empty() ? Exiv2::ExifKey(uint16_t(item.Id), "Image") : Exiv2::ExifKey(key);
                Exiv2::Value::AutoPtr value = Exiv2::Value::create(Exiv2::TypeId(item.DataType));
                const uint8_t* data = item.Data.empty() ? &none : item.Data.data();
                if (value->read(data, long(item.Size), Exiv2::littleEndian) != 0) continue;
                exif.add(exifKey, value.get());
            } catch (const Exiv2::AnyError&) {
                continue;
            }
        }
        file->setExifData(exif);
        file->writeMetadata();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TQelGraphicsDocumentProperties::RemoveThumbnailTags() {
    for (int i = Count() - 1; i >= 0; --i) {
        const std::string key = Key(i);
        if (key.rfind(ThumbnailKeyPrefix, 0) != 0 && !IsThumbnailId(FItems[size_t(i)].Id)) continue;
        FreeValue(FItems[size_t(i)]);
        FItems.erase(FItems.begin() + i);
        if (size_t(i) < FKeys.size()) FKeys.erase(FKeys.begin() + i);
    }
}

#pragma GCC diagnostic pop

namespace {

// --- Document helpers --------------------------------------------------------

[[noreturn]] void NoMemory(const char* What) {
    throw EQelOutOfMemory(std::string("Not enough memory to ") + What + " the image");
}

// Every tool module, in component order.
template <class F>
void ForEachTool(F&& Call) {
    TQelApplication* app = TQelApplication::Instance();
    if (!app) return;
    for (int i = 0; i < app->ComponentCount(); ++i)
        if (auto* tool = qobject_cast<TQelGraphicsTool*>(app->Components(i))) Call(tool);
}

IQelGraphicsStatus* StatusOf(const TQelDocument* Document) {
    return Document ? dynamic_cast<IQelGraphicsStatus*>(Document->Editor()) : nullptr;
}

int32_t CeilToInt(double v) { return QelTrunc(std::ceil(v)); }
int32_t FloorToInt(double v) { return QelTrunc(std::floor(v)); }

}  // namespace

// --- TQelGraphicsTool ------------------------------------------------------------

TQelGraphicsTool::TQelGraphicsTool() : TQelModuleWithControls() {}

TQelGraphicsTool::~TQelGraphicsTool() = default;

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
    if (!Image.RotateLeft()) NoMemory("rotate");
    if (!OriginalImage.IsEmpty() && !OriginalImage.RotateLeft()) {
        Image.RotateRight();
        NoMemory("rotate");
    }
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
    if (!Image.RotateRight()) NoMemory("rotate");
    if (!OriginalImage.IsEmpty() && !OriginalImage.RotateRight()) {
        Image.RotateLeft();
        NoMemory("rotate");
    }
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
    if (!Image.FlipHorizontal()) NoMemory("flip");
    if (!OriginalImage.IsEmpty() && !OriginalImage.FlipHorizontal()) {
        Image.FlipHorizontal();
        NoMemory("flip");
    }
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
    if (!Image.FlipVertical()) NoMemory("flip");
    if (!OriginalImage.IsEmpty() && !OriginalImage.FlipVertical()) {
        Image.FlipVertical();
        NoMemory("flip");
    }
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
    if (width() < 1 || height() < 1) {
        // Before the first show the layouts may not have run yet.
        std::vector<QLayout*> layouts;
        for (QWidget* w = parentWidget(); w; w = w->parentWidget())
            if (w->layout()) layouts.push_back(w->layout());
        for (auto it = layouts.rbegin(); it != layouts.rend(); ++it) (*it)->activate();
    }
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
