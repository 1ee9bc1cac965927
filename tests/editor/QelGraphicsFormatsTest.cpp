#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <memory>

#include <exiv2/exiv2.hpp>

#include "FileMapping.h"
#include "FormatsTestSupport.h"
#include "ImageFileSamples.h"
#include "JlvxSession.h"
#include "Jolvex.h"
#include "QelGraphicsEditor.h"
#include "QelGraphicsFormats.h"
#include "QelImageCodec.h"
#include "QelJPEGOptions.h"
#include "QelLocalizer.h"
#include "SmallFileSystem.h"

using namespace samples;

namespace {

QByteArray CameraJpeg(const TQelPixels& picture) {
    const QByteArray exif = ExifSegment({TExifEntry{271, 2, Ascii("Cam")}, TExifEntry{272, 2, Ascii("X1")},
                                         TExifEntry{306, 2, Ascii("2004:01:02 03:04:05")}});
    return WithSegment(Jpeg(picture, 95, 0, TJSAMP_420), exif);
}

std::string ExivValue(const QString& path, const char* key) {
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    const auto found = image->exifData().findKey(Exiv2::ExifKey(key));
    return found == image->exifData().end() ? std::string() : found->toString();
}

bool SameRows(const TQelPixels& a, const TQelPixels& b) {
    if (a.Width != b.Width || a.Height != b.Height || a.Format != b.Format) return false;
    for (int32_t y = 0; y < a.Height; ++y)
        if (std::memcmp(a.PixelAddress(0, y), b.PixelAddress(0, y), size_t(a.Width) * 3)) return false;
    return true;
}

using GraphicsFormatsTest = TFormatsTest;

TEST_F(GraphicsFormatsTest, RowsAndDialogLists) {
    ASSERT_EQ(Formats.Count(), 4);
    EXPECT_EQ(Formats.Items(3)->Masks, "*.BMP;*.RLE;*.DIB");
    EXPECT_EQ(Formats.Items(1)->Extra, ".tif");
    EXPECT_EQ(Formats.Items(4), nullptr);
    EXPECT_EQ(Formats.Items(-1), nullptr);
    EXPECT_EQ(Formats.IndexOfId(QelExchangeFormatId), -1);
    TQelFileFormatArray open;
    Formats.GetOpenFormats(open);
    ASSERT_EQ(open.size(), 6);
    EXPECT_EQ(open[4].Masks, "*.JPG;*.JPEG;*.TIF;*.TIFF;*.PNG;*.BMP;*.RLE;*.DIB");
    EXPECT_TRUE(Formats.CanSave(QelOtherFormatId));
}

// --- Loading -----------------------------------------------------------------------

TEST_F(GraphicsFormatsTest, EveryVariantLoadsAs24BitWithItsFormatFromTheContent) {
    QImage grey(6, 4, QImage::Format_Grayscale8);
    grey.fill(90);
    QImage rgba(6, 4, QImage::Format_ARGB32);
    rgba.fill(qRgba(0, 0, 0, 0));
    std::vector<uint8_t> inks(6 * 4 * 4, 255);
    ASSERT_TRUE(WriteTiff(Path("deep.tif"), {TTiffPage{6, 4, 3, 16, std::vector<uint16_t>(72, 0x8080)}}));
    struct TCase {
        QString Name;
        int32_t FormatId;
        uint32_t Probe;  // B, G, R of pixel (1, 1) as 0xBBGGRR
    } cases[] = {
        {Write("grey.png", Encoded(grey, "png")), 2, 0x5A5A5A},
        {Write("clear.png", Encoded(rgba, "png")), 2, 0xFFFFFF},
        {Write("p.jpg", Encoded(grey, "png")), 2, 0x5A5A5A},
        {Write("x.rle", Bmp(4, 2, 8, 1, {qRgb(0, 0, 0), qRgb(9, 8, 7)}, Bytes({4, 1, 0, 0, 4, 1, 0, 1}))), 3, 0x070809},
        {Path("deep.tif"), 1, 0x808080},
        {Write("cmyk.jpg", CmykJpeg(6, 4, inks)), 0, 0xFFFFFF},
        {Write("one.gif", Bytes({'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0x80, 0, 0, 10, 20, 30, 10, 20, 30, ',', 0, 0,
                                 0, 0, 2, 0, 2, 0, 0, 2, 3, 0x84, 0xA1, 0, 0, ';'})),
         QelOtherFormatId, 0x1E140A},
    };
    for (const TCase& c : cases) {
        int32_t id = 0;
        const auto document = Loaded(c.Name, id);
        ASSERT_TRUE(document) << c.Name.toStdString() << ": " << Formats.LastError().toStdString();
        EXPECT_EQ(id, c.FormatId) << c.Name.toStdString();
        const TQelPixels* image = document->GetPixels();
        ASSERT_TRUE(image);
        EXPECT_EQ(image->Format, QelFormatBGR24);
        const uint8_t* p = image->PixelAddress(1, 1);
        EXPECT_NEAR(p[0], int(c.Probe >> 16), 2) << c.Name.toStdString();
        EXPECT_NEAR(p[1], int((c.Probe >> 8) & 0xFF), 2) << c.Name.toStdString();
        EXPECT_NEAR(p[2], int(c.Probe & 0xFF), 2) << c.Name.toStdString();
        // Original and backup start as copies of the image.
        EXPECT_TRUE(SameRows(*document->GetOriginalPixels(), *image)) << c.Name.toStdString();
        EXPECT_TRUE(SameRows(document->Backup, *image)) << c.Name.toStdString();
    }
}

TEST_F(GraphicsFormatsTest, JpegsGoThroughTheSessionWhenItCanTakeThem) {
    TSessionFactory factory;
    const TQelPixelBuffer picture = Quadrants(32, 16);
    int32_t id = 0;
    auto document = Loaded(Write("cam.jpg", CameraJpeg(picture)), id);
    ASSERT_TRUE(document) << Formats.LastError().toStdString();
    EXPECT_EQ(id, 0);
    ASSERT_TRUE(document->JpegSession);
    EXPECT_TRUE(document->JpegSession->IsOpen());
    // The items come from the file all the same.
    EXPECT_GE(document->Properties.IndexOf(271), 0);
    EXPECT_NEAR(document->GetPixels()->PixelAddress(2, 2)[2], 200, 4);

    // CMYK is beyond the session: the decoder takes it, the session stays
    // closed.
    std::vector<uint8_t> inks(8 * 8 * 4, 255);
    document = Loaded(Write("cmyk.jpg", CmykJpeg(8, 8, inks)), id);
    ASSERT_TRUE(document) << Formats.LastError().toStdString();
    EXPECT_EQ(id, 0);
    EXPECT_FALSE(document->JpegSession->IsOpen());
}

TEST_F(GraphicsFormatsTest, DamagedFilesFailLeaveTheFileAndCreateNothing) {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(qRgb(1, 2, 3));
    const QByteArray jpeg = Jpeg(Picture(64, 48));
    TExchangeHeader truncated;
    truncated.Width = truncated.Height = 1000;
    truncated.RowBytes = 3000;
    QByteArray pspf(100, '\0');
    WriteExchangeHeader(truncated, reinterpret_cast<uint8_t*>(pspf.data()));
    QByteArray notPspf = pspf;
    notPspf.replace(0, 4, "pspf");
    struct TCase {
        const char* Name;
        QByteArray Data;
    } cases[] = {
        {"junk.png", QByteArray("0123456789")},
        {"huge.png", WithPngSize(Encoded(image, "png"), 100000, 100000)},
        {"half.jpg", jpeg.left(jpeg.size() / 2)},
        {"truncated.pspf", pspf},
        {"lower.pspf", notPspf},
    };
    TSessionFactory factory;
    for (const TCase& c : cases) {
        const QString path = Write(c.Name, c.Data);
        int32_t id = 7;
        auto document = std::make_unique<TQelGraphicsDocument>(nullptr);
        EXPECT_FALSE(Formats.Load(*document, path, id)) << c.Name;
        EXPECT_FALSE(Formats.LastError().isEmpty()) << c.Name;
        EXPECT_EQ(id, 7) << c.Name;
        EXPECT_EQ(ReadFile(path), c.Data) << c.Name;
    }
    ASSERT_TRUE(QDir(Dir.path()).mkdir("folder.jpg"));
    int32_t id = 0;
    EXPECT_FALSE(Loaded(Path("folder.jpg"), id));
    EXPECT_FALSE(Loaded(Path("missing.jpg"), id));
    EXPECT_FALSE(QFileInfo::exists(Path("missing.jpg")));
}

// --- Saving ------------------------------------------------------------------------------

TEST_F(GraphicsFormatsTest, JpegSavesAskForTheQualityOthersNever) {
    int32_t id = 0;
    const auto document = Loaded(Write("in.png", Encoded(QImage(40, 30, QImage::Format_RGB32), "png")), id);
    ASSERT_TRUE(document);

    Formats.Accept = false;
    EXPECT_FALSE(Formats.Save(*document, Path("out.jpg"), 0));
    EXPECT_EQ(Formats.Asked, 1);
    EXPECT_TRUE(Formats.LastError().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(Path("out.jpg")));
    EXPECT_EQ(Formats.JpegQuality, 80);

    Formats.Accept = true;
    Formats.Answer = 80;
    ASSERT_TRUE(Formats.Save(*document, Path("out.jpg"), 0)) << Formats.LastError().toStdString();
    EXPECT_EQ(Formats.Asked, 2);
    const QByteArray jpeg = ReadFile(Path("out.jpg"));
    const qsizetype dqt = FindMarker(jpeg, 0xDB);
    ASSERT_GT(dqt, 0);
    EXPECT_EQ(uint8_t(jpeg[dqt + 5]), 6);

    // The next dialog starts from the accepted quality.
    Formats.Answer = 55;
    ASSERT_TRUE(Formats.Save(*document, Path("out.jpg"), 0));
    EXPECT_EQ(Formats.Offered, 80);
    EXPECT_EQ(Formats.JpegQuality, 55);

    for (int32_t format : {1, 2, 3}) {
        ASSERT_TRUE(Formats.Save(*document, Path("out" + QString::number(format)), format))
            << Formats.LastError().toStdString();
        TQelImageDecoder decoder;
        ASSERT_TRUE(decoder.Open(Path("out" + QString::number(format))));
        EXPECT_EQ(decoder.Width(), 40);
    }
    EXPECT_EQ(Formats.Asked, 3);
}

TEST_F(GraphicsFormatsTest, OnlyTheSelectionIsSavedAndFailuresKeepTheOldFile) {
    int32_t id = 0;
    const TQelPixelBuffer picture = Picture(40, 30);
    QByteArray png;
    QString error;
    ASSERT_TRUE(QelEncodeImage(TQelImageFileType::Png, picture.Bits, 40, 30, picture.Stride, 0, png, error));
    const auto document = Loaded(Write("in.png", png), id);
    ASSERT_TRUE(document);
    document->SetSelectionRect(TQelRect(5, 6, 25, 16));
    ASSERT_TRUE(Formats.Save(*document, Path("part.png"), 2));
    TQelImageDecoder decoder;
    ASSERT_TRUE(decoder.Open(Path("part.png")));
    EXPECT_EQ(decoder.Width(), 20);
    EXPECT_EQ(decoder.Height(), 10);
    TQelPixelBuffer part;
    part.Allocate(QelFormatBGR24, TQelRect(0, 0, 20, 10));
    ASSERT_TRUE(decoder.Decode(part.Bits, part.Stride));
    EXPECT_EQ(std::memcmp(part.PixelAddress(0, 0), picture.PixelAddress(5, 6), 60), 0);
    EXPECT_EQ(std::memcmp(part.PixelAddress(0, 9), picture.PixelAddress(5, 15), 60), 0);

    const QString old = Write("old.png", "keep me");
    EXPECT_FALSE(Formats.Save(*document, old, QelOtherFormatId));
    EXPECT_FALSE(Formats.Save(*document, Path("no/such/folder.png"), 2));
    ASSERT_TRUE(QDir(Dir.path()).mkdir("folder.png"));
    EXPECT_FALSE(Formats.Save(*document, Path("folder.png"), 2));
    EXPECT_FALSE(Formats.LastError().isEmpty());
    EXPECT_EQ(ReadFile(old), "keep me");
    EXPECT_EQ(Formats.Asked, 0);

    auto plain = std::make_unique<TQelGraphicsDocument>(nullptr);
    EXPECT_FALSE(Formats.Save(*plain, Path("empty.png"), 2));
    EXPECT_FALSE(QFileInfo::exists(Path("empty.png")));
}

TEST_F(GraphicsFormatsTest, SessionSavesSkipTheDialogOnceAndKeepTheItems) {
    TSessionFactory factory;
    const TQelPixelBuffer picture = Quadrants(32, 16);
    int32_t id = 0;
    const QString in = Write("cam.jpg", CameraJpeg(picture));
    auto document = Loaded(in, id);
    ASSERT_TRUE(document);
    document->RotateRight();
    ASSERT_TRUE(Formats.Save(*document, Path("turned.jpg"), 0)) << Formats.LastError().toStdString();
    EXPECT_EQ(Formats.Asked, 0);
    EXPECT_FALSE(document->JpegSession->IsOpen());
    TQelImageDecoder decoder;
    ASSERT_TRUE(decoder.Open(Path("turned.jpg")));
    EXPECT_EQ(decoder.Width(), 16);
    EXPECT_EQ(decoder.Height(), 32);

    // The next save encodes: the dialog is back, the camera's items are
    // written into the new file, a thumbnail item is not.
    document->Properties.AddItem(20507, 7, "abc", 3);
    ASSERT_TRUE(Formats.Save(*document, Path("again.jpg"), 0));
    EXPECT_EQ(Formats.Asked, 1);
    EXPECT_EQ(ExivValue(Path("again.jpg"), "Exif.Image.Make"), "Cam");
    EXPECT_EQ(ExivValue(Path("again.jpg"), "Exif.Image.Model"), "X1");
    EXPECT_EQ(ExivValue(Path("again.jpg"), "Exif.Image.DateTime"), "2004:01:02 03:04:05");
    EXPECT_EQ(ExivValue(Path("again.jpg"), "Exif.Image.0x501b"), "");
    EXPECT_LT(document->Properties.IndexOf(20507), 0);
    ASSERT_TRUE(Formats.Save(*document, Path("again.tif"), 1));
    EXPECT_EQ(ExivValue(Path("again.tif"), "Exif.Image.Model"), "X1");
    ASSERT_TRUE(decoder.Open(Path("again.tif")));
    EXPECT_EQ(decoder.Width(), 16);
}

TEST_F(GraphicsFormatsTest, AFailedSessionSaveKeepsTheSessionForALosslessRetry) {
    TSessionFactory factory;
    int32_t id = 0;
    const QString in = Write("photo.jpg", Jpeg(Picture(48, 32), 90, 0, TJSAMP_420));
    auto document = Loaded(in, id);
    ASSERT_TRUE(document);
    EXPECT_FALSE(Formats.Save(*document, Path("no/such/folder/photo.jpg"), 0));
    EXPECT_FALSE(Formats.LastError().isEmpty());
    ASSERT_TRUE(document->JpegSession->IsOpen());

    ASSERT_TRUE(Formats.Save(*document, Path("retry.jpg"), 0)) << Formats.LastError().toStdString();
    EXPECT_EQ(Formats.Asked, 0);
    auto* session = dynamic_cast<TJlvxSession*>(document->JpegSession.get());
    ASSERT_TRUE(session);
    EXPECT_EQ(session->LastEncodedMCUs(), 0);
    EXPECT_FALSE(session->IsOpen());
}

TEST_F(GraphicsFormatsTest, EverySaveThatCannotWriteSaysTheSystemsReasonAndKeepsTheOldFile) {
    if (!QelOnSmallFileSystem(Dir.path())) return;
    TSessionFactory factory;
    // Noise, so that every format's file is larger than the room left below.
    const TQelPixelBuffer picture = Picture(200, 160);
    auto lossless = Loaded(Write("photo.jpg", Jpeg(picture, 95, 0, TJSAMP_420)));
    auto plain = Loaded(Write("photo.png", Encoded(QImage(picture.Bits, 200, 160, picture.Stride, QImage::Format_BGR888), "png")));
    ASSERT_TRUE(lossless->JpegSession && lossless->JpegSession->IsOpen());
    const std::tuple<const char*, TQelGraphicsDocument*, int32_t> paths[] = {{"session.jpg", lossless.get(), 0},
        {"encoder.jpg", plain.get(), 0}, {"out.png", plain.get(), 2}, {"out.tif", plain.get(), 1}, {"out.bmp", plain.get(), 3}};
    const QByteArray old = "the old file, kept as it was";
    for (const auto& [name, document, format] : paths) Write(name, old);
    const QStringList files = QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden);
    auto check = [&](const char* what, const QString& reason) {
        for (const auto& [name, document, format] : paths) {
            SCOPED_TRACE(std::string(what) + " " + name);
            EXPECT_FALSE(Formats.Save(*document, Path(name), format));
            EXPECT_EQ(Formats.LastError().toStdString(),
                      QStringLiteral("Cannot write \"%1\": %2").arg(Path(name), reason).toStdString());
            EXPECT_EQ(ReadFile(Path(name)), old);
        }
        // A failed save keeps the session for a lossless retry.
        EXPECT_TRUE(lossless->JpegSession->IsOpen()) << what;
    };
    QelFillFileSystem(Dir.path(), 8192);
    check("partway", "No space left on device");
    ASSERT_TRUE(QFile::remove(Path("filler")));
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden), files) << "a temporary file was left";
    QelSetFileSystemReadOnly(Dir.path(), true);
    check("read-only", "Read-only file system");
    QelSetFileSystemReadOnly(Dir.path(), false);
}

