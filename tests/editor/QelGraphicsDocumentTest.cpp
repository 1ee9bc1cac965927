#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include "Jolvex.h"
#include "QelError.h"
#include "GraphicsTestSupport.h"
#include "QelForms.h"
#include "QelGraphicsEditor.h"
#include "QelImageCodec.h"
#include "QelImageMetadata.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

namespace {

TQelRGBTriple PixelOf(const TQelLTBitmap& b, int32_t x, int32_t y) {
    const uint8_t* px = b.GetPixels()->PixelAddress(x, y);
    return TQelRGBTriple{px[0], px[1], px[2]};
}

TQelRGBTriple Triple(uint8_t b, uint8_t g, uint8_t r) { return TQelRGBTriple{b, g, r}; }

bool BackupMatchesImage(const TQelGraphicsDocument& d) {
    const TQelPixels* p = d.Image.GetPixels();
    if (!p) return d.Backup.Bits == nullptr;
    if (!d.Backup.Bits || d.Backup.GetBounds() != p->GetBounds() || d.Backup.Format != p->Format) return false;
    for (int32_t y = 0; y < p->Height; ++y)
        if (std::memcmp(d.Backup.PixelAddress(0, y), p->PixelAddress(0, y), size_t(p->Width) * 3) != 0) return false;
    return true;
}

// A session that only records what it is told.
class TMockSession : public IJLVX {
public:
    bool Open(const QString&) override { return true; }
    bool IsOpen() const override { return Opened; }
    int32_t GetWidth() const override { return 0; }
    int32_t GetHeight() const override { return 0; }
    int32_t GetBlockWidth() const override { return BlockWidth; }
    int32_t GetBlockHeight() const override { return BlockHeight; }
    bool Decode(uint8_t*, int32_t, int32_t) override { return false; }
    bool Save(const QString&, const TJlvxSaveOptions&) override { return false; }
    bool SetRegion(int32_t l, int32_t t, int32_t r, int32_t b) override {
        Calls.push_back("SetRegion " + std::to_string(l) + "," + std::to_string(t) + "," + std::to_string(r) + "," +
                        std::to_string(b));
        return true;
    }
    bool FlipHorizontal() override { return Call("FlipHorizontal"); }
    bool FlipVertical() override { return Call("FlipVertical"); }
    bool RotateLeft() override { return Call("RotateLeft"); }
    bool RotateRight() override { return Call("RotateRight"); }
    void Close() override {}
    uint32_t GetBlockSizes() const override { return uint32_t(BlockWidth) | uint32_t(BlockHeight) << 16; }

    bool Call(const char* name) {
        Calls.push_back(name);
        return true;
    }
    bool Opened = true;
    int32_t BlockWidth = 16;
    int32_t BlockHeight = 16;
    std::vector<std::string> Calls;
};

struct TDoc {
    TDoc(int32_t w, int32_t h, TQelEditor* editor = nullptr) : Document(editor) {
        FillPattern(Document.Image, w, h, 1);
        FillPattern(Document.OriginalImage, w, h, 2);
        Document.SyncBackup();
        Session = std::make_shared<TMockSession>();
        Document.JpegSession = Session;
    }
    TQelGraphicsDocument Document;
    std::shared_ptr<TMockSession> Session;
};

// Logs every hook with the tool's name.
class TLogTool : public TQelGraphicsTool {
public:
    TLogTool(const char* name, std::vector<std::string>& log) : Name(name), Log(log) {}
    void FinishModification() override { Log.push_back(Name + " Finish"); }
    void DocumentOpened(TQelGraphicsDocument*) override { Log.push_back(Name + " Opened"); }
    void DocumentClosing(TQelGraphicsDocument*) override { Log.push_back(Name + " Closing"); }
    void DocumentSaving(TQelGraphicsDocument*) override { Log.push_back(Name + " Saving"); }
    void BeforeUndo(TQelCommandState* s) override { Log.push_back(Name + " BeforeUndo " + Id(s)); }
    void AfterUndo(TQelCommandState* s) override { Log.push_back(Name + " AfterUndo " + Id(s)); }
    void BeforeRedo(TQelCommandState* s) override { Log.push_back(Name + " BeforeRedo " + Id(s)); }
    void AfterRedo(TQelCommandState* s) override { Log.push_back(Name + " AfterRedo " + Id(s)); }
    void ImageChanged(TQelGraphicsDocument*, TQelGraphicsTool* t, const TQelRect& r) override {
        Log.push_back(Name + " Changed " + (t == this ? "self " : "other ") + std::to_string(r.Right));
    }
    static std::string Id(TQelCommandState* s);

