#include "OrloTWAINDib.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr qint64 Piece = 32768;

bool ValidDepth(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

// Reads exactly n bytes in pieces of at most 32 KiB.
bool ReadPieces(QFile& f, uint8_t* dst, uint64_t n) {
    while (n > 0) {
        const qint64 want = qint64(std::min<uint64_t>(n, Piece));
        const qint64 got = f.read(reinterpret_cast<char*>(dst), want);
        if (got != want) return false;
        dst += got;
        n -= uint64_t(got);
    }
    return true;
}

}  // namespace

uint64_t TwnDibStride(int64_t width, int bitsPerPixel) {
    if (width <= 0 || bitsPerPixel <= 0) return 0;
    return (uint64_t(width) * uint64_t(bitsPerPixel) + 31) / 32 * 4;
}

TwnDibSection* TwnAsDibSection(void* handle) {
    if (!handle) return nullptr;
    auto* dib = static_cast<TwnDibSection*>(handle);
    return dib->magic == TwnDibMagic ? dib : nullptr;
}

void TwnFreeImage(void* handle) {
    if (TwnDibSection* dib = TwnAsDibSection(handle)) {
        dib->magic = 0;
        delete dib;
    } else if (TwnGlobal::header(handle)) {
        TwnGlobal::free(handle);
    }
}

bool TwnPackedDibSize(TW_HANDLE block, int32_t& width, int32_t& height) {
    const uint64_t size = TwnGlobal::size(block);
    const auto* p = static_cast<const uint8_t*>(TwnGlobal::lock(block));
    if (!p || size < 4) {
        TwnGlobal::unlock(block);
        return false;
    }
    uint32_t hs;
    std::memcpy(&hs, p, 4);
    bool ok = false;
    if (hs == sizeof(TwnBitmapCoreHeader) && size >= hs) {
        uint16_t w, h;
        std::memcpy(&w, p + 4, 2);
        std::memcpy(&h, p + 6, 2);
        width = w;
        height = h;
        ok = true;
    } else if (hs >= sizeof(TwnBitmapInfoHeader) && size >= 12) {
        std::memcpy(&width, p + 4, 4);
        std::memcpy(&height, p + 8, 4);
        ok = true;
    }
    TwnGlobal::unlock(block);
    return ok;
}

TwnDibSection* TwnDibFromPackedDib(TW_HANDLE block) {
    struct Freer {
        TW_HANDLE h;
        ~Freer() {
            TwnGlobal::unlock(h);
            TwnGlobal::free(h);
        }
    } freer{block};
    const uint64_t size = TwnGlobal::size(block);
    const auto* p = static_cast<const uint8_t*>(TwnGlobal::lock(block));
    if (!p || size < sizeof(TwnBitmapCoreHeader)) return nullptr;

    uint32_t headerSize;
    std::memcpy(&headerSize, p, 4);
    TwnBitmapInfoHeader bi{};
    uint64_t tableAt;
    uint64_t tableEntries = 0;  // entries stored in the block
    int bits;
    if (headerSize == sizeof(TwnBitmapCoreHeader)) {
        TwnBitmapCoreHeader core;
        std::memcpy(&core, p, sizeof core);
        bi.biWidth = core.bcWidth;
        bi.biHeight = core.bcHeight;
        bi.biPlanes = 1;
        bi.biBitCount = core.bcBitCount;
        bits = core.bcBitCount;
        if (core.bcPlanes != 1) return nullptr;
        tableAt = headerSize;
    } else {
        if (headerSize < sizeof(TwnBitmapInfoHeader) || size < headerSize) return nullptr;
        std::memcpy(&bi, p, sizeof bi);
        if (bi.biPlanes != 1 || bi.biCompression != TwnBiRgb) return nullptr;
        bits = bi.biPlanes * bi.biBitCount;
        tableAt = headerSize;
    }
    if (!ValidDepth(bits) || bi.biWidth == 0 || bi.biHeight == 0) return nullptr;

    // Colour entries of the result, never more than the depth can index.
    uint32_t entries = 0;
    if (bits == 1) entries = 2;
    else if (bits == 4) entries = 16;
    else if (bits == 8) entries = bi.biClrUsed == 0 ? 256 : std::min<uint32_t>(bi.biClrUsed, 256);
    if (bits <= 8) tableEntries = entries;
    else tableEntries = headerSize == sizeof(TwnBitmapCoreHeader) ? 0 : bi.biClrUsed;  // skipped
    const uint64_t entrySize = headerSize == sizeof(TwnBitmapCoreHeader) ? 3 : 4;
    const uint64_t bitsAt = tableAt + tableEntries * entrySize;
    if (bitsAt > size) return nullptr;

    const int64_t w = bi.biWidth < 0 ? -int64_t(bi.biWidth) : bi.biWidth;
    const int64_t h = bi.biHeight < 0 ? -int64_t(bi.biHeight) : bi.biHeight;
    const uint64_t imageBytes = TwnDibStride(w, bits) * uint64_t(h);
    if (imageBytes == 0 || imageBytes > TwnMaxImageBytes) return nullptr;

    auto dib = std::make_unique<TwnDibSection>();
    dib->info.assign(sizeof(TwnBitmapInfoHeader) + 4 * entries, 0);
    TwnBitmapInfoHeader out{};
    out.biSize = sizeof(TwnBitmapInfoHeader);
    out.biWidth = bi.biWidth;
    out.biHeight = bi.biHeight;
    out.biPlanes = 1;
    out.biBitCount = uint16_t(bits);
    out.biCompression = TwnBiRgb;
    out.biSizeImage = uint32_t(imageBytes);
    int32_t xr = bi.biXPelsPerMeter, yr = bi.biYPelsPerMeter;
    out.biXPelsPerMeter = xr >= 1 ? xr : (yr >= 1 ? yr : TwnDefaultPelsPerMeter);
    out.biYPelsPerMeter = yr >= 1 ? yr : (xr >= 1 ? xr : TwnDefaultPelsPerMeter);
    out.biClrUsed = bits == 8 ? entries : 0;
    std::memcpy(dib->info.data(), &out, sizeof out);
    for (uint32_t i = 0; i < entries && bits <= 8; ++i) {
        uint8_t* q = dib->info.data() + sizeof(TwnBitmapInfoHeader) + 4 * i;
        const uint8_t* e = p + tableAt + i * entrySize;
        q[0] = e[0];
        q[1] = e[1];
        q[2] = e[2];
    }
    // The bits: what the block holds, never more than the image needs.
    dib->bits.assign(size_t(imageBytes), 0);
    const uint64_t available = size - bitsAt;
    uint64_t n = std::min(imageBytes, available);
    for (uint64_t off = 0; off < n; off += Piece)
        std::memcpy(dib->bits.data() + off, p + bitsAt + off, size_t(std::min<uint64_t>(Piece, n - off)));
    return dib.release();
}

