// The image document, the view that shows it zoomed, and the hooks through
// which both reach the tools and the editor's status bar.
#pragma once

#include <QPoint>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

#include "Jolvex.h"
#include "QelBitmap.h"
#include "QelClasses.h"
#include "QelEditor.h"
#include "QelGeometry.h"
#include "QelImageCodec.h"
#include "QelImageMetadata.h"
#include "QelInput.h"
#include "QelLTBitmap.h"
#include "QelModule.h"
#include "QelNumeric.h"
#include "QelView.h"
#include "QelViewControls.h"

class TQelGraphicsDocument;
class TQelGraphicsView;

// --- Tool hooks --------------------------------------------------------------

// What the document and the view call on an image tool. Every tool module
// derives from this; the defaults do nothing.
class TQelGraphicsTool : public TQelModuleWithControls {
    Q_OBJECT
public:
    TQelGraphicsTool();
    ~TQelGraphicsTool() override;

    // Ends the tool's running modification when another one begins.
    virtual void FinishModification() {}
    virtual void DocumentOpened(TQelGraphicsDocument*) {}
    // The document is about to close: drop every reference to it.
    virtual void DocumentClosing(TQelGraphicsDocument*) {}
    virtual void DocumentSaving(TQelGraphicsDocument*) {}
    // The state that the history's Undo (Redo) is about to run.
    virtual void BeforeUndo(TQelCommandState*) {}
    virtual void BeforeRedo(TQelCommandState*) {}
    // The state that a further Undo (Redo) would run.
    virtual void AfterUndo(TQelCommandState*) {}
    virtual void AfterRedo(TQelCommandState*) {}
    virtual void ImageChanged(TQelGraphicsDocument*, TQelGraphicsTool*, const TQelRect&) {}
};

// A tool's object on one view. Points are client coordinates; the result
// of the input operations says whether the control used the event.
class TQelGraphicsToolControl : public TQelViewObject {
public:
    virtual bool GetCursor(TShiftState, const TQelPoint&, int16_t&) { return false; }
    virtual void MouseEnter() {}
    virtual void MouseLeave() {}
    virtual bool MouseDown(TMouseButton, TShiftState, const TQelPoint&) { return false; }
    virtual bool MouseMove(TShiftState, const TQelPoint&) { return false; }
    virtual bool MouseUp(TMouseButton, TShiftState, const TQelPoint&) { return false; }
    // Delta is +1 or -1.
    virtual bool MouseWheel(TShiftState, int32_t, const TQelPoint&) { return false; }
    virtual bool KeyDown(uint16_t&, TShiftState) { return false; }
    virtual bool KeyUp(uint16_t&, TShiftState) { return false; }
};

// The editor's status-bar values the document and its views keep current.
enum class TQelGraphicsStatusPanel : int32_t { X, Y, W, H, R, G, B };

// Implemented by the editor that shows graphics documents.
class IQelGraphicsStatus {
public:
    virtual void SetStatusText(TQelGraphicsStatusPanel Panel, const QString& Text) = 0;

protected:
    ~IQelGraphicsStatus() = default;
};

// --- Metadata ----------------------------------------------------------------

// The property items of an image file in file order (id, type, length and
// bytes), and its resolution in dots per inch.
class TQelGraphicsDocumentProperties : public TQelCustomProperties {
public:
    // Clears the bag, then takes the items of the file open in Image, in
    // order (none when it has none or they cannot be read), and its
    // resolution: the file format's own, else the items', else 96.
    void ReadFromImage(const TQelImageDecoder& Image);
    // Every stored item, in order, for the encoder that writes the file.
    void WriteToImage(TQelPropertyItems& Items) const;
    // Drops the thumbnail items (ids 20498..20505 and 20507..20539).
    void RemoveThumbnailTags();
    // Appends an item; an id already present is kept as well.
    void AddItem(uint32_t Id, uint16_t Type, const void* Data, uint32_t Size);

    int32_t HorizontalResolution = 0;
    int32_t VerticalResolution = 0;
};

// --- Document ------------------------------------------------------------------

// The image document: current and original image, the backup of the running
// modification, the selection, the lossless JPEG session and the metadata.
// Outside a running modification Backup holds the pixels of Image.
class TQelGraphicsDocument : public TQelDocument {
public:
    explicit TQelGraphicsDocument(TQelEditor* Editor);
    ~TQelGraphicsDocument() override;

    void CreateView(TQelViewControl*& View) override;
    void AfterOpen() override;
    void BeforeSave() override;
    void BeforeClose() override;

    // The view when it exists; nothing is created.
    TQelGraphicsView* FindGraphicsView() const;

    // Running modification. A new one ends the running one first, through
    // that tool's FinishModification.
    void BeginModification(TQelGraphicsTool* Tool);
    // Only a Caller that is this document runs the tool's
    // FinishModification; ModifyingTool stays set either way.
    void EndModification(const void* Caller);
    void ResetModification();
    void AddModifiedRect(const TQelRect& Rect);
    // Repaints the view over Rect (image coordinates), one pixel wider.
    void InvalidateImageRect(const TQelRect& Rect);
    void SyncBackup();

    TQelPixels* GetPixels() const { return Image.GetPixels(); }
    TQelPixels* GetOriginalPixels() const { return OriginalImage.GetPixels(); }

    // The selection, else the whole image.
    TQelRect GetWorkRect() const;
    bool HasSelection() const { return !SelectionRect.IsEmpty(); }
    void ClearSelection() { SelectionRect = TQelRect(); }
    // Clipped to the image; covering the whole image means no selection.
    void SetSelectionRect(const TQelRect& Rect);
    // The view's extent after a size change, and the size panels.
    void RefreshView();

