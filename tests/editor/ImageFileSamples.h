// Image files made in memory for the codec and format-table tests: JPEGs
// (baseline, progressive, CMYK, with EXIF), TIFFs (8 and 16 bits, several
// pages), PNGs of every colour type Qt writes and hand-made BMPs, plus ways
// of damaging them.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QList>
#include <QString>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include "QelBitmap.h"

namespace samples {

inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool WriteFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// Stripes, gradients and noise: no row or column repeats, any shift by a
// pixel shows, and no two MCUs look alike.
inline TQelPixelBuffer Picture(int32_t w, int32_t h, uint32_t seed = 1) {
    TQelPixelBuffer b;
    b.Allocate(QelFormatBGR24, TQelRect(0, 0, w, h));
    uint32_t s = seed;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            s = s * 1664525u + 1013904223u;
            const int noise = int(s >> 27);
            uint8_t* p = b.PixelAddress(x, y);
            p[0] = uint8_t(((x * 9 + y * 2) % 180) + noise);
            p[1] = uint8_t(((x * x / 7 + y * 5) % 180) + noise);
            p[2] = uint8_t(40 + ((x / 3 + y / 4) % 2) * 150 + noise);
        }
    return b;
}

// A picture a JPEG keeps nearly exactly: four flat quadrants.
inline TQelPixelBuffer Quadrants(int32_t w, int32_t h) {
    TQelPixelBuffer b;
    b.Allocate(QelFormatBGR24, TQelRect(0, 0, w, h));
    const uint8_t colours[4][3] = {{40, 60, 200}, {200, 60, 40}, {60, 200, 60}, {128, 128, 128}};
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) std::memcpy(b.PixelAddress(x, y), colours[(y >= h / 2) * 2 + (x >= w / 2)], 3);
    return b;
}

// The mean of the channels' absolute differences; huge for another size.
inline double MeanDifference(const TQelPixels& a, const TQelPixels& b) {
    if (a.Width != b.Width || a.Height != b.Height) return 1e9;
    double sum = 0;
    for (int32_t y = 0; y < a.Height; ++y)
        for (int32_t x = 0; x < a.Width; ++x)
            for (int c = 0; c < 3; ++c) sum += std::abs(int(a.PixelAddress(x, y)[c]) - int(b.PixelAddress(x, y)[c]));
    return sum / (double(a.Width) * a.Height * 3);
}

// --- JPEG -----------------------------------------------------------------------

inline QByteArray Jpeg(const TQelPixels& b, int quality = 95, int flags = 0, int subsampling = TJSAMP_444) {
    tjhandle h = tjInitCompress();
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(h, b.Bits, b.Width, b.Stride, b.Height, TJPF_BGR, &buffer, &size, subsampling, quality,
                               flags);
    QByteArray result = rc == 0 ? QByteArray(reinterpret_cast<const char*>(buffer), qsizetype(size)) : QByteArray();
    tjFree(buffer);
    tjDestroy(h);
    return result;
}

// A decode through TurboJPEG at the file's own size; Width 0 when it failed.
inline TQelPixelBuffer Decompress(const QByteArray& data) {
    TQelPixelBuffer b;
    tjhandle h = tjInitDecompress();
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    int w = 0, hgt = 0, sub = 0, cs = 0;
    if (tjDecompressHeader3(h, bytes, static_cast<unsigned long>(data.size()), &w, &hgt, &sub, &cs) == 0) {
        b.Allocate(QelFormatBGR24, TQelRect(0, 0, w, hgt));
        if (tjDecompress2(h, bytes, static_cast<unsigned long>(data.size()), b.Bits, w, b.Stride, hgt, TJPF_BGR, 0) != 0)
            b.Release();
    }
    tjDestroy(h);
    return b;
}

// The loss of encoding these pixels once more with the same quality, and a
// margin: a file that is shifted by a pixel is far beyond it.
inline double ReencodingLoss(const TQelPixels& image, int subsamp, int quality) {
    return MeanDifference(Decompress(Jpeg(image, quality, 0, subsamp)), image) + 1.0;
}

struct TJpegWriteError {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
};

