#include "QelFileMapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

TQelFileMapping::TQelFileMapping(const std::string& FileName, TAccess Access)
    : FHandle(-1), FWritable(Access == TAccess::ReadWrite), FViews() {
    // Reading opens only what exists: probing a stale or mistyped name must
    // not leave an empty file behind. O_NONBLOCK keeps a pipe from blocking
    // the open; it is refused right after.
    const int flags = (FWritable ? O_RDWR | O_CREAT : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int handle;
    do {
        handle = ::open(FileName.c_str(), flags, 0600);
    } while (handle < 0 && errno == EINTR);
    if (handle < 0) return;
    struct stat st;
    if (::fstat(handle, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(handle);
        return;
    }
    FHandle = handle;
}

TQelFileMapping::~TQelFileMapping() {
    for (const TView& view : FViews) ::munmap(view.Base, view.Length);
    if (FHandle >= 0) ::close(FHandle);
}

int64_t TQelFileMapping::Size() const {
    struct stat st;
    if (FHandle < 0 || ::fstat(FHandle, &st) != 0) return -1;
    return int64_t(st.st_size);
}

uint8_t* TQelFileMapping::MapView(int64_t Offset, int64_t ByteCount) {
    const int64_t size = Size();
    if (size <= 0 || Offset < 0 || ByteCount < 0 || Offset >= size) return nullptr;
    if (ByteCount == 0) ByteCount = size - Offset;
    if (ByteCount > size - Offset) return nullptr;
    if (uint64_t(ByteCount) > std::numeric_limits<size_t>::max() / 2) return nullptr;
    // mmap wants a page-aligned offset; the view starts inside the first page.
    const int64_t page = ::sysconf(_SC_PAGESIZE) > 0 ? ::sysconf(_SC_PAGESIZE) : 4096;
    const int64_t aligned = Offset - Offset % page;
    const size_t length = size_t(ByteCount + (Offset - aligned));
    void* base = ::mmap(nullptr, length, FWritable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, FHandle,
                        off_t(aligned));
    if (base == MAP_FAILED) return nullptr;
    uint8_t* address = static_cast<uint8_t*>(base) + (Offset - aligned);
    FViews.push_back({address, base, length});
    return address;
}

void TQelFileMapping::UnmapView(uint8_t* Address) {
    auto it = std::find_if(FViews.begin(), FViews.end(), [&](const TView& v) { return v.Address == Address; });
    if (it == FViews.end()) return;
    ::munmap(it->Base, it->Length);
    FViews.erase(it);
}

bool TQelFileMapping::SetSize(int64_t NewSize) {
    if (FHandle < 0 || !FWritable || !FViews.empty() || NewSize < 0) return false;
    const int64_t oldSize = Size();
    if (oldSize < 0) return false;
    if (NewSize > oldSize) {
        if (::posix_fallocate(FHandle, 0, off_t(NewSize)) != 0) {
            // Whatever part did grow is given back.
            const int restored = ::ftruncate(FHandle, off_t(oldSize));
            static_cast<void>(restored);
            return false;
        }
        return Size() == NewSize;
    }
    int result;
    do {
        result = ::ftruncate(FHandle, off_t(NewSize));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// --- The exchange file ----------------------------------------------------

namespace {

int32_t ReadInt(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

void WriteInt(int32_t value, uint8_t* p) {
    const uint32_t v = uint32_t(value);
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

}  // namespace

bool HasExchangeMagic(const uint8_t* Bytes, int64_t Size) {
    return Bytes && Size >= 4 && std::memcmp(Bytes, "PSPF", 4) == 0;
}

bool IsExchangeFile(const uint8_t* Bytes, int64_t Size, TExchangeHeader& Header) {
    Header = TExchangeHeader{};
    Header.HeaderSize = Header.ImageMode = Header.Planes = 0;
    if (Size < 12 || !HasExchangeMagic(Bytes, Size)) return false;
    int32_t* fields[8] = {&Header.HeaderSize, &Header.ImageMode, &Header.Left,     &Header.Top,
                          &Header.Width,      &Header.Height,    &Header.RowBytes, &Header.Planes};
    for (int i = 0; i < 8 && 4 + 4 * int64_t(i) + 4 <= Size; ++i) *fields[i] = ReadInt(Bytes + 4 + 4 * i);
    return Header.ImageMode == ExchangeImageModeRGB;
}

TExchangeHeader ReadExchangeHeader(const uint8_t* Bytes) {
    TExchangeHeader h;
    int32_t* fields[8] = {&h.HeaderSize, &h.ImageMode, &h.Left,     &h.Top,
                          &h.Width,      &h.Height,    &h.RowBytes, &h.Planes};
    for (int i = 0; i < 8; ++i) *fields[i] = ReadInt(Bytes + 4 * i);
    return h;
}

void WriteExchangeHeader(const TExchangeHeader& Header, uint8_t* Bytes) {
    std::memcpy(Bytes, "PSPF", 4);
    const int32_t fields[8] = {Header.HeaderSize, Header.ImageMode, Header.Left,     Header.Top,
                               Header.Width,      Header.Height,    Header.RowBytes, Header.Planes};
    for (int i = 0; i < 8; ++i) WriteInt(fields[i], Bytes + 4 + 4 * i);
}

int64_t ExchangeRowBytes(int32_t Width) { return (24 * int64_t(Width) + 31) / 32 * 4; }

TExchangeRowsFault CheckExchangeRows(const TExchangeHeader& Header, int64_t FileSize, int64_t PixelOffset) {
    const int64_t w = Header.Width, h = Header.Height, rowBytes = Header.RowBytes;
    if (w < 0 || h < 0) return TExchangeRowsFault::NegativeSize;
    if (Header.Planes < 3) return TExchangeRowsFault::FewPlanes;
    if (rowBytes < w * Header.Planes) return TExchangeRowsFault::NarrowRows;
    // Each factor is below 2^31, so neither the product nor the sum wraps.
    if (PixelOffset < 0 || PixelOffset > FileSize || rowBytes * h > FileSize - PixelOffset)
        return TExchangeRowsFault::Truncated;
    return TExchangeRowsFault::None;
}
