// What a photo carries besides its pixels, through every save path, read
// back by programs that share no code with ours: exiftool, and libpng
// itself for what a PNG must carry in a form libpng takes.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <csetjmp>
#include <cstdio>
#include <functional>

#include <exiv2/exiv2.hpp>
#include <png.h>

#include "ChildProcess.h"
#include "FormatsTestSupport.h"
#include "QelImageMetadata.h"

using namespace samples;

namespace {

// Every tag exiftool finds, as "Group:Tag" (family 1 groups: IFD0, ExifIFD,
// IFD1, XMP-dc, ICC_Profile, PNG, File, ...), values unconverted.
QJsonObject ExifTool(const QString& path) {
    TChildProcess p;
    if (!p.Start(QStringLiteral("exiftool"), {"-json", "-a", "-G1", "-n", path}) || !p.WaitForFinished(60000) ||
        !p.Succeeded())
        return QJsonObject();
    return QJsonDocument::fromJson(p.Output()).array().at(0).toObject();
}

// What libpng reads before the image data; nothing when it refuses the file.
struct TPngChunks {
    QByteArray ProfileName, Profile, Exif;
};

TPngChunks ReadPngChunks(const QString& path) {
    TPngChunks result;
    FILE* f = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!f) return result;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, [](png_structp, png_const_charp) {});
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (png && info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, f);
        png_read_info(png, info);
        png_charp name = nullptr;
        int compression = 0;
        png_bytep data = nullptr;
        png_uint_32 length = 0;
        if (png_get_iCCP(png, info, &name, &compression, &data, &length))
            result = {name, QByteArray(reinterpret_cast<const char*>(data), qsizetype(length))};
        if (png_get_eXIf_1(png, info, &length, &data))
            result.Exif = QByteArray(reinterpret_cast<const char*>(data), qsizetype(length));
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return result;
}

QByteArray Be32(uint32_t v) {
    QByteArray b(4, '\0');
    qToBigEndian<uint32_t>(v, b.data());
    return b;
}

// A colour profile every reader accepts: a header for Space ("RGB " or
// "GRAY"), a white point and the description, of the older text type (with
// no Unicode or ScriptCode text) or (Multilingual) the newer one with one
// English text.
QByteArray IccProfile(const char* space, const QString& description, bool multilingual = false) {
    QByteArray desc = QByteArray("desc") + Be32(0) + Be32(uint32_t(description.size() + 1)) + description.toLatin1() +
                      QByteArray(1 + 4 + 4 + 2 + 1 + 67, '\0');
    if (multilingual) {
        desc = QByteArray("mluc") + Be32(0) + Be32(1) + Be32(12) + "enUS" + Be32(uint32_t(description.size() * 2)) +
               Be32(28);
        for (QChar c : description) desc += QByteArray(1, char(c.unicode() >> 8)) + char(c.unicode() & 0xFF);
    }
    while (desc.size() % 4) desc += '\0';
    const QByteArray d50 = Be32(0xF6D6) + Be32(0x10000) + Be32(0xD32D), white = "XYZ " + Be32(0) + d50;
    const uint32_t descAt = 128 + 4 + 2 * 12, whiteAt = descAt + uint32_t(desc.size());
    return Be32(whiteAt + uint32_t(white.size())) + "none" + Be32(0x02100000) + "mntr" + QByteArray(space, 4) +
           "XYZ " + QByteArray(12, '\0') + "acsp" + QByteArray(24, '\0') + Be32(0) + d50 + QByteArray(48, '\0') +
           Be32(2) + "desc" + Be32(descAt) + Be32(uint32_t(desc.size())) + "wtpt" + Be32(whiteAt) +
           Be32(uint32_t(white.size())) + desc + white;
}

// Metadata put into a file as another program would have written it.
void Tag(const QString& path, const std::function<void(Exiv2::Image&)>& edit) {
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    edit(*image);
    image->writeMetadata();
}

void SetProfile(Exiv2::Image& image, const QByteArray& profile) {
    Exiv2::DataBuf icc(reinterpret_cast<const Exiv2::byte*>(profile.constData()), long(profile.size()));
    image.setIccProfile(icc);
}

// An XMP packet with one text of Dublin Core's Name, and more properties.
QByteArray Xmp(const char* name, const QByteArray& text, const QByteArray& more = {}, const QByteArray& namespaces = {}) {
    return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
           "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" " +
           namespaces + "><dc:" + name + "><rdf:Alt><rdf:li xml:lang=\"x-default\">" + text + "</rdf:li></rdf:Alt></dc:" +
           name + ">" + more + "</rdf:Description></rdf:RDF></x:xmpmeta>";
}

