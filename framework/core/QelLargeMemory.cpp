#include "QelLargeMemory.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>

namespace {

constexpr size_t HugePage = size_t(2) << 20;
constexpr size_t SmallPage = size_t(4) << 10;

// In front of the caller's bytes: how to give the memory back. 64 bytes, so
// that mapped bytes start on a cache line (heap bytes as malloc aligns). Its
// own alignment stays that of its members: heap blocks are only 16-aligned.
struct THeader {
    void* Base;       // nullptr: from the heap, Base of the mapping otherwise
    size_t Length;    // of the mapping, or of the heap block
    bool Sparse;      // on ordinary pages, never kept for an overwrite
    unsigned char Padding[64 - sizeof(void*) - sizeof(size_t) - sizeof(bool)];
};
static_assert(sizeof(THeader) == 64);

// Whole pages, the header included: huge ones, or ordinary ones for sparse
// memory.
size_t MappedLength(size_t Bytes, bool Sparse = false) {
    const size_t page = Sparse ? SmallPage : HugePage;
    return (sizeof(THeader) + Bytes + page - 1) / page * page;
}

// What the allocator holds, the spare included.
std::atomic<size_t> Held{0};

void* FromHeap(size_t Bytes) {
    const size_t length = sizeof(THeader) + Bytes;
    void* p = std::calloc(1, length);
    if (p == nullptr) return nullptr;
    auto* header = static_cast<THeader*>(p);
    header->Base = nullptr;
    header->Length = length;
    header->Sparse = false;
    Held += length;
    return header + 1;
}

// A mapping whose start is 2 MiB aligned, so that every whole 2 MiB of it
// can be a huge page: one extra huge page is reserved and the unaligned
// ends are given back. Sparse memory is mapped on ordinary pages as it
// comes, and stays on them also where the system gives huge pages unasked.
void* Mapped(size_t Bytes, bool Sparse) {
    const size_t length = MappedLength(Bytes, Sparse);
    void* base = nullptr;
    if (Sparse) {
        base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) return nullptr;
#if defined(MADV_NOHUGEPAGE)
        madvise(base, length, MADV_NOHUGEPAGE);
#endif
    } else {
        void* reserved = mmap(nullptr, length + HugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (reserved == MAP_FAILED) return nullptr;
        const auto start = reinterpret_cast<uintptr_t>(reserved);
        const uintptr_t aligned = (start + HugePage - 1) / HugePage * HugePage;
        if (aligned > start) munmap(reserved, aligned - start);
        const uintptr_t tail = start + length + HugePage - (aligned + length);
        if (tail > 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
        base = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
        // A system without transparent huge pages refuses; 4 KiB pages then.
        madvise(base, length, MADV_HUGEPAGE);
#endif
    }
    auto* header = static_cast<THeader*>(base);
    header->Base = base;
    header->Length = length;
    header->Sparse = Sparse;
    Held += length;
    return header + 1;
}

// The last mapping freed, kept for an overwrite of the same size.
std::atomic<THeader*> Spare{nullptr};

void Unmap(THeader* Header) {
    if (Header == nullptr) return;
    const size_t length = Header->Length;
    munmap(Header->Base, length);
    Held -= length;
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
        if (void* p = Mapped(Bytes, Sparse)) return p;
    }
    return FromHeap(Bytes);
}

}  // namespace

void* QelAllocateLarge(size_t Bytes, bool Sparse) noexcept { return Allocate(Bytes, Sparse, false); }

void* QelAllocateLargeForOverwrite(size_t Bytes) noexcept { return Allocate(Bytes, false, true); }

void QelFreeLarge(void* Memory) noexcept {
    if (Memory == nullptr) return;
    THeader* header = static_cast<THeader*>(Memory) - 1;
    if (header->Base == nullptr) {
        Held -= header->Length;
        std::free(header);
    } else if (header->Sparse) {
        Unmap(header);
    } else {
        Unmap(Spare.exchange(header));
    }
}

void QelReleaseLargeSpare() noexcept { Unmap(Spare.exchange(nullptr)); }

size_t QelLargeMemoryHeld() noexcept { return Held.load(); }
