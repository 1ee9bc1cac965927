#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdlib>
#include <functional>
#include <memory>

#include <exiv2/exiv2.hpp>

#include "ImageFileSamples.h"
#include "QelImageCodec.h"
#include "QelImageMetadata.h"
#include "WatchedFifo.h"

using namespace samples;

namespace {

struct TDecoded {
    bool Ok = false;
    TQelImageFileType Type = TQelImageFileType::None;
    QString Error;
    TQelPixelBuffer Pixels;

    // B, G, R at (x, y) as one number 0xBBGGRR, for readable failures.
    uint32_t At(int32_t x, int32_t y) const {
        const uint8_t* p = Pixels.PixelAddress(x, y);
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
};

TDecoded DecodeFile(const QString& path) {
    TDecoded d;
    TQelImageDecoder decoder;
    if (!decoder.Open(path)) {
        d.Error = decoder.LastError();
        return d;
    }
    d.Type = decoder.FileType();
    d.Pixels.Allocate(QelFormatBGR24, TQelRect(0, 0, decoder.Width(), decoder.Height()));
    d.Ok = decoder.Decode(d.Pixels.Bits, d.Pixels.Stride);
    d.Error = decoder.LastError();
    return d;
}

// Every channel within Tolerance of B, G, R.
::testing::AssertionResult Near(const TDecoded& d, int32_t x, int32_t y, int b, int g, int r, int tolerance = 0) {
    const uint8_t* p = d.Pixels.PixelAddress(x, y);
    if (std::abs(p[0] - b) <= tolerance && std::abs(p[1] - g) <= tolerance && std::abs(p[2] - r) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is B" << int(p[0]) << " G" << int(p[1])
                                         << " R" << int(p[2]) << ", expected B" << b << " G" << g << " R" << r;
}

bool SamePixels(const TQelPixels& a, const TQelPixels& b) {
    if (a.Width != b.Width || a.Height != b.Height) return false;
    for (int32_t y = 0; y < a.Height; ++y)
        if (std::memcmp(a.PixelAddress(a.Left, a.Top + y), b.PixelAddress(b.Left, b.Top + y), size_t(a.Width) * 3))
            return false;
    return true;
}

class ImageCodecTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return Dir.filePath(name); }
    QString Write(const QString& name, const QByteArray& data) const {
        EXPECT_TRUE(WriteFile(Path(name), data)) << name.toStdString();
        return Path(name);
    }
    QTemporaryDir Dir;
};

// --- Reading real-world variants -------------------------------------------------

TEST_F(ImageCodecTest, JpegsOpenAsStoredWhateverTheirCodingOrColourSpace) {
    const TQelPixelBuffer q = Quadrants(32, 16);
    struct TCase {
        const char* Name;
        QByteArray Data;
    } cases[] = {
        {"baseline.jpg", Jpeg(q)},
        {"progressive.jpg", Jpeg(q, 95, TJFLAG_PROGRESSIVE)},
        {"subsampled.jpg", Jpeg(q, 95, 0, TJSAMP_420)},
    };
    for (const TCase& c : cases) {
        const TDecoded d = DecodeFile(Write(c.Name, c.Data));
        ASSERT_TRUE(d.Ok) << c.Name << ": " << d.Error.toStdString();
        EXPECT_EQ(d.Type, TQelImageFileType::Jpeg);
        EXPECT_TRUE(Near(d, 4, 4, 40, 60, 200, 4)) << c.Name;
        EXPECT_TRUE(Near(d, 28, 12, 128, 128, 128, 4)) << c.Name;
    }

    // An EXIF orientation of 6 ("turn right") is not applied: the picture
    // keeps its stored size and rows.
    const QByteArray turned = WithSegment(Jpeg(q), ExifSegment({TExifEntry{274, 3, Short(6)}}));
    const TDecoded d = DecodeFile(Write("turned.jpg", turned));
    ASSERT_TRUE(d.Ok) << d.Error.toStdString();
    EXPECT_EQ(d.Pixels.Width, 32);
    EXPECT_EQ(d.Pixels.Height, 16);
    EXPECT_TRUE(Near(d, 28, 4, 200, 60, 40, 4));
}

TEST_F(ImageCodecTest, CmykJpegsBecomeRgbWithAdobeInvertedInks) {
    // Left half red, right half blue; inks stored inverted (255 = no ink), as
    // the Adobe marker says.
    const int32_t w = 16, h = 8;
    std::vector<uint8_t> inks(size_t(w) * h * 4);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = inks.data() + (size_t(y) * w + x) * 4;
            const bool red = x < w / 2;
            p[0] = 255;               // no cyan
            p[1] = red ? 0 : 255;     // full magenta for red
            p[2] = red ? 0 : 155;     // yellow for red, some for the blue side
            p[3] = red ? 255 : 128;   // black only on the right
        }
    for (bool arithmetic : {false, true}) {
        const QByteArray data = CmykJpeg(w, h, inks, arithmetic);
        ASSERT_FALSE(data.isEmpty());
        const TDecoded d = DecodeFile(Write(arithmetic ? "cmyk-arith.jpg" : "cmyk.jpg", data));
        ASSERT_TRUE(d.Ok) << d.Error.toStdString();
        EXPECT_TRUE(Near(d, 2, 2, 0, 0, 255, 3)) << "arithmetic " << arithmetic;
        // 155 * 128 / 255 = 78 blue, 255 * 128 / 255 = 128 green and red.
        EXPECT_TRUE(Near(d, 12, 2, 78, 128, 128, 3)) << "arithmetic " << arithmetic;
    }
}