[[noreturn]] inline void JpegWriteErrorExit(j_common_ptr c) {
    std::longjmp(reinterpret_cast<TJpegWriteError*>(c->err)->Jump, 1);
}

// W x H pixels of Components bytes in the colour space In (Row(y) is row y),
// written through libjpeg with its defaults, then Configure; empty when
// libjpeg refuses.
inline QByteArray LibjpegFile(int32_t w, int32_t h, int components, J_COLOR_SPACE in,
                              const std::function<const uint8_t*(int32_t)>& row,
                              const std::function<void(jpeg_compress_struct&)>& configure) {
    TJpegWriteError e;
    jpeg_compress_struct c{};
    c.err = jpeg_std_error(&e.Base);
    e.Base.error_exit = JpegWriteErrorExit;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    QByteArray result;
    jpeg_create_compress(&c);
    if (!setjmp(e.Jump)) {
        jpeg_mem_dest(&c, &out, &size);
        c.image_width = JDIMENSION(w);
        c.image_height = JDIMENSION(h);
        c.input_components = components;
        c.in_color_space = in;
        jpeg_set_defaults(&c);
        configure(c);
        jpeg_start_compress(&c, TRUE);
        while (c.next_scanline < c.image_height) {
            JSAMPROW r = const_cast<JSAMPROW>(row(int32_t(c.next_scanline)));
            jpeg_write_scanlines(&c, &r, 1);
        }
        jpeg_finish_compress(&c);
        result = QByteArray(reinterpret_cast<const char*>(out), qsizetype(size));
    }
    jpeg_destroy_compress(&c);
    free(out);
    return result;
}

inline QByteArray LibjpegFile(const TQelPixels& picture, const std::function<void(jpeg_compress_struct&)>& configure) {
    return LibjpegFile(picture.Width, picture.Height, 3, JCS_EXT_BGR,
                       [&picture](int32_t y) { return picture.PixelAddress(0, y); }, configure);
}

// Inks per pixel (C, M, Y, K as stored), written through libjpeg as a CMYK
// file with the Adobe marker that libjpeg adds for CMYK. Arithmetic coding
// on request.
inline QByteArray CmykJpeg(int32_t w, int32_t h, const std::vector<uint8_t>& inks, bool arithmetic = false) {
    return LibjpegFile(
        w, h, 4, JCS_CMYK, [&](int32_t y) { return inks.data() + size_t(y) * size_t(w) * 4; },
        [arithmetic](jpeg_compress_struct& c) {
            jpeg_set_colorspace(&c, JCS_CMYK);
            jpeg_set_quality(&c, 100, TRUE);
            c.arith_code = arithmetic ? TRUE : FALSE;
        });
}

// One EXIF directory entry; ASCII values keep exactly the bytes given.
struct TExifEntry {
    uint16_t Tag;
    uint16_t Type;
    QByteArray Value;
    uint32_t Count() const {
        const int unit = Type == 3 ? 2 : Type == 4 || Type == 9 ? 4 : Type == 5 || Type == 10 ? 8 : 1;
        return uint32_t(Value.size() / unit);
    }
};

inline QByteArray Short(uint16_t v) {
    QByteArray b(2, '\0');
    qToLittleEndian<uint16_t>(v, b.data());
    return b;
}

inline QByteArray Long(uint32_t v) {
    QByteArray b(4, '\0');
    qToLittleEndian<uint32_t>(v, b.data());
    return b;
}

// A JPEG segment: the marker FF Marker, then Body under its length.
inline QByteArray Segment(uint8_t marker, const QByteArray& body) {
    QByteArray s("\xFF\0\0\0", 4);
    s[1] = char(marker);
    qToBigEndian<uint16_t>(uint16_t(body.size() + 2), s.data() + 2);
    return s + body;
}