// A JPEG whose XMP names an extension; with Pieces > 0 the extension (a
// description of Length letters) follows in that many segments.
QByteArray JpegWithExtendedXmp(int length, int pieces) {
    const QByteArray extension = Xmp("description", QByteArray(length, 'x'));
    const QByteArray guid = QCryptographicHash::hash(extension, QCryptographicHash::Md5).toHex().toUpper();
    const QByteArray claim = "<xmpNote:HasExtendedXMP>" + guid + "</xmpNote:HasExtendedXMP>";
    QByteArray segments = Segment(0xE1, QByteArray("http://ns.adobe.com/xap/1.0/", 29) +
                                            Xmp("title", "Portrait", claim, "xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\""));
    const qsizetype step = pieces > 0 ? (extension.size() + pieces - 1) / pieces : 0;
    for (int i = 0; i < pieces; ++i) {
        QByteArray head = QByteArray("http://ns.adobe.com/xmp/extension/", 35) + guid + Be32(uint32_t(extension.size()));
        segments += Segment(0xE1, head + Be32(uint32_t(i * step)) + extension.mid(i * step, step));
    }
    return WithSegment(Jpeg(Picture(32, 16), 90, 0, TJSAMP_420), segments);
}

// A BMP with a version 5 header whose colour profile follows the pixels.
QByteArray BmpWithProfile(const QByteArray& profile) {
    const QByteArray pixels(4 * 3 * 2, '\x60');  // 4 x 2, rows of 12 bytes
    const uint32_t offset = 14 + 124;
    return QByteArray("BM") + Long(offset + uint32_t(pixels.size() + profile.size())) + Long(0) + Long(offset) +
           Long(124) + Long(4) + Long(2) + Short(1) + Short(24) + Long(0) + Long(uint32_t(pixels.size())) + Long(2835) +
           Long(2835) + Long(0) + Long(0) + QByteArray(16, '\0') + "DEBM" + QByteArray(36 + 12 + 4, '\0') +
           Long(124 + uint32_t(pixels.size())) + Long(uint32_t(profile.size())) + Long(0) + pixels + profile;
}

// A brush's dab of one colour (blue, green, red) over R.
void Paint(TQelGraphicsDocument& d, const TQelRect& r, const char* bgr) {
    d.BeginModification(nullptr);
    for (int32_t y = r.Top; y < r.Bottom; ++y)
        for (int32_t x = r.Left; x < r.Right; ++x) std::memcpy(d.GetPixels()->PixelAddress(x, y), bgr, 3);
    d.AddModifiedRect(r);
    d.EndModification(&d);
}

class SavedMetadataTest : public TFormatsTest {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("exiftool")).isEmpty())
            GTEST_SKIP() << "exiftool is not installed, so the saved file cannot be read back";
    }
    // Saves and reads back what exiftool finds.
    QJsonObject Saved(TQelGraphicsDocument& document, const QString& name, int32_t format) {
        EXPECT_TRUE(Formats.Save(document, Path(name), format)) << name.toStdString() << ": "
                                                                 << Formats.LastError().toStdString();
        return ExifTool(Path(name));
    }
};

const std::pair<const char*, int32_t> EncoderTargets[] = {{"out.jpg", 0}, {"out.tif", 1}, {"out.png", 2}};

