// The image document: its current and original image, the backup of the
// running modification, selection, lossless JPEG session and metadata, and
// the hook through which it reaches the editor's status bar.
#pragma once

#include <QByteArray>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Jolvex.h"
#include "QelBitmap.h"
#include "QelClasses.h"
#include "QelEditor.h"
#include "QelGeometry.h"
#include "QelGraphicsFormats.h"
#include "QelImageCodec.h"
#include "QelImageMetadata.h"
#include "QelInput.h"
#include "QelLTBitmap.h"
#include "QelModule.h"
#include "QelNumeric.h"
#include "QelView.h"
#include "QelViewControls.h"

class TQelGraphicsDocument;
class TQelGraphicsTool;
class TQelGraphicsView;

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
// bytes; the colour profile among them as item 34675), its XMP packet, IPTC
// records and texts, and its resolution in dots per inch. It also follows how the
// pixels were turned since the file was read, so that a save tells viewers
// the orientation of the pixels it writes.
class TQelGraphicsDocumentProperties : public TQelCustomProperties {
public:
    // Clears the bag, then takes the items of the file open in Image, in
    // order (none when it has none or they cannot be read), its XMP and
    // IPTC and texts, and its resolution: the file format's own, else the
    // items', else 96. The pixels count as not turned.
    void ReadFromImage(const TQelImageDecoder& Image);
    // Every stored item, in order, for the encoder that writes the file.
    void WriteToImage(TQelPropertyItems& Items) const;
    // The items as above, XMP, IPTC, texts and resolution; when the pixels were
    // turned or flipped, the orientation they state is 1 (as stored).
    void WriteToImage(TQelImageMetadata& Metadata) const;
    // Drops the thumbnail items (ids 20498..20505 and 20507..20539).
    void RemoveThumbnailTags();
    // Appends an item; an id already present is kept as well.
    void AddItem(uint32_t Id, uint16_t Type, const void* Data, uint32_t Size);

    // The pixels were turned by the map (x, y) -> (A*x + B*y, C*x + D*y),
    // one of the eight turns and flips of a rectangle.
    void NoteTurn(int32_t A, int32_t B, int32_t C, int32_t D);
    // Whether the turns since the file was read add up to anything.
    bool Turned() const { return !(FTurn[0] == 1 && FTurn[1] == 0 && FTurn[2] == 0 && FTurn[3] == 1); }

    int32_t HorizontalResolution = 0;
    int32_t VerticalResolution = 0;
    QByteArray Xmp;
    QByteArray Iptc;
    TQelImageTexts Texts;

private:
    int32_t FTurn[4] = {1, 0, 0, 1};
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
    // A width or height below 1, or an empty image, changes nothing. All or
    // nothing: both images are resampled before either is replaced.
    void Resize(int32_t Width, int32_t Height, bool ScaleSelection, bool ResizeOriginal);

    // Where the image may differ from the file it was opened from, in the
    // image's coordinates (they follow every turn and crop): each rectangle
    // a change touched since, the running modification's included. False
    // when that is not known: the image did not come through the lossless
    // session, or it changed in a way no rectangle describes (replaced,
    // resampled, cropped off the session's block grid). The lossless save
    // compares only those parts with the file.
    bool GetChangedRects(std::vector<TQelRect>& Rects) const;
    // The image was just read from a file: nothing has changed, and Known
    // tells whether later changes are to be followed.
    void ResetChanges(bool Known);

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
    void AddChange(const TQelRect& Rect);
    void MapChanges(const std::function<TQelRect(const TQelRect&)>& Map);

    std::vector<TQelRect> FChanges;
    bool FChangesKnown;
    // After a geometry change: backup, view and panels.
    void Resync();
};

// The status bar of the editor that shows Document, if it has one.
inline IQelGraphicsStatus* QelGraphicsStatusOf(const TQelDocument* Document) {
    return Document ? dynamic_cast<IQelGraphicsStatus*>(Document->Editor()) : nullptr;
}