    std::string Name;
    std::vector<std::string>& Log;
};

class TNamedState : public TQelCommandState {
public:
    explicit TNamedState(std::string name) : Name(std::move(name)) {}
    void Undo() override {}
    void Redo() override {}
    std::string Name;
};

std::string TLogTool::Id(TQelCommandState* s) { return s ? static_cast<TNamedState*>(s)->Name : "none"; }

}  // namespace

TEST(GraphicsDocument, TurnsAndFlipsKeepImageOriginalSelectionAndSessionInStep) {
    TDoc d(100, 50);
    TQelGraphicsDocument& doc = d.Document;
    doc.SetSelectionRect(TQelRect(10, 20, 30, 40));

    doc.RotateLeft();
    EXPECT_EQ(doc.SelectionRect, TQelRect(20, 70, 40, 90));
    ASSERT_EQ(doc.Image.GetWidth(), 50);
    ASSERT_EQ(doc.Image.GetHeight(), 100);
    // Counter-clockwise: old (99, 0) is now at (0, 0).
    EXPECT_EQ(PixelOf(doc.Image, 0, 0), Triple(99, 0, 1));
    EXPECT_EQ(PixelOf(doc.OriginalImage, 0, 0), Triple(99, 0, 2));
    EXPECT_TRUE(BackupMatchesImage(doc));

    doc.RotateRight();
    EXPECT_EQ(doc.SelectionRect, TQelRect(10, 20, 30, 40));
    EXPECT_EQ(PixelOf(doc.Image, 0, 0), Triple(0, 0, 1));

    doc.RotateRight();
    EXPECT_EQ(doc.SelectionRect, TQelRect(10, 10, 30, 30));
    doc.RotateLeft();

    doc.FlipHorizontal();
    EXPECT_EQ(doc.SelectionRect, TQelRect(70, 20, 90, 40));
    EXPECT_EQ(PixelOf(doc.Image, 0, 7), Triple(99, 7, 1));
    doc.FlipVertical();
    EXPECT_EQ(doc.SelectionRect, TQelRect(70, 10, 90, 30));
    EXPECT_EQ(PixelOf(doc.OriginalImage, 0, 0), Triple(99, 49, 2));
    EXPECT_TRUE(BackupMatchesImage(doc));

    EXPECT_EQ(d.Session->Calls, (std::vector<std::string>{"RotateLeft", "RotateRight", "RotateRight", "RotateLeft",
                                                          "FlipHorizontal", "FlipVertical"}));

    // A session that holds no file is left alone; an empty document does nothing.
    d.Session->Opened = false;
    d.Session->Calls.clear();
    doc.RotateLeft();
    doc.Crop(TQelRect(0, 0, 10, 10));
    doc.Resize(5, 5, false, false);
    EXPECT_TRUE(d.Session->Calls.empty());
    TQelGraphicsDocument empty(nullptr);
    empty.RotateLeft();
    empty.FlipVertical();
    empty.Resize(10, 10, true, true);
    EXPECT_TRUE(empty.Image.IsEmpty());
}

TEST(GraphicsDocument, CropTellsTheSessionWholeBlocksAndIgnoresMisses) {
    TDoc d(200, 100);
    TQelGraphicsDocument& doc = d.Document;
    doc.SetSelectionRect(TQelRect(5, 5, 50, 50));
    doc.Crop(TQelRect(20, 35, 120, 95));
    EXPECT_EQ(d.Session->Calls, std::vector<std::string>{"SetRegion 16,32,116,92"});
    EXPECT_EQ(doc.Image.GetBoundsRect(), TQelRect(0, 0, 100, 60));
    EXPECT_EQ(PixelOf(doc.Image, 0, 0), Triple(20, 35, 1));
    EXPECT_EQ(PixelOf(doc.OriginalImage, 0, 0), Triple(20, 35, 2));
    EXPECT_FALSE(doc.HasSelection());
    EXPECT_TRUE(BackupMatchesImage(doc));

    d.Session->Calls.clear();
    doc.Crop(TQelRect(300, 300, 400, 400));
    doc.Crop(TQelRect(50, 10, 50, 40));  // no width
    EXPECT_EQ(doc.Image.GetBoundsRect(), TQelRect(0, 0, 100, 60));
    EXPECT_TRUE(d.Session->Calls.empty());

    // A session that reports no block size must not divide by zero.
    d.Session->BlockWidth = 0;
    d.Session->BlockHeight = -3;
    doc.Crop(TQelRect(7, 9, 20, 20));
    EXPECT_EQ(d.Session->Calls, std::vector<std::string>{"SetRegion 7,9,20,20"});
}

