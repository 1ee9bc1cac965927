// The data source manager over SANE, driven through the real component
// against SANE's test backend.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <tuple>

#include "OrloTWAIN.h"
#include "SaneTestSupport.h"
#include "ThreadStartFaults.h"
#include "../twain/TwainTestSupport.h"

#ifdef SANE_TWAINDSM_DIR

namespace {

class SaneDsm : public ::testing::Test {
protected:
    void SetUp() override { SANE_TEST_SETUP(controls); }
    void TearDown() override {
        if (controls.SetDeviceOption) controls.SetDeviceOption("", "");
        if (controls.SetReadTimeout) controls.SetReadTimeout(0);
    }
    // Acquires from a device and waits for the session to end.
    bool AcquireFirst(TOrloTWAIN& t, int index = 0) {
        QStringList list;
        t.GetSourceList(list);
        if (list.size() <= index || !t.Acquire(list[index])) return false;
        return PumpUntil([&] { return SessionEnded(t); }, 30000);
    }
    SaneDsmControls controls;
};

TEST_F(SaneDsm, ListsEveryTestDeviceUnderItsOwnName) {
    TOrloTWAIN t(nullptr);
    QStringList list;
    t.GetSourceList(list);
    ASSERT_EQ(list.size(), 2);
    EXPECT_NE(list[0], list[1]);
    for (const QString& name : list) EXPECT_LE(name.toUtf8().size(), 32);
    // The order stays from one opening to the next.
    QStringList again;
    t.GetSourceList(again);
    EXPECT_EQ(list, again);
}

TEST_F(SaneDsm, NativeFileAndMemoryTransfersGiveTheSizeSaneReports) {
    const auto [w, h] = SaneReportedSize("test:0");
    ASSERT_GT(w, 0);
    ASSERT_GT(h, 0);
    struct Case {
        TTwnXferType mech;
        TTwnHdlType handle;
    };
    for (Case c : {Case{TWFX_NATIVE, THDT_DIBSEC}, Case{TWFX_FILES, THDT_DIBSEC}, Case{TWFX_MEMORY, THDT_DIBSEC}}) {
        TOrloTWAIN t(nullptr);
        t.SetXferMech(c.mech);
        t.SetDIBHandleType(c.handle);
        TwainRecorder rec;
        rec.Attach(t);
        ASSERT_TRUE(AcquireFirst(t)) << int(c.mech);
        ASSERT_EQ(rec.images.size(), 1u) << int(c.mech);
        TwnDibSection* dib = TwnAsDibSection(rec.images[0].hImage);
        ASSERT_NE(dib, nullptr) << int(c.mech);
        const int32_t width = dib->Info()->biWidth, height = dib->Info()->biHeight;
        EXPECT_EQ(width, w) << int(c.mech);
        EXPECT_EQ(height, h) << int(c.mech);
        EXPECT_TRUE(rec.failures.empty()) << int(c.mech);
    }
}

TEST_F(SaneDsm, SolidBlackGivesBlackPixelsAndTheEditorsFileIsABmp) {
    TOrloTWAIN t(nullptr);
    EditorSettings(t);
    TwainRecorder rec;
    rec.Attach(t);
    ASSERT_TRUE(AcquireFirst(t));
    ASSERT_EQ(rec.images.size(), 1u);
    const QString path = rec.images[0].path;
    ASSERT_FALSE(path.isEmpty());
    TwnDibSection* dib = TwnDibFromBmpFile(path);
    QFile::remove(path);
    ASSERT_NE(dib, nullptr);
    const uint16_t bits = dib->Info()->biBitCount;
    EXPECT_EQ(bits, 24);
    const int32_t width = dib->Info()->biWidth;
    const uint64_t stride = TwnDibStride(width, 24);
    bool allBlack = true;
    for (int32_t y = 0; y < dib->Info()->biHeight; ++y)
        for (int32_t x = 0; x < 3 * width; ++x) allBlack = allBlack && dib->bits[size_t(y * stride + x)] == 0;
    EXPECT_TRUE(allBlack);
    TwnFreeImage(dib);
}

// The colour pattern as one pass of 8 bits, as three passes, as 16 bits, and
// from a hand scanner whose length is known only at the end.
TEST_F(SaneDsm, ThreePassSixteenBitAndHandScansComeOutAsOrdinaryImages) {
    auto scan = [&](std::vector<std::pair<const char*, const char*>> options) {
        controls.SetDeviceOption("", "");
        controls.SetDeviceOption("test-picture", "Color pattern");
        for (const auto& [name, value] : options) controls.SetDeviceOption(name, value);
        TOrloTWAIN t(nullptr);
        t.SetDIBHandleType(THDT_DIBSEC);
        TwainRecorder rec;
        rec.Attach(t);
        std::vector<uint8_t> bits;
        int32_t width = 0, height = 0;
        if (AcquireFirst(t) && rec.images.size() == 1) {
            if (TwnDibSection* dib = TwnAsDibSection(rec.images[0].hImage)) {
                bits = dib->bits;
                width = dib->Info()->biWidth;
                height = dib->Info()->biHeight;
            }
        }
        return std::make_tuple(bits, width, height);
    };
    const auto [plain, w, h] = scan({});
    ASSERT_FALSE(plain.empty());
    EXPECT_NE(std::count(plain.begin(), plain.end(), 0), ptrdiff_t(plain.size()));
    const auto [threePass, w3, h3] = scan({{"three-pass", "1"}});
    EXPECT_EQ(threePass, plain);
    const auto [deep, w16, h16] = scan({{"depth", "16"}});
    EXPECT_EQ(w16, w);
    EXPECT_EQ(h16, h);
    EXPECT_EQ(deep.size(), plain.size());
    // The backend's hand scanner has a width of its own.
    const auto [hand, wh, hh] = scan({{"hand-scanner", "1"}});
    EXPECT_GT(wh, 0);
    EXPECT_GT(hh, 0);
    EXPECT_EQ(hand.size(), TwnDibStride(wh, 24) * uint64_t(hh));
}

TEST_F(SaneDsm, BackendErrorsEndInTheFailurePathWithNothingImported) {
    // An I/O error and a frame that ends before its announced length are
    // errors of the driver; a read that stalls is a device that stopped
    // answering (cancelled after the limit).
    const std::vector<std::pair<std::vector<std::pair<const char*, const char*>>, uint16_t>> cases = {
        {{{"read-return-value", "SANE_STATUS_IO_ERROR"}}, TWCC_OPERATIONERROR},
        {{{"read-return-value", "SANE_STATUS_EOF"}}, TWCC_OPERATIONERROR},
        {{{"read-delay", "1"}, {"read-delay-duration", "200000"}}, TWCC_CHECKDEVICEONLINE},
    };
    controls.SetReadTimeout(50);
    for (const auto& [options, code] : cases) {
        controls.SetDeviceOption("", "");
        for (const auto& [name, value] : options) controls.SetDeviceOption(name, value);
        TOrloTWAIN t(nullptr);
        EditorSettings(t);
        TwainRecorder rec;
        rec.Attach(t);
        ASSERT_TRUE(AcquireFirst(t)) << options[0].second;
        ASSERT_EQ(rec.images.size(), 1u) << options[0].second;
        EXPECT_EQ(rec.images[0].hImage, nullptr);
        EXPECT_TRUE(rec.images[0].path.isEmpty()) << options[0].second;
        ASSERT_TRUE(PumpUntil([&] { return !rec.failures.empty(); }));
        const auto& f = rec.failures[0];
        EXPECT_EQ(f.dg, int(DG_IMAGE)) << options[0].second;
        EXPECT_EQ(f.dat, DAT_IMAGEFILEXFER) << options[0].second;
        EXPECT_EQ(f.status, code) << options[0].second;
    }
}

// What the user is told rests on the condition code, also for a scan task that threw.
TEST_F(SaneDsm, FailedScansReportTheirCauseAsAConditionCode) {
    ASSERT_NE(controls.FailNextScan, nullptr);
    struct Case {
        const char* readStatus;  // nullptr: the scan task throws
        uint16_t code;
    };
    for (const Case c : {Case{"SANE_STATUS_JAMMED", TWCC_PAPERJAM}, Case{"SANE_STATUS_NO_MEM", TWCC_LOWMEMORY},
                         Case{"SANE_STATUS_ACCESS_DENIED", TWCC_DENIED},
                         Case{"SANE_STATUS_DEVICE_BUSY", TWCC_CHECKDEVICEONLINE},
                         Case{"SANE_STATUS_COVER_OPEN", TWCC_INTERLOCK}, Case{"SANE_STATUS_NO_DOCS", TWCC_NOMEDIA},
                         Case{nullptr, TWCC_LOWMEMORY}}) {
        const char* what = c.readStatus ? c.readStatus : "thrown";
        controls.SetDeviceOption("", "");
        if (c.readStatus) controls.SetDeviceOption("read-return-value", c.readStatus);
        else controls.FailNextScan();
        TOrloTWAIN t(nullptr);
        EditorSettings(t);
        TwainRecorder rec;
        rec.Attach(t);
        ASSERT_TRUE(AcquireFirst(t)) << what;
        ASSERT_EQ(rec.images.size(), 1u) << what;
        EXPECT_EQ(rec.images[0].hImage, nullptr) << what;
        EXPECT_TRUE(rec.images[0].path.isEmpty()) << what;
        ASSERT_TRUE(PumpUntil([&] { return !rec.failures.empty(); })) << what;
        EXPECT_EQ(rec.failures[0].dat, DAT_IMAGEFILEXFER) << what;
        EXPECT_EQ(rec.failures[0].status, c.code) << what;
    }
}

TEST_F(SaneDsm, DocumentFeederCountsItsPagesDownToNothing) {
    controls.SetDeviceOption("source", "Automatic Document Feeder");
    controls.SetDeviceOption("resolution", "25");
    TOrloTWAIN t(nullptr);
    EditorSettings(t);
    TwainRecorder rec;
    rec.Attach(t);
    std::vector<int> counts;
    t.SetOnXferNext([&](void*, int& n, bool&) { counts.push_back(n); });
    // The second device: the test backend's feeder counts a device's pages
    // for the whole process.
    ASSERT_TRUE(AcquireFirst(t, 1));
    for (auto& i : rec.images) QFile::remove(i.path);
    ASSERT_FALSE(counts.empty());
    EXPECT_EQ(counts.back(), 0);
    EXPECT_EQ(rec.images.size(), counts.size());
    EXPECT_GT(rec.images.size(), 1u);
    for (size_t i = 0; i + 1 < counts.size(); ++i) EXPECT_GT(counts[i], 0);
}

// A slow device search never holds up a list request. In a process of its
// own, whose SANE knows only the slow backend.
TEST(SaneSlowSearch, AListRequestAnswersAtOnceAndTheDeviceFollows) {
    SaneRunAgain("visaraslow", "SaneSlowSearch.ChildProcess",
                 {{"VISARA_SLOW_SEARCH_MS", "4000"}, {"VISARA_SANE_SLOW_CHILD", "1"}});
}

TEST(SaneSlowSearch, ChildProcess) {
    if (qEnvironmentVariableIsEmpty("VISARA_SANE_SLOW_CHILD")) GTEST_SKIP() << "run by the test above";
    qputenv("VISARA_TWAIN_DSM_DIR", SANE_TWAINDSM_DIR);
    TOrloTWAIN t(nullptr);
    QStringList list;
    QElapsedTimer clock;
    clock.start();
    t.GetSourceList(list);
    // Well under the backend's four seconds: nobody waited for the search.
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(list.isEmpty());
    ASSERT_TRUE(PumpUntil(
        [&] {
            t.GetSourceList(list);
            return !list.isEmpty();
        },
        30000));
    EXPECT_EQ(list, QStringList{"Slow Device"});
}

// The device search when the bridge's thread cannot be started: the next
// device list starts it again and it ends. In a process of its own, where
// the bridge's thread has not yet been started.
TEST(SaneSearch, AThreadThatCannotStartLeavesTheSearchToTheNextList) {
    ASSERT_TRUE(SaneTestConfig());
    if (SaneReportedSize("test:0").first == 0) GTEST_SKIP() << "no SANE test backend";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    using TEntry = TW_UINT16 (*)(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);
    const SaneDsmControls controls = SaneControls();
    void* library = dlopen(SANE_TWAINDSM_DIR "/libvisara_twaindsm.so", RTLD_NOW | RTLD_LOCAL);
    const auto entry = library ? reinterpret_cast<TEntry>(dlsym(library, "DSM_Entry")) : nullptr;
    ASSERT_TRUE(entry && controls.WaitForDevices);
    TW_IDENTITY app{}, first{};
    EXPECT_EXIT((alarm(50), FailNextThreadStart(), entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr),
                 entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &first),
                 _exit(controls.WaitForDevices(30000) == 1 ? 0 : 1)),
                ::testing::ExitedWithCode(0), "");
}

}  // namespace

#endif
