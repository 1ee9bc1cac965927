// The helper process that makes the SANE calls: a wedging backend
// (tests/sanedsm/sane/TestBackend.c, in this program run again) stays out of
// the program's process, is killed and reported, and no process outlives the
// program. And what the bridge reads from the helper is checked before use.
#include <QElapsedTimer>
#include <libintl.h>
#include <locale.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <thread>

#include "OrloTWAIN.h"
#include "SaneTestSupport.h"
#include "SaneWire.h"
#include "../twain/TwainTestSupport.h"

#ifdef SANE_TWAINDSM_DIR

namespace {

using namespace std::chrono_literals;

// What /proc says of a process, "pid (name) state parent ...", or nothing.
QByteArray ProcStat(pid_t pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Ended, or a zombie waiting to be reaped.
bool ProcessGone(pid_t pid) {
    const QByteArray line = ProcStat(pid);
    const qsizetype at = line.lastIndexOf(") ");
    return at < 0 || line.size() < at + 3 || line[at + 2] == 'Z' || line[at + 2] == 'X';
}

QByteArray RunWedged(const char* Case, const char* Mode, std::vector<std::pair<QString, QString>> Extra = {},
                     bool Passes = true) {
    Extra.insert(Extra.end(), {{"VISARA_WEDGE", Mode}, {"VISARA_SANE_WEDGE_CHILD", "1"}});
    return SaneRunAgain("visarawedge", QStringLiteral("SaneWedgeChild.") + Case, Extra, Passes);
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
    }
    // The helper process that serves this one: the live child named so.
    pid_t Helper() {
        QList<pid_t> helpers;
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs))
            if (const QByteArray line = ProcStat(entry.toInt()); line.contains(" (visara_sane) ") &&
                                                                 line.split(' ').value(3).toInt() == getpid() &&
                                                                 !ProcessGone(entry.toInt()))
                helpers.push_back(entry.toInt());
        EXPECT_EQ(helpers.size(), 1);
        return helpers.value(0, -1);
    }

    SaneDsmControls Controls;
    TwainRecorder Recorder;  // outlives the component that calls it
    std::optional<TOrloTWAIN> Twain;
};

TEST_F(SaneWedgeChild, JamThenUseTheLocks) {
    ASSERT_TRUE(Twain->Acquire("Wedged Device"));
    ASSERT_TRUE(PumpUntil([&] { return SessionEnded(*Twain); }, 30000));
    ASSERT_FALSE(Recorder.failures.empty());
    EXPECT_EQ(Recorder.failures[0].status, TWCC_PAPERJAM);
    // What the program does next (a print dialog's locale, a library's
    // first message, any allocation) finds the locks free; held, it waits
    // here until the test that runs this one kills it.
    if (locale_t l = newlocale(LC_ALL_MASK, "C.UTF-8", locale_t(nullptr))) freelocale(l);
    bindtextdomain("visaraprobe", "/nonexistent");
    volatile char* block = static_cast<char*>(std::malloc(size_t(1) << 20));
    if (block) block[0] = 1;
    std::free(const_cast<char*>(block));
}

// "read": the driver ignores the cancel, so the helper is killed; "quiet":
// the cancel is taken at once on the thread that reads, nobody waits to kill.
TEST_F(SaneWedgeChild, SilentScan) {
    const bool killed = qgetenv("VISARA_WEDGE") == "read";
    const pid_t helper = Helper();
    Controls.SetReadTimeout(300);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Twain->Acquire("Wedged Device"));
    ASSERT_TRUE(PumpUntil([&] { return !Recorder.failures.empty(); }, 30000));
    // The read's limit, the cancel's and the kill, and no more.
    EXPECT_LT(clock.elapsed(), killed ? 300 + 3000 + 2000 + 2000 : 300 + 2500);
    EXPECT_EQ(Recorder.failures[0].status, TWCC_CHECKDEVICEONLINE);
    EXPECT_TRUE(!killed || PumpUntil([&] { return ProcessGone(helper); }, 2000));
    EXPECT_TRUE(PumpUntil([&] { return SessionEnded(*Twain); }, 10000));
}

TEST_F(SaneWedgeChild, QuitWhileScanning) {
    const pid_t helper = Helper();
    ASSERT_TRUE(Twain->Acquire("Wedged Device"));
    ASSERT_TRUE(PumpUntil([&] { return Twain->TwainState() >= 5; }));
    std::this_thread::sleep_for(300ms);  // into the read that never ends
    std::printf("helper %d\n", int(helper)), std::fflush(stdout);
    if (qgetenv("VISARA_WEDGE_QUIT") == "abrupt") _exit(0);
    Twain.reset();  // the program closes
}

// A thread of the backend holds the C library's locale and catalogue locks
// for good: the program's own newlocale, bindtextdomain and malloc go on.
TEST(SaneWedge, AJammedScanLeavesTheProgramsLocksFree) {
    if (locale_t l = newlocale(LC_MESSAGES_MASK, "C.UTF-8", locale_t(nullptr))) freelocale(l);
    else GTEST_SKIP() << "no C.UTF-8 locale to look messages up in";
    QTemporaryDir catalogue;
    for (const char* name : {"C.UTF-8", "C.utf8", "C"}) {
        ASSERT_TRUE(QDir(catalogue.path()).mkpath(QStringLiteral("%1/LC_MESSAGES").arg(name)));
        const QString fifo = catalogue.filePath(QStringLiteral("%1/LC_MESSAGES/visarawedge.mo").arg(name));
        ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    }
    RunWedged("JamThenUseTheLocks", "lock", {{"VISARA_WEDGE_CATALOGUE", catalogue.path()}});
}