TEST(GraphicsDocument, ResizeScalesSelectionAndOriginalAndRejectsBadSizes) {
    TDoc d(100, 100);
    TQelGraphicsDocument& doc = d.Document;
    doc.SetSelectionRect(TQelRect(10, 10, 50, 90));
    // Nothing may change for a size below 1: neither selection nor original.
    doc.Resize(0, 50, true, true);
    doc.Resize(50, -1, true, true);
    EXPECT_EQ(doc.Image.GetWidth(), 100);
    EXPECT_EQ(doc.OriginalImage.GetWidth(), 100);
    EXPECT_EQ(doc.SelectionRect, TQelRect(10, 10, 50, 90));
    EXPECT_TRUE(d.Session->Calls.empty());

    doc.Resize(30, 30, true, true);
    // Left/top round up, right/bottom down.
    EXPECT_EQ(doc.SelectionRect, TQelRect(3, 3, 15, 27));
    EXPECT_EQ(doc.OriginalImage.GetBoundsRect(), TQelRect(0, 0, 30, 30));
    EXPECT_EQ(d.Session->Calls, std::vector<std::string>{"SetRegion 0,0,30,30"});
    EXPECT_TRUE(BackupMatchesImage(doc));

    // A tiny selection can vanish; it then counts as none.
    doc.SetSelectionRect(TQelRect(1, 1, 2, 2));
    doc.Resize(3, 3, true, false);
    EXPECT_FALSE(doc.HasSelection());
    EXPECT_EQ(doc.GetWorkRect(), TQelRect(0, 0, 3, 3));
    EXPECT_EQ(doc.OriginalImage.GetWidth(), 30);  // not asked to follow

    // An original of another size keeps its proportion to the image.
    TQelGraphicsDocument a(nullptr);
    FillPattern(a.Image, 100, 100, 1);
    FillPattern(a.OriginalImage, 200, 200, 2);
    a.Resize(50, 50, false, true);
    EXPECT_EQ(a.OriginalImage.GetBoundsRect(), TQelRect(0, 0, 100, 100));
    TQelGraphicsDocument b(nullptr);
    FillPattern(b.Image, 300, 300, 1);
    FillPattern(b.OriginalImage, 3, 3, 2);
    b.Resize(50, 50, false, true);
    EXPECT_EQ(b.OriginalImage.GetBoundsRect(), TQelRect(0, 0, 1, 1));
    EXPECT_EQ(b.Image.GetBoundsRect(), TQelRect(0, 0, 50, 50));
}

