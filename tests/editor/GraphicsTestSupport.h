// Shared by the graphics document and view tests.
#pragma once

#include <memory>

#include "QelGraphicsEditor.h"

// Pixel (x, y) = B x, G y, R Tag (mod 256): a moved pixel tells where it came from.
inline void FillPattern(TQelLTBitmap& b, int32_t w, int32_t h, uint8_t tag) {
    if (!b.SetSize(w, h, QelFormatBGR24)) return;
    TQelPixels* p = b.GetPixels();
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* px = p->PixelAddress(x, y);
            px[0] = uint8_t(x);
            px[1] = uint8_t(y);
            px[2] = tag;
        }
}

class TGraphicsStubFormats : public TQelDocumentFormats {
public:
    int32_t Count() const override { return 0; }
    const TQelFileFormatInfo* Items(int32_t) const override { return nullptr; }
    bool Load(TQelDocument&, const QString&, int32_t&) override { return true; }
    bool Save(TQelDocument&, const QString&, int32_t) override { return true; }
    bool CanSave(int32_t) override { return true; }
};

// An editor with the size and pointer panels, without a main window.
class TGraphicsStatusEditor : public TQelEditor, public IQelGraphicsStatus {
public:
    TQelDocumentFormats* GetFormats() override { return &Formats; }
    std::unique_ptr<TQelDocument> CreateDocument() override { return std::make_unique<TQelGraphicsDocument>(this); }
    void SetStatusText(TQelGraphicsStatusPanel panel, const QString& text) override { Panels[int(panel)] = text; }
    QString Panel(TQelGraphicsStatusPanel panel) const { return Panels[int(panel)]; }

    TGraphicsStubFormats Formats;
    QString Panels[7];
};