TEST_F(GraphicsFormatsTest, ASessionSaveComparesOnlyWhatChangedAndWritesTheSameFile) {
    TSessionFactory factory;
    const QString in = Write("photo.jpg", Jpeg(Picture(96, 64), 90, 0, TJSAMP_420));
    int32_t id = 0;
    auto document = Loaded(in, id);
    ASSERT_TRUE(document);
    // An edit as a tool makes one, then a turn.
    document->BeginModification(nullptr);
    for (int32_t y = 20; y < 24; ++y) std::memset(document->GetPixels()->PixelAddress(37, y), 255, 4 * 3);
    document->AddModifiedRect(TQelRect(37, 20, 41, 24));
    document->EndModification(document.get());
    document->RotateRight();
    ASSERT_TRUE(Formats.Save(*document, Path("saved.jpg"), 0)) << Formats.LastError().toStdString();
    auto* session = dynamic_cast<TJlvxSession*>(document->JpegSession.get());
    ASSERT_TRUE(session);
    EXPECT_EQ(session->LastEncodedMCUs(), 1);

    // The file that comparing every block writes.
    TJlvxSession whole;
    ASSERT_TRUE(whole.Open(in));
    whole.RotateRight();
    TJlvxSaveOptions o;
    o.Pixels = document->GetPixels()->Bits;
    o.Stride = document->GetPixels()->Stride;
    ASSERT_TRUE(whole.Save(Path("whole.jpg"), o));
    EXPECT_EQ(whole.LastEncodedMCUs(), 1);
    EXPECT_TRUE(ReadFile(Path("saved.jpg")) == ReadFile(Path("whole.jpg")));
}

