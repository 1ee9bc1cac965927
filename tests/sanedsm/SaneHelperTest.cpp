// The helper process that makes the SANE calls: a backend that wedges, or
// that leaves a thread holding the C library's locks, stays out of the
// program's process, is killed within the limits and reported, and no
// process outlives the program. Each such case runs this test program
// again in a process of its own, whose SANE knows only the wedging backend
// (tests/sanedsm/sane/WedgeBackend.c). And what the bridge reads from the
// helper is checked before it is used.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <libintl.h>
#include <locale.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>

#include "ChildProcess.h"
#include "OrloTWAIN.h"
#include "SaneTestSupport.h"
#include "SaneWire.h"
#include "../twain/TwainTestSupport.h"

#ifdef SANE_TWAINDSM_DIR

namespace {

using namespace std::chrono_literals;

struct TChildRun {
    bool Finished = false;
    int Code = -1;
    QByteArray Output;
};

// This program again, running SaneWedgeChild.<Case> with the wedging
// backend in the given mode.
TChildRun RunWedged(const char* Case, const char* Mode,
                    const std::vector<std::pair<QString, QString>>& Extra = {}) {
    TChildRun run;
    QTemporaryDir config;
    QFile dll(config.filePath("dll.conf"));
    if (!config.isValid() || !dll.open(QIODevice::WriteOnly) || dll.write("visarawedge\n") != 12) return run;
    dll.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SANE_CONFIG_DIR", config.path());
    env.insert("LD_LIBRARY_PATH", SANE_SLOW_BACKEND_DIR);
    env.insert("VISARA_WEDGE", Mode);
    env.insert("VISARA_SANE_WEDGE_CHILD", "1");
    for (const auto& [name, value] : Extra) env.insert(name, value);
    TChildProcess child;
    child.SetEnvironment(env);
    child.SetOutput(TChildProcess::Merged);
    if (!child.Start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=SaneWedgeChild.") + Case}))
        return run;
    run.Finished = child.WaitForFinished(45000);
    if (!run.Finished) {
        child.Kill();
        child.WaitForFinished(-1);
    }
    run.Code = child.ExitCode();
    run.Output = child.Output();
    return run;
}

// The component in the child, at the bridge, with the wedged device listed.
class SaneWedgeChild : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("VISARA_SANE_WEDGE_CHILD")) GTEST_SKIP() << "run by SaneWedge";
        qputenv("VISARA_TWAIN_DSM_DIR", SANE_TWAINDSM_DIR);
        Controls = SaneControls();
        ASSERT_NE(Controls.WaitForDevices, nullptr);
        ASSERT_EQ(Controls.WaitForDevices(30000), 1);
        Twain.emplace(nullptr);
        EditorSettings(*Twain);
        Recorder.Attach(*Twain);
        QStringList list;
        Twain->GetSourceList(list);
        ASSERT_EQ(list, QStringList{"Wedged Device"});
    }
    // The helper process that serves this one.
    pid_t Helper() {
        const std::vector<pid_t> helpers = LiveChildren("visara_sane");
        EXPECT_EQ(helpers.size(), 1u);
        return helpers.empty() ? -1 : helpers[0];
    }
    void TearDown() override { Twain.reset(); }

    SaneDsmControls Controls;
    std::optional<TOrloTWAIN> Twain;
    TwainRecorder Recorder;
};

TEST_F(SaneWedgeChild, JamThenUseTheLocks) {
    ASSERT_TRUE(Twain->Acquire("Wedged Device"));
    ASSERT_TRUE(PumpUntil([&] { return SessionEnded(*Twain); }, 30000));
    ASSERT_FALSE(Recorder.failures.empty());
    EXPECT_EQ(Recorder.failures[0].status, TWCC_PAPERJAM);
    // What the program does next (a print dialog's locale, a library's
    // first message, any allocation) finds the locks free.
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread([done] {
        if (locale_t l = newlocale(LC_ALL_MASK, "C.UTF-8", locale_t(nullptr))) freelocale(l);
        bindtextdomain("visaraprobe", "/nonexistent");
        volatile char* block = static_cast<char*>(std::malloc(size_t(1) << 20));
        if (block) block[0] = 1;
        std::free(const_cast<char*>(block));
        done->store(true);
    }).detach();
    if (!PumpUntil([&] { return done->load(); }, 5000)) {
        std::fputs("the program's locale and catalogue locks are held\n", stderr);
        std::fflush(stderr);
        _exit(1);
    }
}

TEST_F(SaneWedgeChild, StalledScan) {
    const pid_t helper = Helper();
    Controls.SetReadTimeout(300);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Twain->Acquire("Wedged Device"));
    ASSERT_TRUE(PumpUntil([&] { return !Recorder.failures.empty(); }, 30000));
    // The read's limit, the cancel's and the kill, and no more.
    EXPECT_LT(clock.elapsed(), 300 + 3000 + 2000 + 2000);
    EXPECT_EQ(Recorder.failures[0].dat, DAT_IMAGEFILEXFER);
    EXPECT_EQ(Recorder.failures[0].status, TWCC_CHECKDEVICEONLINE);
    EXPECT_TRUE(PumpUntil([&] { return ProcessGone(helper); }, 2000));
    EXPECT_TRUE(PumpUntil([&] { return SessionEnded(*Twain); }, 10000));
}