TEST_F(ImageCodecTest, TiffsOfEveryDepthReadTheirFirstPage) {
    auto page = [](int32_t w, int32_t h, int samples, int bits, const std::function<uint16_t(int32_t, int32_t, int)>& v) {
        TTiffPage p{w, h, samples, bits, {}};
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                for (int s = 0; s < samples; ++s) p.Values.push_back(v(x, y, s));
        return p;
    };
    // R = 10x, G = 7y, B = 100 (per sample index 0, 1, 2).
    auto rgb = [](int32_t x, int32_t y, int s) { return uint16_t(s == 0 ? 10 * x : s == 1 ? 7 * y : 100); };
    ASSERT_TRUE(WriteTiff(Path("rgb8.tif"), {page(9, 5, 3, 8, rgb)}));
    ASSERT_TRUE(WriteTiff(Path("rgb8-lzw.tif"), {page(9, 5, 3, 8, rgb)}, COMPRESSION_LZW));
    ASSERT_TRUE(WriteTiff(Path("rgb16.tif"), {page(9, 5, 3, 16, [&](int32_t x, int32_t y, int s) {
                              return uint16_t(rgb(x, y, s) * 257);
                          })}));
    ASSERT_TRUE(WriteTiff(Path("pages.tif"), {page(9, 5, 3, 8, rgb), page(3, 3, 3, 8, [](int32_t, int32_t, int) {
                                                  return uint16_t(1);
                                              })}));
    for (const char* name : {"rgb8.tif", "rgb8-lzw.tif", "rgb16.tif", "pages.tif"}) {
        const TDecoded d = DecodeFile(Path(name));
        ASSERT_TRUE(d.Ok) << name << ": " << d.Error.toStdString();
        EXPECT_EQ(d.Type, TQelImageFileType::Tiff);
        ASSERT_EQ(d.Pixels.Width, 9) << name;
        ASSERT_EQ(d.Pixels.Height, 5) << name;
        EXPECT_TRUE(Near(d, 0, 0, 100, 0, 0)) << name;
        EXPECT_TRUE(Near(d, 8, 4, 100, 28, 80)) << name;
    }

    ASSERT_TRUE(WriteTiff(Path("grey.tif"), {page(4, 4, 1, 8, [](int32_t x, int32_t, int) { return uint16_t(60 * x); })}));
    TDecoded d = DecodeFile(Path("grey.tif"));
    ASSERT_TRUE(d.Ok) << d.Error.toStdString();
    EXPECT_TRUE(Near(d, 3, 1, 180, 180, 180));

    // Unassociated alpha: half-transparent black over white is mid grey.
    ASSERT_TRUE(WriteTiff(Path("alpha.tif"), {page(2, 2, 4, 8, [](int32_t x, int32_t, int s) {
                              return uint16_t(s == 3 ? (x == 0 ? 255 : 128) : s == 0 ? 200 : 0);
                          })}));
    d = DecodeFile(Path("alpha.tif"));
    ASSERT_TRUE(d.Ok) << d.Error.toStdString();
    EXPECT_TRUE(Near(d, 0, 0, 0, 0, 200));
    EXPECT_TRUE(Near(d, 1, 0, 127, 127, 227, 1));
}