// Enlarged past the file (flat areas still equal its blocks), shrunk inside
// it, with turns, crops and a selection around the resize; never the dialog.
TEST_F(GraphicsFormatsTest, AResizedJpegIsSavedAtItsNewSizeThroughTheSession) {
    TSessionFactory factory;
    const std::pair<const char*, std::function<void(TQelGraphicsDocument&)>> edits[] = {
        {"80 x 60", [](TQelGraphicsDocument& d) { d.Resize(80, 60, true, true); }},
        {"turned 112 x 84", [](TQelGraphicsDocument& d) { d.Resize(112, 84, true, true), d.RotateRight(); }},
        {"38 x 29", [](TQelGraphicsDocument& d) { d.Resize(38, 29, true, true); }},
        {"100 x 27", [](TQelGraphicsDocument& d) { d.Resize(100, 27, true, true); }},
        {"cropped, 75 x 90", [](TQelGraphicsDocument& d) { d.Crop(TQelRect(8, 8, 40, 40)), d.Resize(75, 90, true, true); }},
        {"selection", [](TQelGraphicsDocument& d) { d.SetSelectionRect(TQelRect(8, 8, 40, 40)), d.Resize(80, 60, true, true); }},
    };
    for (const int subsamp : {TJSAMP_444, TJSAMP_422, TJSAMP_420, TJSAMP_GRAY})
        for (const bool flat : {true, false}) {
            const QString in = Write("photo.jpg", Jpeg(flat ? Quadrants(64, 48) : Picture(64, 48), 90, 0, subsamp));
            for (const auto& [name, edit] : edits) {
                const std::string what = std::to_string(subsamp) + (flat ? " flat " : " busy ") + name;
                auto document = Loaded(in);
                ASSERT_TRUE(document->JpegSession && document->JpegSession->IsOpen()) << what;
                edit(*document);
                ASSERT_TRUE(Formats.Save(*document, Path("saved.jpg"), 0)) << what << Formats.LastError().toStdString();
                const TQelRect r = document->GetWorkRect();
                TQelPixelBuffer shown;
                shown.Allocate(QelFormatBGR24, TQelRect(0, 0, r.Width(), r.Height()));
                shown.CopyRect(0, 0, r, *document->GetPixels());
                // The size shown, within what encoding those pixels once more loses.
                EXPECT_LT(MeanDifference(Decompress(ReadFile(Path("saved.jpg"))), shown), ReencodingLoss(shown, subsamp, 90))
                    << what;
            }
        }
    EXPECT_EQ(Formats.Asked, 0);
}

