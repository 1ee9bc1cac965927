// Memory for buffers of a few megabytes or more: image rows, backups, the
// detail layer, whole-image scratch. Such a buffer is mapped on its own,
// 2 MiB aligned, and asks the system for huge pages (where transparent huge
// pages are in "madvise" mode, as on many systems, a program gets 4 KiB
// pages unless it asks). The first touch of a fresh 72 MB image then takes
// a few dozen page faults instead of tens of thousands. Smaller sizes, and a
// system that refuses the mapping, get plain heap memory.
#pragma once

#include <cstddef>
#include <memory>

// At least this many bytes are mapped on their own.
constexpr size_t QelLargeMemoryThreshold = size_t(4) << 20;

// Bytes zero-filled bytes, or nullptr when they cannot be had (and for 0
// bytes). Never throws. Free with QelFreeLarge, nothing else. Sparse memory,
// of which only a little is ever touched (a cache over a whole image), is
// mapped on ordinary pages: a huge page is zeroed whole at its first touch,
// and heap memory of a size freed before is zeroed whole at once.
void* QelAllocateLarge(size_t Bytes, bool Sparse = false) noexcept;
// Bytes of unspecified content, for a caller that writes every one of them
// before anything reads them (a turned image). A large buffer freed just
// before, of the same mapped size, is handed out again as it is: a quarter
// turn then writes into the rows the previous image left, instead of having
// fresh ones zeroed first. Otherwise as QelAllocateLarge.
void* QelAllocateLargeForOverwrite(size_t Bytes) noexcept;
// Takes nullptr too. The last large buffer freed (not a sparse one) is kept
// for QelAllocateLargeForOverwrite until the next large allocation of
// another size, or of zeroed bytes, gives it back to the system first, or
// QelReleaseLargeSpare does.
void QelFreeLarge(void* Memory) noexcept;
// Gives the kept buffer back to the system, when there is one. For a
// program with nothing more to turn: idle, or the document closed.
void QelReleaseLargeSpare() noexcept;
// Every byte the allocator holds now: the buffers handed out and not yet
// freed, their bookkeeping and whole pages included, and the kept one.
size_t QelLargeMemoryHeld() noexcept;

struct TQelLargeDeleter {
    void operator()(void* Memory) const noexcept { QelFreeLarge(Memory); }
};

// Count zero-filled elements of a trivial type T, or nullptr.
template <class T>
std::unique_ptr<T[], TQelLargeDeleter> QelAllocateLargeArray(size_t Count) noexcept {
    if (Count > size_t(-1) / sizeof(T)) return nullptr;
    return std::unique_ptr<T[], TQelLargeDeleter>(static_cast<T*>(QelAllocateLarge(Count * sizeof(T))));
}
