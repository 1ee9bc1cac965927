#include "QelGraphicsDocument.h"


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

#include "QelGraphicsTool.h"
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
    case TQelImageFileType::Jpeg: {
        // The segments before the scan; JFIF density in APP0.
        bool stated = false;
        QelForEachJpegSegment(d, n, [&](uint8_t marker, int64_t body, int64_t bodySize) {
            if (marker != 0xE0 || bodySize < 14 || std::memcmp(d + body, "JFIF", 5) != 0) return true;
            const uint8_t units = d[body + 7];
            const double x = BigEndian16(d + body + 8), y = BigEndian16(d + body + 10);
            if ((units != 1 && units != 2) || x == 0 || y == 0) return false;
            X = units == 1 ? x : x * 2.54;
            Y = units == 1 ? y : y * 2.54;
            stated = true;
            return false;
        });
        return stated;
    }
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
    Xmp.clear();
    Iptc.clear();
    Texts.clear();
    FTurn[0] = FTurn[3] = 1;
    FTurn[1] = FTurn[2] = 0;
    TQelImageMetadata metadata;
    if (Image.ReadMetadata(metadata)) {
        for (const TQelPropertyItem& item : metadata.Items)
            AddItem(item.Id, item.Type, item.Value.constData(), uint32_t(item.Value.size()));
        Xmp = metadata.Xmp;
        Iptc = metadata.Iptc;
        Texts = metadata.Texts;
    }
    double x = 96, y = 96;
    if (!HeaderResolution(Image.FileType(), Image.Data(), x, y) && !ItemResolution(metadata.Items, x, y)) x = y = 96;
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

void TQelGraphicsDocumentProperties::WriteToImage(TQelImageMetadata& Metadata) const {
    WriteToImage(Metadata.Items);
    Metadata.Xmp = Xmp;
    Metadata.Iptc = Iptc;
    Metadata.Texts = Texts;
    Metadata.HorizontalResolution = HorizontalResolution;
    Metadata.VerticalResolution = VerticalResolution;
    if (Turned()) {
        // Viewers are to show the pixels as the program shows them.
        QelResetOrientationItem(Metadata.Items);
        QelResetXmpOrientation(Metadata.Xmp);
    }
}