// An editor's TIFF: a profile, an IPTC caption, and EXIF and XMP that are
// each larger than a JPEG segment.
TEST_F(SavedMetadataTest, EveryPartThatFitsIsWrittenAndWhatDoesNotIsNamed) {
    ASSERT_TRUE(WriteTiff(Path("in.tif"), {TTiffPage{8, 6, 3, 8, std::vector<uint16_t>(8 * 6 * 3, 100)}}));
    // Items of 16 to 19 KB (an encoder drops larger ones), together beyond
    // a JPEG segment.
    const std::pair<const char*, int> large[] = {{"ImageDescription", 16000}, {"Artist", 19000}, {"Copyright", 17000},
                                                 {"Software", 18000}};
    Tag(Path("in.tif"), [&](Exiv2::Image& image) {
        image.exifData()["Exif.Image.Make"] = "Cam";
        for (const auto& [tag, size] : large) image.exifData()[std::string("Exif.Image.") + tag] = std::string(size, 'x');
        SetProfile(image, IccProfile("RGB ", QStringLiteral("Studio RGB")));
        image.iptcData()["Iptc.Application2.Caption"] = "A caption";
        image.xmpData()["Xmp.dc.title"] = "lang=x-default Portrait";
        image.xmpData()["Xmp.dc.description"] = "lang=x-default " + std::string(41000, 'd');
        image.xmpData()["Xmp.photoshop.History"] = std::string(41000, 'h');
    });
    auto document = Loaded(Path("in.tif"));
    for (const auto& [name, format] : EncoderTargets) {
        SCOPED_TRACE(name);
        const QJsonObject t = Saved(*document, name, format);
        EXPECT_EQ(t["IFD0:Make"].toString(), "Cam");
        EXPECT_EQ(t["ICC_Profile:ProfileDescription"].toString(), "Studio RGB");
        EXPECT_EQ(t["IPTC:Caption-Abstract"].toString(), "A caption");
        EXPECT_EQ(t["XMP-dc:Title"].toString(), "Portrait");
        EXPECT_EQ(t["XMP-dc:Description"].toString().size(), 41000);
        EXPECT_EQ(t["XMP-photoshop:History"].toString().size(), 41000);
        // A JPEG's segment takes all but the largest, which is named.
        for (const auto& [tag, size] : large)
            EXPECT_EQ(t[QStringLiteral("IFD0:") + tag].toString().size(), format == 0 && size == 19000 ? 0 : size) << tag;
        EXPECT_EQ(Formats.LeftOut().join(", ").toStdString(), format == 0 ? "EXIF item 315" : "");
    }
}

// libpng takes a profile only under a valid keyword (not two spaces in a
// row, nor letters beyond Latin-1); browsers read a PNG's EXIF from the
// eXIf chunk only.
TEST_F(SavedMetadataTest, APngNamesItsProfileSoThatLibpngTakesItAndCarriesItsExifInAnExifChunk) {
    const std::pair<QByteArray, QByteArray> cases[] = {
        {IccProfile("RGB ", QStringLiteral("Studio RGB")), "Studio RGB"},
        {IccProfile("RGB ", QStringLiteral("Wide RGB"), true), "Wide RGB"},
        {IccProfile("RGB ", QStringLiteral("Studio  RGB")), "ICC profile"},
        {IccProfile("RGB ", QString::fromUtf8("\xD0\x9F\xD1\x80\xD0\xBE\xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C"), true),
         "ICC profile"}};
    for (const auto& [profile, name] : cases) {
        SCOPED_TRACE(name.toStdString());
        const QString in = Write("in.jpg", Jpeg(Picture(8, 8)));
        Tag(in, [&](Exiv2::Image& image) {
            SetProfile(image, profile);
            image.exifData()["Exif.Image.Orientation"] = uint16_t(6);
            image.exifData()["Exif.Image.Make"] = "Cam";
        });
        ASSERT_TRUE(Formats.Save(*Loaded(in), Path("out.png"), 2));
        const TPngChunks png = ReadPngChunks(Path("out.png"));
        EXPECT_EQ(png.ProfileName, name);
        EXPECT_EQ(png.Profile, profile);
    }
    // The chunk holds a TIFF structure: read as one, it says what EXIF said.
    const QJsonObject t = ExifTool(Write("exif.tif", ReadPngChunks(Path("out.png")).Exif));
    EXPECT_EQ(t["IFD0:Orientation"].toInt(), 6);
    EXPECT_EQ(t["IFD0:Make"].toString(), "Cam");
}

