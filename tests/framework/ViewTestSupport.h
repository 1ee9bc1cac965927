// Shared by the view and bitmap tests and the view paint benchmark.
#pragma once

#include "QelLTBitmap.h"
#include "QelView.h"

// Pixel (x, y) becomes B = x, G = y (mod 256) and R = Tag, so a shown colour
// tells which pixel was painted.
inline void FillCoordinates(TQelLTBitmap& b, uint8_t tag = 200) {
    TQelPixels* p = b.GetPixels();
    for (int32_t y = 0; y < p->Height; ++y)
        for (int32_t x = 0; x < p->Width; ++x) {
            uint8_t* px = p->PixelAddress(x, y);
            px[0] = uint8_t(x);
            px[1] = uint8_t(y);
            px[2] = tag;
        }
}

// The image as a document view shows it: drawn through the map mode, its
// device rectangle excluded afterwards.
class TImageObject : public TQelViewObject {
public:
    explicit TImageObject(TQelLTBitmap* bitmap) : FBitmap(bitmap) { Bounds = bitmap->GetBoundsRect(); }
    void Reset() override { Flags = 1 + 2 + 8; }
    void PaintBody(TQelViewCanvas& c) override {
        TQelRect r;
        GetBodyBounds(c.MapMode, r);
        FBitmap->Draw(c.Canvas, r, Bounds, c.GetClipBox());
        c.ExcludeClipRect(r);
    }

private:
    TQelLTBitmap* FBitmap;
};