// A driver that ignores the cancel is killed; one that takes it only on the
// thread that reads is cancelled there. Both are reported within the limits.
TEST(SaneWedge, ADeviceThatStopsAnsweringIsKilledAndReported) {
    for (const char* mode : {"read", "quiet"}) RunWedged("SilentScan", mode);
}

// Closing the program, or its sudden end, while a driver hangs in a scan.
TEST(SaneWedge, ClosingTheProgramWhileAScanRunsLeavesNoProcess) {
    for (const char* how : {"close", "abrupt"}) {
        QElapsedTimer clock;
        clock.start();
        const QByteArray out =
            RunWedged("QuitWhileScanning", "read", {{"VISARA_WEDGE_QUIT", how}}, std::string_view(how) == "close");
        EXPECT_LT(clock.elapsed(), 20000) << how;
        const qsizetype at = out.indexOf("helper ");
        ASSERT_GE(at, 0) << how;
        EXPECT_TRUE(PumpUntil([&] { return ProcessGone(std::atoi(out.constData() + at + 7)); }, 5000)) << how;
    }
}

// --- What the bridge reads from the helper ----------------------------------------------

std::vector<uint8_t> Fields(TSaneWriter& w) { return {w.Frame().begin() + 8, w.Frame().end()}; }

TEST(SaneWire, EverySizeFromTheHelperIsCheckedBeforeItIsUsed) {
    // A frame longer than any, or shorter than its kind, also behind a good
    // one that came in the same piece.
    for (uint32_t size : {SaneMaxFrame + 1, 0xffffffffu, 3u}) {
        const uint8_t head[4] = {uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), uint8_t(size >> 24)};
        EXPECT_FALSE(TSaneFrames().Take(head, 4)) << size;
        std::vector<uint8_t> stream = TSaneWriter(SaneRepStarted).Frame(), fields;
        stream.insert(stream.end(), head, head + 4);
        stream.resize(stream.size() + 8, 0);
        TSaneFrames after;
        after.Take(stream.data(), stream.size());
        uint32_t kind = 0;
        EXPECT_TRUE(after.Next(kind, fields) && !after.Next(kind, fields) && after.Broken()) << size;
    }
    // A list that claims more devices, or a longer name, than its bytes hold.
    TSaneWriter many(SaneRepDevices), longName(SaneRepDevices);
    many.U32(1000).Text("test:0").Text("Noname").Text("frontend-tester");
    longName.U32(1).U32(SaneMaxText + 1);
    std::vector<uint8_t> tooLong = Fields(longName);
    tooLong.resize(tooLong.size() + SaneMaxText + 1, 'x');
    for (const std::vector<uint8_t>& f : {Fields(many), tooLong}) {
        TSaneReader r(f.data(), f.size());
        std::vector<TSaneFound> found;
        EXPECT_FALSE(SaneReadDevices(r, found));
    }
    // Options cut anywhere.
    const TSaneOptions sent{.Modes = {"Gray", "Color"}, .Mode = "Color", .Depths = {8, 16}, .Depth = 8,
                            .HasResolution = true, .Resolution = 150.5, .Resolutions = {75, 150.5, 300},
                            .HasArea = true, .Right = 215.9, .Bottom = 297};
    TSaneWriter w(SaneRepOptions);
    sent.Write(w);
    const std::vector<uint8_t> whole = Fields(w);
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        TSaneReader r(whole.data(), cut);
        TSaneOptions got;
        EXPECT_EQ(got.Read(r) && r.AtEnd(), cut == whole.size()) << cut;
        EXPECT_TRUE(cut < whole.size() || got.Resolutions == sent.Resolutions);
    }
}

TEST(SaneWire, AnImageGetsNoMoreBytesThanItsHeaderAnnounced) {
    auto take = [](TSaneImageIn& in, const std::vector<uint8_t>& f, bool data) {
        TSaneReader r(f.data(), f.size());
        return data ? in.Data(r) : in.Header(r);
    };
    auto header = [&](TSaneImageIn& in, int32_t w, int32_t h, int32_t channels) {
        TSaneWriter head(SaneRepImage);
        head.I32(w).I32(h).I32(channels).I64(300000000).I64(300000000);
        return take(in, Fields(head), false);
    };
    for (auto [w, h, c] : {std::tuple{SaneMaxImageSide + 1, 1, 1}, std::tuple{1, 0, 3}, std::tuple{-5, 5, 1},
                           std::tuple{5, 5, 2}, std::tuple{SaneMaxImageSide, SaneMaxImageSide, 3}}) {
        TSaneImageIn in;
        EXPECT_FALSE(header(in, w, h, c)) << w << " x " << h << " x " << c;
    }
    TSaneImageIn in;
    EXPECT_FALSE(take(in, std::vector<uint8_t>(4, 7), true));  // bytes before any header
    ASSERT_TRUE(header(in, 3, 2, 3));
    EXPECT_FALSE(header(in, 3, 2, 3));  // a second header
    EXPECT_TRUE(take(in, std::vector<uint8_t>(10, 7), true));
    EXPECT_FALSE(in.Complete());
    EXPECT_FALSE(take(in, std::vector<uint8_t>(9, 7), true));  // one more than announced
    EXPECT_TRUE(take(in, std::vector<uint8_t>(8, 7), true));
    EXPECT_TRUE(in.Complete());
}

}  // namespace

#endif
