#include "QelLargeMemory.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>

namespace {

constexpr size_t HugePage = size_t(2) << 20;

// In front of the caller's bytes: how to give the memory back. 64 bytes, so
// that mapped bytes start on a cache line (heap bytes as malloc aligns). Its
// own alignment stays that of its members: heap blocks are only 16-aligned.
struct THeader {
    void* Base;       // nullptr: from the heap, Base of the mapping otherwise
    size_t Length;    // of the mapping
    unsigned char Padding[64 - sizeof(void*) - sizeof(size_t)];
};
static_assert(sizeof(THeader) == 64);

// Whole huge pages, the header included.
size_t MappedLength(size_t Bytes) { return (sizeof(THeader) + Bytes + HugePage - 1) / HugePage * HugePage; }

void* FromHeap(size_t Bytes) {
    void* p = std::calloc(1, sizeof(THeader) + Bytes);
    if (p == nullptr) return nullptr;
    auto* header = static_cast<THeader*>(p);
    header->Base = nullptr;
    header->Length = 0;
    return header + 1;
}

// A mapping whose start is 2 MiB aligned, so that every whole 2 MiB of it
// can be a huge page: one extra huge page is reserved and the unaligned
// ends are given back.
void* Mapped(size_t Bytes) {
    const size_t length = MappedLength(Bytes);
    void* reserved = mmap(nullptr, length + HugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (reserved == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(reserved);
    const uintptr_t aligned = (start + HugePage - 1) / HugePage * HugePage;
    if (aligned > start) munmap(reserved, aligned - start);
    const uintptr_t tail = start + length + HugePage - (aligned + length);
    if (tail > 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
    void* base = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    // A system without transparent huge pages refuses; 4 KiB pages then.
    madvise(base, length, MADV_HUGEPAGE);
#endif
    auto* header = static_cast<THeader*>(base);
    header->Base = base;
    header->Length = length;
    return header + 1;
}

// The last mapping freed, kept for an overwrite of the same size.
std::atomic<THeader*> Spare{nullptr};

void Unmap(THeader* Header) {
    if (Header != nullptr) munmap(Header->Base, Header->Length);
}

bool Acceptable(size_t Bytes) { return Bytes > 0 && Bytes <= SIZE_MAX - sizeof(THeader) - 2 * HugePage; }

// The one way in: the spare is taken once, handed out when Overwrite allows
// and it fits, else given back before more is taken, so that it never adds
// to a peak.
void* Allocate(size_t Bytes, bool Sparse, bool Overwrite) {
    if (!Acceptable(Bytes)) return nullptr;
    if (Bytes >= QelLargeMemoryThreshold) {
        THeader* spare = Spare.exchange(nullptr);
        if (Overwrite && spare != nullptr && spare->Length == MappedLength(Bytes)) return spare + 1;
        Unmap(spare);
        if (!Sparse)
            if (void* p = Mapped(Bytes)) return p;
    }
    return FromHeap(Bytes);
}

}  // namespace

void* QelAllocateLarge(size_t Bytes, bool Sparse) noexcept { return Allocate(Bytes, Sparse, false); }

void* QelAllocateLargeForOverwrite(size_t Bytes) noexcept { return Allocate(Bytes, false, true); }

void QelFreeLarge(void* Memory) noexcept {
    if (Memory == nullptr) return;
    THeader* header = static_cast<THeader*>(Memory) - 1;
    if (header->Base == nullptr)
        std::free(header);
    else
        Unmap(Spare.exchange(header));
}