TEST_F(GraphicsFormatsTest, AQuantisationTableWithAZeroNeverReachesAnEncoder) {
    TSessionFactory factory;
    QByteArray jpeg = Jpeg(Picture(40, 24), 90, 0, TJSAMP_420);
    const qsizetype dqt = FindMarker(jpeg, 0xDB);
    ASSERT_GT(dqt, 0);
    jpeg[dqt + 5 + 20] = 0;
    const QString in = Write("zero.jpg", jpeg);
    // Saved unchanged, with one pixel edited, and turned.
    for (int step = 0; step < 3; ++step) {
        int32_t id = 0;
        auto document = Loaded(in, id);
        ASSERT_TRUE(document) << Formats.LastError().toStdString();
        EXPECT_EQ(id, 0);
        EXPECT_FALSE(document->JpegSession->IsOpen());
        uint8_t* pixel = document->GetPixels()->PixelAddress(5, 5);
        if (step == 1) pixel[0] = pixel[1] = pixel[2] = 255;
        if (step == 2) document->RotateRight();
        ASSERT_TRUE(Formats.Save(*document, Path("out.jpg"), 0)) << Formats.LastError().toStdString();
        TQelImageDecoder decoder;
        ASSERT_TRUE(decoder.Open(Path("out.jpg")));
        EXPECT_EQ(decoder.Width(), step == 2 ? 24 : 40);
        TQelPixelBuffer saved;
        saved.Allocate(QelFormatBGR24, TQelRect(0, 0, decoder.Width(), decoder.Height()));
        ASSERT_TRUE(decoder.Decode(saved.Bits, saved.Stride));
        // Every table of the new file can be divided by.
        const QByteArray out = ReadFile(Path("out.jpg"));
        const qsizetype table = FindMarker(out, 0xDB);
        ASSERT_GT(table, 0);
        EXPECT_FALSE(out.mid(table + 5, 64).contains('\0'));
    }
    EXPECT_EQ(Formats.Asked, 3);
}

