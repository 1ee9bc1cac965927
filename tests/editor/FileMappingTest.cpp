#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstring>
#include <vector>

#include "FileMapping.h"
#include "ImageFileSamples.h"

using namespace samples;

namespace {

// What the host side of the plug-in does with the exchange file: write its
// image (4 planes, padded rows, a filter rectangle not at the origin), and
// later copy the pixels back, refusing an image whose size changed.
struct THostImage {
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Planes = 4;
    int32_t RowBytes = 0;
    std::vector<uint8_t> Bytes;  // R, G, B, extra per pixel

    THostImage(int32_t w, int32_t h, int32_t planes, int32_t padding) : Width(w), Height(h), Planes(planes) {
        RowBytes = w * planes + padding;
        Bytes.assign(size_t(RowBytes) * size_t(h), 0xAB);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                uint8_t* p = Pixel(x, y);
                p[0] = uint8_t(10 * x + y);
                p[1] = uint8_t(100 + y);
                p[2] = uint8_t(x * y);
                if (planes == 4) p[3] = 0x5A;
            }
    }
    uint8_t* Pixel(int32_t x, int32_t y) { return Bytes.data() + size_t(y) * RowBytes + size_t(x) * Planes; }

    QByteArray ExchangeFile(int32_t left = 17, int32_t top = 23) const {
        QByteArray file(ExchangePixelOffset, '\0');
        TExchangeHeader h;
        h.Left = left;
        h.Top = top;
        h.Width = Width;
        h.Height = Height;
        h.RowBytes = RowBytes;
        h.Planes = Planes;
        WriteExchangeHeader(h, reinterpret_cast<uint8_t*>(file.data()));
        return file + QByteArray(reinterpret_cast<const char*>(Bytes.data()), qsizetype(Bytes.size()));
    }

    // The copy-back: the header read where HeaderSize says, rows at
    // 4 + HeaderSize, only the three colour bytes of each pixel replaced.
    bool CopyBack(const QByteArray& file) {
        TExchangeHeader h;
        if (!IsExchangeFile(reinterpret_cast<const uint8_t*>(file.constData()), file.size(), h)) return false;
        QString error;
        if (!CheckExchangeHeader(h, file.size(), error)) return false;
        if (h.Width != Width || h.Height != Height) return false;
        for (int32_t y = 0; y < Height; ++y)
            for (int32_t x = 0; x < Width; ++x)
                std::memcpy(Pixel(x, y), file.constData() + 4 + h.HeaderSize + int64_t(y) * h.RowBytes + x * h.Planes, 3);
        return true;
    }
};

class ExchangeFileTest : public ::testing::Test {
protected:
    QString Write(const QString& name, const QByteArray& data) {
        EXPECT_TRUE(WriteFile(Dir.filePath(name), data));
        return Dir.filePath(name);
    }

    // Reads into a fresh buffer; the buffer stays empty unless the file
    // was read.
    TExchangeReadResult Read(const QString& path, TQelPixelBuffer& image, QString& error) {
        return ReadExchangeImage(
            path,
            [&](int32_t w, int32_t h) -> TQelPixels* {
                image.Allocate(QelFormatBGR24, TQelRect(0, 0, w, h));
                return &image;
            },
            error);
    }

    QTemporaryDir Dir;
};

TEST_F(ExchangeFileTest, HostImagesReadWhateverTheirPlanesPaddingAndOrigin) {
    for (int32_t planes : {3, 4}) {
        const THostImage host(5, 3, planes, 7);
        const QString path = Write("host.pspf", host.ExchangeFile());
        TQelPixelBuffer image;
        QString error;
        ASSERT_EQ(Read(path, image, error), TExchangeReadResult::Read) << error.toStdString();
        ASSERT_EQ(image.Width, 5);
        ASSERT_EQ(image.Height, 3);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 5; ++x) {
                const uint8_t* p = image.PixelAddress(x, y);
                EXPECT_EQ(p[2], uint8_t(10 * x + y));  // red
                EXPECT_EQ(p[1], uint8_t(100 + y));
                EXPECT_EQ(p[0], uint8_t(x * y));  // blue
            }
    }
}

