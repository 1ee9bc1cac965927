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
#include <memory>
#include <string>

#include <exiv2/exiv2.hpp>
#include <png.h>

#include "ChildProcess.h"
#include "FormatsTestSupport.h"
#include "ImageFileSamples.h"
#include "QelGraphicsEditor.h"
#include "QelImageMetadata.h"

using namespace samples;

namespace {

#define REQUIRE_EXIFTOOL()                                                      \
    if (QStandardPaths::findExecutable(QStringLiteral("exiftool")).isEmpty()) \
    GTEST_SKIP() << "exiftool is not installed, so the saved file cannot be read back"

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
        if (png_get_iCCP(png, info, &name, &compression, &data, &length)) {
            result.ProfileName = name;
            result.Profile = QByteArray(reinterpret_cast<const char*>(data), qsizetype(length));
        }
        if (png_get_eXIf_1(png, info, &length, &data))
            result.Exif = QByteArray(reinterpret_cast<const char*>(data), qsizetype(length));
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return result;
}

// A colour profile every reader accepts: a header for Space ("RGB " or
// "GRAY"), a white point and the description, of the older text type or
// (Multilingual) the newer one with one English text.
QByteArray IccProfile(const char* space, const QString& description, bool multilingual = false) {
    auto be32 = [](uint32_t v) {
        QByteArray b(4, '\0');
        qToBigEndian<uint32_t>(v, b.data());
        return b;
    };
    QByteArray desc;
    if (multilingual) {
        desc = QByteArray("mluc") + be32(0) + be32(1) + be32(12) + "enUS" + be32(uint32_t(description.size() * 2)) +
               be32(28);
        for (QChar c : description) desc += QByteArray(1, char(c.unicode() >> 8)) + char(c.unicode() & 0xFF);
    } else {
        const QByteArray text = description.toLatin1() + '\0';
        // No Unicode or ScriptCode text after the ASCII one.
        desc = QByteArray("desc") + be32(0) + be32(uint32_t(text.size())) + text + QByteArray(4 + 4 + 2 + 1 + 67, '\0');
    }
    while (desc.size() % 4) desc += '\0';
    const QByteArray white = QByteArray("XYZ ") + be32(0) + be32(0xF6D6) + be32(0x10000) + be32(0xD32D);
    const uint32_t table = 128 + 4 + 2 * 12, descAt = table, whiteAt = descAt + uint32_t(desc.size());
    const uint32_t size = whiteAt + uint32_t(white.size());
    QByteArray header = be32(size) + "none" + be32(0x02100000) + "mntr" + QByteArray(space, 4) + "XYZ " +
                        QByteArray(12, '\0') + "acsp" + QByteArray(24, '\0') + be32(0) + be32(0xF6D6) +
                        be32(0x10000) + be32(0xD32D) + QByteArray(48, '\0');
    header += be32(2) + "desc" + be32(descAt) + be32(uint32_t(desc.size())) + "wtpt" + be32(whiteAt) +
              be32(uint32_t(white.size()));
    return header + desc + white;
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

QByteArray Xmp(const QByteArray& properties, const QByteArray& namespaces = QByteArray()) {
    return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
           "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" " +
           namespaces + ">" + properties + "</rdf:Description></rdf:RDF></x:xmpmeta>";
}

QByteArray LangAlt(const char* name, const QByteArray& text) {
    return QByteArray("<dc:") + name + "><rdf:Alt><rdf:li xml:lang=\"x-default\">" + text + "</rdf:li></rdf:Alt></dc:" +
           name + ">";
}

// A JPEG whose XMP names an extension; with Pieces > 0 the extension (a
// description of Length letters) follows in that many segments.
QByteArray JpegWithExtendedXmp(int length, int pieces) {
    const QByteArray extension = Xmp(LangAlt("description", QByteArray(length, 'x')));
    const QByteArray guid = QCryptographicHash::hash(extension, QCryptographicHash::Md5).toHex().toUpper();
    const QByteArray main = Xmp(LangAlt("title", "Portrait") + "<xmpNote:HasExtendedXMP>" + guid +
                                    "</xmpNote:HasExtendedXMP>",
                                "xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\"");
    QByteArray segments = Segment(0xE1, QByteArray("http://ns.adobe.com/xap/1.0/", 29) + main);
    const qsizetype step = pieces > 0 ? (extension.size() + pieces - 1) / pieces : 0;
    for (int i = 0; i < pieces; ++i) {
        QByteArray head = QByteArray("http://ns.adobe.com/xmp/extension/", 35) + guid + QByteArray(8, '\0');
        qToBigEndian<uint32_t>(uint32_t(extension.size()), head.data() + 67);
        qToBigEndian<uint32_t>(uint32_t(i * step), head.data() + 71);
        segments += Segment(0xE1, head + extension.mid(i * step, step));
    }
    return WithSegment(Jpeg(Picture(32, 16), 90, 0, TJSAMP_420), segments);
}

// A BMP with a version 5 header whose colour profile follows the pixels.
QByteArray BmpWithProfile(const QByteArray& profile) {
    const QByteArray pixels(4 * 3 * 2, '\x60');  // 4 x 2, rows of 12 bytes
    const uint32_t offset = 14 + 124;
    QByteArray b = QByteArray("BM") + Long(offset + uint32_t(pixels.size() + profile.size())) + Long(0) + Long(offset);
    b += Long(124) + Long(4) + Long(2) + Short(1) + Short(24) + Long(0) + Long(uint32_t(pixels.size())) + Long(2835) +
         Long(2835) + Long(0) + Long(0) + QByteArray(16, '\0') + "DEBM" + QByteArray(36 + 12 + 4, '\0') +
         Long(124 + uint32_t(pixels.size())) + Long(uint32_t(profile.size())) + Long(0);
    return b + pixels + profile;
}

// A 32 x 16 camera photo whose EXIF states its size (one as a SHORT, one as
// a LONG) and carries a thumbnail, in the byte order given.
void WriteCameraPhoto(const QString& path, Exiv2::ByteOrder order) {
    WriteFile(path, Jpeg(Picture(32, 16), 90, 0, TJSAMP_420));
    Tag(path, [&](Exiv2::Image& image) {
        image.exifData()["Exif.Image.Make"] = "Cam";
        image.exifData()["Exif.Photo.PixelXDimension"] = uint16_t(32);
        image.exifData()["Exif.Photo.PixelYDimension"] = uint32_t(16);
        const QByteArray thumbnail = Jpeg(Picture(16, 8));
        Exiv2::ExifThumb(image.exifData())
            .setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(thumbnail.constData()), long(thumbnail.size()));
        image.setByteOrder(order);
    });
}