// A camera's photo whose EXIF states its size (one as a SHORT, one as a
// LONG) and carries a thumbnail, in either byte order. The lossless session
// restates the EXIF for each way its pixels part from the file's (turned,
// cropped, retouched) and keeps the thumbnail only with the file's own
// pixels; the encoders state the pixels saved and never write a thumbnail.
TEST_F(SavedMetadataTest, TheSavedExifStatesTheSavedPixelsAndDropsAThumbnailThatNoLongerMatches) {
    const struct {
        const char* Name;
        std::function<void(TQelGraphicsDocument&)> Edit;
        int Width, Height;
    } edits[] = {{"same", [](TQelGraphicsDocument&) {}, 32, 16},
                 {"turned", [](TQelGraphicsDocument& d) { d.RotateRight(); }, 16, 32},
                 {"cropped", [](TQelGraphicsDocument& d) { d.Crop(TQelRect(16, 0, 32, 16)); }, 16, 16},
                 {"retouched", [](TQelGraphicsDocument& d) { Paint(d, TQelRect(4, 4, 7, 5), "\xFF\xFF\xFF"); }, 32, 16}};
    const QString in = Path("camera.jpg");
    for (Exiv2::ByteOrder order : {Exiv2::littleEndian, Exiv2::bigEndian}) {
        SCOPED_TRACE(order == Exiv2::bigEndian ? "big-endian" : "little-endian");
        WriteFile(in, Jpeg(Picture(32, 16), 90, 0, TJSAMP_420));
        Tag(in, [&](Exiv2::Image& image) {
            image.exifData()["Exif.Image.Make"] = "Cam";
            image.exifData()["Exif.Photo.PixelXDimension"] = uint16_t(32);
            image.exifData()["Exif.Photo.PixelYDimension"] = uint32_t(16);
            const QByteArray thumbnail = Jpeg(Picture(16, 8));
            Exiv2::ExifThumb(image.exifData())
                .setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(thumbnail.constData()), long(thumbnail.size()));
            image.setByteOrder(order);
        });
        for (bool lossless : {true, false}) {
            TSessionFactory factory(lossless);
            Formats.Asked = 0;
            for (const auto& e : edits) {
                // The encoders are tried on the turn, in every format.
                if (!lossless && e.Name != std::string("turned")) continue;
                auto document = Loaded(in);
                ASSERT_EQ(document->JpegSession && document->JpegSession->IsOpen(), lossless);
                e.Edit(*document);
                for (const auto& [name, format] : EncoderTargets) {
                    if (lossless && format != 0) continue;
                    SCOPED_TRACE(std::string(e.Name) + (lossless ? " in the session" : " to ") + name);
                    const QJsonObject t = Saved(*document, name, format);
                    EXPECT_EQ(t["ExifIFD:ExifImageWidth"].toInt(), e.Width);
                    EXPECT_EQ(t["ExifIFD:ExifImageHeight"].toInt(), e.Height);
                    EXPECT_EQ(t.contains("IFD1:ThumbnailImage"), lossless && e.Name == std::string("same"));
                    EXPECT_EQ(t["IFD0:Make"].toString(), "Cam");
                }
            }
            if (lossless) EXPECT_EQ(Formats.Asked, 0) << "a save left the session";
        }
    }
}

TEST_F(SavedMetadataTest, AGreyProfileStaysWithGreyPixelsOnly) {
    TSessionFactory factory;
    const QString in = Write("grey.jpg", Jpeg(Picture(16, 16), 90, 0, TJSAMP_GRAY));
    Tag(in, [](Exiv2::Image& image) { SetProfile(image, IccProfile("GRAY", QStringLiteral("Grey"))); });
    for (bool painted : {false, true}) {
        SCOPED_TRACE(painted ? "painted red" : "untouched");
        auto document = Loaded(in);
        ASSERT_TRUE(document->JpegSession && document->JpegSession->IsOpen());
        if (painted) Paint(*document, TQelRect(0, 2, 8, 3), "\0\0\xFF");
        const QJsonObject t = Saved(*document, QStringLiteral("out.jpg"), 0);
        EXPECT_EQ(t["File:ColorComponents"].toInt(), painted ? 3 : 1);
        EXPECT_EQ(t.contains("ICC_Profile:ProfileDescription"), !painted);
    }
}

