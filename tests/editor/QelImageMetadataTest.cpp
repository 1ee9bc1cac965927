#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

#include <exiv2/exiv2.hpp>

#include "ImageFileSamples.h"
#include "QelImageCodec.h"
#include "QelImageMetadata.h"

using namespace samples;

namespace {

QByteArray Rational(uint32_t numerator, uint32_t denominator) { return Long(numerator) + Long(denominator); }

// A camera file: make, model and date in the main directory, an exposure
// time and the original date in the EXIF directory.
QByteArray CameraJpeg() {
    const QByteArray exif = ExifSegment(
        {TExifEntry{271, 2, Ascii("Cam")}, TExifEntry{272, 2, Ascii("X1")}, TExifEntry{274, 3, Short(6)},
         TExifEntry{306, 2, Ascii("2004:01:02 03:04:05")}},
        {TExifEntry{33434, 5, Rational(1, 125)}, TExifEntry{36867, 2, Ascii("2004:01:02 03:04:05")}});
    return WithSegment(Jpeg(Picture(16, 8)), exif);
}

const TQelPropertyItem* Find(const TQelPropertyItems& items, uint32_t id) {
    for (const TQelPropertyItem& i : items)
        if (i.Id == id) return &i;
    return nullptr;
}

// What Exiv2 itself reads from a file, by key; empty when absent.
std::string ExivValue(const QByteArray& file, const char* key) {
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(file.constData()), long(file.size()));
    image->readMetadata();
    const auto found = image->exifData().findKey(Exiv2::ExifKey(key));
    return found == image->exifData().end() ? std::string() : found->toString();
}

TEST(ImageMetadataTest, ItemsOfTheMainExifAndGpsDirectoriesAreRead) {
    TQelPropertyItems items;
    ASSERT_TRUE(QelReadPropertyItems(CameraJpeg(), items));
    const TQelPropertyItem* make = Find(items, PropertyTagMake);
    ASSERT_TRUE(make);
    EXPECT_EQ(make->Type, 2);
    EXPECT_EQ(make->Value, QByteArray("Cam\0", 4));
    const TQelPropertyItem* orientation = Find(items, 274);
    ASSERT_TRUE(orientation);
    EXPECT_EQ(orientation->Type, 3);
    EXPECT_EQ(orientation->Value, Short(6));
    const TQelPropertyItem* exposure = Find(items, 33434);
    ASSERT_TRUE(exposure);
    EXPECT_EQ(exposure->Type, 5);
    EXPECT_EQ(exposure->Value, Rational(1, 125));
    EXPECT_EQ(QelPropertyText(items, PropertyTagDateTime), "2004:01:02 03:04:05");
    EXPECT_TRUE(Find(items, 36867));

    // A file without tags has none; a damaged one gives none and no crash.
    EXPECT_TRUE(QelReadPropertyItems(Jpeg(Picture(8, 8)), items));
    EXPECT_TRUE(QelPropertyText(items, PropertyTagMake).isEmpty());
    QByteArray broken = CameraJpeg();
    // Point the first directory far past the end of the segment.
    const qsizetype tiff = broken.indexOf("II*");
    ASSERT_GT(tiff, 0);
    qToLittleEndian<uint32_t>(0x7FFFFFF0u, broken.data() + tiff + 4);
    QelReadPropertyItems(broken, items);
    EXPECT_FALSE(Find(items, PropertyTagMake));
    EXPECT_FALSE(QelReadPropertyItems(QByteArray("not an image"), items));
    EXPECT_TRUE(items.isEmpty());
}