class SavedMetadataTest : public TFormatsTest {
protected:
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
    REQUIRE_EXIFTOOL();
    ASSERT_TRUE(WriteTiff(Path("in.tif"), {TTiffPage{8, 6, 3, 8, std::vector<uint16_t>(8 * 6 * 3, 100)}}));
    const std::pair<const char*, uint16_t> large[] = {{"ImageDescription", 270}, {"Artist", 315}, {"Copyright", 33432},
                                                      {"Software", 305},         {"DocumentName", 269},
                                                      {"PageName", 285},         {"HostComputer", 316}};
    Tag(Path("in.tif"), [&](Exiv2::Image& image) {
        image.exifData()["Exif.Image.Make"] = "Cam";
        for (const auto& [name, id] : large)
            image.exifData()[std::string("Exif.Image.") + name] = std::string(10000, char('a' + id % 26));
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
        // Each large item is written whole or named as left out; a JPEG's
        // segment takes six of them.
        int kept = 0;
        for (const auto& [tag, id] : large) {
            const QJsonValue value = t[QStringLiteral("IFD0:") + tag];
            EXPECT_NE(value.isUndefined(), !Formats.LeftOut().contains(QStringLiteral("EXIF item %1").arg(id))) << tag;
            if (!value.isUndefined()) {
                EXPECT_EQ(value.toString().size(), 10000) << tag;
                ++kept;
            }
        }
        EXPECT_EQ(kept, format == 0 ? 6 : 7);
        EXPECT_EQ(Formats.LeftOut().size(), std::size(large) - kept) << Formats.LeftOut().join(", ").toStdString();
    }
}

// libpng takes a profile only under a valid keyword; browsers read a PNG's
// EXIF from the eXIf chunk only.
TEST_F(SavedMetadataTest, APngNamesItsProfileSoThatLibpngTakesItAndCarriesItsExifInAnExifChunk) {
    REQUIRE_EXIFTOOL();
    const struct {
        QByteArray Profile;
        QByteArray Name;
    } cases[] = {
        {IccProfile("RGB ", QStringLiteral("Studio RGB")), "Studio RGB"},
        {IccProfile("RGB ", QStringLiteral("Wide RGB"), true), "Wide RGB"},
        // Not a keyword: two spaces in a row, or letters beyond Latin-1.
        {IccProfile("RGB ", QStringLiteral("Studio  RGB")), "ICC profile"},
        {IccProfile("RGB ", QString::fromUtf8("\xD0\x9F\xD1\x80\xD0\xBE\xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C"), true),
         "ICC profile"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name.toStdString());
        const QString in = Write("in.jpg", Jpeg(Picture(8, 8)));
        Tag(in, [&](Exiv2::Image& image) {
            SetProfile(image, c.Profile);
            image.exifData()["Exif.Image.Orientation"] = uint16_t(6);
            image.exifData()["Exif.Image.Make"] = "Cam";
        });
        ASSERT_TRUE(Formats.Save(*Loaded(in), Path("out.png"), 2));
        const TPngChunks png = ReadPngChunks(Path("out.png"));
        EXPECT_EQ(png.ProfileName, c.Name);
        EXPECT_EQ(png.Profile, c.Profile);
    }
    // The chunk holds a TIFF structure: read as one, it says what EXIF said.
    const QJsonObject t = ExifTool(Write("exif.tif", ReadPngChunks(Path("out.png")).Exif));
    EXPECT_EQ(t["IFD0:Orientation"].toInt(), 6);
    EXPECT_EQ(t["IFD0:Make"].toString(), "Cam");
}

// The lossless session restates the EXIF for each way its pixels part from
// the file's (turned, cropped, retouched) and keeps the thumbnail only with
// the file's own pixels; the encoders state the pixels saved and never
// write a thumbnail.
TEST_F(SavedMetadataTest, TheSavedExifStatesTheSavedPixelsAndDropsAThumbnailThatNoLongerMatches) {
    REQUIRE_EXIFTOOL();
    const struct {
        const char* Name;
        std::function<void(TQelGraphicsDocument&)> Edit;
        int Width, Height;
    } edits[] = {
        {"same", [](TQelGraphicsDocument&) {}, 32, 16},
        {"turned", [](TQelGraphicsDocument& d) { d.RotateRight(); }, 16, 32},
        {"cropped", [](TQelGraphicsDocument& d) { d.Crop(TQelRect(16, 0, 32, 16)); }, 16, 16},
        {"retouched",
         [](TQelGraphicsDocument& d) {
             d.BeginModification(nullptr);
             std::memset(d.GetPixels()->PixelAddress(4, 4), 255, 3 * 3);
             d.AddModifiedRect(TQelRect(4, 4, 7, 5));
             d.EndModification(&d);
         },
         32, 16},
    };
    for (Exiv2::ByteOrder order : {Exiv2::littleEndian, Exiv2::bigEndian}) {
        SCOPED_TRACE(order == Exiv2::bigEndian ? "big-endian" : "little-endian");
        const QString in = Path("camera.jpg");
        WriteCameraPhoto(in, order);
        {
            TSessionFactory factory;
            for (const auto& e : edits) {
                SCOPED_TRACE(e.Name);
                auto document = Loaded(in);
                ASSERT_TRUE(document->JpegSession && document->JpegSession->IsOpen());
                e.Edit(*document);
                const QJsonObject t = Saved(*document, QStringLiteral("session.jpg"), 0);
                EXPECT_EQ(t["ExifIFD:ExifImageWidth"].toInt(), e.Width);
                EXPECT_EQ(t["ExifIFD:ExifImageHeight"].toInt(), e.Height);
                EXPECT_EQ(t.contains("IFD1:ThumbnailImage"), e.Name == std::string("same"));
                EXPECT_EQ(t["IFD0:Make"].toString(), "Cam");
            }
            EXPECT_EQ(Formats.Asked, 0) << "a save left the session";
        }
        TSessionFactory encoders(false);
        auto document = Loaded(in);
        document->RotateRight();
        for (const auto& [name, format] : EncoderTargets) {
            const QJsonObject t = Saved(*document, name, format);
            EXPECT_EQ(t["ExifIFD:ExifImageWidth"].toInt(), 16) << name;
            EXPECT_EQ(t["ExifIFD:ExifImageHeight"].toInt(), 32) << name;
            EXPECT_FALSE(t.contains("IFD1:ThumbnailImage")) << name;
        }
        Formats.Asked = 0;
    }
}

TEST_F(SavedMetadataTest, AGreyProfileStaysWithGreyPixelsOnly) {
    REQUIRE_EXIFTOOL();
    TSessionFactory factory;
    const QString in = Write("grey.jpg", Jpeg(Picture(16, 16), 90, 0, TJSAMP_GRAY));
    Tag(in, [](Exiv2::Image& image) { SetProfile(image, IccProfile("GRAY", QStringLiteral("Grey"))); });
    for (bool painted : {false, true}) {
        SCOPED_TRACE(painted ? "painted red" : "untouched");
        auto document = Loaded(in);
        ASSERT_TRUE(document->JpegSession && document->JpegSession->IsOpen());
        if (painted) {
            document->BeginModification(nullptr);
            for (int32_t x = 0; x < 8; ++x) std::memcpy(document->GetPixels()->PixelAddress(x, 2), "\0\0\xFF", 3);
            document->AddModifiedRect(TQelRect(0, 2, 8, 3));
            document->EndModification(document.get());
        }
        const QJsonObject t = Saved(*document, QStringLiteral("out.jpg"), 0);
        EXPECT_EQ(t["File:ColorComponents"].toInt(), painted ? 3 : 1);
        EXPECT_EQ(t.contains("ICC_Profile:ProfileDescription"), !painted);
    }
}

// A JPEG's extended XMP and its comment.
TEST_F(SavedMetadataTest, ExtendedXmpAndCommentsAreKeptOnEveryPathAndNoExtensionIsClaimedWithoutItsData) {
    REQUIRE_EXIFTOOL();
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
    TSessionFactory encoders(false);
    auto document = Loaded(in);
    auto claim = Loaded(Write("claim.jpg", JpegWithExtendedXmp(1000, 0)));
    for (const auto& [name, format] : EncoderTargets) {
        const QJsonObject t = Saved(*document, name, format);
        EXPECT_EQ(t["XMP-dc:Title"].toString(), "Portrait") << name;
        EXPECT_EQ(t["XMP-dc:Description"].toString().size(), 90000) << name;
        EXPECT_TRUE(Formats.LeftOut().isEmpty()) << name;
        // A TIFF has no place for a comment.
        if (format != 1) {
            EXPECT_EQ(t[format == 0 ? "File:Comment" : "PNG:Comment"].toString(), comment) << name;
        }
        // A claim whose extension is missing is not passed on.
        const QJsonObject c = Saved(*claim, name, format);
        EXPECT_EQ(c["XMP-dc:Title"].toString(), "Portrait") << name;
        EXPECT_FALSE(c.contains("XMP-xmpNote:HasExtendedXMP")) << name;
    }
}

TEST_F(SavedMetadataTest, APngsTextsAreKeptAndItsCommentBecomesAJpegComment) {
    REQUIRE_EXIFTOOL();
    const QString latin = QString::fromUtf8("Caf\xC3\xA9 lights, ") + QString(300, u'x');
    const QString greek = QString::fromUtf8("Zo\xC3\xAB \xCE\xA9mega");
    QImage png(8, 6, QImage::Format_RGB888);
    png.fill(Qt::gray);
    png.setText(QStringLiteral("Title"), QStringLiteral("Portrait"));
    png.setText(QStringLiteral("Description"), latin);  // long, so compressed
    png.setText(QStringLiteral("Author"), greek);       // beyond Latin-1
    png.setText(QStringLiteral("Comment"), QStringLiteral("Retouched"));
    auto document = Loaded(Write("in.png", Encoded(png, "png")));
    const QJsonObject texts = Saved(*document, QStringLiteral("out.png"), 2);
    EXPECT_EQ(texts["PNG:Title"].toString(), "Portrait");
    EXPECT_EQ(texts["PNG:Description"].toString(), latin);
    EXPECT_EQ(texts["PNG:Author"].toString(), greek);
    EXPECT_EQ(texts["PNG:Comment"].toString(), "Retouched");
    EXPECT_EQ(Saved(*document, QStringLiteral("out.jpg"), 0)["File:Comment"].toString(), "Retouched");
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
    REQUIRE_EXIFTOOL();
    const QByteArray profile = IccProfile("RGB ", QStringLiteral("Studio RGB"));
    ASSERT_TRUE(Formats.Save(*Loaded(Write("in.bmp", BmpWithProfile(profile))), Path("bmp.png"), 2));
    EXPECT_EQ(ReadPngChunks(Path("bmp.png")).Profile, profile);

    TTiffPage page{4, 2, 3, 8, std::vector<uint16_t>(4 * 2 * 3), 300, 200};
    page.Profile = profile;
    page.Xmp = Xmp(LangAlt("title", "Portrait"));
    ASSERT_TRUE(WriteTiff(Path("big.tif"), {page}, COMPRESSION_NONE, "w8"));
    const QJsonObject t = Saved(*Loaded(Path("big.tif")), QStringLiteral("big.png"), 2);
    EXPECT_EQ(ReadPngChunks(Path("big.png")).Profile, profile);
    EXPECT_EQ(t["XMP-dc:Title"].toString(), "Portrait");
    EXPECT_EQ(t["PNG-pHYs:PixelsPerUnitX"].toInt(), 11811);
    EXPECT_EQ(t["PNG-pHYs:PixelsPerUnitY"].toInt(), 7874);
}

}  // namespace