TwnDibSection* TwnDibFromBmpFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return nullptr;
    const uint64_t fileSize = uint64_t(f.size());
    TwnBitmapFileHeader fh;
    TwnBitmapInfoHeader bi;
    if (f.read(reinterpret_cast<char*>(&fh), sizeof fh) != sizeof fh) return nullptr;
    if (f.read(reinterpret_cast<char*>(&bi), sizeof bi) != sizeof bi) return nullptr;
    if (fh.bfType != TwnBmpSignature || bi.biSize < sizeof bi || bi.biPlanes != 1 ||
        bi.biCompression != TwnBiRgb)
        return nullptr;
    const int bits = bi.biPlanes * bi.biBitCount;
    if (!ValidDepth(bits) || bi.biWidth == 0 || bi.biHeight == 0) return nullptr;
    uint64_t entries = bits > 8 ? bi.biClrUsed : (bi.biClrUsed ? bi.biClrUsed : (uint64_t(1) << bits));
    if (entries > 256 || (bits <= 8 && entries > (uint64_t(1) << bits))) return nullptr;
    const uint64_t tableAt = sizeof fh + bi.biSize;
    if (tableAt + 4 * entries > fh.bfOffBits || fh.bfOffBits > fileSize) return nullptr;
    const int64_t w = bi.biWidth < 0 ? -int64_t(bi.biWidth) : bi.biWidth;
    const int64_t h = bi.biHeight < 0 ? -int64_t(bi.biHeight) : bi.biHeight;
    const uint64_t imageBytes = TwnDibStride(w, bits) * uint64_t(h);
    if (imageBytes == 0 || imageBytes > TwnMaxImageBytes || fh.bfOffBits + imageBytes > fileSize) return nullptr;

    auto dib = std::make_unique<TwnDibSection>();
    dib->info.assign(sizeof(TwnBitmapInfoHeader) + 4 * entries, 0);
    bi.biSize = sizeof bi;
    bi.biSizeImage = uint32_t(imageBytes);
    bi.biClrUsed = uint32_t(entries);
    std::memcpy(dib->info.data(), &bi, sizeof bi);
    if (!f.seek(qint64(tableAt)) ||
        !ReadPieces(f, dib->info.data() + sizeof bi, 4 * entries))
        return nullptr;
    dib->bits.assign(size_t(imageBytes), 0);
    if (!f.seek(qint64(fh.bfOffBits)) || !ReadPieces(f, dib->bits.data(), imageBytes)) return nullptr;
    return dib.release();
}

TW_HANDLE TwnGlobalFromBmpFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return nullptr;
    TwnBitmapFileHeader fh;
    if (f.read(reinterpret_cast<char*>(&fh), sizeof fh) != sizeof fh) return nullptr;
    const uint64_t minimum = sizeof(TwnBitmapFileHeader) + sizeof(TwnBitmapInfoHeader);
    if (fh.bfType != TwnBmpSignature || fh.bfSize < minimum || fh.bfSize > uint64_t(f.size())) return nullptr;
    TW_HANDLE block = TwnGlobal::alloc(fh.bfSize);
    if (!block) return nullptr;
    auto* p = static_cast<uint8_t*>(TwnGlobal::lock(block));
    const bool ok = ReadPieces(f, p, fh.bfSize - sizeof(TwnBitmapFileHeader));
    TwnGlobal::unlock(block);
    if (!ok) {
        TwnGlobal::free(block);
        return nullptr;
    }
    return block;
}
