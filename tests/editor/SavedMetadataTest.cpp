// What a photo carries besides its pixels, through every save path, read
// back by programs that share no code with ours: exiftool, and libpng
// itself for what a PNG must carry in a form libpng takes.
#include <gtest/gtest.h>

#include <QColorSpace>
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

// What libpng reads before the image data; nothing when it refuses the file.
struct TPngChunks { QByteArray ProfileName, Profile, Exif; };

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
            result.ProfileName = name, result.Profile = QByteArray(reinterpret_cast<const char*>(data), qsizetype(length));
        if (png_get_eXIf_1(png, info, &length, &data))
            result.Exif = QByteArray(reinterpret_cast<const char*>(data), qsizetype(length));
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return result;
}

// An RGB colour profile described as given; Grey names grey inks instead,
// which is all a reader asks of the header before choosing pixels for it.
QByteArray IccProfile(const QString& description, bool grey = false) {
    QColorSpace space(QColorSpace::SRgb);
    space.setDescription(description);
    return grey ? space.iccProfile().replace(16, 4, "GRAY") : space.iccProfile();
}

// Runs exiftool on Path; by default its read of every tag as "Group:Tag"
// (family 1: IFD0, ExifIFD, XMP-dc, ICC_Profile, PNG, ...), unconverted.
QJsonObject ExifTool(const QString& path, const QStringList& args = {"-json", "-a", "-G1", "-n"}) {
    TChildProcess p;
    if (!p.Start(QStringLiteral("exiftool"), args + QStringList{path}) || !p.WaitForFinished(60000) || !p.Succeeded())
        return QJsonObject();
    return QJsonDocument::fromJson(p.Output()).array().at(0).toObject();
}

// Metadata put into a file as another program would have written it.
void Tag(const QString& path, const std::function<void(Exiv2::Image&)>& edit, const QByteArray& profile = {}) {
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    edit(*image);
    Exiv2::DataBuf icc(reinterpret_cast<const Exiv2::byte*>(profile.constData()), long(profile.size()));
    if (!profile.isEmpty()) image->setIccProfile(icc);
    image->writeMetadata();
}

// A JPEG whose XMP (a title) names an extension holding a description of
// 90000 letters, in two segments as exiftool writes it; without the last
// Dropped of them.
QByteArray JpegWithExtendedXmp(const QString& path, int dropped = 0) {
    samples::WriteFile(path, Jpeg(Picture(32, 16), 90, 0, TJSAMP_420));
    ExifTool(path, {"-q", "-overwrite_original", "-XMP-dc:Title=Portrait", "-Comment=Shot in the studio",
                    "-XMP-dc:Description=" + QString(90000, u'x')});
    QByteArray jpeg = samples::ReadFile(path);
    for (int i = 0; i < dropped; ++i) {
        const qsizetype at = jpeg.lastIndexOf("http://ns.adobe.com/xmp/extension/") - 4;
        jpeg.remove(at, qFromBigEndian<uint16_t>(jpeg.constData() + at + 2) + 2);
    }
    return jpeg;
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
// each larger than a JPEG segment. libpng takes a PNG's profile only under a
// valid keyword; browsers read a PNG's EXIF from the eXIf chunk only.
TEST_F(SavedMetadataTest, EveryPartThatFitsIsWrittenAndWhatDoesNotIsNamed) {
    ASSERT_TRUE(WriteTiff(Path("in.tif"), {TTiffPage{8, 6, 3, 8, std::vector<uint16_t>(8 * 6 * 3, 100)}}));
    // 16 to 19 KB each (an encoder drops larger ones), beyond a segment together.
    const std::pair<const char*, int> large[] = {{"ImageDescription", 16000}, {"Artist", 19000}, {"Copyright", 17000},
                                                 {"Software", 18000}};
    Tag(Path("in.tif"), [&](Exiv2::Image& image) {
        image.exifData()["Exif.Image.Make"] = "Cam";
        for (const auto& [tag, size] : large) image.exifData()[std::string("Exif.Image.") + tag] = std::string(size, 'x');
        image.iptcData()["Iptc.Application2.Caption"] = "A caption";
        image.xmpData()["Xmp.dc.title"] = "lang=x-default Portrait";
        image.xmpData()["Xmp.dc.description"] = "lang=x-default " + std::string(41000, 'd');
        image.xmpData()["Xmp.photoshop.History"] = std::string(41000, 'h');
    }, IccProfile(QStringLiteral("Studio RGB")));
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
        if (format != 2) continue;
        const TPngChunks png = ReadPngChunks(Path(name));
        EXPECT_EQ(png.ProfileName, "Studio RGB");
        EXPECT_EQ(png.Profile, IccProfile(QStringLiteral("Studio RGB")));
        EXPECT_EQ(ExifTool(Write("exif.tif", png.Exif))["IFD0:Make"].toString(), "Cam");
    }
}

// A camera's EXIF stating the size (as a SHORT and a LONG), with a
// thumbnail, in either byte order; encoders never write a thumbnail.
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
            EXPECT_TRUE(!lossless || Formats.Asked == 0) << "a save left the session";
        }
    }
}

