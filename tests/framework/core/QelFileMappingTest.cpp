#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "QelFileMapping.h"

namespace {

namespace fs = std::filesystem;

class QelFileMappingTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qelmap-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        Dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(Dir, ignored);
    }
    std::string File(const std::string& name, const std::string& bytes) const {
        const fs::path path = Dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    fs::path Dir;
};

TEST_F(QelFileMappingTest, ViewsAnywhereInTheFileAreIndependent) {
    // Longer than a page, so that an offset inside the second page is not
    // page-aligned.
    std::string bytes(10000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7);
    const std::string path = File("pages.bin", bytes);
    TQelFileMapping mapping(path, TQelFileMapping::TAccess::Read);
    uint8_t* whole = mapping.MapView(0, 0);
    uint8_t* inner = mapping.MapView(5001, 10);
    uint8_t* tail = mapping.MapView(9999, 0);
    ASSERT_TRUE(whole && inner && tail);
    EXPECT_EQ(inner[0], uint8_t(5001 * 7));
    EXPECT_EQ(inner[9], uint8_t(5010 * 7));
    EXPECT_EQ(tail[0], uint8_t(9999 * 7));
    EXPECT_EQ(mapping.MapView(9999, 2), nullptr);
    EXPECT_EQ(mapping.MapView(10000, 0), nullptr);
    EXPECT_EQ(mapping.MapView(-1, 0), nullptr);
    mapping.UnmapView(inner);
    EXPECT_EQ(whole[5001], uint8_t(5001 * 7));
    // A read-only mapping never changes the file's length.
    mapping.UnmapView(whole);
    mapping.UnmapView(tail);
    EXPECT_FALSE(mapping.SetSize(5));
    EXPECT_EQ(mapping.Size(), 10000);
}

TEST_F(QelFileMappingTest, OnlyRegularFilesOpen) {
    const fs::path pipe = Dir / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    // Neither access blocks on a pipe nobody writes to.
    EXPECT_FALSE(TQelFileMapping(pipe.string(), TQelFileMapping::TAccess::Read).IsOpen());
    EXPECT_FALSE(TQelFileMapping(pipe.string()).IsOpen());
    EXPECT_FALSE(TQelFileMapping(Dir.string(), TQelFileMapping::TAccess::Read).IsOpen());
    TQelFileMapping closed(Dir.string());
    EXPECT_EQ(closed.Size(), -1);
    EXPECT_EQ(closed.MapView(0, 0), nullptr);

    TQelFileMapping created((Dir / "new").string());
    ASSERT_TRUE(created.IsOpen());
    struct stat st {};
    ASSERT_EQ(stat((Dir / "new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(QelFileMappingTest, RowCheckHoldsForAnyHeaderValues) {
    TExchangeHeader h;
    h.Width = 4;
    h.Height = 3;
    h.RowBytes = 12;
    h.Planes = 3;
    // Rows at 36: exactly 36 + 36 bytes are needed, and the last row counts
    // with its whole stride.
    EXPECT_EQ(CheckExchangeRows(h, 72, 36), TExchangeRowsFault::None);
    EXPECT_EQ(CheckExchangeRows(h, 71, 36), TExchangeRowsFault::Truncated);
    EXPECT_EQ(CheckExchangeRows(h, 72, 1004), TExchangeRowsFault::Truncated);
    EXPECT_EQ(CheckExchangeRows(h, 72, -1), TExchangeRowsFault::Truncated);

    const int32_t big = std::numeric_limits<int32_t>::max();
    struct TCase {
        int32_t Width, Height, RowBytes, Planes;
        TExchangeRowsFault Expected;
    } cases[] = {
        {0, 0, 0, 3, TExchangeRowsFault::None},
        {-1, 3, 12, 3, TExchangeRowsFault::NegativeSize},
        {4, -3, 12, 3, TExchangeRowsFault::NegativeSize},
        {4, 3, 12, 2, TExchangeRowsFault::FewPlanes},
        {4, 3, 11, 3, TExchangeRowsFault::NarrowRows},
        {4, 3, -12, 3, TExchangeRowsFault::NarrowRows},
        {big, 3, big, 4, TExchangeRowsFault::NarrowRows},  // Width x Planes would wrap 32 bits
        {4, big, big, 3, TExchangeRowsFault::Truncated},
    };
    for (const TCase& c : cases) {
        h.Width = c.Width;
        h.Height = c.Height;
        h.RowBytes = c.RowBytes;
        h.Planes = c.Planes;
        EXPECT_EQ(CheckExchangeRows(h, 1000, 36), c.Expected) << c.Width << " " << c.Height << " " << c.RowBytes;
    }
}

}  // namespace
