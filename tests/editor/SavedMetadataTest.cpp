// What a photo carries besides its pixels, through every save path, read
// back by programs that share no code with ours.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QImage>

#include <functional>
#include <memory>
#include <string>

#include <exiv2/exiv2.hpp>

#include "FormatsTestSupport.h"
#include "ImageFileSamples.h"
#include "MetadataReaders.h"
#include "QelGraphicsEditor.h"
#include "QelImageMetadata.h"

using namespace samples;

namespace {

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

QByteArray App1(const QByteArray& body) {
    QByteArray s("\xFF\xE1\0\0", 4);
    qToBigEndian<uint16_t>(uint16_t(body.size() + 2), s.data() + 2);
    return s + body;
}

// A JPEG whose XMP names an extension; with Pieces > 0 the extension (a
// description of Length letters) follows in that many segments.
QByteArray JpegWithExtendedXmp(int length, int pieces) {
    const QByteArray extension = Xmp(LangAlt("description", QByteArray(length, 'x')));
    const QByteArray guid = QCryptographicHash::hash(extension, QCryptographicHash::Md5).toHex().toUpper();
    const QByteArray main = Xmp(LangAlt("title", "Portrait") + "<xmpNote:HasExtendedXMP>" + guid +
                                    "</xmpNote:HasExtendedXMP>",
                                "xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\"");
    QByteArray segments = App1(QByteArray("http://ns.adobe.com/xap/1.0/", 29) + main);
    const qsizetype step = pieces > 0 ? (extension.size() + pieces - 1) / pieces : 0;
    for (int i = 0; i < pieces; ++i) {
        QByteArray head = QByteArray("http://ns.adobe.com/xmp/extension/", 35) + guid + QByteArray(8, '\0');
        qToBigEndian<uint32_t>(uint32_t(extension.size()), head.data() + 67);
        qToBigEndian<uint32_t>(uint32_t(i * step), head.data() + 71);
        segments += App1(head + extension.mid(i * step, step));
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
    REQUIRE_PROGRAM("exiftool");
    ASSERT_TRUE(WriteTiff(Path("in.tif"), {TTiffPage{8, 6, 3, 8, std::vector<uint16_t>(8 * 6 * 3, 100)}}));
    const QByteArray profile = IccProfile("RGB ", QStringLiteral("Studio RGB"));
    const std::pair<const char*, uint16_t> large[] = {{"ImageDescription", 270}, {"Artist", 315}, {"Copyright", 33432},
                                                      {"Software", 305},         {"DocumentName", 269},
                                                      {"PageName", 285},         {"HostComputer", 316}};
    Tag(Path("in.tif"), [&](Exiv2::Image& image) {
        image.exifData()["Exif.Image.Make"] = "Cam";
        for (const auto& [name, id] : large)
            image.exifData()[std::string("Exif.Image.") + name] = std::string(10000, char('a' + id % 26));
        SetProfile(image, profile);
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
        // Each large item is written whole or named as left out.
        int kept = 0;
        for (const auto& [tag, id] : large) {
            const bool named = Formats.LeftOut().contains(QStringLiteral("EXIF item %1").arg(id));
            const QJsonValue value = t[QStringLiteral("IFD0:") + tag];
            EXPECT_NE(value.isUndefined(), !named) << tag;
            if (!value.isUndefined()) {
                EXPECT_EQ(value.toString().size(), 10000) << tag;
            }
            kept += !value.isUndefined();
        }
        EXPECT_EQ(Formats.LeftOut().size(), std::size(large) - kept) << Formats.LeftOut().join(", ").toStdString();
        if (format == 0) {
            EXPECT_GT(kept, 0);
            EXPECT_LT(kept, 7);
        } else {
            EXPECT_EQ(kept, 7);
        }
    }
}

TEST_F(SavedMetadataTest, APngNamesItsColourProfileSoThatLibpngTakesIt) {
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
        Tag(in, [&](Exiv2::Image& image) { SetProfile(image, c.Profile); });
        auto document = Loaded(in);
        ASSERT_TRUE(Formats.Save(*document, Path("out.png"), 2));
        const TPngChunks png = ReadPngChunks(Path("out.png"));
        ASSERT_TRUE(png.Read);
        EXPECT_EQ(png.ProfileName, c.Name);
        EXPECT_EQ(png.Profile, c.Profile);
        if (HaveProgram("convert")) {
            EXPECT_EQ(MagickProfile(Path("out.png")), c.Profile);
        }
    }
}

// A 32 x 16 camera photo whose EXIF states its size (one as a SHORT, one as
// a LONG) and carries a thumbnail, in the byte order given.
QByteArray CameraPhoto(const QString& path, Exiv2::ByteOrder order) {
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
    return ReadFile(path);
}

TEST_F(SavedMetadataTest, TheSavedExifStatesTheSavedPixelsAndDropsAThumbnailThatNoLongerMatches) {
    REQUIRE_PROGRAM("exiftool");
    const struct {
        const char* Name;
        std::function<void(TQelGraphicsDocument&)> Edit;
        int Width, Height;
    } edits[] = {
        {"same", [](TQelGraphicsDocument&) {}, 32, 16},
        {"turned", [](TQelGraphicsDocument& d) { d.RotateRight(); }, 16, 32},
        {"cropped", [](TQelGraphicsDocument& d) { d.Crop(TQelRect(16, 0, 32, 16)); }, 16, 16},
        {"resized", [](TQelGraphicsDocument& d) { d.Resize(20, 10, false, true); }, 20, 10},
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
        const QString in = Path("camera.jpg");
        CameraPhoto(in, order);
        ASSERT_TRUE(ExifTool(in).contains("IFD1:ThumbnailImage"));
        for (const auto& e : edits) {
            SCOPED_TRACE(std::string(e.Name) + (order == Exiv2::bigEndian ? " big-endian" : " little-endian"));
            // The lossless session keeps the thumbnail only with the pixels.
            {
                TSessionFactory factory;
                auto document = Loaded(in);
                ASSERT_TRUE(document->JpegSession && document->JpegSession->IsOpen());
                e.Edit(*document);
                const QJsonObject t = Saved(*document, QStringLiteral("session.jpg"), 0);
                EXPECT_EQ(Formats.Asked, 0);
                EXPECT_EQ(t["ExifIFD:ExifImageWidth"].toInt(), e.Width);
                EXPECT_EQ(t["ExifIFD:ExifImageHeight"].toInt(), e.Height);
                EXPECT_EQ(t.contains("IFD1:ThumbnailImage"), std::string(e.Name) == "same");
                EXPECT_EQ(t["IFD0:Make"].toString(), "Cam");
            }
            // The encoders never write a thumbnail.
            TSessionFactory encoders(false);
            auto document = Loaded(in);
            e.Edit(*document);
            for (const auto& [name, format] : EncoderTargets) {
                const QJsonObject t = Saved(*document, name, format);
                EXPECT_EQ(t["ExifIFD:ExifImageWidth"].toInt(), e.Width) << name;
                EXPECT_EQ(t["ExifIFD:ExifImageHeight"].toInt(), e.Height) << name;
                EXPECT_FALSE(t.contains("IFD1:ThumbnailImage")) << name;
            }
            Formats.Asked = 0;
        }
    }
}

TEST_F(SavedMetadataTest, AGreyProfileStaysWithGreyPixelsOnly) {
    REQUIRE_PROGRAM("exiftool");
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

TEST_F(SavedMetadataTest, ExtendedXmpIsKeptOnEveryPathAndNeverClaimedWithoutItsData) {
    REQUIRE_PROGRAM("exiftool");
    const QString in = Write("extended.jpg", JpegWithExtendedXmp(90000, 2));
    ASSERT_EQ(ExifTool(in)["XMP-dc:Description"].toString().size(), 90000);
    {
        TSessionFactory factory;
        auto document = Loaded(in);
        document->RotateLeft();
        const QJsonObject t = Saved(*document, QStringLiteral("session.jpg"), 0);
        EXPECT_EQ(t["XMP-dc:Description"].toString().size(), 90000);
    }
    TSessionFactory encoders(false);
    auto document = Loaded(in);
    for (const auto& [name, format] : EncoderTargets) {
        const QJsonObject t = Saved(*document, name, format);
        EXPECT_EQ(t["XMP-dc:Title"].toString(), "Portrait") << name;
        EXPECT_EQ(t["XMP-dc:Description"].toString().size(), 90000) << name;
        EXPECT_TRUE(Formats.LeftOut().isEmpty()) << name;
    }
    // A claim whose extension is missing is not passed on.
    document = Loaded(Write("claim.jpg", JpegWithExtendedXmp(1000, 0)));
    for (const auto& [name, format] : EncoderTargets) {
        const QJsonObject t = Saved(*document, name, format);
        EXPECT_EQ(t["XMP-dc:Title"].toString(), "Portrait") << name;
        EXPECT_FALSE(t.contains("XMP-xmpNote:HasExtendedXMP")) << name;
    }
}

TEST_F(SavedMetadataTest, CommentsAndPngTextsGoWhereTheTargetHasAPlaceForThem) {
    REQUIRE_PROGRAM("exiftool");
    const QString latin = QString::fromUtf8("Caf\xC3\xA9 lights, ") + QString(300, u'x');
    const QString greek = QString::fromUtf8("Zo\xC3\xAB \xCE\xA9mega");
    QImage png(8, 6, QImage::Format_RGB888);
    png.fill(Qt::gray);
    png.setText(QStringLiteral("Title"), QStringLiteral("Portrait"));
    png.setText(QStringLiteral("Description"), latin);  // long, so compressed
    png.setText(QStringLiteral("Author"), greek);       // beyond Latin-1
    png.setText(QStringLiteral("Comment"), QStringLiteral("Retouched"));
    auto document = Loaded(Write("in.png", Encoded(png, "png")));
    ASSERT_TRUE(Formats.Save(*document, Path("out.png"), 2));
    const TPngChunks chunks = ReadPngChunks(Path("out.png"));
    ASSERT_TRUE(chunks.Read);
    const QList<std::pair<QByteArray, QString>> expected = {
        {"Title", "Portrait"}, {"Description", latin}, {"Author", greek}, {"Comment", "Retouched"}};
    for (const auto& text : expected) EXPECT_TRUE(chunks.Texts.contains(text)) << text.first.toStdString();
    EXPECT_EQ(Saved(*document, QStringLiteral("out.jpg"), 0)["File:Comment"].toString(), "Retouched");

    // A JPEG's comment: kept by the session, and by JPEG and PNG encoders.
    QByteArray comment("\xFF\xFE\0\0Shot in the studio", 22);
    qToBigEndian<uint16_t>(uint16_t(comment.size() - 2), comment.data() + 2);
    const QString jpeg = Write("comment.jpg", WithSegment(Jpeg(Picture(16, 16)), comment));
    {
        TSessionFactory factory;
        auto session = Loaded(jpeg);
        session->FlipHorizontal();
        EXPECT_EQ(Saved(*session, QStringLiteral("session.jpg"), 0)["File:Comment"].toString(), "Shot in the studio");
    }
    TSessionFactory encoders(false);
    document = Loaded(jpeg);
    EXPECT_EQ(Saved(*document, QStringLiteral("encoded.jpg"), 0)["File:Comment"].toString(), "Shot in the studio");
    EXPECT_EQ(Saved(*document, QStringLiteral("encoded.png"), 2)["PNG:Comment"].toString(), "Shot in the studio");
}

// Browsers read a PNG's EXIF from the eXIf chunk only.
TEST_F(SavedMetadataTest, APngCarriesItsExifInAnExifChunk) {
    REQUIRE_PROGRAM("exiftool");
    const QString in = Write("in.jpg", Jpeg(Picture(8, 8)));
    Tag(in, [](Exiv2::Image& image) {
        image.exifData()["Exif.Image.Orientation"] = uint16_t(6);
        image.exifData()["Exif.Image.Make"] = "Cam";
    });
    auto document = Loaded(in);
    ASSERT_TRUE(Formats.Save(*document, Path("out.png"), 2));
    const TPngChunks png = ReadPngChunks(Path("out.png"));
    ASSERT_TRUE(png.Read);
    ASSERT_FALSE(png.Exif.isEmpty());
    // The chunk holds a TIFF structure: read as one, it says what EXIF said.
    const QJsonObject t = ExifTool(Write("exif.tif", png.Exif));
    EXPECT_EQ(t["IFD0:Orientation"].toInt(), 6);
    EXPECT_EQ(t["IFD0:Make"].toString(), "Cam");
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
    REQUIRE_PROGRAM("exiftool");
    const QByteArray profile = IccProfile("RGB ", QStringLiteral("Studio RGB"));
    auto document = Loaded(Write("in.bmp", BmpWithProfile(profile)));
    for (const auto& [name, format] : EncoderTargets) {
        ASSERT_TRUE(Formats.Save(*document, Path(name), format)) << name;
        EXPECT_EQ(ExifToolBytes(Path(name), "ICC_Profile"), profile) << name;
    }

    TIFF* t = TIFFOpen(QFile::encodeName(Path("big.tif")).constData(), "w8");
    ASSERT_TRUE(t);
    const QByteArray xmp = Xmp(LangAlt("title", "Portrait"));
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 4u);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2u);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 300.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 200.0f);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(profile.size()), profile.constData());
    TIFFSetField(t, TIFFTAG_XMLPACKET, uint32_t(xmp.size()), xmp.constData());
    const uint8_t row[12] = {};
    for (uint32_t y = 0; y < 2; ++y) TIFFWriteScanline(t, const_cast<uint8_t*>(row), y, 0);
    TIFFClose(t);
    document = Loaded(Path("big.tif"));
    for (const auto& [name, format] : EncoderTargets) {
        const QJsonObject saved = Saved(*document, name, format);
        EXPECT_EQ(ExifToolBytes(Path(name), "ICC_Profile"), profile) << name;
        EXPECT_EQ(saved["XMP-dc:Title"].toString(), "Portrait") << name;
    }
    EXPECT_EQ(ExifTool(Path("out.jpg"))["JFIF:XResolution"].toInt(), 300);
    EXPECT_EQ(ExifTool(Path("out.jpg"))["JFIF:YResolution"].toInt(), 200);
    EXPECT_EQ(ExifTool(Path("out.tif"))["IFD0:YResolution"].toInt(), 200);
    EXPECT_EQ(ExifTool(Path("out.png"))["PNG-pHYs:PixelsPerUnitX"].toInt(), 11811);
}

}  // namespace