// An APP1 segment "Exif\0\0" with a little-endian TIFF structure: the main
// directory's entries and, when given, an EXIF directory.
inline QByteArray ExifSegment(QList<TExifEntry> main, const QList<TExifEntry>& exif = {}) {
    // Directory layout: count, entries, next offset, then the values that do
    // not fit in four bytes.
    auto directorySize = [](const QList<TExifEntry>& entries) {
        int size = 2 + 12 * int(entries.size()) + 4;
        for (const TExifEntry& e : entries)
            if (e.Value.size() > 4) size += int(e.Value.size() + 1) & ~1;
        return size;
    };
    if (!exif.isEmpty()) main.append(TExifEntry{34665, 4, Long(0)});
    const uint32_t mainOffset = 8;
    const uint32_t exifOffset = mainOffset + uint32_t(directorySize(main));
    if (!exif.isEmpty()) main.last().Value = Long(exifOffset);
    auto writeDirectory = [](QByteArray& tiff, const QList<TExifEntry>& entries, uint32_t offset) {
        QByteArray values;
        uint32_t valueOffset = offset + 2 + 12 * uint32_t(entries.size()) + 4;
        tiff += Short(uint16_t(entries.size()));
        for (const TExifEntry& e : entries) {
            tiff += Short(e.Tag) + Short(e.Type) + Long(e.Count());
            if (e.Value.size() <= 4) {
                tiff += e.Value + QByteArray(4 - e.Value.size(), '\0');
            } else {
                tiff += Long(valueOffset + uint32_t(values.size()));
                values += e.Value;
                if (e.Value.size() % 2) values += '\0';
            }
        }
        tiff += Long(0);
        tiff += values;
    };
    QByteArray tiff("II*\0", 4);
    tiff += Long(mainOffset);
    writeDirectory(tiff, main, mainOffset);
    if (!exif.isEmpty()) writeDirectory(tiff, exif, exifOffset);
    return Segment(0xE1, QByteArray("Exif\0\0", 6) + tiff);
}

inline QByteArray WithSegment(const QByteArray& jpeg, const QByteArray& segment) {
    return jpeg.left(2) + segment + jpeg.mid(2);
}

inline QByteArray Ascii(const char* text) { return QByteArray(text, qsizetype(std::strlen(text) + 1)); }

// Offset of the first marker FF <Marker> in a JPEG; -1 when none.
inline qsizetype FindMarker(const QByteArray& jpeg, uint8_t marker) {
    for (qsizetype i = 2; i + 1 < jpeg.size(); ++i)
        if (uint8_t(jpeg[i]) == 0xFF && uint8_t(jpeg[i + 1]) == marker) return i;
    return -1;
}

// The JPEG with its frame header claiming Width x Height.
inline QByteArray WithJpegSize(QByteArray jpeg, uint16_t width, uint16_t height) {
    qsizetype sof = FindMarker(jpeg, 0xC0);
    if (sof < 0) sof = FindMarker(jpeg, 0xC2);
    if (sof < 0) return QByteArray();
    qToBigEndian<uint16_t>(height, jpeg.data() + sof + 5);
    qToBigEndian<uint16_t>(width, jpeg.data() + sof + 7);
    return jpeg;
}

// --- TIFF -----------------------------------------------------------------------

struct TTiffPage {
    int32_t Width = 0;
    int32_t Height = 0;
    int Samples = 3;         // 1 grey, 3 RGB, 4 RGBA (unassociated alpha)
    int Bits = 8;            // 8 or 16
    std::vector<uint16_t> Values;  // Width * Height * Samples, top row first
    float XDpi = 0, YDpi = 0;      // no resolution tags when 0
    uint16_t Orientation = 0;      // no orientation tag when 0
    QByteArray Profile{}, Xmp{};   // no such tag when empty
};