TEST(GraphicsDocument, ChangedRectanglesFollowEditsTurnsAndCrops) {
    TDoc d(100, 50);
    TQelGraphicsDocument& doc = d.Document;
    std::vector<TQelRect> rects;
    EXPECT_FALSE(doc.GetChangedRects(rects));
    doc.ResetChanges(true);
    ASSERT_TRUE(doc.GetChangedRects(rects));
    EXPECT_TRUE(rects.empty());

    // A state's rectangle, a modification ended without a state, one still
    // running; a rectangle inside a known one adds nothing.
    doc.NotifyImageChanged(nullptr, TQelRect(10, 5, 20, 15));
    doc.BeginModification(nullptr);
    doc.AddModifiedRect(TQelRect(30, 30, 31, 31));
    doc.EndModification(nullptr);
    doc.NotifyImageChanged(nullptr, TQelRect(11, 6, 12, 7));
    doc.BeginModification(nullptr);
    doc.AddModifiedRect(TQelRect(40, 0, 42, 2));
    ASSERT_TRUE(doc.GetChangedRects(rects));
    EXPECT_EQ(rects, (std::vector<TQelRect>{TQelRect(10, 5, 20, 15), TQelRect(30, 30, 31, 31), TQelRect(40, 0, 42, 2)}));
    doc.ResetModification();

    // Turns move them with the image; a crop on the session's grid moves and
    // clips them, one off it loses them.
    doc.RotateRight();
    doc.FlipHorizontal();
    ASSERT_TRUE(doc.GetChangedRects(rects));
    EXPECT_EQ(rects, (std::vector<TQelRect>{TQelRect(5, 10, 15, 20), TQelRect(30, 30, 31, 31), TQelRect(0, 40, 2, 42)}));
    doc.Crop(TQelRect(0, 16, 40, 100));
    ASSERT_TRUE(doc.GetChangedRects(rects));
    EXPECT_EQ(rects, (std::vector<TQelRect>{TQelRect(5, 0, 15, 4), TQelRect(30, 14, 31, 15), TQelRect(0, 24, 2, 26)}));
    doc.Crop(TQelRect(3, 0, 20, 20));
    EXPECT_FALSE(doc.GetChangedRects(rects));

    // A resized or replaced image is not described by rectangles either.
    doc.ResetChanges(true);
    doc.Resize(10, 10, false, false);
    EXPECT_FALSE(doc.GetChangedRects(rects));
    doc.ResetChanges(true);
    TQelPixelBuffer pixels;
    doc.CopyImageTo(pixels, nullptr);
    doc.AssignImage(pixels, nullptr);
    EXPECT_FALSE(doc.GetChangedRects(rects));
}

TEST(GraphicsDocument, SelectionIsClippedAndTheWholeImageMeansNone) {
    TDoc d(100, 80);
    TQelGraphicsDocument& doc = d.Document;
    doc.SetSelectionRect(TQelRect(-10, -10, 500, 500));
    EXPECT_FALSE(doc.HasSelection());
    EXPECT_EQ(doc.GetWorkRect(), TQelRect(0, 0, 100, 80));
    doc.SetSelectionRect(TQelRect(10, 10, 20, 20));
    EXPECT_EQ(doc.GetWorkRect(), TQelRect(10, 10, 20, 20));
    doc.SetSelectionRect(TQelRect(90, -5, 200, 30));
    EXPECT_EQ(doc.GetWorkRect(), TQelRect(90, 0, 100, 30));
    doc.SetSelectionRect(TQelRect(200, 200, 300, 300));
    EXPECT_FALSE(doc.HasSelection());
}

TEST(GraphicsDocument, ModificationProtocolAndModifiedState) {
    std::vector<std::string> log;
    TLogTool a("A", log), b("B", log);
    TGraphicsStatusEditor editor;
    TQelGraphicsDocument doc(&editor);
    FillPattern(doc.Image, 10, 10, 1);

    doc.BeginModification(&a);
    doc.AddModifiedRect(TQelRect(1, 1, 3, 3));
    doc.AddModifiedRect(TQelRect(5, 0, 6, 2));
    EXPECT_EQ(doc.ModifiedRect, TQelRect(1, 0, 6, 3));
    doc.BeginModification(&b);
    EXPECT_EQ(log, std::vector<std::string>{"A Finish"});
    EXPECT_EQ(doc.ModifyingTool, &b);
    EXPECT_TRUE(doc.Modifying);
    EXPECT_TRUE(doc.ModifiedRect.IsEmpty());

    // A save while a change runs shows that change, which no history state
    // holds: the document stays modified.
    doc.AddCommandState(std::make_unique<TNamedState>("s1"));
    ASSERT_TRUE(doc.SaveAs("/tmp/x.png", 2));
    EXPECT_FALSE(doc.Clean());

    // Another caller ends it without the tool's finish; the tool stays known.
    doc.EndModification(&editor);
    EXPECT_EQ(log.size(), 1u);
    EXPECT_FALSE(doc.Modifying);
    EXPECT_EQ(doc.ModifyingTool, &b);
    ASSERT_TRUE(doc.SaveAs("/tmp/x.png", 2));
    EXPECT_TRUE(doc.Clean());

    doc.BeginModification(&a);
    doc.EndModification(&doc);
    EXPECT_EQ(log.back(), "A Finish");
    doc.BeginModification(&b);
    doc.ResetModification();
    EXPECT_EQ(doc.ModifyingTool, nullptr);
    EXPECT_FALSE(doc.Modifying);
    EXPECT_EQ(log.size(), 2u);
}

