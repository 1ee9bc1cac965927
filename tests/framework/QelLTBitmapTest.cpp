#include <gtest/gtest.h>

#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>

#include <cstring>
#include <vector>

#include "QelLTBitmap.h"
#include "ViewTestSupport.h"

namespace {

std::vector<uint8_t> Bytes(const TQelLTBitmap& b) {
    const TQelPixels* p = b.GetPixels();
    if (p == nullptr) return {};
    return std::vector<uint8_t>(p->Bits, p->Bits + size_t(p->Stride) * size_t(p->Height));
}

// B, G of pixel (x, y) of a 24-bit bitmap.
std::pair<int, int> At(const TQelLTBitmap& b, int32_t x, int32_t y) {
    const uint8_t* px = b.GetPixels()->PixelAddress(x, y);
    return {px[0], px[1]};
}

QImage Sentinel(int w, int h, QImage::Format format = QImage::Format_BGR888) {
    QImage img(w, h, format);
    img.fill(QColor(1, 2, 3));
    return img;
}

TEST(QelLTBitmap, SetSizeAndEmptyBitmaps) {
    TQelLTBitmap b;
    EXPECT_TRUE(b.IsEmpty());
    ASSERT_TRUE(b.SetSize(3, 2, QelFormatBGR24));
    EXPECT_EQ(b.GetPixels()->Stride, 12);
    EXPECT_EQ(b.GetHandle().Size, 24u);
    EXPECT_EQ(b.GetBoundsRect(), TQelRect(0, 0, 3, 2));
    EXPECT_EQ(Bytes(b), std::vector<uint8_t>(24, 0));

    // A failed SetSize frees the old rows: the bitmap is empty, not stale.
    EXPECT_FALSE(b.SetSize(0, 5, QelFormatBGR24));
    EXPECT_EQ(b.GetWidth(), 0);
    EXPECT_EQ(b.GetPixels(), nullptr);
    EXPECT_FALSE(b.SetSize(5, 5, 0x1009));  // unknown format
    EXPECT_FALSE(b.SetSize(2000000000, 2000000000, QelFormatBGR24));  // absurd size from a damaged header

    // Every operation on an empty bitmap fails quietly.
    EXPECT_FALSE(b.Crop(TQelRect(0, 0, 1, 1)));
    EXPECT_FALSE(b.FlipHorizontal());
    EXPECT_FALSE(b.FlipVertical());
    EXPECT_FALSE(b.RotateLeft());
    EXPECT_FALSE(b.RotateRight());
    EXPECT_FALSE(b.Resize(4, 4));
    EXPECT_TRUE(b.Clone()->IsEmpty());
    QImage target = Sentinel(4, 4);
    QPainter painter(&target);
    EXPECT_FALSE(b.Draw(painter, TQelRect(0, 0, 4, 4), TQelRect(0, 0, 4, 4), TQelRect(0, 0, 4, 4)));
    EXPECT_FALSE(b.Print(painter, TQelRect(0, 0, 4, 4), 0, 0));
    TQelPixelBuffer buffer;
    buffer.Allocate(QelFormatBGR24, TQelRect(0, 0, 2, 2));
    CopyBitmapToBuffer(b, buffer);
    EXPECT_EQ(buffer.Bits, nullptr);
    EXPECT_EQ(buffer.Width, 0);
}

TEST(QelLTBitmap, CropKeepsTheInsideOrNothing) {
    TQelLTBitmap b;
    ASSERT_TRUE(b.SetSize(3, 3, QelFormatBGR24));
    FillCoordinates(b);
    EXPECT_TRUE(b.Crop(TQelRect(1, 1, 10, 10)));
    ASSERT_EQ(b.GetWidth(), 2);
    ASSERT_EQ(b.GetHeight(), 2);
    EXPECT_EQ(At(b, 0, 0), std::make_pair(1, 1));
    EXPECT_EQ(At(b, 1, 1), std::make_pair(2, 2));

    const std::vector<uint8_t> before = Bytes(b);
    EXPECT_FALSE(b.Crop(TQelRect(5, 5, 8, 8)));
    EXPECT_FALSE(b.Crop(TQelRect(1, 1, 1, 2)));
    EXPECT_EQ(b.GetWidth(), 2);
    EXPECT_EQ(Bytes(b), before);
}

TEST(QelLTBitmap, FlipsAndQuarterTurns) {
    TQelLTBitmap b;
    ASSERT_TRUE(b.SetSize(5, 3, QelFormatBGR24));  // odd width: rows carry padding
    FillCoordinates(b);
    const std::vector<uint8_t> original = Bytes(b);

    ASSERT_TRUE(b.RotateLeft());
    ASSERT_EQ(b.GetWidth(), 3);
    ASSERT_EQ(b.GetHeight(), 5);
    // (x, y) went to (y, W - 1 - x).
    EXPECT_EQ(At(b, 0, 4), std::make_pair(0, 0));
    EXPECT_EQ(At(b, 2, 0), std::make_pair(4, 2));
    EXPECT_EQ(At(b, 1, 3), std::make_pair(1, 1));
    ASSERT_TRUE(b.RotateRight());
    EXPECT_EQ(Bytes(b), original);

    ASSERT_TRUE(b.RotateRight());
    // (x, y) went to (H - 1 - y, x).
    EXPECT_EQ(At(b, 2, 0), std::make_pair(0, 0));
    ASSERT_TRUE(b.RotateLeft());
    EXPECT_EQ(Bytes(b), original);

    ASSERT_TRUE(b.FlipHorizontal());
    EXPECT_EQ(At(b, 0, 1), std::make_pair(4, 1));
    ASSERT_TRUE(b.FlipHorizontal());
    EXPECT_EQ(Bytes(b), original);
    ASSERT_TRUE(b.FlipVertical());
    EXPECT_EQ(At(b, 3, 0), std::make_pair(3, 2));
    ASSERT_TRUE(b.FlipVertical());
    EXPECT_EQ(Bytes(b), original);

    TQelLTBitmap wide;
    ASSERT_TRUE(wide.SetSize(3, 2, QelFormatBGRA32));
    std::memset(wide.GetPixels()->Bits, 0x5A, 24);
    const std::vector<uint8_t> wideBytes = Bytes(wide);
    EXPECT_FALSE(wide.FlipHorizontal());
    EXPECT_FALSE(wide.FlipVertical());
    EXPECT_FALSE(wide.RotateLeft());
    EXPECT_FALSE(wide.RotateRight());
    // The resampler writes 24-bit rows only; a black 32-bit result must not
    // be reported as done.
    EXPECT_FALSE(wide.Resize(6, 4));
    EXPECT_EQ(wide.GetWidth(), 3);
    EXPECT_EQ(Bytes(wide), wideBytes);
}

TEST(QelLTBitmap, ResizeIsLanczos) {
    TQelLTBitmap b;
    ASSERT_TRUE(b.SetSize(2, 1, QelFormatBGR24));
    std::memset(b.GetPixels()->PixelAddress(1, 0), 255, 3);
    ASSERT_TRUE(b.Resize(4, 1));
    ASSERT_EQ(b.GetWidth(), 4);
    const uint8_t expected[4] = {0, 53, 201, 255};
    for (int x = 0; x < 4; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(b.GetPixels()->PixelAddress(x, 0)[c], expected[x]) << x;
    EXPECT_FALSE(b.Resize(0, 3));
    EXPECT_EQ(b.GetWidth(), 4);
}

TEST(QelLTBitmap, CloneAssignAndCopyToBuffer) {
    TQelLTBitmap b;
    ASSERT_TRUE(b.SetSize(5, 3, QelFormatBGR24));
    FillCoordinates(b, 7);
    const std::unique_ptr<TQelLTBitmap> copy = b.Clone();
    EXPECT_EQ(copy->GetWidth(), 5);
    EXPECT_EQ(Bytes(*copy), Bytes(b));
    EXPECT_NE(copy->GetPixels()->Bits, b.GetPixels()->Bits);

    TQelPixelBuffer buffer;
    CopyBitmapToBuffer(b, buffer);
    EXPECT_EQ(buffer.GetBounds(), TQelRect(0, 0, 5, 3));
    EXPECT_EQ(buffer.PixelAddress(4, 2)[0], 4);

    // Pixels land at the buffer's own coordinates: a buffer at (1, 0) fills
    // only the columns both cover.
    TQelPixelBuffer shifted;
    shifted.Allocate(QelFormatBGR24, TQelRect(1, 0, 4, 2));
    std::memset(shifted.Bits, 9, size_t(shifted.Stride) * 2);
    TQelLTBitmap target;
    target.Assign(shifted);
    ASSERT_EQ(target.GetWidth(), 3);
    EXPECT_EQ(target.GetPixels()->PixelAddress(0, 0)[0], 0);
    EXPECT_EQ(target.GetPixels()->PixelAddress(1, 1)[2], 9);
    EXPECT_EQ(target.GetPixels()->PixelAddress(2, 0)[0], 9);

    target.Assign(buffer);
    EXPECT_EQ(Bytes(target), Bytes(b));

    TQelPixelBuffer empty;
    target.Assign(empty);
    EXPECT_TRUE(target.IsEmpty());
}

TEST(QelLTBitmap, DrawShowsThePixelUnderEachCentre) {
    TQelLTBitmap b;
    ASSERT_TRUE(b.SetSize(6, 4, QelFormatBGR24));
    FillCoordinates(b);

    QImage half = Sentinel(3, 2);
    {
        QPainter p(&half);
        EXPECT_TRUE(b.Draw(p, TQelRect(0, 0, 3, 2), b.GetBoundsRect(), TQelRect(0, 0, 3, 2)));
    }
    // Each centre falls on a border between two pixels: the upper left one
    // is shown, the one the mapping gives for the device pixel.
    EXPECT_EQ(half.pixelColor(0, 0), QColor(200, 0, 0));
    EXPECT_EQ(half.pixelColor(2, 1), QColor(200, 2, 4));

    QImage twice = Sentinel(12, 8);
    {
        QPainter p(&twice);
        EXPECT_TRUE(b.Draw(p, TQelRect(0, 0, 12, 8), b.GetBoundsRect(), TQelRect(0, 0, 12, 8)));
    }
    EXPECT_EQ(twice.pixelColor(1, 1), QColor(200, 0, 0));
    EXPECT_EQ(twice.pixelColor(2, 3), QColor(200, 1, 1));
    EXPECT_EQ(twice.pixelColor(11, 7), QColor(200, 3, 5));

    // A painter translation and the clip rectangle are honoured; nothing
    // outside DestClip changes.
    QImage moved = Sentinel(10, 10);
    {
        QPainter p(&moved);
        p.translate(2, 3);
        EXPECT_TRUE(b.Draw(p, TQelRect(0, 0, 6, 4), b.GetBoundsRect(), TQelRect(1, 0, 4, 4)));
    }
    EXPECT_EQ(moved.pixelColor(3, 3), QColor(200, 0, 1));
    EXPECT_EQ(moved.pixelColor(5, 6), QColor(200, 3, 3));
    EXPECT_EQ(moved.pixelColor(2, 3), QColor(1, 2, 3));
    EXPECT_EQ(moved.pixelColor(6, 3), QColor(1, 2, 3));
}

TEST(QelLTBitmap, LargeDrawsShareTheRowsAndMatchQt) {
    // Large enough for the rows to be split across threads.
    TQelLTBitmap b;
    ASSERT_TRUE(b.SetSize(2403, 1801, QelFormatBGR24));
    FillCoordinates(b);
    for (const TQelRect& dst : {TQelRect(-3, 5, 1198, 905), TQelRect(7, 3, 1208, 903), TQelRect(-5, -1, 2397, 1799)}) {
        QImage direct = Sentinel(1201, 903);
        QImage qt = Sentinel(1201, 903, QImage::Format_RGB32);
        {
            QPainter painter(&direct);
            EXPECT_TRUE(b.Draw(painter, dst, TQelRect(1, 0, 2403, 1800), TQelRect(0, 0, 5000, 5000)));
        }
        {
            QPainter painter(&qt);
            EXPECT_TRUE(b.Draw(painter, dst, TQelRect(1, 0, 2403, 1800), TQelRect(0, 0, 5000, 5000)));
        }
        EXPECT_TRUE(direct.convertToFormat(QImage::Format_RGB32) == qt) << dst.Left;
    }
}

TEST(QelLTBitmap, DrawNeverReadsOrWritesOutside) {
    // Run under the sanitizers: source rectangles beyond the rows, targets
    // smaller than the destination, odd sizes.
    TQelLTBitmap b;
    ASSERT_TRUE(b.SetSize(7, 5, QelFormatBGR24));
    FillCoordinates(b);
    for (const TQelRect& src : {TQelRect(-10, -10, 17, 15), TQelRect(3, 2, 30, 40), TQelRect(-3, -3, 1, 1)}) {
        for (const TQelRect& dst : {TQelRect(-50, -40, 60, 45), TQelRect(2, 1, 9, 6), TQelRect(0, 0, 1, 1)}) {
            QImage direct = Sentinel(11, 9);
            QPainter p(&direct);
            b.Draw(p, dst, src, TQelRect(-100, -100, 100, 100));
        }
    }
    // Destination pixels whose source lies outside the rows keep their colour.
    QImage img = Sentinel(20, 20);
    {
        QPainter p(&img);
        EXPECT_TRUE(b.Draw(p, TQelRect(0, 0, 20, 20), TQelRect(-3, -3, 17, 17), TQelRect(0, 0, 20, 20)));
    }
    EXPECT_EQ(img.pixelColor(0, 0), QColor(1, 2, 3));
    EXPECT_EQ(img.pixelColor(3, 3), QColor(200, 0, 0));
    EXPECT_EQ(img.pixelColor(9, 7), QColor(200, 4, 6));
    EXPECT_EQ(img.pixelColor(10, 8), QColor(1, 2, 3));

    // Inverted and empty rectangles paint nothing.
    QPainter p(&img);
    EXPECT_FALSE(b.Draw(p, TQelRect(5, 5, 0, 0), b.GetBoundsRect(), TQelRect(0, 0, 20, 20)));
    EXPECT_FALSE(b.Draw(p, TQelRect(0, 0, 5, 5), TQelRect(3, 3, 3, 9), TQelRect(0, 0, 20, 20)));
}

TEST(QelLTBitmap, PrintScalesIntoTheRectangle) {
    TQelLTBitmap b;
    ASSERT_TRUE(b.SetSize(2, 2, QelFormatBGR24));
    std::memset(b.GetPixels()->Bits, 0, 16);
    b.GetPixels()->PixelAddress(1, 1)[2] = 255;  // red bottom-right
    QImage page = Sentinel(20, 20, QImage::Format_RGB32);
    {
        QPainter p(&page);
        EXPECT_TRUE(b.Print(p, TQelRect(10, 10, 20, 20), 0, 0));
        EXPECT_FALSE(b.Print(p, TQelRect(10, 10, 10, 20), 0, 0));
    }
    EXPECT_EQ(page.pixelColor(9, 9), QColor(1, 2, 3));
    EXPECT_EQ(page.pixelColor(11, 11), QColor(0, 0, 0));
    EXPECT_EQ(page.pixelColor(18, 18), QColor(255, 0, 0));

    QTemporaryDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("page.pdf"));
    {
        QPainter p(&printer);
        EXPECT_TRUE(b.Print(p, TQelRect(100, 100, 1100, 1100), 0, 0));
    }
    EXPECT_GT(QFileInfo(dir.filePath("page.pdf")).size(), 0);
}

TEST(QelLTBitmap, EncodersAndFormatHelpers) {
    TQelImageWriter clsid = TQelImageWriter::None;
    EXPECT_GE(GetEncoderClsid("image/jpeg", clsid), 0);
    EXPECT_EQ(clsid, TQelImageWriter::Jpeg);

    clsid = TQelImageWriter::Png;
    EXPECT_EQ(GetEncoderClsid("image/x-none", clsid), -1);
    EXPECT_EQ(GetEncoderClsid("image/JPEG", clsid), -1);  // exact, case-sensitive
    EXPECT_EQ(clsid, TQelImageWriter::Png);

    const QList<TQelImageEncoder> twice = {{"image/png", TQelImageWriter::Png},
                                           {"image/jpeg", TQelImageWriter::Jpeg},
                                           {"image/png", TQelImageWriter::Bmp}};
    EXPECT_EQ(QelFindEncoder(twice, "image/png", clsid), 2);  // the later one wins
    EXPECT_EQ(clsid, TQelImageWriter::Bmp);

    QRect r;
    RectToGdiPlusRect(TQelRect(1, 2, 11, 22), r);
    EXPECT_EQ(r, QRect(1, 2, 10, 20));
    RectToGdiPlusRect(TQelRect(-2000000000, 0, 2000000000, 1), r);  // wider than int: saturates
    EXPECT_EQ(r.left(), -2000000000);
    EXPECT_GT(r.width(), 0);

    EXPECT_EQ(GdiPlusPixelFormat(QelFormatBGR24), QImage::Format_BGR888);
    EXPECT_EQ(GdiPlusPixelFormat(QelFormatBGRA32), QImage::Format_ARGB32);
    EXPECT_EQ(GdiPlusPixelFormat(0x1001), QImage::Format_Invalid);
}

}  // namespace