TEST_F(ExchangeFileTest, WrittenFilesHaveTheProgramsLayoutAndKeepPaddingBytes) {
    // A 3 x 2 image into a file that held other bytes: rows of 12 bytes, a
    // 60-byte file, header 32, 3, 0, 0, 3, 2, 12, 3.
    const QString path = Write("small.pspf", QByteArray(80, char(0xEE)));
    TQelPixelBuffer image;
    image.Allocate(QelFormatBGR24, TQelRect(0, 0, 3, 2));
    for (int32_t i = 0; i < 6; ++i) {
        uint8_t* p = image.PixelAddress(i % 3, i / 3);
        p[0] = uint8_t(i);  // blue
        p[1] = 0x40;
        p[2] = uint8_t(0x80 + i);  // red
    }
    QString error;
    ASSERT_TRUE(WriteExchangeImage(path, image, error)) << error.toStdString();
    const QByteArray file = ReadFile(path);
    ASSERT_EQ(file.size(), 60);
    EXPECT_EQ(file.left(4), "PSPF");
    const int32_t expected[8] = {32, 3, 0, 0, 3, 2, 12, 3};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(qFromLittleEndian<int32_t>(file.constData() + 4 + 4 * i), expected[i]) << i;
    EXPECT_EQ(file.mid(36, 3), Bytes({0x80, 0x40, 0}));
    EXPECT_EQ(file.mid(48 + 6, 3), Bytes({0x85, 0x40, 5}));
    // Row padding is not written.
    EXPECT_EQ(file.mid(45, 3), QByteArray(3, char(0xEE)));
    EXPECT_EQ(file.mid(57, 3), QByteArray(3, char(0xEE)));

    // A file that grows gets zero padding.
    const QString fresh = Dir.filePath("fresh.pspf");
    ASSERT_TRUE(WriteExchangeImage(fresh, image, error));
    EXPECT_EQ(ReadFile(fresh).mid(45, 3), QByteArray(3, '\0'));
}

TEST_F(ExchangeFileTest, HostRoundTripIsExactAlsoAfterTheImageGrew) {
    // The host's 4-plane file is read, written back and copied back: every
    // colour byte survives, the host's fourth byte is untouched.
    THostImage host(7, 5, 4, 2);
    const THostImage original = host;
    const QString path = Write("trip.pspf", host.ExchangeFile());
    TQelPixelBuffer image;
    QString error;
    ASSERT_EQ(Read(path, image, error), TExchangeReadResult::Read);
    ASSERT_TRUE(WriteExchangeImage(path, image, error)) << error.toStdString();
    const QByteArray written = ReadFile(path);
    EXPECT_EQ(written.size(), 36 + ExchangeRowBytes(7) * 5);
    EXPECT_EQ(qFromLittleEndian<int32_t>(written.constData() + 32), 3);
    ASSERT_TRUE(host.CopyBack(written));
    EXPECT_EQ(host.Bytes, original.Bytes);

    TQelPixelBuffer again;
    ASSERT_EQ(Read(path, again, error), TExchangeReadResult::Read);
    EXPECT_EQ(std::memcmp(again.Bits, image.Bits, size_t(image.Stride) * 5), 0);

    // After a resize the image is larger than the file: the file grows to
    // fit and holds the whole image.
    TQelPixelBuffer larger = Picture(40, 30);
    ASSERT_TRUE(WriteExchangeImage(path, larger, error)) << error.toStdString();
    EXPECT_EQ(ReadFile(path).size(), 36 + 120 * 30);
    ASSERT_EQ(Read(path, again, error), TExchangeReadResult::Read);
    ASSERT_EQ(again.Width, 40);
    for (int32_t y = 0; y < 30; ++y)
        EXPECT_EQ(std::memcmp(again.PixelAddress(0, y), larger.PixelAddress(0, y), 120), 0) << y;
    // The host refuses an image whose size differs from its own.
    EXPECT_FALSE(host.CopyBack(ReadFile(path)));
}

TEST_F(ExchangeFileTest, OtherFilesAreNotExchangeFilesAndStayUnchanged) {
    const THostImage host(2, 2, 3, 2);
    QByteArray lower = host.ExchangeFile();
    lower.replace(0, 4, "pspf");
    QByteArray grey = host.ExchangeFile();
    qToLittleEndian<int32_t>(4, grey.data() + 8);
    struct TCase {
        const char* Name;
        QByteArray Data;
    } cases[] = {
        {"lower.pspf", lower},
        {"mode4.pspf", grey},
        {"empty.pspf", QByteArray()},
        {"short.pspf", QByteArray("PSPF")},
        {"photo.jpg", Jpeg(Picture(8, 8))},
    };
    for (const TCase& c : cases) {
        const QString path = Write(c.Name, c.Data);
        TQelPixelBuffer image;
        QString error;
        EXPECT_EQ(Read(path, image, error), TExchangeReadResult::NotExchange) << c.Name;
        EXPECT_EQ(image.Bits, nullptr) << c.Name;
        EXPECT_EQ(ReadFile(path), c.Data) << c.Name;
    }

    // Probing a missing name or a folder creates nothing.
    TQelPixelBuffer image;
    QString error;
    EXPECT_EQ(Read(Dir.filePath("missing.pspf"), image, error), TExchangeReadResult::NotExchange);
    EXPECT_FALSE(QFileInfo::exists(Dir.filePath("missing.pspf")));
    ASSERT_TRUE(QDir(Dir.path()).mkdir("folder.pspf"));
    EXPECT_EQ(Read(Dir.filePath("folder.pspf"), image, error), TExchangeReadResult::NotExchange);
}