TEST(GraphicsDocument, ToolsHearDocumentEventsInComponentOrder) {
    TQelApplication app;
    std::vector<std::string> log;
    TLogTool first("1", log), second("2", log);
    QObject plain;  // not a tool: skipped
    app.InsertComponent(&first);
    app.InsertComponent(&plain);
    app.InsertComponent(&second);
    TQelGraphicsDocument doc(nullptr);
    FillPattern(doc.Image, 4, 4, 0);

    doc.AfterOpen();
    doc.BeforeSave();
    EXPECT_EQ(log, (std::vector<std::string>{"1 Opened", "2 Opened", "1 Saving", "2 Saving"}));
    log.clear();

    doc.AddCommandState(std::make_unique<TNamedState>("s1"));
    doc.AddCommandState(std::make_unique<TNamedState>("s2"));
    doc.NotifyBeforeUndo();
    doc.History.Undo();
    doc.NotifyAfterUndo();
    doc.NotifyBeforeRedo();
    doc.History.Redo();
    doc.NotifyAfterRedo();
    doc.NotifyImageChanged(&second, TQelRect(0, 0, 3, 3));
    EXPECT_EQ(log, (std::vector<std::string>{"1 BeforeUndo s2", "2 BeforeUndo s2", "1 AfterUndo s1",
                                             "2 AfterUndo s1", "1 BeforeRedo s2", "2 BeforeRedo s2",
                                             "1 AfterRedo none", "2 AfterRedo none", "1 Changed other 3",
                                             "2 Changed self 3"}));
    log.clear();
    doc.SetClean(true);
    EXPECT_TRUE(doc.CloseQuery());  // clean, no editor: asks nothing
    EXPECT_EQ(log, (std::vector<std::string>{"1 Closing", "2 Closing"}));
    app.RemoveComponent(&plain);
}

TEST(GraphicsDocument, PreviewFitsTheSquareAndIsNeverNull) {
    TQelGraphicsDocument doc(nullptr);
    auto none = doc.CreatePreviewBitmap(100);
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(none->IsEmpty());

    FillPattern(doc.Image, 400, 300, 9);
    auto wide = doc.CreatePreviewBitmap(100);
    EXPECT_EQ(wide->GetBoundsRect(), TQelRect(0, 0, 100, 75));
    // A flat image stays flat after resampling.
    TQelLTBitmap flat;
    ASSERT_TRUE(flat.SetSize(300, 400, QelFormatBGR24));
    std::memset(flat.GetPixels()->Bits, 77, size_t(flat.GetPixels()->Stride) * 400);
    doc.AssignImage(*flat.GetPixels(), nullptr);
    auto tall = doc.CreatePreviewBitmap(100);
    EXPECT_EQ(tall->GetBoundsRect(), TQelRect(0, 0, 75, 100));
    EXPECT_EQ(PixelOf(*tall, 40, 50), Triple(77, 77, 77));

    for (int32_t size : {0, -5}) {
        auto p = doc.CreatePreviewBitmap(size);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(p->IsEmpty());
    }
    FillPattern(doc.Image, 1000, 1, 0);
    EXPECT_EQ(doc.CreatePreviewBitmap(100)->GetBoundsRect(), TQelRect(0, 0, 100, 1));
}

// --- Metadata ----------------------------------------------------------------------

namespace {

std::string Path(const QString& name) { return std::string(QFile::encodeName(name).constData()); }

bool HasThumbnail(const QString& name) {
    auto file = Exiv2::ImageFactory::open(Path(name));
    file->readMetadata();
    for (const auto& item : file->exifData())
        if (item.groupName() == "Thumbnail") return true;
    return false;
}

}  // namespace