TEST_F(GraphicsFormatsTest, ExchangeFilesLoadAndTakeTheWholeGrownImageBack) {
    TQelPixelBuffer host = Picture(9, 7);
    const QString path = Path("host.pspf");
    QString error;
    ASSERT_TRUE(WriteExchangeImage(path, host, error));
    int32_t id = 0;
    const auto document = Loaded(path, id);
    ASSERT_TRUE(document) << Formats.LastError().toStdString();
    EXPECT_EQ(id, QelExchangeFormatId);
    EXPECT_TRUE(SameRows(*document->GetPixels(), host));
    EXPECT_TRUE(SameRows(*document->GetOriginalPixels(), host));

    // Larger after a resize, with a selection: the whole image goes back.
    document->Resize(20, 15, false, false);
    document->SetSelectionRect(TQelRect(1, 1, 4, 4));
    ASSERT_TRUE(Formats.Save(*document, path, QelExchangeFormatId)) << Formats.LastError().toStdString();
    EXPECT_EQ(QFileInfo(path).size(), 36 + 60 * 15);
    TQelPixelBuffer back;
    ASSERT_EQ(ReadExchangeImage(
                  path,
                  [&](int32_t w, int32_t h) -> TQelPixels* {
                      back.Allocate(QelFormatBGR24, TQelRect(0, 0, w, h));
                      return &back;
                  },
                  error),
              TExchangeReadResult::Read);
    EXPECT_TRUE(SameRows(back, *document->GetPixels()));
    EXPECT_EQ(Formats.Asked, 0);
}

// --- What a photo carries besides its pixels ---------------------------------------------

// A made-up colour profile for Space, with no bytes a writer could make up.
QByteArray Profile(const char* space = "RGB ") {
    QByteArray profile(300, '\0');
    for (int i = 0; i < profile.size(); ++i) profile[i] = char(i * 7);
    qToBigEndian<uint32_t>(300, profile.data());
    std::memcpy(profile.data() + 16, space, 4);
    std::memcpy(profile.data() + 36, "acsp", 4);
    return profile;
}

// A profile, an XMP title, an IPTC caption and keyword; with Orientation
// also XMP and big-endian EXIF orientations, as some cameras write them.
void AddMetadata(const QString& path, const char* orientation = nullptr, const char* space = "RGB ") {
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    QByteArray profile = Profile(space);
    Exiv2::DataBuf icc(reinterpret_cast<const Exiv2::byte*>(profile.constData()), long(profile.size()));
    image->setIccProfile(icc);
    image->xmpData()["Xmp.dc.title"] = "lang=x-default Portrait";
    image->iptcData()["Iptc.Application2.Caption"] = "A caption";
    image->iptcData()["Iptc.Application2.Keywords"] = "studio";
    if (orientation) {
        image->xmpData()["Xmp.tiff.Orientation"] = orientation;
        image->exifData()["Exif.Image.Orientation"] = uint16_t(std::atoi(orientation));
        image->setByteOrder(Exiv2::bigEndian);
    }
    image->writeMetadata();
}

// What Exiv2 reads back from a saved file.
struct TCarried {
    QByteArray Profile;
    std::string Title, Caption, Keywords, XmpOrientation, ExifOrientation;
};

template <class Key, class Data> std::string Found(Data& data, const char* key) {
    const auto found = data.findKey(Key(key));
    return found == data.end() ? std::string() : found->toString();
}

TCarried Carried(const QString& path) {
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    TCarried c{QByteArray(), Found<Exiv2::XmpKey>(image->xmpData(), "Xmp.dc.title"),
               Found<Exiv2::IptcKey>(image->iptcData(), "Iptc.Application2.Caption"),
               Found<Exiv2::IptcKey>(image->iptcData(), "Iptc.Application2.Keywords"),
               Found<Exiv2::XmpKey>(image->xmpData(), "Xmp.tiff.Orientation"),
               Found<Exiv2::ExifKey>(image->exifData(), "Exif.Image.Orientation")};
    if (image->iccProfileDefined())
        c.Profile = QByteArray(reinterpret_cast<const char*>(image->iccProfile()->pData_), image->iccProfile()->size_);
    return c;
}

// The application segments of a JPEG, one after the other.
QByteArray AppSegments(const QByteArray& jpeg) {
    QByteArray result;
    for (qsizetype i = 2; i + 4 <= jpeg.size() && uint8_t(jpeg[i]) == 0xFF;) {
        const uint8_t marker = uint8_t(jpeg[i + 1]);
        if (marker == 0xDA) break;
        const qsizetype length = qFromBigEndian<uint16_t>(jpeg.constData() + i + 2);
        if (marker >= 0xE0 && marker <= 0xEF) result += jpeg.mid(i, length + 2);
        i += length + 2;
    }
    return result;
}

// A JPEG file's JFIF density: unit, horizontal, vertical; empty without one.
QList<int> Density(const QString& path) {
    const QByteArray jpeg = ReadFile(path);
    const qsizetype app0 = FindMarker(jpeg, 0xE0);
    if (app0 <= 0 || app0 + 16 > jpeg.size()) return {};
    return {uint8_t(jpeg[app0 + 11]), qFromBigEndian<uint16_t>(jpeg.constData() + app0 + 12),
            qFromBigEndian<uint16_t>(jpeg.constData() + app0 + 14)};
}