TEST_F(SavedMetadataTest, AGreyProfileStaysWithGreyPixelsOnly) {
    TSessionFactory factory;
    const QString in = Write("grey.jpg", Jpeg(Picture(16, 16), 90, 0, TJSAMP_GRAY));
    Tag(in, [](Exiv2::Image&) {}, IccProfile(QStringLiteral("Grey"), true));
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
    const QString in = Path("extended.jpg"), comment = QStringLiteral("Shot in the studio");
    JpegWithExtendedXmp(in);
    {
        TSessionFactory factory;
        auto document = Loaded(in);
        document->RotateLeft();
        const QJsonObject t = Saved(*document, QStringLiteral("session.jpg"), 0);
        EXPECT_EQ(t["XMP-dc:Description"].toString().size(), 90000);
        EXPECT_EQ(t["File:Comment"].toString(), comment);
    }
    // Without its second piece: no claim, no half text.
    TQelImageMetadata m;
    ASSERT_TRUE(QelReadImageMetadata(JpegWithExtendedXmp(Path("damaged.jpg"), 1), m));
    EXPECT_TRUE(m.Xmp.contains("Portrait"));
    EXPECT_FALSE(m.Xmp.contains("HasExtendedXMP"));
    EXPECT_FALSE(m.Xmp.contains("xxxx"));

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
    auto claim = Loaded(Write("claim.jpg", JpegWithExtendedXmp(Path("claim.jpg"), 2)));
    for (const auto& [name, format] : EncoderTargets) {
        SCOPED_TRACE(name);
        const char* commentTag = format == 0 ? "File:Comment" : "PNG:Comment";
        QJsonObject t = Saved(*document, name, format);
        EXPECT_EQ(t["XMP-dc:Title"].toString(), "Portrait");
        EXPECT_EQ(t["XMP-dc:Description"].toString().size(), 90000);
        EXPECT_TRUE(Formats.LeftOut().isEmpty());
        EXPECT_EQ(format == 1 ? comment : t[commentTag].toString(), comment);
        // A claim whose extension is missing is not passed on.
        t = Saved(*claim, name, format);
        EXPECT_EQ(t["XMP-dc:Title"].toString(), "Portrait");
        EXPECT_FALSE(t.contains("XMP-xmpNote:HasExtendedXMP"));
        t = Saved(*png, name, format);
        EXPECT_EQ(format == 1 ? "Retouched" : t[commentTag].toString(), "Retouched");
        if (format != 2) continue;
        EXPECT_EQ(t["PNG:Title"].toString(), "Portrait");
        EXPECT_EQ(t["PNG:Description"].toString(), latin);
        EXPECT_EQ(t["PNG:Author"].toString(), greek);
    }
}

// Their profiles' descriptions are no keyword (two spaces in a row, letters
// beyond Latin-1), so a PNG names them otherwise.
TEST_F(SavedMetadataTest, ABmpsEmbeddedProfileAndABigTiffsProfileXmpAndResolutionAreRead) {
    QByteArray profile = IccProfile(QStringLiteral("Studio  RGB")), bmp = BmpWithProfile(profile);
    ASSERT_TRUE(Formats.Save(*Loaded(Write("in.bmp", bmp)), Path("bmp.png"), 2));
    EXPECT_EQ(ReadPngChunks(Path("bmp.png")).Profile, profile);
    EXPECT_EQ(ReadPngChunks(Path("bmp.png")).ProfileName, "ICC profile");
    // A profile said to reach beyond the file's end is absent.
    qToLittleEndian<uint32_t>(uint32_t(bmp.size()), bmp.data() + 14 + 116);
    TQelImageMetadata m;
    QelReadImageMetadata(bmp, m);
    EXPECT_TRUE(m.Items.isEmpty());

    profile = IccProfile(QString::fromUtf8("\xD0\x9F\xD1\x80\xD0\xBE\xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C"));
    Exiv2::XmpData xmp;
    xmp["Xmp.dc.title"] = "lang=x-default Portrait";
    std::string packet;
    Exiv2::XmpParser::encode(packet, xmp);
    TTiffPage page{4, 2, 3, 8, std::vector<uint16_t>(4 * 2 * 3), 300, 200, 0, profile, QByteArray::fromStdString(packet)};
    ASSERT_TRUE(WriteTiff(Path("big.tif"), {page}, COMPRESSION_NONE, "w8"));
    const QJsonObject t = Saved(*Loaded(Path("big.tif")), QStringLiteral("big.png"), 2);
    EXPECT_EQ(ReadPngChunks(Path("big.png")).Profile, profile);
    EXPECT_EQ(ReadPngChunks(Path("big.png")).ProfileName, "ICC profile");
    EXPECT_EQ(t["XMP-dc:Title"].toString(), "Portrait");
    EXPECT_EQ(t["PNG-pHYs:PixelsPerUnitX"].toInt(), 11811);
    EXPECT_EQ(t["PNG-pHYs:PixelsPerUnitY"].toInt(), 7874);
}

}  // namespace