TEST_F(ImageCodecTest, PngsOfEveryColourTypeBecome24BitWithAlphaOverWhite) {
    QImage grey(5, 3, QImage::Format_Grayscale8);
    grey.fill(0);
    grey.setPixel(4, 2, qRgb(77, 77, 77));
    QImage palette(5, 3, QImage::Format_Indexed8);
    palette.setColorTable({qRgb(10, 20, 30), qRgb(250, 128, 0)});
    palette.fill(0);
    palette.setPixel(1, 1, 1);
    QImage alpha(5, 3, QImage::Format_ARGB32);
    alpha.fill(qRgba(200, 100, 0, 128));
    alpha.setPixel(0, 0, qRgba(0, 0, 0, 0));
    alpha.setPixel(1, 0, qRgba(1, 2, 3, 255));
    QImage deep(5, 3, QImage::Format_RGBX64);
    deep.fill(QColor::fromRgba64(QRgba64::fromRgba64(0xFFFF, 0x8080, 0x0101, 0xFFFF)));

    const TDecoded g = DecodeFile(Write("grey.png", Encoded(grey, "png")));
    ASSERT_TRUE(g.Ok) << g.Error.toStdString();
    EXPECT_EQ(g.Type, TQelImageFileType::Png);
    EXPECT_TRUE(Near(g, 4, 2, 77, 77, 77));
    EXPECT_TRUE(Near(g, 0, 0, 0, 0, 0));

    const TDecoded p = DecodeFile(Write("palette.png", Encoded(palette, "png")));
    ASSERT_TRUE(p.Ok) << p.Error.toStdString();
    EXPECT_TRUE(Near(p, 1, 1, 0, 128, 250));
    EXPECT_TRUE(Near(p, 0, 0, 30, 20, 10));

    // Composed over white: fully transparent is white, opaque stays, half
    // transparent lies half way.
    const TDecoded a = DecodeFile(Write("alpha.png", Encoded(alpha, "png")));
    ASSERT_TRUE(a.Ok) << a.Error.toStdString();
    EXPECT_TRUE(Near(a, 0, 0, 255, 255, 255));
    EXPECT_TRUE(Near(a, 1, 0, 3, 2, 1));
    EXPECT_TRUE(Near(a, 2, 2, 127, 177, 227, 1));

    const TDecoded d = DecodeFile(Write("deep.png", Encoded(deep, "png")));
    ASSERT_TRUE(d.Ok) << d.Error.toStdString();
    EXPECT_TRUE(Near(d, 3, 1, 1, 128, 255));

    // The content decides, not the name.
    const TDecoded named = DecodeFile(Write("p.jpg", Encoded(palette, "png")));
    ASSERT_TRUE(named.Ok) << named.Error.toStdString();
    EXPECT_EQ(named.Type, TQelImageFileType::Png);
}