// A TIFF tag of the first page as libtiff reads it; -1 when absent.
double TiffField(const QString& path, uint32_t tag) {
    TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!t) return -2;
    double value = -1;
    if (tag == TIFFTAG_XRESOLUTION || tag == TIFFTAG_YRESOLUTION) {
        float f = 0;
        if (TIFFGetField(t, tag, &f)) value = f;
    } else {
        uint16_t s = 0;
        if (TIFFGetField(t, tag, &s)) value = s;
    }
    TIFFClose(t);
    return value;
}

// An 8 x 6 RGB TIFF, each row its own red so that rows that moved show.
bool WriteTaggedTiff(const QString& path, float xDpi, float yDpi, uint16_t orientation = ORIENTATION_TOPLEFT) {
    TTiffPage page{8, 6, 3, 8, std::vector<uint16_t>(8 * 6 * 3, 0), xDpi, yDpi, orientation};
    for (size_t i = 0; i < page.Values.size(); i += 3) page.Values[i] = uint16_t(i / 24 * 40);
    return WriteTiff(path, {page});
}

TEST_F(GraphicsFormatsTest, EncoderSavesKeepTheProfileXmpAndIptcOfEveryFormat) {
    QImage png(12, 8, QImage::Format_RGB888);
    png.fill(QColor(90, 120, 150));
    const QString sources[] = {Write("in.jpg", Jpeg(Picture(12, 8), 90, 0, TJSAMP_420)),
                               Write("in.png", Encoded(png, "png")), Path("in.tif")};
    ASSERT_TRUE(WriteTaggedTiff(Path("in.tif"), 0, 0));
    for (const QString& source : sources) {
        AddMetadata(source);
        int32_t id = 0;
        auto document = Loaded(source, id);
        ASSERT_TRUE(document) << Formats.LastError().toStdString();
        for (int32_t format : {0, 1, 2}) {
            const QString target = Path(QStringLiteral("out%1%2").arg(format).arg(QFileInfo(source).fileName()));
            ASSERT_TRUE(Formats.Save(*document, target, format)) << Formats.LastError().toStdString();
            const TCarried c = Carried(target);
            const std::string what = source.toStdString() + " as format " + std::to_string(format);
            EXPECT_EQ(c.Profile, Profile()) << what;
            EXPECT_EQ(c.Title, "lang=\"x-default\" Portrait") << what;
            EXPECT_EQ(c.Caption, "A caption") << what;
            EXPECT_EQ(c.Keywords, "studio") << what;
            // Still a picture every reader opens, of the document's size.
            TQelImageDecoder decoder;
            ASSERT_TRUE(decoder.Open(target)) << what << ": " << decoder.LastError().toStdString();
            EXPECT_EQ(decoder.Width(), document->GetPixels()->Width) << what;
            EXPECT_EQ(decoder.PageCount(), 1) << what;
        }
    }
}

// A CMYK profile would misdescribe every RGB pixel; the IPTC still comes along.
TEST_F(GraphicsFormatsTest, AProfileForOtherInksIsNotAttachedToRgbPixels) {
    const QString in = Write("inks.jpg", CmykJpeg(8, 8, std::vector<uint8_t>(8 * 8 * 4, 40)));
    AddMetadata(in, nullptr, "CMYK");
    int32_t id = 0;
    auto document = Loaded(in, id);
    ASSERT_TRUE(document);
    for (auto [name, format] : {std::pair("rgb.jpg", 0), std::pair("rgb.tif", 1), std::pair("rgb.png", 2)}) {
        ASSERT_TRUE(Formats.Save(*document, Path(name), format)) << name;
        const TCarried c = Carried(Path(name));
        EXPECT_TRUE(c.Profile.isEmpty()) << name;
        EXPECT_EQ(c.Caption, "A caption") << name;
    }
}

TEST_F(GraphicsFormatsTest, TheFilesResolutionIsWrittenIntoEverySave) {
    // 300 x 200 dpi, so that crossed axes show.
    ASSERT_TRUE(WriteTaggedTiff(Path("in.tif"), 300, 200));
    QImage png(8, 6, QImage::Format_RGB888);
    png.fill(Qt::gray);
    png.setDotsPerMeterX(11811);
    png.setDotsPerMeterY(7874);
    Write("in.png", Encoded(png, "png"));
    for (const QString& source : {Path("in.tif"), Path("in.png")}) {
        int32_t id = 0;
        auto document = Loaded(source, id);
        ASSERT_TRUE(document);
        EXPECT_EQ(document->Properties.HorizontalResolution, 300);
        EXPECT_EQ(document->Properties.VerticalResolution, 200);

        SCOPED_TRACE(source.toStdString());
        ASSERT_TRUE(Formats.Save(*document, Path("out.tif"), 1));
        EXPECT_EQ(TiffField(Path("out.tif"), TIFFTAG_XRESOLUTION), 300);
        EXPECT_EQ(TiffField(Path("out.tif"), TIFFTAG_YRESOLUTION), 200);
        EXPECT_EQ(TiffField(Path("out.tif"), TIFFTAG_RESOLUTIONUNIT), RESUNIT_INCH);
        for (const char* name : {"out.png", "out.bmp"}) {
            ASSERT_TRUE(Formats.Save(*document, Path(name), QByteArray(name).endsWith("png") ? 2 : 3));
            EXPECT_EQ(QImage(Path(name)).dotsPerMeterX(), 11811) << name;
            EXPECT_EQ(QImage(Path(name)).dotsPerMeterY(), 7874) << name;
        }
        ASSERT_TRUE(Formats.Save(*document, Path("out.jpg"), 0));
        EXPECT_EQ(Density(Path("out.jpg")), QList<int>({1, 300, 200}));  // dots per inch
    }
}

