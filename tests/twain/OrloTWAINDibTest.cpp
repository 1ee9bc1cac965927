// The DIB readers: a source's packed DIB and the transfer BMP file.
#include "OrloTWAINDib.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "WatchedFifo.h"
#include "TwnBlockSupport.h"

#if defined(__SANITIZE_ADDRESS__)
#define DIB_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DIB_TEST_ASAN 1
#endif
#endif

namespace {

// A 4-bit DIB of 4 x 1 pixels with a colour table of `entries` colours
// (biClrUsed as given), pixels 0, 1, 2, 1.
std::vector<uint8_t> FourBitDib(uint32_t clrUsed, uint32_t entries) {
    const TwnBitmapInfoHeader bi{40, 4, 1, 1, 4, 0, 0, 0, 0, clrUsed, 0};
    std::vector<uint8_t> out(40);
    std::memcpy(out.data(), &bi, 40);
    for (uint32_t i = 0; i < entries; ++i)
        for (uint8_t c : {uint8_t(10 + i), uint8_t(20 + i), uint8_t(30 + i), uint8_t(0)}) out.push_back(c);
    for (uint8_t b : {uint8_t(0x01), uint8_t(0x21), uint8_t(0), uint8_t(0)}) out.push_back(b);
    return out;
}

std::vector<uint8_t> WithFileHeader(std::vector<uint8_t> dib, uint32_t tableEntries) {
    TwnBitmapFileHeader fh{TwnBmpSignature, uint32_t(14 + dib.size()), 0, 0, 14 + 40 + 4 * tableEntries};
    std::vector<uint8_t> out(14 + dib.size());
    std::memcpy(out.data(), &fh, 14);
    std::memcpy(out.data() + 14, dib.data(), dib.size());
    return out;
}

TEST(TwnDib, ShortColourTablesAreReadAtTheirLengthByBothReaders) {
    // Three entries of a possible sixteen: the rows follow right behind them.
    const std::vector<uint8_t> packed = FourBitDib(3, 3);
    const std::vector<uint8_t> file = WithFileHeader(packed, 3);
    TwnDibSection* fromPacked = TwnDibFromPackedDib(TwnBlockOf(packed));
    TwnDibSection* fromFile = TwnDibFromBmpBytes(file.data(), file.size());
    for (TwnDibSection* dib : {fromPacked, fromFile}) {
        ASSERT_NE(dib, nullptr);
        EXPECT_EQ(dib->Info()->biClrUsed, 3u);
        ASSERT_EQ(dib->info.size(), 40u + 12u);
        EXPECT_EQ(0, std::memcmp(dib->info.data() + 40, packed.data() + 40, 12));
        ASSERT_EQ(dib->bits.size(), 4u);
        EXPECT_EQ(dib->bits[0], 0x01);
        EXPECT_EQ(dib->bits[1], 0x21);
        TwnFreeImage(dib);
    }
    // 0 is the full table; more entries than four bits can index is refused.
    TwnDibSection* dib = TwnDibFromPackedDib(TwnBlockOf(FourBitDib(0, 16)));
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->info.size(), 40u + 64u);
    EXPECT_EQ(dib->bits[1], 0x21);
    TwnFreeImage(dib);
    const std::vector<uint8_t> tooMany = FourBitDib(17, 17);
    EXPECT_EQ(TwnDibFromPackedDib(TwnBlockOf(tooMany)), nullptr);
    const std::vector<uint8_t> tooManyFile = WithFileHeader(tooMany, 17);
    EXPECT_EQ(TwnDibFromBmpBytes(tooManyFile.data(), tooManyFile.size()), nullptr);
}

TEST(TwnDib, APackedDibLongerThanItsBlockIsRefusedBeforeAnythingIsAllocated) {
    std::vector<uint8_t> shortDib = FourBitDib(3, 3);
    shortDib.pop_back();
    EXPECT_EQ(TwnDibFromPackedDib(TwnBlockOf(shortDib)), nullptr);
    EXPECT_EQ(TwnDibFromPackedDib(TwnBlockOf(TwnHugeClaim())), nullptr);
#ifndef DIB_TEST_ASAN
    // In a child with no address space for the claimed rows an allocation
    // of them ends it (AddressSanitizer's shadow memory rules the limit out).
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t room = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(64) << 20);
        const rlimit limit{room, room};
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
        if (void* probe = std::malloc(470u << 20)) {
            std::free(probe);
            _exit(4);
        }
        _exit(TwnDibFromPackedDib(TwnBlockOf(TwnHugeClaim())) == nullptr ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died: the claimed rows were allocated";
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

TEST(TwnDib, TheTransferFileIsReadOnlyWhenItIsARegularFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("twn.bmp");
    TWatchedFifo watched(fifo);
    ASSERT_TRUE(watched.Made);
    EXPECT_EQ(TwnDibFromBmpFile(fifo), nullptr);
    EXPECT_EQ(TwnGlobalFromBmpFile(fifo), nullptr);
    EXPECT_FALSE(watched.ReaderBlocked());
    EXPECT_EQ(TwnDibFromBmpFile(dir.path()), nullptr);
}

}  // namespace
