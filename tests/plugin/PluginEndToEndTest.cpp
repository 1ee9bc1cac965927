// The plug-in library with the real program, headless: the program opens
// the exchange file in plug-in mode, and its OK or Cancel button is pressed
// from inside it by a small Qt plug-in of the tests. Skipped when the
// program has not been built; run with "-E EndToEnd" to leave it out.
#include "PluginTestHost.h"

using namespace plugintest;

namespace {

class PluginEndToEndTest : public PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        if (!fs::exists(VISARA_PROGRAM)) GTEST_SKIP() << "the program is not built";
        fs::create_directories(Dir / "config");
        // Qt would otherwise make its runtime folder in TMPDIR, which must
        // end up empty.
        fs::create_directories(Dir / "runtime");
        fs::permissions(Dir / "runtime", fs::perms::owner_all);
        Env.Set("XDG_RUNTIME_DIR", (Dir / "runtime").string());
        Env.Set("QT_QPA_PLATFORM", "offscreen");
        Env.Set("XDG_CONFIG_HOME", (Dir / "config").string());
        Env.Set("QT_PLUGIN_PATH", VISARA_TEST_PLUGIN_DIR);
        Env.Set("QT_QPA_GENERIC_PLUGINS", "visarapress");
        Register(VISARA_PROGRAM);
        Load();
    }
};

TEST_F(PluginEndToEndTest, OkBringsTheImageBackIntoEveryHostLayout) {
    Env.Set("VISARA_TEST_PRESS", "OkButton");
    struct TCase {
        int16_t Planes;
        int32_t InRowBytes;
        int32_t OutRowBytes;
    } cases[] = {{3, 16, 15}, {4, 21, 22}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Planes);
        THost host;
        ASSERT_TRUE(RunWithLayout(host, c.Planes, c.InRowBytes, c.OutRowBytes));
        // The program writes 3 planes back: a host's transparency becomes
        // opaque, and row bytes past the pixels keep the host's own.
        for (int32_t y = 0; y < 3; ++y) {
            const uint8_t* row = host.OutRow(y);
            for (int32_t x = 0; x < 5; ++x)
                for (int ch = 0; ch < c.Planes; ++ch)
                    EXPECT_EQ(row[x * c.Planes + ch], ch < 3 ? THost::Pixel(x, y, ch) : 255) << x << "," << y;
            for (int32_t i = 5 * c.Planes; i < c.OutRowBytes; ++i) EXPECT_EQ(row[i], 0xAB) << i;
        }
        EXPECT_TRUE(TmpIsEmpty());
    }
}

// The program really edits what the host sent: mirrored through the
// rotation tool's item on the standard toolbar, then OK.
TEST_F(PluginEndToEndTest, AFlipInTheProgramReachesTheHost) {
    Env.Set("VISARA_TEST_PRESS", "FlipHorizontalToolButton,OkButton");
    THost host;
    ASSERT_TRUE(RunWithLayout(host, 4, 21, 22));
    for (int32_t y = 0; y < 3; ++y) {
        const uint8_t* row = host.OutRow(y);
        for (int32_t x = 0; x < 5; ++x)
            for (int ch = 0; ch < 4; ++ch)
                EXPECT_EQ(row[x * 4 + ch], ch < 3 ? THost::Pixel(4 - x, y, ch) : 255) << x << "," << y;
    }
    EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(PluginEndToEndTest, CancelLeavesTheHostsImageAlone) {
    Env.Set("VISARA_TEST_PRESS", "CancelButton");
    THost host;
    EXPECT_EQ(Run(host), VisaraUserCanceledErr);
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_EQ(host.OutRequests, 0);
    EXPECT_TRUE(TmpIsEmpty());
}

}  // namespace