// A JPEG's extended XMP and its comment, and a PNG's texts (one long, so
// compressed; one beyond Latin-1) and its comment, on every path where the
// target has a place for them (a TIFF has none for a comment).
TEST_F(SavedMetadataTest, ExtendedXmpCommentsAndTextsAreKeptOnEveryPathAndNoExtensionIsClaimedWithoutItsData) {
    const QString comment = QStringLiteral("Shot in the studio");
    const QString in = Write("extended.jpg", WithSegment(JpegWithExtendedXmp(90000, 2), Segment(0xFE, comment.toLatin1())));
    {
        TSessionFactory factory;
        auto document = Loaded(in);
        document->RotateLeft();
        const QJsonObject t = Saved(*document, QStringLiteral("session.jpg"), 0);
        EXPECT_EQ(t["XMP-dc:Description"].toString().size(), 90000);
        EXPECT_EQ(t["File:Comment"].toString(), comment);
    }
    const QString latin = QString::fromUtf8("Caf\xC3\xA9 lights, ") + QString(300, u'x');
    const QString greek = QString::fromUtf8("Zo\xC3\xAB \xCE\xA9mega");
    QImage image(8, 6, QImage::Format_RGB888);
    image.fill(Qt::gray);
    image.setText(QStringLiteral("Title"), QStringLiteral("Portrait"));
    image.setText(QStringLiteral("Description"), latin);
    image.setText(QStringLiteral("Author"), greek);
    image.setText(QStringLiteral("Comment"), QStringLiteral("Retouched"));
    auto png = Loaded(Write("in.png", Encoded(image, "png")));
    TSessionFactory encoders(false);
    auto document = Loaded(in);
    auto claim = Loaded(Write("claim.jpg", JpegWithExtendedXmp(1000, 0)));
    for (const auto& [name, format] : EncoderTargets) {
        SCOPED_TRACE(name);
        const char* commentTag = format == 0 ? "File:Comment" : "PNG:Comment";
        QJsonObject t = Saved(*document, name, format);
        EXPECT_EQ(t["XMP-dc:Title"].toString(), "Portrait");
        EXPECT_EQ(t["XMP-dc:Description"].toString().size(), 90000);
        EXPECT_TRUE(Formats.LeftOut().isEmpty());
        if (format != 1) EXPECT_EQ(t[commentTag].toString(), comment);
        // A claim whose extension is missing is not passed on.
        t = Saved(*claim, name, format);
        EXPECT_EQ(t["XMP-dc:Title"].toString(), "Portrait");
        EXPECT_FALSE(t.contains("XMP-xmpNote:HasExtendedXMP"));
        t = Saved(*png, name, format);
        if (format != 1) EXPECT_EQ(t[commentTag].toString(), "Retouched");
        if (format != 2) continue;
        EXPECT_EQ(t["PNG:Title"].toString(), "Portrait");
        EXPECT_EQ(t["PNG:Description"].toString(), latin);
        EXPECT_EQ(t["PNG:Author"].toString(), greek);
    }
}

// Parts whose pieces are missing or lie beyond the file.
TEST(SavedMetadataParts, DamagedPartsReadAsAbsent) {
    TQelImageMetadata m;
    // The second of two extension pieces is missing: no claim, no half text.
    QByteArray jpeg = JpegWithExtendedXmp(90000, 2);
    const qsizetype second = jpeg.lastIndexOf("http://ns.adobe.com/xmp/extension/") - 4;
    jpeg.remove(second, qFromBigEndian<uint16_t>(jpeg.constData() + second + 2) + 2);
    ASSERT_TRUE(QelReadImageMetadata(jpeg, m));
    EXPECT_TRUE(m.Xmp.contains("Portrait"));
    EXPECT_FALSE(m.Xmp.contains("HasExtendedXMP"));
    EXPECT_FALSE(m.Xmp.contains("xxxx"));

    // A profile said to lie beyond the file's end.
    QByteArray bmp = BmpWithProfile(IccProfile("RGB ", QStringLiteral("Studio RGB")));
    qToLittleEndian<uint32_t>(uint32_t(bmp.size()), bmp.data() + 14 + 116);
    QelReadImageMetadata(bmp, m);
    EXPECT_TRUE(m.Items.isEmpty());
}

TEST_F(SavedMetadataTest, ABmpsEmbeddedProfileAndABigTiffsProfileXmpAndResolutionAreRead) {
    const QByteArray profile = IccProfile("RGB ", QStringLiteral("Studio RGB"));
    ASSERT_TRUE(Formats.Save(*Loaded(Write("in.bmp", BmpWithProfile(profile))), Path("bmp.png"), 2));
    EXPECT_EQ(ReadPngChunks(Path("bmp.png")).Profile, profile);

    TTiffPage page{4, 2, 3, 8, std::vector<uint16_t>(4 * 2 * 3), 300, 200, 0, profile, Xmp("title", "Portrait")};
    ASSERT_TRUE(WriteTiff(Path("big.tif"), {page}, COMPRESSION_NONE, "w8"));
    const QJsonObject t = Saved(*Loaded(Path("big.tif")), QStringLiteral("big.png"), 2);
    EXPECT_EQ(ReadPngChunks(Path("big.png")).Profile, profile);
    EXPECT_EQ(t["XMP-dc:Title"].toString(), "Portrait");
    EXPECT_EQ(t["PNG-pHYs:PixelsPerUnitX"].toInt(), 11811);
    EXPECT_EQ(t["PNG-pHYs:PixelsPerUnitY"].toInt(), 7874);
}

}  // namespace
