// What the stroke benchmarks share: a document with a patterned image in a
// shown view at 1:1, with no file formats behind it, and mouse events sent
// to the view as a user's would arrive.
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

#include "QelForms.h"
#include "QelGraphicsEditor.h"

class TQelBenchFormats : public TQelDocumentFormats {
public:
    int32_t Count() const override { return 0; }
    const TQelFileFormatInfo* Items(int32_t) const override { return nullptr; }
    bool Load(TQelDocument&, const QString&, int32_t&) override { return false; }
    bool Save(TQelDocument&, const QString&, int32_t) override { return false; }
    bool CanSave(int32_t) override { return false; }
};

class TQelBenchEditor : public TQelEditor {
public:
    TQelDocumentFormats* GetFormats() override { return &Formats; }
    std::unique_ptr<TQelDocument> CreateDocument() override { return std::make_unique<TQelGraphicsDocument>(this); }
    TQelBenchFormats Formats;
};

class TQelBenchToolScene {
public:
    // B, G, R of pixel (x, y).
    using TPattern = std::function<void(int32_t x, int32_t y, uint8_t* Pixel)>;

    // False when the image cannot be held.
    bool MakeDocument(int32_t w, int32_t h, const TPattern& Pattern, int ViewWidth = 800, int ViewHeight = 600) {
        Document = std::make_unique<TQelGraphicsDocument>(&Editor);
        if (!Document->Image.SetSize(w, h, QelFormatBGR24)) return false;
        TQelPixels* p = Document->GetPixels();
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* row = p->PixelAddress(0, y);
            for (int32_t x = 0; x < w; ++x) Pattern(x, y, row + 3 * x);
        }
        Document->SyncBackup();
        View = qobject_cast<TQelGraphicsView*>(Document->GetView());
        View->setParent(&Host);
        View->setGeometry(0, 0, ViewWidth, ViewHeight);
        View->DocumentObject->UpdateBounds();
        View->DocumentObject->SetVisible(true);
        Host.resize(ViewWidth, ViewHeight);
        Host.show();
        View->show();
        QApplication::processEvents();
        View->ActualSize();
        return true;
    }

    void Mouse(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QWidget* client = View->viewport();
        QMouseEvent e(type, QPointF(pos), client->mapToGlobal(QPointF(pos)), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(client, &e);
    }

    QWidget Host;
    TQelBenchEditor Editor;
    std::unique_ptr<TQelGraphicsDocument> Document;
    TQelGraphicsView* View = nullptr;
};
