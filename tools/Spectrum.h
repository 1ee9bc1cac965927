// The detail layer the make-up tools share: every pixel of an image split
// into the mean of the 18 x 18 box around it and the detail, pixel minus
// that mean. A stroke paints the colour over the mean and adds the detail
// back, so pores and highlights survive the make-up.
//
// The box of pixel (x, y) covers columns x - 8 .. x + 9 and rows
// y - 8 .. y + 9, clipped to the image. The mean is two running sums, down
// the columns and then along each row; every row restarts its sum at the
// left edge, so a row's result does not depend on which thread computed it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "QelBitmap.h"
#include "QelGeometry.h"
#include "QelLargeMemory.h"

class TQelDetailLayer {
public:
    // Rows done so far and all rows; called on the building thread only.
    using TProgress = std::function<void(int32_t Done, int32_t Total)>;

    TQelDetailLayer() = default;
    TQelDetailLayer(const TQelDetailLayer&) = delete;
    TQelDetailLayer& operator=(const TQelDetailLayer&) = delete;

    // Builds the layer of Pixels (24 or 32 bits per pixel, read as B, G, R)
    // over Threads threads (0: as many as the machine has). An image
    // without pixels leaves the layer empty. Raises EQelOutOfMemory when the
    // layer cannot be held; the layer is then empty, never half made.
    void Build(const TQelPixels& Pixels, int32_t Threads = 0, const TProgress& Progress = nullptr);
    // The pixels of Changed changed since the layer was built: only the
    // rows whose window reaches them are computed again, from the window's
    // width left of Changed to the right edge, with the same result as a
    // whole build. A layer of another size is built whole.
    void Rebuild(const TQelPixels& Pixels, const TQelRect& Changed, int32_t Threads = 0,
                 const TProgress& Progress = nullptr);
    void Free();

    bool IsEmpty() const { return !FDetail; }
    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    // Whether the layer was built for an image of Pixels' size.
    bool Fits(const TQelPixels& Pixels) const;
    // Row Y: B, G, R of each pixel in turn. No range check.
    const float* Row(int32_t Y) const { return FDetail.get() + ptrdiff_t(Y) * FWidth * 3; }

    // A build needing more bytes for the layer fails as out of memory.
    uint64_t MemoryLimit = UINT64_MAX;
    // Completed builds, for tests.
    int32_t BuildCount = 0;

private:
    // Rows Y0 .. Y1 - 1, columns X0 on, into the allocated layer.
    void Compute(const TQelPixels& Pixels, int32_t Y0, int32_t Y1, int32_t X0, int32_t Threads,
                 const TProgress& Progress);

    // 288 MB for a 24-megapixel photo: on huge pages, or its first touch
    // costs more than the build.
    std::unique_ptr<float[], TQelLargeDeleter> FDetail;
    int32_t FWidth = 0;
    int32_t FHeight = 0;
};

class TQelGraphicsDocument;

// The layer of the make-up tools, with its state. The layer is kept across
// make-up strokes and their undo and redo; every other change of the image
// marks it stale. It goes with the document it was built for.
struct TQelSpectrum {
    // Every change of the image since the last build, make-up strokes too,
    // so that the next build need compute only the rows they reach.
    void NoteChange(const TQelRect& Rect);
    // A change that moved pixels (an opened image, a flip or a turn).
    void NoteWholeChange();
    // The layer was built for the image as it is now.
    void ClearChanges();
    // The layer's memory given back; the next use builds it whole.
    void Free();

    TQelDetailLayer Layer;
    // The layer must be built again before it is used.
    bool Stale = false;
    bool WholeChanged = true;
    // What the changes since the last build cover; empty when none.
    TQelRect Dirty;
    // A failed build was reported; the same failure is not reported again
    // until a build succeeds or the image changes.
    bool FailureReported = false;
    // Whose image the layer was built from; only compared, never followed.
    const TQelGraphicsDocument* Document = nullptr;
};

extern TQelSpectrum Spectrum;

// Builds Spectrum's layer from Pixels, driving the progress meter, and
// clears the stale flag. Failures as TQelDetailLayer::Build.
void BuildDetailLayer(const TQelPixels& Pixels);