TEST(GraphicsProperties, ItemsSurviveASaveWithoutTheThumbnail) {
    QTemporaryDir dir;
    const QString source = dir.filePath("in.jpg"), target = dir.filePath("out.jpg");
    QImage picture(64, 48, QImage::Format_RGB888);
    picture.fill(Qt::darkCyan);
    picture.setDotsPerMeterX(11811);
    picture.setDotsPerMeterY(11811);
    ASSERT_TRUE(picture.save(source, "JPEG"));
    {
        auto file = Exiv2::ImageFactory::open(Path(source));
        file->readMetadata();
        Exiv2::ExifData exif;
        exif["Exif.Image.Make"] = "Maker";
        exif["Exif.Image.Model"] = "Model 7";
        exif["Exif.Image.DateTime"] = "2020:01:02 03:04:05";
        QByteArray thumb;
        QBuffer buffer(&thumb);
        buffer.open(QIODevice::WriteOnly);
        picture.scaled(16, 12).save(&buffer, "JPEG");
        Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(thumb.constData()),
                                                long(thumb.size()));
        file->setExifData(exif);
        file->writeMetadata();
    }
    ASSERT_TRUE(HasThumbnail(source));

    TQelImageDecoder decoder;
    ASSERT_TRUE(decoder.Open(source));
    TQelGraphicsDocumentProperties bag;
    bag.ReadFromImage(decoder);
    ASSERT_GE(bag.Count(), 3);
    EXPECT_EQ(bag.Items(0)->Id, uint32_t(PropertyTagMake));
    EXPECT_EQ(bag.Items(0)->DataType, 2u);  // ASCII
    EXPECT_EQ(bag.HorizontalResolution, 300);  // from the JFIF header

    bag.RemoveThumbnailTags();
    TQelPropertyItems items;
    bag.WriteToImage(items);
    ASSERT_EQ(items.size(), bag.Count());
    TQelLTBitmap pixels;
    FillPattern(pixels, 32, 32, 5);
    QString error;
    ASSERT_TRUE(QelSaveImage(target, TQelImageFileType::Jpeg, pixels.GetPixels()->Bits, 32, 32,
                             pixels.GetPixels()->Stride, 90, {items}, error))
        << error.toStdString();
    TQelImageDecoder saved;
    ASSERT_TRUE(saved.Open(target));
    TQelPropertyItems back;
    ASSERT_TRUE(saved.ReadPropertyItems(back));
    EXPECT_EQ(QelPropertyText(back, PropertyTagMake), "Maker");
    EXPECT_EQ(QelPropertyText(back, PropertyTagModel), "Model 7");
    EXPECT_EQ(QelPropertyText(back, PropertyTagDateTime), "2020:01:02 03:04:05");
    EXPECT_FALSE(HasThumbnail(target));
}

TEST(GraphicsProperties, ResolutionFromEveryFormatAndFlatThumbnailIds) {
    QTemporaryDir dir;
    QImage image(8, 8, QImage::Format_RGB888);
    image.fill(Qt::red);
    image.setDotsPerMeterX(2835);
    image.setDotsPerMeterY(3780);
    TQelGraphicsDocumentProperties bag;
    for (const char* name : {"p.png", "p.bmp"}) {
        const QString file = dir.filePath(name);
        ASSERT_TRUE(image.save(file));
        TQelImageDecoder decoder;
        ASSERT_TRUE(decoder.Open(file));
        bag.AddItem(1, 2, "x", 1);
        bag.ReadFromImage(decoder);
        EXPECT_EQ(bag.Count(), 0) << name;
        EXPECT_EQ(bag.HorizontalResolution, 72) << name;
        EXPECT_EQ(bag.VerticalResolution, 96) << name;
    }

    // A file that would not open: no items, the usual resolution.
    const QString bad = dir.filePath("bad.jpg");
    {
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromHex("FFD8FFE1FFFF") + QByteArray("Exif\0\0MM\0*garbage", 16));
    }
    TQelImageDecoder decoder;
    EXPECT_FALSE(decoder.Open(bad));
    bag.ReadFromImage(decoder);
    EXPECT_EQ(bag.Count(), 0);
    EXPECT_EQ(bag.HorizontalResolution, 96);

    const uint16_t value = 5;
    for (uint32_t id : {20497u, 20498u, 20505u, 20506u, 20507u, 20539u, 20540u, 20506u}) bag.AddItem(id, 3, &value, 2);
    bag.RemoveThumbnailTags();
    ASSERT_EQ(bag.Count(), 4);
    EXPECT_EQ(bag.Items(0)->Id, 20497u);
    EXPECT_EQ(bag.Items(1)->Id, 20506u);
    EXPECT_EQ(bag.Items(2)->Id, 20540u);
    EXPECT_EQ(bag.Items(3)->Id, 20506u);  // a repeated id is its own item
}

#pragma GCC diagnostic pop