TEST_F(ExchangeFileTest, HostileHeadersAreRefusedBeforeAnySizeIsTrusted) {
    auto file = [](int32_t w, int32_t h, int32_t rowBytes, int32_t planes, qsizetype length) {
        QByteArray f(std::max<qsizetype>(length, 36), '\0');
        TExchangeHeader header;
        header.Width = w;
        header.Height = h;
        header.RowBytes = rowBytes;
        header.Planes = planes;
        WriteExchangeHeader(header, reinterpret_cast<uint8_t*>(f.data()));
        return f.left(length);
    };
    struct TCase {
        const char* Name;
        QByteArray Data;
    } cases[] = {
        {"truncated", file(1000, 1000, 3000, 3, 100)},
        {"short-by-one", file(4, 4, 12, 3, 36 + 48 - 1)},
        {"planes2", file(4, 4, 12, 2, 36 + 48)},
        {"narrow-rows", file(4, 4, 11, 3, 36 + 44)},
        {"negative-rows", file(4, 4, -12, 3, 200)},
        {"zero-width", file(0, 4, 12, 3, 200)},
        {"negative-height", file(4, -4, 12, 3, 200)},
        {"huge", file(0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 3, 200)},
        {"wrap", file(0x40000000, 4, 12, 4, 200)},
        {"header-cut", file(4, 4, 12, 3, 20)},
    };
    for (const TCase& c : cases) {
        const QString path = Write(QString::fromLatin1(c.Name) + ".pspf", c.Data);
        bool asked = false;
        QString error;
        const TExchangeReadResult result = ReadExchangeImage(
            path,
            [&](int32_t, int32_t) -> TQelPixels* {
                asked = true;
                return nullptr;
            },
            error);
        EXPECT_EQ(result, TExchangeReadResult::Damaged) << c.Name;
        EXPECT_FALSE(asked) << c.Name;
        EXPECT_FALSE(error.isEmpty()) << c.Name;
        EXPECT_EQ(ReadFile(path), c.Data) << c.Name;
    }

    // No memory for the image: damaged, with a reason.
    const QString path = Write("ok.pspf", file(4, 4, 12, 3, 36 + 48));
    QString error;
    EXPECT_EQ(ReadExchangeImage(path, [](int32_t, int32_t) -> TQelPixels* { return nullptr; }, error),
              TExchangeReadResult::Damaged);
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(ExchangeFileTest, MappingFollowsTheFilesLength) {
    const QString path = Write("m.bin", QByteArray(10, 'x'));
    {
        TFileMapping mapping(path);
        ASSERT_TRUE(mapping.IsOpen());
        uint8_t* view = mapping.MapView(0, 0);
        ASSERT_TRUE(view);
        // The file cannot change its length under a view.
        EXPECT_FALSE(mapping.SetSize(100));
        view[0] = 'y';
        mapping.UnmapView(view);
        ASSERT_TRUE(mapping.SetSize(100));
        EXPECT_EQ(mapping.Size(), 100);
        EXPECT_FALSE(mapping.MapView(0, 101));
        view = mapping.MapView(0, 0);
        ASSERT_TRUE(view);
        EXPECT_EQ(view[99], 0);
        mapping.UnmapView(view);
        ASSERT_TRUE(mapping.SetSize(0));
        EXPECT_EQ(mapping.MapView(0, 0), nullptr);  // an empty file has no view
    }
    EXPECT_EQ(ReadFile(path), QByteArray());

    // Reading never creates; read/write creates the file empty.
    TFileMapping reader(Dir.filePath("absent"), TFileMapping::TAccess::Read);
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_FALSE(reader.SetSize(10));
    EXPECT_FALSE(QFileInfo::exists(Dir.filePath("absent")));
    TFileMapping writer(Dir.filePath("created"));
    EXPECT_TRUE(writer.IsOpen());
    EXPECT_TRUE(QFileInfo::exists(Dir.filePath("created")));

    // A file that cannot be opened for writing is not written.
    QString error;
    TQelPixelBuffer image = Picture(2, 2);
    EXPECT_FALSE(WriteExchangeImage(Dir.filePath("no/such/folder.pspf"), image, error));
    EXPECT_FALSE(error.isEmpty());
}

}  // namespace
