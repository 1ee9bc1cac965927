#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "QelLargeMemory.h"

// Both sides of the threshold: zero-filled, writable to the last byte, and
// given back through the one free (the sanitizer build finds a mismatch).
TEST(QelLargeMemory, SmallAndLargeAreZeroedWritableAndFreed) {
    for (const size_t bytes : {size_t(1), size_t(4095), QelLargeMemoryThreshold - 1, QelLargeMemoryThreshold,
                               (size_t(2) << 20) * 3 - 64, size_t(9) << 20}) {
        auto* p = static_cast<uint8_t*>(QelAllocateLarge(bytes));
        ASSERT_NE(p, nullptr) << bytes;
        // As malloc aligns; a mapped buffer on a cache line.
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % (bytes >= QelLargeMemoryThreshold ? 64 : 16), 0u);
        size_t nonZero = 0;
        for (size_t i = 0; i < bytes; i += 997) nonZero += p[i] != 0;
        EXPECT_EQ(nonZero + p[bytes - 1], 0u) << bytes;
        std::memset(p, 0xA5, bytes);
        QelFreeLarge(p);
    }
    QelFreeLarge(nullptr);
}

TEST(QelLargeMemory, RefusesWhatCannotBeHadWithoutThrowing) {
    EXPECT_EQ(QelAllocateLarge(0), nullptr);
    EXPECT_EQ(QelAllocateLarge(SIZE_MAX - 4096), nullptr);
    EXPECT_EQ(QelAllocateLargeArray<float>(SIZE_MAX / 2), nullptr);
    auto rows = QelAllocateLargeArray<float>(size_t(2) << 20);
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows[(size_t(2) << 20) - 1], 0.0f);
}

// The buffer freed last comes back for an overwrite of its size, never zeroed.
TEST(QelLargeMemory, AnOverwriteTakesTheLastFreedBufferZeroedBytesNever) {
    const size_t bytes = size_t(6) << 20;
    auto* first = static_cast<uint8_t*>(QelAllocateLarge(bytes));
    ASSERT_NE(first, nullptr);
    std::memset(first, 0x5A, bytes);
    QelFreeLarge(first);
    auto* again = static_cast<uint8_t*>(QelAllocateLargeForOverwrite(bytes));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again, first);
    std::memset(again, 0x5A, bytes);
    QelFreeLarge(again);
    auto* zeroed = static_cast<uint8_t*>(QelAllocateLarge(bytes));
    ASSERT_NE(zeroed, nullptr);
    EXPECT_EQ(zeroed[0] | zeroed[bytes / 2] | zeroed[bytes - 1], 0);
    // Another size gets fresh memory, whatever was freed.
    QelFreeLarge(zeroed);
    auto* other = static_cast<uint8_t*>(QelAllocateLargeForOverwrite(bytes * 2));
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other[0] | other[bytes * 2 - 1], 0);
    QelFreeLarge(other);
}

// What the allocator holds follows every buffer, heap ones too (and whole
// huge pages at most), and the kept one until it is given back, once; a
// sparse buffer is never kept.
TEST(QelLargeMemory, HeldBytesFollowTheBuffersAndTheKeptOneUntilItIsGivenBack) {
    QelReleaseLargeSpare();
    const size_t start = QelLargeMemoryHeld(), bytes = size_t(6) << 20;
    void* small = QelAllocateLarge(1000);
    void* large = QelAllocateLarge(bytes);
    ASSERT_TRUE(small && large);
    EXPECT_GE(QelLargeMemoryHeld(), start + 1000 + bytes);
    EXPECT_LE(QelLargeMemoryHeld(), start + 1000 + bytes + (size_t(2) << 20) + 4096);
    QelFreeLarge(small);
    QelFreeLarge(large);
    EXPECT_GE(QelLargeMemoryHeld(), start + bytes);
    for (int twice = 0; twice < 2; ++twice) {
        QelReleaseLargeSpare();
        EXPECT_EQ(QelLargeMemoryHeld(), start);
    }
    void* sparse = QelAllocateLarge(bytes, true);
    ASSERT_NE(sparse, nullptr);
    EXPECT_GE(QelLargeMemoryHeld(), start + bytes);
    QelFreeLarge(sparse);
    EXPECT_EQ(QelLargeMemoryHeld(), start);
}