// Turned a quarter, a 300 x 200 dpi photo is 200 x 300 dpi: encoded, and in
// the JFIF density and EXIF resolution a lossless save copies.
TEST_F(GraphicsFormatsTest, AQuarterTurnSwapsTheResolutionOnEveryPath) {
    int32_t id = 0;
    ASSERT_TRUE(WriteTaggedTiff(Path("in.tif"), 300, 200));
    auto document = Loaded(Path("in.tif"), id);
    ASSERT_TRUE(document);
    document->RotateRight();
    ASSERT_TRUE(Formats.Save(*document, Path("out.tif"), 1));
    EXPECT_EQ(TiffField(Path("out.tif"), TIFFTAG_XRESOLUTION), 200);
    EXPECT_EQ(TiffField(Path("out.tif"), TIFFTAG_YRESOLUTION), 300);
    document->FlipHorizontal();  // a flip keeps the axes
    EXPECT_EQ(document->Properties.HorizontalResolution, 200);

    QByteArray jpeg = Jpeg(Picture(32, 16), 90, 0, TJSAMP_420);
    const qsizetype app0 = FindMarker(jpeg, 0xE0);
    ASSERT_GT(app0, 0);
    jpeg[app0 + 11] = 1;  // dots per inch
    qToBigEndian<uint16_t>(300, jpeg.data() + app0 + 12);
    qToBigEndian<uint16_t>(200, jpeg.data() + app0 + 14);
    const QString in = Write("dense.jpg", jpeg);
    {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(in).toStdString());
        image->readMetadata();
        image->exifData()["Exif.Image.XResolution"] = Exiv2::URational(300, 1);
        image->exifData()["Exif.Image.YResolution"] = Exiv2::URational(200, 1);
        image->writeMetadata();
    }
    TSessionFactory factory;
    document = Loaded(in, id);
    ASSERT_TRUE(document && document->JpegSession && document->JpegSession->IsOpen());
    document->RotateLeft();
    ASSERT_TRUE(Formats.Save(*document, Path("turned.jpg"), 0)) << Formats.LastError().toStdString();
    EXPECT_EQ(Formats.Asked, 0);
    EXPECT_EQ(Density(Path("turned.jpg")), QList<int>({1, 200, 300}));
    EXPECT_EQ(ExivValue(Path("turned.jpg"), "Exif.Image.XResolution"), "200/1");
    EXPECT_EQ(ExivValue(Path("turned.jpg"), "Exif.Image.YResolution"), "300/1");
}

TEST_F(GraphicsFormatsTest, TheOrientationWrittenMatchesThePixelsOnEveryPath) {
    const QString in = Write("portrait.jpg", Jpeg(Picture(32, 16), 90, 0, TJSAMP_420));
    AddMetadata(in, "6");
    int32_t id = 0;
    {
        TSessionFactory factory;
        auto save = [&](const char* name, const std::function<void(TQelGraphicsDocument&)>& edit) {
            auto document = Loaded(in, id);
            EXPECT_TRUE(document && document->JpegSession && document->JpegSession->IsOpen());
            if (!document) return TCarried();
            edit(*document);
            EXPECT_TRUE(Formats.Save(*document, Path(name), 0)) << Formats.LastError().toStdString();
            EXPECT_EQ(Formats.Asked, 0);
            return Carried(Path(name));
        };
        TCarried c = save("same.jpg", [](TQelGraphicsDocument&) {});
        EXPECT_EQ(c.ExifOrientation, "6");
        EXPECT_EQ(c.XmpOrientation, "6");
        c = save("back.jpg", [](TQelGraphicsDocument& d) {
            d.RotateLeft();
            d.RotateRight();
        });
        EXPECT_EQ(c.ExifOrientation, "6");
        c = save("upright.jpg", [](TQelGraphicsDocument& d) { d.RotateRight(); });
        EXPECT_EQ(c.ExifOrientation, "1");
        EXPECT_EQ(c.XmpOrientation, "1");
        // The rest of the markers came along unchanged.
        EXPECT_EQ(c.Profile, Profile());
        EXPECT_EQ(c.Caption, "A caption");
        const QByteArray kept = AppSegments(ReadFile(Path("same.jpg"))), turned = AppSegments(ReadFile(Path("upright.jpg")));
        ASSERT_EQ(turned.size(), kept.size());
        int differing = 0;
        for (qsizetype i = 0; i < kept.size(); ++i) differing += kept[i] != turned[i];
        EXPECT_EQ(differing, 2);  // the EXIF and the XMP orientation
        c = save("mirrored.jpg", [](TQelGraphicsDocument& d) { d.FlipHorizontal(); });
        EXPECT_EQ(c.ExifOrientation, "1");
    }
    // The encoders: untouched keeps the tag, turned says 1.
    auto document = Loaded(in, id);
    ASSERT_TRUE(document);
    ASSERT_TRUE(Formats.Save(*document, Path("encoded.jpg"), 0));
    EXPECT_EQ(Carried(Path("encoded.jpg")).ExifOrientation, "6");
    document->FlipVertical();
    for (auto [name, format] : {std::pair("turned.jpg", 0), std::pair("turned.tif", 1), std::pair("turned.png", 2)}) {
        ASSERT_TRUE(Formats.Save(*document, Path(name), format)) << name;
        const TCarried c = Carried(Path(name));
        EXPECT_EQ(c.XmpOrientation, "1") << name;
        if (format != 2) {
            EXPECT_EQ(c.ExifOrientation, "1") << name;
        }
    }
    EXPECT_EQ(TiffField(Path("turned.tif"), TIFFTAG_ORIENTATION), ORIENTATION_TOPLEFT);
}