void TQelGraphicsDocumentProperties::NoteTurn(int32_t A, int32_t B, int32_t C, int32_t D) {
    const int32_t t[4] = {FTurn[0], FTurn[1], FTurn[2], FTurn[3]};
    FTurn[0] = A * t[0] + B * t[2];
    FTurn[1] = A * t[1] + B * t[3];
    FTurn[2] = C * t[0] + D * t[2];
    FTurn[3] = C * t[1] + D * t[3];
    // A quarter turn: the rows are the old columns, so are their dots per inch.
    if (A == 0) std::swap(HorizontalResolution, VerticalResolution);
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
      Properties(),
      FChanges(),
      FChangesKnown(false) {
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
    QelForEachTool([this](TQelGraphicsTool* tool) { tool->DocumentOpened(this); });
}

void TQelGraphicsDocument::BeforeSave() {
    TQelDocument::BeforeSave();
    QelForEachTool([this](TQelGraphicsTool* tool) { tool->DocumentSaving(this); });
}

void TQelGraphicsDocument::BeforeClose() {
    TQelDocument::BeforeClose();
    QelForEachTool([this](TQelGraphicsTool* tool) { tool->DocumentClosing(this); });
}

void TQelGraphicsDocument::BeginModification(TQelGraphicsTool* Tool) {
    if (Modifying) EndModification(this);
    AddChange(ModifiedRect);
    ModifiedRect = TQelRect();
    ModifyingTool = Tool;
    Modifying = true;
}

void TQelGraphicsDocument::EndModification(const void* Caller) {
    Modifying = false;
    if (Caller == static_cast<const void*>(this) && ModifyingTool) ModifyingTool->FinishModification();
    // Ended without a state, its pixels may still have changed.
    AddChange(ModifiedRect);
    ModifiedRect = TQelRect();
}

void TQelGraphicsDocument::ResetModification() {
    Modifying = false;
    ModifyingTool = nullptr;
    AddChange(ModifiedRect);
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
    if (!Backup.AssignCopy(*pixels)) NoMemory("back up");
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
    if (IQelGraphicsStatus* status = QelGraphicsStatusOf(this)) {
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
    ResetChanges(false);
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
    MapChanges([w](const TQelRect& s) { return TQelRect(s.Top, w - s.Right, s.Bottom, w - s.Left); });
    Properties.NoteTurn(0, 1, -1, 0);
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
    MapChanges([h](const TQelRect& s) { return TQelRect(h - s.Bottom, s.Left, h - s.Top, s.Right); });
    Properties.NoteTurn(0, -1, 1, 0);
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
    MapChanges([w](const TQelRect& s) { return TQelRect(w - s.Right, s.Top, w - s.Left, s.Bottom); });
    Properties.NoteTurn(-1, 0, 0, 1);
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
    MapChanges([h](const TQelRect& s) { return TQelRect(s.Left, h - s.Bottom, s.Right, h - s.Top); });
    Properties.NoteTurn(1, 0, 0, -1);
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
        // Off the grid the session's pixels lie shifted against the image's,
        // and no rectangle says where they still agree.
        if (x0 != r.Left || y0 != r.Top) ResetChanges(false);
    }
    const TQelRect bounds(0, 0, r.Width(), r.Height());
    MapChanges([&r, &bounds](const TQelRect& s) {
        TQelRect moved;
        QelIntersectRect(moved, TQelRect(s.Left - r.Left, s.Top - r.Top, s.Right - r.Left, s.Bottom - r.Top), bounds);
        return moved;
    });
    Resync();
    if (originalFailed) NoMemory("crop");
}

void TQelGraphicsDocument::Resize(int32_t Width, int32_t Height, bool ScaleSelection, bool ResizeOriginal) {
    // Checked before anything changes, so a bad size leaves the document whole.
    if (Width < 1 || Height < 1 || Image.IsEmpty()) return;
    const int32_t w = Image.GetWidth();
    const int32_t h = Image.GetHeight();
    // Both new images first: a failure of either leaves the document, its
    // selection and its session as they were.
    TQelLTBitmap image;
    if (!Image.ResizeInto(Width, Height, image)) NoMemory("resize");
    TQelLTBitmap original;
    const bool resizeOriginal = ResizeOriginal && !OriginalImage.IsEmpty();
    if (resizeOriginal) {
        int32_t ow = Width, oh = Height;
        if (OriginalImage.GetWidth() != w || OriginalImage.GetHeight() != h) {
            ow = std::max(1, QelRoundEven(double(OriginalImage.GetWidth()) * Width / w));
            oh = std::max(1, QelRoundEven(double(OriginalImage.GetHeight()) * Height / h));
        }
        if (!OriginalImage.ResizeInto(ow, oh, original)) NoMemory("resize");
    }
    TQelPixelBuffer backup;
    backup.Allocate(QelFormatBGR24, image.GetBoundsRect());
    if (!backup.Bits) NoMemory("back up");
    backup.CopyFrom(*image.GetPixels());
    Image.Swap(image);
    if (resizeOriginal) OriginalImage.Swap(original);
    if (ScaleSelection && HasSelection()) {
        TQelRect& s = SelectionRect;
        const double sx = double(Width) / w, sy = double(Height) / h;
        s = TQelRect(CeilToInt(s.Left * sx), CeilToInt(s.Top * sy), FloorToInt(s.Right * sx),
                     FloorToInt(s.Bottom * sy));
    }
    Backup = std::move(backup);
    ResetChanges(false);
    if (SessionOpen()) JpegSession->SetRegion(0, 0, Width, Height);
    RefreshView();
}

void TQelGraphicsDocument::NotifyBeforeUndo() {
    TQelCommandState* state = History.NextUndo();
    QelForEachTool([state](TQelGraphicsTool* tool) { tool->BeforeUndo(state); });
}

void TQelGraphicsDocument::NotifyAfterUndo() {
    TQelCommandState* state = History.NextUndo();
    QelForEachTool([state](TQelGraphicsTool* tool) { tool->AfterUndo(state); });
}

void TQelGraphicsDocument::NotifyBeforeRedo() {
    TQelCommandState* state = History.NextRedo();
    QelForEachTool([state](TQelGraphicsTool* tool) { tool->BeforeRedo(state); });
}

void TQelGraphicsDocument::NotifyAfterRedo() {
    TQelCommandState* state = History.NextRedo();
    QelForEachTool([state](TQelGraphicsTool* tool) { tool->AfterRedo(state); });
}

bool TQelGraphicsDocument::GetChangedRects(std::vector<TQelRect>& Rects) const {
    Rects.clear();
    if (!FChangesKnown) return false;
    Rects = FChanges;
    if (!ModifiedRect.IsEmpty()) Rects.push_back(ModifiedRect);
    return true;
}

void TQelGraphicsDocument::ResetChanges(bool Known) {
    FChanges.clear();
    FChangesKnown = Known;
}

void TQelGraphicsDocument::AddChange(const TQelRect& Rect) {
    if (!FChangesKnown || Rect.IsEmpty()) return;
    for (const TQelRect& known : FChanges) {
        TQelRect both;
        if (QelUnionRect(both, known, Rect) && both == known) return;
    }
    FChanges.push_back(Rect);
    // A long history is kept as the one rectangle around it.
    constexpr size_t MaxChanges = 256;
    if (FChanges.size() > MaxChanges) {
        TQelRect all;
        for (const TQelRect& r : FChanges) QelUnionRect(all, all, r);
        FChanges.assign(1, all);
    }
}

void TQelGraphicsDocument::MapChanges(const std::function<TQelRect(const TQelRect&)>& Map) {
    std::vector<TQelRect> mapped;
    mapped.reserve(FChanges.size());
    for (const TQelRect& r : FChanges) {
        const TQelRect m = Map(r);
        if (!m.IsEmpty()) mapped.push_back(m);
    }
    FChanges = std::move(mapped);
}

void TQelGraphicsDocument::NotifyImageChanged(TQelGraphicsTool* Tool, const TQelRect& Rect) {
    AddChange(Rect);
    QelForEachTool([this, Tool, &Rect](TQelGraphicsTool* tool) { tool->ImageChanged(this, Tool, Rect); });
}