TEST_F(SaneWedgeChild, QuietScan) {
    Controls.SetReadTimeout(300);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Twain->Acquire("Wedged Device"));
    ASSERT_TRUE(PumpUntil([&] { return !Recorder.failures.empty(); }, 30000));
    // The read's limit and the cancel taken at once: nobody waited to kill.
    EXPECT_LT(clock.elapsed(), 300 + 2500);
    EXPECT_EQ(Recorder.failures[0].status, TWCC_CHECKDEVICEONLINE);
    EXPECT_TRUE(PumpUntil([&] { return SessionEnded(*Twain); }, 10000));
}

TEST_F(SaneWedgeChild, QuitWhileScanning) {
    const pid_t helper = Helper();
    ASSERT_TRUE(Twain->Acquire("Wedged Device"));
    ASSERT_TRUE(PumpUntil([&] { return Twain->TwainState() >= 5; }));
    std::this_thread::sleep_for(300ms);  // into the read that never ends
    std::printf("helper %d\n", int(helper));
    std::fflush(stdout);
    if (qgetenv("VISARA_WEDGE_QUIT") == "abrupt") _exit(0);
    Twain.reset();  // the program closes
}

// A thread of the backend holds the C library's locale and catalogue locks
// for good (as the test backend's reader thread, cancelled in a message
// lookup, did): the program's own newlocale, bindtextdomain and malloc go
// on, and the jam is reported.
TEST(SaneWedge, AJammedScanLeavesTheProgramsLocksFree) {
    if (locale_t l = newlocale(LC_MESSAGES_MASK, "C.UTF-8", locale_t(nullptr))) freelocale(l);
    else GTEST_SKIP() << "no C.UTF-8 locale to look messages up in";
    QTemporaryDir catalogue;
    ASSERT_TRUE(catalogue.isValid());
    for (const char* name : {"C.UTF-8", "C.utf8", "C"}) {
        ASSERT_TRUE(QDir(catalogue.path()).mkpath(QStringLiteral("%1/LC_MESSAGES").arg(name)));
        const QByteArray fifo = QFile::encodeName(catalogue.filePath(QStringLiteral("%1/LC_MESSAGES/visarawedge.mo").arg(name)));
        ASSERT_EQ(mkfifo(fifo.constData(), 0600), 0);
    }
    const TChildRun run = RunWedged("JamThenUseTheLocks", "lock", {{"VISARA_WEDGE_CATALOGUE", catalogue.path()}});
    ASSERT_TRUE(run.Finished) << run.Output.constData();
    EXPECT_EQ(run.Code, 0) << run.Output.constData();
    EXPECT_TRUE(run.Output.contains("[       OK ] SaneWedgeChild.JamThenUseTheLocks")) << run.Output.constData();
}

// A device that stops answering, whose driver ignores the cancel: killed
// and reported within the limits. One whose driver reads without blocking
// and takes the cancel: reported at once, the cancel made on the thread
// that reads.
TEST(SaneWedge, ADeviceThatStopsAnsweringIsKilledAndReported) {
    for (const auto& [test, mode] : {std::pair{"StalledScan", "read"}, std::pair{"QuietScan", "quiet"}}) {
        const TChildRun run = RunWedged(test, mode);
        ASSERT_TRUE(run.Finished) << run.Output.constData();
        EXPECT_EQ(run.Code, 0) << run.Output.constData();
        EXPECT_TRUE(run.Output.contains(QByteArray("[       OK ] SaneWedgeChild.") + test)) << run.Output.constData();
    }
}

// Closing the program, or its sudden end, while a driver hangs in a scan.
TEST(SaneWedge, ClosingTheProgramWhileAScanRunsLeavesNoProcess) {
    for (const char* how : {"close", "abrupt"}) {
        QElapsedTimer clock;
        clock.start();
        const TChildRun run = RunWedged("QuitWhileScanning", "read", {{"VISARA_WEDGE_QUIT", how}});
        ASSERT_TRUE(run.Finished) << how << run.Output.constData();
        EXPECT_EQ(run.Code, 0) << how << run.Output.constData();
        // Closing waits for the cancel's limit and the kill at most.
        EXPECT_LT(clock.elapsed(), 20000) << how;
        const QRegularExpressionMatch helper = QRegularExpression("helper (\\d+)").match(QString::fromUtf8(run.Output));
        ASSERT_TRUE(helper.hasMatch()) << how << run.Output.constData();
        const pid_t pid = pid_t(helper.captured(1).toInt());
        EXPECT_TRUE(PumpUntil([&] { return ProcessGone(pid); }, 5000)) << how;
    }
}

