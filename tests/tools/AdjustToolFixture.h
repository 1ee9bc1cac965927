// Shared by the crop, resize, tone and rotation tool tests: the real editor
// with its main window and tool panel, the tool modules made by the test,
// and documents opened from pattern pictures.
#pragma once

#include <QApplication>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

#include "../editor/ImageFileSamples.h"
#include "JlvxSession.h"
#include "Jolvex.h"
#include "ScriptedMessageBoxes.h"
#include "QelDemoHooks.h"
#include "QelDemoPlayback.h"
#include "QelDemoScript.h"
#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelGraphicsFormats.h"
#include "QelImageCodec.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"
#include "QelToolPanel.h"

// A format table whose JPEG quality dialog only counts that it was asked.
class TCountingFormats : public TQelGraphicsFormats {
public:
    int Asked = 0;

protected:
    bool ExecuteJpegOptions(int32_t& Quality) override {
        ++Asked;
        Quality = 90;
        return true;
    }
};

class TAdjustToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        App.SetTitle("Visara");
        App.CreateModule(Editor);
        auto formats = std::make_unique<TCountingFormats>();
        Formats = formats.get();
        Editor->Formats = std::move(formats);
        App.CreateModule(ToolPanelModule);
        MainForm->setGeometry(100, 100, 800, 600);
        MainForm->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        App.DestroyComponents();
        if (FSessions) SetJolvexFactory(FPreviousFactory);
    }

    // Creates, localises and registers a tool module as the program does.
    template <class T>
    T* AddTool(T*& Reference) {
        App.CreateModule(Reference);
        Reference->Initialize();
        return Reference;
    }

    // A w x h picture whose pixel (x, y) is B = x, G = y, R = Tag, opened.
    TQelGraphicsDocument* OpenPattern(int w, int h, int tag = 7) {
        QImage image(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) image.setPixelColor(x, y, QColor(tag, y % 256, x % 256));
        return OpenImage(image, "pattern.png");
    }
    TQelGraphicsDocument* OpenImage(const QImage& image, const QString& name) {
        const QString path = Folder.filePath(name);
        EXPECT_TRUE(image.save(path));
        return OpenFile(path);
    }
    TQelGraphicsDocument* OpenFile(const QString& path) {
        // The changed document before it goes: not saved.
        if (TQelDocument* active = Editor->GetActiveDocument(); active && !active->Clean())
            Scripted.Answers.push_back(IDNO);
        TQelDocument* document = nullptr;
        EXPECT_TRUE(Editor->OpenDocument(path, document, false)) << path.toStdString();
        QApplication::processEvents();
        return Editor->GetActiveDocument();
    }
    TQelGraphicsView* View() const { return Editor->GetActiveView(); }

    // The device point of an image point.
    TQelPoint At(int32_t x, int32_t y) const { return View()->MapMode().LogicalToDevice(TQelPoint{x, y}); }

    static TQelRGBTriple PixelOf(const TQelPixels* pixels, int32_t x, int32_t y) {
        const uint8_t* p = pixels->PixelAddress(x, y);
        return TQelRGBTriple{p[0], p[1], p[2]};
    }

    // A w x h photograph saved as a JPEG and opened through the program's
    // lossless session, which documents get from here on in this test.
    TQelGraphicsDocument* OpenSessionJpeg(int32_t w, int32_t h) {
        if (!FSessions) {
            FPreviousFactory = SetJolvexFactory([](std::shared_ptr<IJLVX>& s) {
                s = std::make_shared<TJlvxSession>();
                return JLVX_S_OK;
            });
            FSessions = true;
        }
        const QString in = Folder.filePath("photo.jpg");
        EXPECT_TRUE(samples::WriteFile(in, samples::Jpeg(samples::Picture(w, h))));
        TQelGraphicsDocument* document = OpenFile(in);
        EXPECT_TRUE(document && document->JpegSession && document->JpegSession->IsOpen());
        return document;
    }

    // The picture in a file as 24-bit rows; empty when it cannot be read.
    static TQelPixelBuffer Decoded(const QString& path) {
        TQelPixelBuffer pixels;
        TQelImageDecoder decoder;
        if (!decoder.Open(path)) return pixels;
        pixels.Allocate(QelFormatBGR24, TQelRect(0, 0, decoder.Width(), decoder.Height()));
        if (!pixels.Bits || !decoder.Decode(pixels.Bits, pixels.Stride)) pixels.Release();
        return pixels;
    }
    // The largest and the mean difference of two pictures of one size, over
    // every channel.
    static std::pair<int, int> Difference(const TQelPixels& a, const TQelPixels& b) {
        int worst = 0;
        int64_t total = 0;
        for (int32_t y = 0; y < a.Height; ++y)
            for (int32_t x = 0; x < a.Width; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int d = std::abs(a.PixelAddress(x, y)[c] - b.PixelAddress(x, y)[c]);
                    worst = std::max(worst, d);
                    total += d;
                }
        const int64_t count = int64_t(a.Width) * a.Height * 3;
        return {worst, count > 0 ? int(total / count) : 0};
    }

    // Runs a script command line through the registries and the modules.
    bool Command(const char* line) {
        QByteArray text(line);
        const qsizetype blank = text.indexOf(' ');
        TQelDemoScriptParams params;
        if (blank >= 0) params.ParseText(text.mid(blank + 1));
        bool handled = false;
        Hooks.ExecuteCommand(nullptr, (blank >= 0 ? text.left(blank) : text).toUpper(), params, nullptr, handled);
        return handled;
    }

    // Collects what the modules record while it lives.
    struct TRecording {
        explicit TRecording(TQelApplication& Application) : App(Application) {
            Playback.OnRecordLine = [this](TQelDemoPlayback*, int, const QByteArray& line) { Lines << line; };
            Playback.StartRecording(0);
            App.ForEachComponent<IQelScriptableModule>([this](IQelScriptableModule* m) { m->StartRecording(&Playback); });
        }
        ~TRecording() {
            App.ForEachComponent<IQelScriptableModule>([this](IQelScriptableModule* m) { m->StopRecording(&Playback); });
            Playback.StopRecording();
        }
        TQelApplication& App;
        TQelDemoPlayback Playback;
        QByteArrayList Lines;
    };

    QTemporaryDir Folder;
    TScriptedMessageBoxes Scripted;
    TQelLocalizer Localizer{QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033};
    TQelApplication App;
    TQelDemoHooks Hooks;
    TQelGraphicsEditor* Editor = nullptr;
    TCountingFormats* Formats = nullptr;

private:
    bool FSessions = false;
    TJolvexFactory FPreviousFactory;
};