TEST_F(GraphicsFormatsTest, ATiffIsReadAsStoredSoItsOrientationStillHoldsWhenSaved) {
    // Stored bottom row first: before, the rows were turned upright on
    // reading and saved with the tag that turns them once more.
    ASSERT_TRUE(WriteTaggedTiff(Path("in.tif"), 0, 0, ORIENTATION_BOTLEFT));
    int32_t id = 0;
    auto document = Loaded(Path("in.tif"), id);
    ASSERT_TRUE(document);
    EXPECT_EQ(document->GetPixels()->PixelAddress(0, 0)[2], 0);
    EXPECT_EQ(document->GetPixels()->PixelAddress(0, 5)[2], 200);
    ASSERT_TRUE(Formats.Save(*document, Path("out.tif"), 1));
    EXPECT_EQ(TiffField(Path("out.tif"), TIFFTAG_ORIENTATION), ORIENTATION_BOTLEFT);
    document = Loaded(Path("out.tif"), id);
    ASSERT_TRUE(document);
    EXPECT_EQ(document->GetPixels()->PixelAddress(0, 5)[2], 200);
}

TEST_F(GraphicsFormatsTest, OnlyAMultiPageTiffBringsANotice) {
    TTiffPage page{6, 4, 3, 8, std::vector<uint16_t>(6 * 4 * 3, 77)};
    ASSERT_TRUE(WriteTiff(Path("three.tif"), {page, page, page}));
    ASSERT_TRUE(WriteTiff(Path("one.tif"), {page}));
    TQelLocalizer localizer(QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033);
    int32_t id = 0;
    ASSERT_TRUE(Loaded(Path("three.tif"), id));
    EXPECT_TRUE(Formats.LoadNotice().contains("3 pages")) << Formats.LoadNotice().toStdString();
    ASSERT_TRUE(Loaded(Path("one.tif"), id));
    EXPECT_EQ(Formats.LoadNotice(), "");
}

// --- The open dialog's description and preview --------------------------------------

TEST_F(GraphicsFormatsTest, DescriptionsListFormatSizeDateAndCamera) {
    TQelLocalizer localizer(QStringLiteral(VISARA_SOURCE_DIR "/data/Languages"), 1033);
    std::unique_ptr<TQelFileInfo> info;
    ASSERT_TRUE(Formats.GetFileInfo(Write("cam.jpg", CameraJpeg(Picture(16, 8))), info));
    QString text;
    info->GetDescription(text);
    EXPECT_EQ(text, "Format: JPEG\nSize: 16 x 8\nDate: 2004:01:02 03:04:05\nCamera: Cam X1");

    ASSERT_TRUE(Formats.GetFileInfo(Write("plain.jpg", Jpeg(Picture(5, 3))), info));
    info->GetDescription(text);
    EXPECT_EQ(text, "Format: JPEG\nSize: 5 x 3");

    // A model without a make; a file no decoder reads has no description.
    const QByteArray modelOnly = WithSegment(Jpeg(Picture(5, 3)), ExifSegment({TExifEntry{272, 2, Ascii("X1")}}));
    ASSERT_TRUE(Formats.GetFileInfo(Write("model.jpg", modelOnly), info));
    info->GetDescription(text);
    EXPECT_EQ(text, "Format: JPEG\nSize: 5 x 3\nCamera: X1");
    ASSERT_TRUE(Formats.GetFileInfo(Write("notes.txt", "hello"), info));
    info->GetDescription(text);
    EXPECT_EQ(text, "");
    EXPECT_FALSE(Formats.GetFileInfo(Dir.path(), info));
    EXPECT_FALSE(Formats.GetFileInfo(Path("missing.jpg"), info));
}

TEST_F(GraphicsFormatsTest, ThumbnailsFitTheBoxAndAreDrawnCentred) {
    std::unique_ptr<TQelThumbnail> thumbnail;
    ASSERT_TRUE(Formats.GetThumbnail(Write("wide.jpg", Jpeg(Quadrants(400, 100))), 200, 200, thumbnail));
    const auto* graphics = dynamic_cast<TQelGraphicsThumbnail*>(thumbnail.get());
    ASSERT_TRUE(graphics);
    EXPECT_EQ(graphics->Image().size(), QSize(200, 50));
    QImage canvas(200, 200, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    TQelRect drawn;
    {
        QPainter painter(&canvas);
        thumbnail->Draw(painter, TQelRect(0, 0, 200, 200), drawn);
    }
    EXPECT_EQ(drawn, TQelRect(0, 75, 200, 125));
    EXPECT_EQ(canvas.pixel(100, 74), qRgb(0, 0, 0));
    EXPECT_NE(canvas.pixel(100, 76), qRgb(0, 0, 0));

    EXPECT_FALSE(Formats.GetThumbnail(Write("junk.png", "0123456789"), 200, 200, thumbnail));
    EXPECT_FALSE(Formats.GetThumbnail(Path("wide.jpg"), 0, 200, thumbnail));
}

// --- The real quality dialog -----------------------------------------------------------

TEST(GraphicsFormatsDialogTest, TheQualityDialogDecidesWhetherAJpegIsWritten) {
    QTemporaryDir dir;
    TQelGraphicsFormats formats;
    int32_t id = 0;
    auto document = std::make_unique<TQelGraphicsDocument>(nullptr);
    ASSERT_TRUE(WriteFile(dir.filePath("in.png"), Encoded(QImage(8, 8, QImage::Format_RGB32), "png")));
    ASSERT_TRUE(formats.Load(*document, dir.filePath("in.png"), id));

    // Answers the dialog once it shows, so no test waits in its loop.
    auto answer = [](std::function<void(TQelJPEGOptionsForm&)> action) {
        auto* timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* form = dynamic_cast<TQelJPEGOptionsForm*>(w); form && form->isVisible()) {
                    timer->stop();
                    timer->deleteLater();
                    action(*form);
                    return;
                }
        });
        timer->start(5);
    };
    answer([](TQelJPEGOptionsForm& form) { form.reject(); });
    EXPECT_FALSE(formats.Save(*document, dir.filePath("out.jpg"), 0));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("out.jpg")));

    answer([](TQelJPEGOptionsForm& form) {
        form.SetQuality(30);
        form.OkButtonClick();
    });
    EXPECT_TRUE(formats.Save(*document, dir.filePath("out.jpg"), 0));
    EXPECT_EQ(formats.JpegQuality, 30);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("out.jpg")));
}

}  // namespace