// --- What the bridge reads from the helper ----------------------------------------------

std::vector<uint8_t> Fields(TSaneWriter& w) {
    const std::vector<uint8_t>& frame = w.Frame();
    return std::vector<uint8_t>(frame.begin() + 8, frame.end());
}

TEST(SaneWire, EverySizeFromTheHelperIsCheckedBeforeItIsUsed) {
    // A frame longer than any, or shorter than its kind, also behind a good
    // one that came in the same piece.
    for (uint32_t size : {SaneMaxFrame + 1, 0xffffffffu, 3u}) {
        TSaneFrames frames;
        const uint8_t head[4] = {uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), uint8_t(size >> 24)};
        EXPECT_FALSE(frames.Take(head, 4)) << size;
        TSaneWriter good(SaneRepStarted);
        std::vector<uint8_t> stream = good.Frame();
        stream.insert(stream.end(), head, head + 4);
        stream.resize(stream.size() + 8, 0);
        TSaneFrames after;
        after.Take(stream.data(), stream.size());
        uint32_t kind = 0;
        std::vector<uint8_t> fields;
        EXPECT_TRUE(after.Next(kind, fields)) << size;
        EXPECT_FALSE(after.Next(kind, fields)) << size;
        EXPECT_TRUE(after.Broken()) << size;
    }
    // A list that claims more devices, or a longer name, than its bytes hold.
    {
        TSaneWriter w(SaneRepDevices);
        w.U32(1000).Text("test:0").Text("Noname").Text("frontend-tester");
        const std::vector<uint8_t> f = Fields(w);
        TSaneReader r(f.data(), f.size());
        std::vector<TSaneFound> found;
        EXPECT_FALSE(SaneReadDevices(r, found));
    }
    {
        TSaneWriter w(SaneRepDevices);
        w.U32(1).U32(SaneMaxText + 1);
        std::vector<uint8_t> f = Fields(w);
        f.resize(f.size() + SaneMaxText + 1, 'x');
        TSaneReader r(f.data(), f.size());
        std::vector<TSaneFound> found;
        EXPECT_FALSE(SaneReadDevices(r, found));
    }
    // Options cut anywhere.
    TSaneOptions sent;
    sent.Modes = {"Gray", "Color"};
    sent.Mode = "Color";
    sent.Depths = {8, 16};
    sent.Depth = 8;
    sent.HasResolution = true;
    sent.Resolutions = {75, 150.5, 300};
    sent.Resolution = 150.5;
    sent.HasArea = true;
    sent.Right = 215.9;
    sent.Bottom = 297;
    TSaneWriter w(SaneRepOptions);
    sent.Write(w);
    const std::vector<uint8_t> whole = Fields(w);
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        TSaneReader r(whole.data(), cut);
        TSaneOptions got;
        EXPECT_FALSE(got.Read(r) && r.AtEnd()) << cut;
    }
    TSaneReader r(whole.data(), whole.size());
    TSaneOptions got;
    ASSERT_TRUE(got.Read(r) && r.AtEnd());
    EXPECT_EQ(got.Resolutions, sent.Resolutions);
    EXPECT_EQ(got.Modes, sent.Modes);
    EXPECT_DOUBLE_EQ(got.Right, 215.9);
}

TEST(SaneWire, AnImageGetsNoMoreBytesThanItsHeaderAnnounced) {
    auto header = [](int32_t w, int32_t h, int32_t channels) {
        TSaneWriter head(SaneRepImage);
        head.I32(w).I32(h).I32(channels).I64(300000000).I64(300000000);
        return Fields(head);
    };
    auto take = [](TSaneImageIn& in, const std::vector<uint8_t>& f, bool data) {
        TSaneReader r(f.data(), f.size());
        return data ? in.Data(r) : in.Header(r);
    };
    for (auto [w, h, c] : {std::tuple{SaneMaxImageSide + 1, 1, 1}, std::tuple{1, 0, 3}, std::tuple{-5, 5, 1},
                           std::tuple{5, 5, 2}, std::tuple{SaneMaxImageSide, SaneMaxImageSide, 3}}) {
        TSaneImageIn in;
        EXPECT_FALSE(take(in, header(w, h, c), false)) << w << " x " << h << " x " << c;
    }
    TSaneImageIn in;
    EXPECT_FALSE(take(in, std::vector<uint8_t>(4, 7), true));  // bytes before any header
    ASSERT_TRUE(take(in, header(3, 2, 3), false));
    EXPECT_FALSE(take(in, header(3, 2, 3), false));  // a second header
    EXPECT_TRUE(take(in, std::vector<uint8_t>(10, 7), true));
    EXPECT_FALSE(in.Complete());
    EXPECT_FALSE(take(in, std::vector<uint8_t>(9, 7), true));  // one more than announced
    EXPECT_TRUE(take(in, std::vector<uint8_t>(8, 7), true));
    EXPECT_TRUE(in.Complete());
}

}  // namespace

#endif
