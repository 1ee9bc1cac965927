#include "OrloTWAINDib.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "QelRegularFile.h"

namespace {

// A transfer file holds the bits and at most a header, a table and a gap.
constexpr qint64 MaxBmpFileBytes = qint64(TwnMaxImageBytes) + (qint64(1) << 20);

bool ValidDepth(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

}  // namespace

uint64_t TwnDibStride(int64_t width, int bitsPerPixel) {
    if (width <= 0 || bitsPerPixel <= 0) return 0;
    return (uint64_t(width) * uint64_t(bitsPerPixel) + 31) / 32 * 4;
}

int64_t TwnDibTableEntries(int bitsPerPixel, uint32_t clrUsed) {
    if (bitsPerPixel > 8) return clrUsed;
    const uint32_t full = uint32_t(1) << bitsPerPixel;
    if (clrUsed == 0) return full;
    return clrUsed <= full ? int64_t(clrUsed) : -1;
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

namespace {

// A packed DIB's layout, checked against the bytes it came in.
struct TPackedLayout {
    TwnBitmapInfoHeader bi{};
    int bits = 0;
    uint64_t tableAt = 0;
    uint64_t tableEntries = 0;  // entries stored (skipped above 8 bits)
    uint64_t entrySize = 4;
    uint64_t bitsAt = 0;
    uint64_t imageBytes = 0;
};

bool PackedLayout(const uint8_t* p, uint64_t size, TPackedLayout& l) {
    if (!p || size < sizeof(TwnBitmapCoreHeader)) return false;
    uint32_t headerSize;
    std::memcpy(&headerSize, p, 4);
    if (headerSize == sizeof(TwnBitmapCoreHeader)) {
        TwnBitmapCoreHeader core;
        std::memcpy(&core, p, sizeof core);
        if (core.bcPlanes != 1) return false;
        l.bi.biWidth = core.bcWidth;
        l.bi.biHeight = core.bcHeight;
        l.bi.biPlanes = 1;
        l.bi.biBitCount = core.bcBitCount;
        l.bits = core.bcBitCount;
        l.entrySize = 3;
        // A core header has no count: a table is full, and none above 8 bits.
        l.tableEntries = l.bits <= 8 && l.bits > 0 && l.bits < 32 ? uint64_t(1) << l.bits : 0;
    } else {
        if (headerSize < sizeof(TwnBitmapInfoHeader) || size < headerSize) return false;
        std::memcpy(&l.bi, p, sizeof l.bi);
        if (l.bi.biPlanes != 1 || l.bi.biCompression != TwnBiRgb) return false;
        l.bits = l.bi.biPlanes * l.bi.biBitCount;
        const int64_t entries = ValidDepth(l.bits) ? TwnDibTableEntries(l.bits, l.bi.biClrUsed) : -1;
        if (entries < 0) return false;
        l.tableEntries = uint64_t(entries);
    }
    if (!ValidDepth(l.bits) || l.bi.biWidth == 0 || l.bi.biHeight == 0) return false;
    l.tableAt = headerSize;
    l.bitsAt = l.tableAt + l.tableEntries * l.entrySize;
    const int64_t w = l.bi.biWidth < 0 ? -int64_t(l.bi.biWidth) : l.bi.biWidth;
    const int64_t h = l.bi.biHeight < 0 ? -int64_t(l.bi.biHeight) : l.bi.biHeight;
    l.imageBytes = TwnDibStride(w, l.bits) * uint64_t(h);
    if (l.imageBytes == 0 || l.imageBytes > TwnMaxImageBytes) return false;
    // Header, table and every row are in the block, or nothing is made of it.
    return l.bitsAt <= size && l.imageBytes <= size - l.bitsAt;
}

}  // namespace

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
    TPackedLayout l;
    if (!PackedLayout(p, size, l)) return nullptr;

    // Colour entries of the result: those the block holds, up to 8 bits.
    const uint32_t entries = l.bits <= 8 ? uint32_t(l.tableEntries) : 0;
    try {
        auto dib = std::make_unique<TwnDibSection>();
        dib->info.assign(sizeof(TwnBitmapInfoHeader) + 4 * entries, 0);
        TwnBitmapInfoHeader out{};
        out.biSize = sizeof(TwnBitmapInfoHeader);
        out.biWidth = l.bi.biWidth;
        out.biHeight = l.bi.biHeight;
        out.biPlanes = 1;
        out.biBitCount = uint16_t(l.bits);
        out.biCompression = TwnBiRgb;
        out.biSizeImage = uint32_t(l.imageBytes);
        const int32_t xr = l.bi.biXPelsPerMeter, yr = l.bi.biYPelsPerMeter;
        out.biXPelsPerMeter = xr >= 1 ? xr : (yr >= 1 ? yr : TwnDefaultPelsPerMeter);
        out.biYPelsPerMeter = yr >= 1 ? yr : (xr >= 1 ? xr : TwnDefaultPelsPerMeter);
        // 0 keeps meaning "a full table" for the depths that have one.
        const bool fullTable = l.bits < 8 && entries == (uint32_t(1) << l.bits);
        out.biClrUsed = l.bits <= 8 && !fullTable ? entries : 0;
        std::memcpy(dib->info.data(), &out, sizeof out);
        for (uint32_t i = 0; i < entries; ++i) {
            uint8_t* q = dib->info.data() + sizeof(TwnBitmapInfoHeader) + 4 * i;
            const uint8_t* e = p + l.tableAt + i * l.entrySize;
            q[0] = e[0];
            q[1] = e[1];
            q[2] = e[2];
        }
        dib->bits.resize(size_t(l.imageBytes));
        std::memcpy(dib->bits.data(), p + l.bitsAt, size_t(l.imageBytes));
        return dib.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

TwnDibSection* TwnDibFromBmpBytes(const uint8_t* data, uint64_t size) {
    TwnBitmapFileHeader fh;
    TwnBitmapInfoHeader bi;
    if (!data || size < sizeof fh + sizeof bi) return nullptr;
    std::memcpy(&fh, data, sizeof fh);
    std::memcpy(&bi, data + sizeof fh, sizeof bi);
    if (fh.bfType != TwnBmpSignature || bi.biSize < sizeof bi || bi.biPlanes != 1 || bi.biCompression != TwnBiRgb)
        return nullptr;
    const int bits = bi.biPlanes * bi.biBitCount;
    if (!ValidDepth(bits) || bi.biWidth == 0 || bi.biHeight == 0) return nullptr;
    const int64_t entries = TwnDibTableEntries(bits, bi.biClrUsed);
    if (entries < 0 || entries > 256) return nullptr;
    const uint64_t tableAt = sizeof fh + uint64_t(bi.biSize);
    if (tableAt + 4 * uint64_t(entries) > fh.bfOffBits || fh.bfOffBits > size) return nullptr;
    const int64_t w = bi.biWidth < 0 ? -int64_t(bi.biWidth) : bi.biWidth;
    const int64_t h = bi.biHeight < 0 ? -int64_t(bi.biHeight) : bi.biHeight;
    const uint64_t imageBytes = TwnDibStride(w, bits) * uint64_t(h);
    if (imageBytes == 0 || imageBytes > TwnMaxImageBytes || imageBytes > size - fh.bfOffBits) return nullptr;

    try {
        auto dib = std::make_unique<TwnDibSection>();
        dib->info.assign(sizeof(TwnBitmapInfoHeader) + 4 * size_t(entries), 0);
        bi.biSize = sizeof bi;
        bi.biSizeImage = uint32_t(imageBytes);
        bi.biClrUsed = uint32_t(entries);
        std::memcpy(dib->info.data(), &bi, sizeof bi);
        std::memcpy(dib->info.data() + sizeof bi, data + tableAt, 4 * size_t(entries));
        dib->bits.resize(size_t(imageBytes));
        std::memcpy(dib->bits.data(), data + fh.bfOffBits, size_t(imageBytes));
        return dib.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

TW_HANDLE TwnGlobalFromBmpBytes(const uint8_t* data, uint64_t size) {
    TwnBitmapFileHeader fh;
    if (!data || size < sizeof fh) return nullptr;
    std::memcpy(&fh, data, sizeof fh);
    const uint64_t minimum = sizeof(TwnBitmapFileHeader) + sizeof(TwnBitmapInfoHeader);
    if (fh.bfType != TwnBmpSignature || fh.bfSize < minimum || fh.bfSize > size) return nullptr;
    TW_HANDLE block = TwnGlobal::alloc(fh.bfSize);
    if (!block) return nullptr;
    std::memcpy(TwnGlobal::lock(block), data + sizeof fh, size_t(fh.bfSize - sizeof fh));
    TwnGlobal::unlock(block);
    return block;
}

namespace {

QByteArray ReadTransferFile(const QString& path) {
    TQelFileContents file = QelReadRegularFile(path, MaxBmpFileBytes);
    return file.Ok() ? std::move(file.Bytes) : QByteArray();
}

}  // namespace

TwnDibSection* TwnDibFromBmpFile(const QString& path) {
    const QByteArray bytes = ReadTransferFile(path);
    return TwnDibFromBmpBytes(reinterpret_cast<const uint8_t*>(bytes.constData()), uint64_t(bytes.size()));
}

TW_HANDLE TwnGlobalFromBmpFile(const QString& path) {
    const QByteArray bytes = ReadTransferFile(path);
    return TwnGlobalFromBmpBytes(reinterpret_cast<const uint8_t*>(bytes.constData()), uint64_t(bytes.size()));
}