TEST(ImageMetadataTest, SavedJpegsAndTiffsKeepTheItems) {
    TQelPropertyItems items;
    ASSERT_TRUE(QelReadPropertyItems(CameraJpeg(), items));
    // A GPS latitude, and tags of the old file's layout that must not reach
    // the new file.
    items.append(TQelPropertyItem{2, 5, Rational(48, 1) + Rational(8, 1) + Rational(0, 1)});
    items.append(TQelPropertyItem{256, 4, Long(9999)});
    items.append(TQelPropertyItem{273, 4, Long(0x7FFFFFF0)});
    items.append(TQelPropertyItem{279, 4, Long(0x7FFFFFF0)});

    QTemporaryDir dir;
    const TQelPixelBuffer picture = Picture(20, 10);
    for (auto [type, name] : {std::pair(TQelImageFileType::Jpeg, "out.jpg"), std::pair(TQelImageFileType::Tiff, "out.tif")}) {
        QString error;
        ASSERT_TRUE(QelSaveImage(dir.filePath(name), type, picture.Bits, 20, 10, picture.Stride, 90, {items}, error))
            << name << ": " << error.toStdString();
        const QByteArray file = ReadFile(dir.filePath(name));
        EXPECT_EQ(ExivValue(file, "Exif.Image.Make"), "Cam") << name;
        EXPECT_EQ(ExivValue(file, "Exif.Image.Model"), "X1") << name;
        EXPECT_EQ(ExivValue(file, "Exif.Image.Orientation"), "6") << name;
        EXPECT_EQ(ExivValue(file, "Exif.Image.DateTime"), "2004:01:02 03:04:05") << name;
        EXPECT_EQ(ExivValue(file, "Exif.Photo.ExposureTime"), "1/125") << name;
        EXPECT_EQ(ExivValue(file, "Exif.Photo.DateTimeOriginal"), "2004:01:02 03:04:05") << name;
        EXPECT_EQ(ExivValue(file, "Exif.GPSInfo.GPSLatitude"), "48/1 8/1 0/1") << name;

        // The file still describes its own pixels.
        TQelImageDecoder decoder;
        ASSERT_TRUE(decoder.Open(dir.filePath(name))) << decoder.LastError().toStdString();
        EXPECT_EQ(decoder.Width(), 20);
        EXPECT_EQ(decoder.Height(), 10);
        TQelPixelBuffer back;
        back.Allocate(QelFormatBGR24, TQelRect(0, 0, 20, 10));
        EXPECT_TRUE(decoder.Decode(back.Bits, back.Stride)) << name << ": " << decoder.LastError().toStdString();
    }

    // Formats without tags: the data stays as it was and the save still
    // works.
    QByteArray bmp;
    QString error;
    ASSERT_TRUE(QelEncodeImage(TQelImageFileType::Bmp, picture.Bits, 20, 10, picture.Stride, 0, bmp, error));
    const QByteArray before = bmp;
    EXPECT_FALSE(QelWritePropertyItems(bmp, items, error));
    EXPECT_EQ(bmp, before);
    EXPECT_TRUE(QelSaveImage(dir.filePath("out.bmp"), TQelImageFileType::Bmp, picture.Bits, 20, 10, picture.Stride, 0,
                             {items}, error));
}

TEST(ImageMetadataTest, ItemTextStopsAtItsLengthOrItsFirstNul) {
    // No terminator: exactly the item's bytes, nothing beyond them.
    std::unique_ptr<char[]> unterminated(new char[3]{'C', 'a', 'm'});
    EXPECT_EQ(QelPropertyItemText(unterminated.get(), 3), "Cam");
    EXPECT_EQ(QelPropertyItemText("Ca\0m", 4), "Ca");
    EXPECT_EQ(QelPropertyItemText("", 0), "");
    EXPECT_EQ(QelPropertyItemText(nullptr, 5), "");
    EXPECT_EQ(QelPropertyItemText("caf\xC3\xA9", 5), QString::fromUtf8("caf\xC3\xA9"));
    EXPECT_EQ(QelPropertyItemText("caf\xE9", 4), QString::fromLatin1("caf\xE9"));

    TQelPropertyItems items{TQelPropertyItem{271, 2, QByteArray("Old", 3)}, TQelPropertyItem{271, 2, Ascii("New")}};
    EXPECT_EQ(QelPropertyText(items, 271), "New");
    EXPECT_EQ(QelPropertyText(items, 272), "");
}

}  // namespace