// Writes the pages through libtiff into a file (Mode "w8": a BigTIFF); true
// on success.
inline bool WriteTiff(const QString& path, const QList<TTiffPage>& pages, uint16_t compression = COMPRESSION_NONE,
                      const char* mode = "w") {
    TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), mode);
    if (!t) return false;
    bool ok = true;
    for (const TTiffPage& p : pages) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(p.Width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(p.Height));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(p.Samples));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(p.Bits));
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, p.Samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(2));
        if (p.Samples == 4) {
            const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
            TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        if (pages.size() > 1) TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        if (p.Orientation) TIFFSetField(t, TIFFTAG_ORIENTATION, p.Orientation);
        if (p.XDpi > 0) {
            TIFFSetField(t, TIFFTAG_XRESOLUTION, p.XDpi);
            TIFFSetField(t, TIFFTAG_YRESOLUTION, p.YDpi);
            TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        }
        if (!p.Profile.isEmpty()) TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(p.Profile.size()), p.Profile.constData());
        if (!p.Xmp.isEmpty()) TIFFSetField(t, TIFFTAG_XMLPACKET, uint32_t(p.Xmp.size()), p.Xmp.constData());
        const size_t rowValues = size_t(p.Width) * size_t(p.Samples);
        std::vector<uint8_t> row(rowValues * size_t(p.Bits / 8));
        for (int32_t y = 0; y < p.Height && ok; ++y) {
            for (size_t i = 0; i < rowValues; ++i) {
                const uint16_t v = p.Values[size_t(y) * rowValues + i];
                if (p.Bits == 8)
                    row[i] = uint8_t(v);
                else
                    std::memcpy(row.data() + i * 2, &v, 2);
            }
            ok = TIFFWriteScanline(t, row.data(), uint32_t(y), 0) >= 0;
        }
        ok = ok && TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    return ok;
}

// Overwrites the value of a SHORT or LONG entry of the first directory of a
// little-endian TIFF.
inline bool PatchTiffTag(QByteArray& tiff, uint16_t tag, uint32_t value) {
    if (tiff.size() < 8 || tiff.left(2) != "II") return false;
    const uint32_t ifd = qFromLittleEndian<uint32_t>(tiff.constData() + 4);
    if (ifd + 2 > uint32_t(tiff.size())) return false;
    const uint16_t count = qFromLittleEndian<uint16_t>(tiff.constData() + ifd);
    for (uint16_t i = 0; i < count; ++i) {
        char* e = tiff.data() + ifd + 2 + 12 * i;
        if (qFromLittleEndian<uint16_t>(e) != tag) continue;
        if (qFromLittleEndian<uint16_t>(e + 2) == 3)
            qToLittleEndian<uint16_t>(uint16_t(std::min<uint32_t>(value, 0xFFFF)), e + 8);
        else
            qToLittleEndian<uint32_t>(value, e + 8);
        return true;
    }
    return false;
}

// --- PNG ------------------------------------------------------------------------

inline QByteArray Encoded(const QImage& image, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    return writer.write(image) ? data : QByteArray();
}

inline uint32_t Crc32(const char* data, qsizetype size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (qsizetype i = 0; i < size; ++i) {
        crc ^= uint8_t(data[i]);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// The PNG with its header claiming Width x Height (checksum kept valid).
inline QByteArray WithPngSize(QByteArray png, uint32_t width, uint32_t height) {
    // Signature 8 bytes, IHDR length 4, type 4, then width and height.
    qToBigEndian<uint32_t>(width, png.data() + 16);
    qToBigEndian<uint32_t>(height, png.data() + 20);
    qToBigEndian<uint32_t>(Crc32(png.constData() + 12, 17), png.data() + 29);
    return png;
}

// --- BMP ------------------------------------------------------------------------

// A BMP with a 40-byte information header. Palette entries are QRgb values;
// Pixels are the rows (or RLE data) exactly as stored.
inline QByteArray Bmp(int32_t w, int32_t h, uint16_t bits, uint32_t compression, const QList<QRgb>& palette,
                      const QByteArray& pixels) {
    const uint32_t offset = 14 + 40 + uint32_t(palette.size()) * 4;
    QByteArray b("BM", 2);
    b += Long(offset + uint32_t(pixels.size())) + Long(0) + Long(offset);
    b += Long(40) + Long(uint32_t(w)) + Long(uint32_t(h)) + Short(1) + Short(bits) + Long(compression) +
         Long(uint32_t(pixels.size())) + Long(2835) + Long(2835) + Long(uint32_t(palette.size())) + Long(0);
    for (QRgb c : palette) {
        b += char(qBlue(c));
        b += char(qGreen(c));
        b += char(qRed(c));
        b += '\0';
    }
    return b + pixels;
}

inline QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values) b += char(uint8_t(v));
    return b;
}

}  // namespace samples