TEST_F(ImageCodecTest, BmpsOfEveryCommonDepthAndCompression) {
    const QList<QRgb> colours = {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    // 4 x 2 images, stored bottom row first. Expected top row: 1 1 2 3,
    // bottom row: 3 3 3 3 (palette indices), so the probes are the same for
    // every palette depth.
    struct TCase {
        const char* Name;
        QByteArray Data;
    } cases[] = {
        {"pal4.bmp", Bmp(4, 2, 4, 0, colours, Bytes({0x33, 0x33, 0, 0, 0x11, 0x23, 0, 0}))},
        {"pal8.bmp", Bmp(4, 2, 8, 0, colours, Bytes({3, 3, 3, 3, 1, 1, 2, 3}))},
        // RLE8: a run of four 3s, end of line, runs 1 1 / 2 / 3, end of bitmap.
        {"x.rle", Bmp(4, 2, 8, 1, colours, Bytes({4, 3, 0, 0, 2, 1, 1, 2, 1, 3, 0, 0, 0, 1}))},
        // RLE4: runs alternate the two nibbles of their byte.
        {"x4.dib", Bmp(4, 2, 4, 2, colours, Bytes({4, 0x33, 0, 0, 2, 0x11, 2, 0x23, 0, 0, 0, 1}))},
    };
    for (const TCase& c : cases) {
        const TDecoded d = DecodeFile(Write(c.Name, c.Data));
        ASSERT_TRUE(d.Ok) << c.Name << ": " << d.Error.toStdString();
        EXPECT_EQ(d.Type, TQelImageFileType::Bmp) << c.Name;
        EXPECT_TRUE(Near(d, 0, 0, 0, 0, 255)) << c.Name;
        EXPECT_TRUE(Near(d, 2, 0, 0, 255, 0)) << c.Name;
        EXPECT_TRUE(Near(d, 3, 0, 255, 0, 0)) << c.Name;
        EXPECT_TRUE(Near(d, 1, 1, 255, 0, 0)) << c.Name;
    }

    // Direct colours: 16 bits (5-5-5), 24 bits, 32 bits; 2 x 1 pixels.
    const TDecoded d16 = DecodeFile(Write("555.bmp", Bmp(2, 1, 16, 0, {}, Short(0x7C00) + Short(0x001F))));
    ASSERT_TRUE(d16.Ok) << d16.Error.toStdString();
    EXPECT_TRUE(Near(d16, 0, 0, 0, 0, 255));
    EXPECT_TRUE(Near(d16, 1, 0, 255, 0, 0));
    // 5-6-5 through bit fields, stored top-down.
    QByteArray fields = Bmp(2, -1, 16, 3, {}, Long(0xF800) + Long(0x07E0) + Long(0x001F) + Short(0xF800) + Short(0x0400));
    qToLittleEndian<uint32_t>(14 + 40 + 12, fields.data() + 10);
    const TDecoded d565 = DecodeFile(Write("565.bmp", fields));
    ASSERT_TRUE(d565.Ok) << d565.Error.toStdString();
    EXPECT_TRUE(Near(d565, 0, 0, 0, 0, 255));
    EXPECT_TRUE(Near(d565, 1, 0, 0, 130, 0));  // 32 of 63
    const TDecoded d24 = DecodeFile(Write("24.bmp", Bmp(2, 1, 24, 0, {}, Bytes({1, 2, 3, 4, 5, 6, 0, 0}))));
    ASSERT_TRUE(d24.Ok) << d24.Error.toStdString();
    EXPECT_TRUE(Near(d24, 1, 0, 4, 5, 6));
    const TDecoded d32 = DecodeFile(Write("32.bmp", Bmp(2, 1, 32, 0, {}, Bytes({1, 2, 3, 0, 4, 5, 6, 0}))));
    ASSERT_TRUE(d32.Ok) << d32.Error.toStdString();
    EXPECT_TRUE(Near(d32, 1, 0, 4, 5, 6));

    // One bit per pixel, as Qt writes it.
    QImage mono(9, 2, QImage::Format_Mono);
    mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    mono.fill(0);
    mono.setPixel(8, 1, 1);
    const TDecoded d1 = DecodeFile(Write("mono.bmp", Encoded(mono, "bmp")));
    ASSERT_TRUE(d1.Ok) << d1.Error.toStdString();
    EXPECT_TRUE(Near(d1, 8, 1, 255, 255, 255));
    EXPECT_TRUE(Near(d1, 7, 1, 0, 0, 0));
}

// --- Damaged files --------------------------------------------------------------

TEST_F(ImageCodecTest, DamagedFilesFailWithAClearErrorAndStayUnchanged) {
    const TQelPixelBuffer picture = Picture(64, 48);
    const QByteArray jpeg = Jpeg(picture, 90);
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(qRgb(1, 2, 3));
    const QByteArray png = Encoded(image, "png");
    const QByteArray bmp = Encoded(image, "bmp");
    ASSERT_TRUE(WriteTiff(Path("ok.tif"), {TTiffPage{4, 4, 3, 8, std::vector<uint16_t>(48, 9)}}));
    QByteArray hugeTiff = ReadFile(Path("ok.tif"));
    ASSERT_TRUE(PatchTiffTag(hugeTiff, 256, 100000));
    ASSERT_TRUE(PatchTiffTag(hugeTiff, 257, 100000));
    QByteArray zeroTiff = ReadFile(Path("ok.tif"));
    ASSERT_TRUE(PatchTiffTag(zeroTiff, 257, 0));
    QByteArray hugeBmp = bmp;
    qToLittleEndian<int32_t>(100000, hugeBmp.data() + 18);
    qToLittleEndian<int32_t>(100000, hugeBmp.data() + 22);
    QByteArray zeroBmp = bmp;
    qToLittleEndian<int32_t>(0, zeroBmp.data() + 18);

    struct TCase {
        const char* Name;
        QByteArray Data;
    } cases[] = {
        {"junk.png", QByteArray("0123456789")},
        {"empty.jpg", QByteArray()},
        {"half.jpg", jpeg.left(jpeg.size() / 2)},
        {"header-only.jpg", jpeg.left(FindMarker(jpeg, 0xDA) + 20)},
        {"huge.jpg", WithJpegSize(jpeg, 60000, 60000)},
        {"zero.jpg", WithJpegSize(jpeg, 64, 0)},
        {"huge.png", WithPngSize(png, 100000, 100000)},
        {"zero.png", WithPngSize(png, 0, 48)},
        {"half.png", png.left(png.size() / 2)},
        {"huge.bmp", hugeBmp},
        {"zero.bmp", zeroBmp},
        {"half.bmp", bmp.left(200)},
        {"half.rle", Bmp(4, 2, 8, 1, {qRgb(0, 0, 0), qRgb(255, 0, 0)}, Bytes({4, 1, 0, 0, 4}))},
        {"huge.tif", hugeTiff},
        {"zero.tif", zeroTiff},
        {"half.tif", ReadFile(Path("ok.tif")).left(30)},
        {"text.tif", QByteArray("II*\0garbage garbage garbage", 27)},
    };
    for (const TCase& c : cases) {
        const QString path = Write(c.Name, c.Data);
        const TDecoded d = DecodeFile(path);
        EXPECT_FALSE(d.Ok) << c.Name;
        EXPECT_FALSE(d.Error.isEmpty()) << c.Name;
        EXPECT_EQ(ReadFile(path), c.Data) << c.Name;
    }

    // Not files at all.
    ASSERT_TRUE(QDir(Dir.path()).mkdir("folder.jpg"));
    TDecoded d = DecodeFile(Path("folder.jpg"));
    EXPECT_FALSE(d.Ok);
    EXPECT_TRUE(d.Error.contains("not a file"));
    d = DecodeFile(Path("missing.jpg"));
    EXPECT_FALSE(d.Ok);
    EXPECT_FALSE(QFileInfo::exists(Path("missing.jpg")));
    TWatchedFifo fifo(Path("pipe.jpg"));
    ASSERT_TRUE(fifo.Made);
    for (const QString& name : {Path("pipe.jpg"), QStringLiteral("/dev/zero")}) {
        d = DecodeFile(name);
        EXPECT_FALSE(d.Ok);
        EXPECT_TRUE(d.Error.contains("not a file")) << d.Error.toStdString();
    }
    EXPECT_FALSE(fifo.ReaderBlocked());
}

TEST(ImageCodecSizes, SizesAreCheckedBeforeAnyRowsAreMade) {
    EXPECT_TRUE(QelImageSizeAcceptable(1, 1));
    EXPECT_TRUE(QelImageSizeAcceptable(16384, 16384));
    EXPECT_FALSE(QelImageSizeAcceptable(0, 10));
    EXPECT_FALSE(QelImageSizeAcceptable(10, -1));
    EXPECT_FALSE(QelImageSizeAcceptable(16385, 16384));
    // A single row too long for 32-bit strides.
    EXPECT_FALSE(QelImageSizeAcceptable(int64_t(1) << 31, 1));
    EXPECT_FALSE(QelImageSizeAcceptable(int64_t(1) << 40, int64_t(1) << 40));
}

// --- Encoding and saving ----------------------------------------------------------

TEST_F(ImageCodecTest, EncodersWriteTheSubRectangleTheyAreGiven) {
    const TQelPixelBuffer picture = Picture(23, 11);
    // The 13 x 7 rectangle from (5, 3): odd widths, rows not packed.
    TQelPixels part;
    part.Init(TQelRect(0, 0, 13, 7), picture.PixelAddress(5, 3), QelFormatBGR24, picture.Stride);
    TQelPixelBuffer expected;
    expected.Allocate(QelFormatBGR24, TQelRect(0, 0, 13, 7));
    expected.CopyRect(0, 0, TQelRect(5, 3, 18, 10), picture);

    for (auto [type, name] : {std::pair(TQelImageFileType::Png, "out.png"), std::pair(TQelImageFileType::Bmp, "out.bmp"),
                              std::pair(TQelImageFileType::Tiff, "out.tif")}) {
        QByteArray data;
        QString error;
        ASSERT_TRUE(QelEncodeImage(type, part.Bits, 13, 7, part.Stride, 80, data, error)) << error.toStdString();
        const TDecoded d = DecodeFile(Write(name, data));
        ASSERT_TRUE(d.Ok) << name << ": " << d.Error.toStdString();
        EXPECT_EQ(d.Type, type) << name;
        EXPECT_TRUE(SamePixels(d.Pixels, expected)) << name;
        if (type == TQelImageFileType::Bmp) {
            EXPECT_EQ(qFromLittleEndian<uint16_t>(data.constData() + 28), 24);
        }
    }

    // JPEG at quality 80: the standard luminance table scaled to 80 starts
    // with 16 * 40 / 100 = 6.
    QByteArray jpeg;
    QString error;
    ASSERT_TRUE(QelEncodeImage(TQelImageFileType::Jpeg, part.Bits, 13, 7, part.Stride, 80, jpeg, error));
    const qsizetype dqt = FindMarker(jpeg, 0xDB);
    ASSERT_GT(dqt, 0);
    EXPECT_EQ(uint8_t(jpeg[dqt + 4]), 0);  // 8-bit table 0
    EXPECT_EQ(uint8_t(jpeg[dqt + 5]), 6);
    TQelImageDecoder decoder;
    ASSERT_TRUE(decoder.OpenData(jpeg));
    EXPECT_EQ(decoder.Width(), 13);
    EXPECT_EQ(decoder.Height(), 7);

    EXPECT_FALSE(QelEncodeImage(TQelImageFileType::Other, part.Bits, 13, 7, part.Stride, 80, jpeg, error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QelEncodeImage(TQelImageFileType::Png, nullptr, 13, 7, part.Stride, 80, jpeg, error));
}

TEST_F(ImageCodecTest, FailedSavesLeaveTheOldFileAsItWas) {
    const TQelPixelBuffer picture = Picture(8, 8);
    const QByteArray old("the user's photo");
    const QString target = Write("photo.jpg", old);
    QString error;

    // The encoder refuses: nothing is written.
    EXPECT_FALSE(QelSaveImage(target, TQelImageFileType::Other, picture.Bits, 8, 8, picture.Stride, 80, {}, error));
    EXPECT_EQ(ReadFile(target), old);
    // The target is a folder, or its folder is missing.
    ASSERT_TRUE(QDir(Dir.path()).mkdir("folder.png"));
    EXPECT_FALSE(QelSaveImage(Path("folder.png"), TQelImageFileType::Png, picture.Bits, 8, 8, picture.Stride, 80, {}, error));
    EXPECT_TRUE(QFileInfo(Path("folder.png")).isDir());
    EXPECT_FALSE(QelSaveImage(Path("none/x.png"), TQelImageFileType::Png, picture.Bits, 8, 8, picture.Stride, 80, {}, error));
    EXPECT_FALSE(error.isEmpty());

    // A save that works replaces the file and leaves no temporary behind.
    ASSERT_TRUE(QelSaveImage(target, TQelImageFileType::Png, picture.Bits, 8, 8, picture.Stride, 80, {}, error));
    EXPECT_EQ(DecodeFile(target).Type, TQelImageFileType::Png);
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files).size(), 1);
}

}  // namespace