    // Image takes Pixels (and OriginalImage OriginalPixels when given).
    void AssignImage(const TQelPixels& Pixels, const TQelPixels* OriginalPixels);
    void CopyImageTo(TQelPixelBuffer& Pixels, TQelPixelBuffer* OriginalPixels) const;
    // The image fitted into MaxSize x MaxSize; an empty bitmap for an empty
    // image or a MaxSize below 1.
    std::unique_ptr<TQelLTBitmap> CreatePreviewBitmap(int32_t MaxSize) const;

    // Geometry: image, original, backup, selection and session in step.
    // Each raises EQelOutOfMemory when the new rows cannot be had.
    void RotateLeft();
    void RotateRight();
    void FlipHorizontal();
    void FlipVertical();
    // Nothing happens when Rect misses the image.
    void Crop(const TQelRect& Rect);
    // A width or height below 1, or an empty image, changes nothing.
    void Resize(int32_t Width, int32_t Height, bool ScaleSelection, bool ResizeOriginal);

    // Broadcasts to the tool modules, in component order.
    void NotifyBeforeUndo();
    void NotifyAfterUndo();
    void NotifyBeforeRedo();
    void NotifyAfterRedo();
    void NotifyImageChanged(TQelGraphicsTool* Tool, const TQelRect& Rect);

    TQelRect SelectionRect;
    std::shared_ptr<IJLVX> JpegSession;
    TQelRect ModifiedRect;
    bool Modifying = false;
    TQelGraphicsTool* ModifyingTool = nullptr;
    TQelLTBitmap Image;
    TQelLTBitmap OriginalImage;
    TQelPixelBuffer Backup;
    TQelGraphicsDocumentProperties Properties;

protected:
    bool ModificationRunning() const override { return Modifying; }

private:
    bool SessionOpen() const { return JpegSession && JpegSession->IsOpen(); }
    // After a geometry change: backup, view and panels.
    void Resync();
};

// --- View ----------------------------------------------------------------------

// The zoom steps, smallest first.
struct TQelZoomStep {
    int32_t Numerator;
    int32_t Denominator;
};
constexpr int32_t QelZoomStepCount = 21;
extern const TQelZoomStep QelZoomSteps[QelZoomStepCount];

// The view object that paints the document's current image.
class TQelGraphicDocumentView : public TQelViewObject {
public:
    explicit TQelGraphicDocumentView(TQelGraphicsDocument* Document) : FDocument(Document) {}

    void Create() override;
    void Reset() override;
    // Bounds := the image's, after its size changed.
    void UpdateBounds();
    // Paints the document's work rectangle only.
    void PaintBody(TQelViewCanvas& Canvas) override;

private:
    TQelGraphicsDocument* FDocument;
};

// Shows one graphics document, scrolled and zoomed, and hands mouse, wheel,
// key and cursor input to the tool controls from the topmost down until one
// uses it. The document owns the view.
class TQelGraphicsView : public TQelScrollViewControl, public IQelDocumentListener {
    Q_OBJECT
public:
    explicit TQelGraphicsView(TQelGraphicsDocument* Document, QWidget* Parent = nullptr);
    ~TQelGraphicsView() override;

    void Create() override;

    void DocumentLoaded(TQelDocument* Document) override;
    void DocumentClosed(TQelDocument* Document) override;

    // Scale Numerator/Denominator, keeping the image point at the client
    // centre. A numerator or denominator below 1 changes nothing.
    void Zoom(int32_t Numerator, int32_t Denominator);
    // -1, 0 or +1 as Numerator/Denominator is below, at or above the
    // present scale, compared in thousandths.
    int32_t CompareScale(int32_t Numerator, int32_t Denominator) const;
    void ZoomIn();
    void ZoomOut();
    void ActualSize();
    void BestFit();
    // Actual size when the image fits, else best fit. Like BestFit, it waits
    // for the first size when the view has none yet.
    void FitView();

    // The pixel under an image point; black outside the image.
    void GetPixelAt(const TQelPoint& ImagePoint, TQelRGBTriple& Triple) const;
    // A wheel turn at a screen point: one step, offered to the controls from
    // the topmost, else the default handling.
    bool DispatchWheel(TShiftState Shift, int32_t Delta, const QPoint& ScreenPoint);
    // Asks the controls for the cursor under the pointer and shows it.
    void UpdateCursor();
    // Takes the focus when the main window is the active one.
    void SetFocus();

    TQelGraphicsDocument* Document() const { return FDocument; }

    TQelGraphicDocumentView* DocumentObject = nullptr;
    bool ButtonDown = false;
    TQelPoint LastPoint;
    bool MouseInside = false;

protected:
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void KeyDown(uint16_t& Key, TShiftState Shift) override;
    void KeyUp(uint16_t& Key, TShiftState Shift) override;
    bool MouseWheel(TShiftState Shift, int32_t WheelDelta, const TQelPoint& MousePos) override;
    void MouseEnter() override;
    void MouseLeave() override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    enum class TPendingFit { None, Fit, Best };

    void MouseEntered();
    void MouseLeft();
    // False when the view was freed while a control ran.
    template <class F>
    bool WalkControls(F&& Call);
    void ShowCursorAt(const TQelPoint& Point, TShiftState Shift);
    void ShowPointer(const TQelPoint& ClientPoint);
    TQelDemoPlayback* ActiveRecorder() const;
    void RecordPoint(TQelDemoPlayback* Recorder, const char* Text, const TQelPoint& P);
    // False, with the fit remembered, while the view or the image has no size.
    bool FitSizes(int32_t& W, int32_t& H, int32_t& ImageW, int32_t& ImageH, TPendingFit Fit);

    TQelGraphicsDocument* FDocument;
    TPendingFit FPendingFit = TPendingFit::None;
    int32_t FCursorId = -32768;
};
