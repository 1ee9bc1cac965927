// Shared by the tool framework tests: an editor that keeps the active tool,
// small tools built on the draw and brush framework, and a fixture with a
// document shown in a view.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "GraphicsTestSupport.h"
#include "QelDrawTools.h"
#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelMessageBox.h"
#include "SettingsBytes.h"

// A mouse event at Pos of Target's client area.
inline void SendMouse(QWidget* Target, QEvent::Type Type, QPoint Pos, Qt::MouseButton Button,
                      Qt::MouseButtons Buttons) {
    QMouseEvent e(Type, QPointF(Pos), Target->mapToGlobal(QPointF(Pos)), Button, Buttons, Qt::NoModifier);
    QApplication::sendEvent(Target, &e);
}

inline void SendKey(QWidget* Target, QEvent::Type Type, int Key, bool Repeat = false) {
    QKeyEvent e(Type, Key, Qt::NoModifier, QString(), Repeat);
    QApplication::sendEvent(Target, &e);
}

// The ids of the open node's elements, each checked to be a 32-bit integer.
inline std::vector<uint32_t> IntegerItemIds(const TQelSDFReader& Reader) {
    std::vector<uint32_t> ids;
    for (uint32_t e = Reader.CurrentItems().FirstElement; e != QelSDFNone; e = Reader.Element(e).Next) {
        ids.push_back(Reader.Element(e).Id);
        EXPECT_EQ(Reader.Element(e).DataType, 5u);
        EXPECT_EQ(Reader.Element(e).Length, 4u);
    }
    return ids;
}

// The status editor that also keeps the active tool and answers the save
// question with No.
class TToolHostEditor : public TGraphicsStatusEditor, public IQelGraphicsToolHost {
public:
    void SetActiveTool(TQelGraphicsTool* Tool) override {
        if (ActiveTool) ActiveTool->Deactivate();
        if (Tool) Tool->Activate();
        ActiveTool = Tool;
        ++ActiveToolCalls;
    }
    int AskSaveChanges(const QString&) override { return IDNO; }

    TQelGraphicsTool* ActiveTool = nullptr;
    int ActiveToolCalls = 0;
};

// Blends one colour over the unchanged image with the stroke's coverage, so
// the union of the footprints is painted once, however often they overlap.
class TTestBrushTool : public TQelBrushTool {
public:
    TTestBrushTool() {
        Name = "TestBrush";
        MaxSize = 100;
        Accumulate = true;
    }
    void PaintRect(const TQelRect& Rect) override {
        BlendColorMask(GetDrawMask(), *BackupPixels, Colour, Rect, *CurrentPixels);
        Painted.push_back(Rect);
    }

    uint32_t Colour = 0xFF0000;  // red: B | G << 8 | R << 16
    std::vector<TQelRect> Painted;
};

// Writes 255 - backup over each footprint.
class TInvertTool : public TQelDrawTool {
public:
    TInvertTool() {
        Name = "Invert";
        Size = 3;
        SetControlClass<TQelMaskDrawToolControl>();
    }
    void PaintRect(const TQelRect& Rect) override {
        for (int32_t y = Rect.Top; y < Rect.Bottom; ++y)
            for (int32_t x = Rect.Left; x < Rect.Right; ++x)
                for (int c = 0; c < 3; ++c)
                    CurrentPixels->PixelAddress(x, y)[c] = uint8_t(255 - BackupPixels->PixelAddress(x, y)[c]);
    }
};

// A w x h document of one colour (B, G, R = 10, 20, 30) in a shown view at
// actual size, with the editor as a component and tools added by the test.
class TToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        App.InsertComponent(&Editor);
        Open(20, 20);
    }
    void TearDown() override {
        Editor.Documents.clear();
        Tools.clear();
    }

    void Open(int32_t w, int32_t h, int vw = 200, int vh = 200) {
        auto document = std::make_unique<TQelGraphicsDocument>(&Editor);
        Doc = document.get();
        Doc->Image.SetSize(w, h, QelFormatBGR24);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) SetPixel(x, y, 10, 20, 30);
        Doc->SyncBackup();
        View = qobject_cast<TQelGraphicsView*>(Doc->GetView());
        View->setParent(&Host);
        View->setGeometry(0, 0, vw, vh);
        View->DocumentObject->UpdateBounds();
        View->DocumentObject->SetVisible(true);
        Host.resize(vw + 20, vh + 20);
        Host.show();
        View->show();
        QApplication::processEvents();
        View->ActualSize();
        Editor.Documents.push_back(std::move(document));
    }
    void SetPixel(int32_t x, int32_t y, uint8_t b, uint8_t g, uint8_t r) {
        uint8_t* p = Doc->GetPixels()->PixelAddress(x, y);
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }

    template <class T, class... Args>
    T* AddTool(Args&&... args) {
        T* tool = App.CreateComponent<T>(std::forward<Args>(args)...);
        Tools.emplace_back(tool);
        tool->CreateControl(View);
        return tool;
    }

    // The view point of an image point (its pixel's top-left).
    QPoint At(int32_t x, int32_t y) const {
        const TQelPoint p = View->MapMode().LogicalToDevice(TQelPoint{x, y});
        return QPoint(p.X, p.Y);
    }
    void Mouse(QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
        const Qt::MouseButtons buttons =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : (type == QEvent::MouseMove ? Pressed : button);
        QWidget* client = View->viewport();
        QMouseEvent e(type, QPointF(pos), client->mapToGlobal(QPointF(pos)), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(client, &e);
    }
    void Press(int32_t x, int32_t y) {
        Mouse(QEvent::MouseMove, At(x, y), Qt::NoButton);
        Pressed = Qt::LeftButton;
        Mouse(QEvent::MouseButtonPress, At(x, y));
    }
    void MoveTo(int32_t x, int32_t y) { Mouse(QEvent::MouseMove, At(x, y), Qt::NoButton); }
    void Release(int32_t x, int32_t y) {
        Pressed = Qt::NoButton;
        Mouse(QEvent::MouseButtonRelease, At(x, y));
    }
    void Click(int32_t x, int32_t y) {
        Press(x, y);
        Release(x, y);
    }

    TQelRGBTriple Pixel(int32_t x, int32_t y) const {
        const uint8_t* p = Doc->GetPixels()->PixelAddress(x, y);
        return TQelRGBTriple{p[0], p[1], p[2]};
    }
    bool BackupMatchesImage() const {
        const TQelPixels* image = Doc->GetPixels();
        if (Doc->Backup.GetBounds() != image->GetBounds()) return false;
        for (int32_t y = 0; y < image->Height; ++y)
            if (std::memcmp(Doc->Backup.PixelAddress(0, y), image->PixelAddress(0, y), size_t(image->Width) * 3) != 0)
                return false;
        return true;
    }
    int CountPixels(const TQelRGBTriple& colour) const {
        const TQelPixels* image = Doc->GetPixels();
        int n = 0;
        for (int32_t y = 0; y < image->Height; ++y)
            for (int32_t x = 0; x < image->Width; ++x) n += Pixel(x, y) == colour;
        return n;
    }

    TQelApplication App;
    QWidget Host;
    TToolHostEditor Editor;
    TQelGraphicsDocument* Doc = nullptr;
    TQelGraphicsView* View = nullptr;
    std::vector<std::unique_ptr<TQelGraphicsTool>> Tools;
    Qt::MouseButtons Pressed = Qt::NoButton;
};
