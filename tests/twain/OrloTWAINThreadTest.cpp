// The worker and queue threads: loading, the guarded call, marshalling and
// time-outs, TWAIN states, and the three transfers with hostile input.
#include "OrloTWAINThread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "OrloTWAINFix.h"
#include "TwainTestSupport.h"
#include "TwnBlockSupport.h"

namespace {

using namespace std::chrono_literals;

class TwainThreads : public FakeDsmTest {};

TEST_F(TwainThreads, NoLibraryInTheFolderMeansNoManager) {
    QTemporaryDir empty;
    qputenv("VISARA_TWAIN_DSM_DIR", empty.path().toLocal8Bit());
    TOrloTWAIN t(nullptr);
    TwainRecorder rec;
    rec.Attach(t);
    EXPECT_FALSE(t.OpenSourceManager());
    QStringList list;
    t.GetSourceList(list);
    EXPECT_TRUE(list.isEmpty());
    QCoreApplication::processEvents();
    EXPECT_EQ(t.TwainState(), 1);
    EXPECT_TRUE(rec.failures.empty());
}

TEST_F(TwainThreads, FailedOpenKeepsTheLibraryAndReportsByValue) {
    dsm->openDsmRc = TWRC_FAILURE;
    dsm->conditionCode = TWCC_OPERATIONERROR;
    TOrloTWAIN t(nullptr);
    TwainRecorder rec;
    rec.Attach(t);
    EXPECT_FALSE(t.OpenSourceManager());
    EXPECT_TRUE(PumpUntil([&] { return t.TwainState() == 2 && rec.failures.size() == 1; }));
    const auto& f = rec.failures.at(0);
    EXPECT_EQ(f.dg, int(DG_CONTROL));
    EXPECT_EQ(f.dat, DAT_PARENT);
    EXPECT_EQ(f.msg, MSG_OPENDSM);
    EXPECT_EQ(f.error, TWRC_FAILURE);
    EXPECT_EQ(f.status, TWCC_OPERATIONERROR);
}

TEST_F(TwainThreads, FailingStatusQueryDoesNotRecurse) {
    TOrloTWAIN t(nullptr);
    TwainRecorder rec;
    rec.Attach(t);
    ASSERT_TRUE(t.OpenSourceManager());
    ASSERT_TRUE(t.OpenSource(""));
    // A source that has gone away: every call fails, DAT_STATUS included.
    dsm->hook = [](FakeDsmContext&) -> std::optional<uint16_t> { return TWRC_FAILURE; };
    dsm->log.clear();
    TTwnContainer* c = nullptr;
    EXPECT_EQ(t.GetCapability(ICAP_XRESOLUTION, MSG_GET, c), TWRC_FAILURE);
    EXPECT_EQ(dsm->Calls(DAT_STATUS, MSG_GET).size(), 1u);
    auto reported = [&] {
        for (const auto& f : rec.failures)
            if (f.cap == ICAP_XRESOLUTION) return &f;
        return static_cast<const TwainRecorder::Failure*>(nullptr);
    };
    EXPECT_TRUE(PumpUntil([&] { return reported() != nullptr; }));
    EXPECT_EQ(reported()->status, TWCC_BUMMER);
    dsm->hook = nullptr;
}

TEST_F(TwainThreads, ExceptionInsideTheManagerUnloadsItAndTheNextAcquireWorks) {
    TOrloTWAIN t(nullptr);
    TwainRecorder rec;
    rec.Attach(t);
    ASSERT_TRUE(t.OpenSourceManager());
    ASSERT_TRUE(t.OpenSource(""));
    dsm->hook = [](FakeDsmContext& c) -> std::optional<uint16_t> {
        if (c.dat == DAT_CAPABILITY) throw std::runtime_error("inside the source");
        return std::nullopt;
    };
    TTwnContainer* c = nullptr;
    EXPECT_EQ(t.GetCapability(ICAP_XRESOLUTION, MSG_GET, c), TWRC_DSMEXCEPTION);
    EXPECT_TRUE(PumpUntil([&] { return rec.enableMenus >= 1 && t.TwainState() == 1; }));
    EXPECT_FALSE(t.DSMOpen());
    EXPECT_FALSE(t.DSOpen());
    dsm->Reset();
    dsm->xferReadyOnEnable = false;
    EXPECT_TRUE(t.Acquire(""));
    EXPECT_TRUE(t.DSEnabled());
}

TEST_F(TwainThreads, CheckStatusOnEnableCountsAsEnabled) {
    dsm->enableRc = TWRC_CHECKSTATUS;
    dsm->xferReadyOnEnable = false;
    TOrloTWAIN t(nullptr);
    TwainRecorder rec;
    rec.Attach(t);
    ASSERT_TRUE(t.OpenSourceManager());
    ASSERT_TRUE(t.OpenSource(""));
    EXPECT_TRUE(t.EnableSource(false));
    EXPECT_TRUE(PumpUntil([&] { return t.TwainState() == 5; }));
}

TEST_F(TwainThreads, QueueRefusesToCloseTheManagerUnderAnOpenSource) {
    TwnMessageQueue worker;
    TW_IDENTITY app{}, src{};
    TOrloTWAINQueue q(&worker, &app, &src);
    ASSERT_TRUE(q.Start(QString(), 5000));
    auto run = [&](uint32_t msg) {
        auto r = std::make_shared<TwnRequest>(1);
        q.Post(msg, 0, r);
        r->WaitDone(-1);
        return r->Result();
    };
    EXPECT_EQ(run(TWN_OPENDSM), TWRC_SUCCESS);
    EXPECT_EQ(run(TWN_OPENDS), TWRC_SUCCESS);
    EXPECT_EQ(run(TWN_CLOSEDSM), TWRC_FAILURE);
    EXPECT_TRUE(q.DSMOpen());
    EXPECT_TRUE(q.DSOpen());
    EXPECT_TRUE(dsm->Calls(DAT_PARENT, MSG_CLOSEDSM).empty());
    EXPECT_EQ(run(TWN_CLOSEDS), TWRC_SUCCESS);
    EXPECT_EQ(run(TWN_CLOSEDSM), TWRC_SUCCESS);
    q.Stop();
    // A request posted to a stopped queue is answered at once.
    EXPECT_EQ(run(TWN_OPENDSM), TWRC_FAILURE);
}

// A queue may go as soon as its reader has the last message: posting
// touches nothing of it after that (ThreadSanitizer sees any touch).
TEST(TwainQueue, GoesAsSoonAsItsReaderHasTheLastMessage) {
    for (int i = 0; i < 300; ++i) {
        auto queue = std::make_unique<TwnMessageQueue>();
        std::thread poster([&q = *queue] { q.PostQuit(); });
        const uint32_t message = queue->Get().message;
        queue.reset();
        poster.join();
        ASSERT_EQ(message, TWN_WM_QUIT);
    }
}

TEST_F(TwainThreads, OneRequestIsOneCallEvenWhileTheQueueIsBusy) {
    TOrloTWAIN t(nullptr);
    ASSERT_TRUE(t.OpenSourceManager());
    ASSERT_TRUE(t.OpenSource(""));
    dsm->hook = [](FakeDsmContext& c) -> std::optional<uint16_t> {
        if (c.dat == DAT_EVENT) std::this_thread::sleep_for(150ms);
        return std::nullopt;
    };
    dsm->log.clear();
    dsm->Post(0x55);  // any window message: offered to the source
    std::this_thread::sleep_for(20ms);
    TTwnContainer* c = nullptr;
    t.GetCapability(ICAP_XRESOLUTION, MSG_GET, c);
    EXPECT_EQ(dsm->Calls(DAT_CAPABILITY, MSG_GET).size(), 1u);
    EXPECT_EQ(dsm->Calls(DAT_EVENT, MSG_PROCESSEVENT).size(), 1u);
    dsm->hook = nullptr;
}

TEST_F(TwainThreads, ALateAnswerIsNeverTakenByTheNextCaller) {
    TOrloTWAIN t(nullptr);
    ASSERT_TRUE(t.OpenSourceManager());
    ASSERT_TRUE(t.OpenSource(""));
    dsm->hook = [](FakeDsmContext& c) -> std::optional<uint16_t> {
        if (c.dat != DAT_CAPABILITY || c.msg != MSG_GET) return std::nullopt;
        const uint16_t cap = static_cast<TW_CAPABILITY*>(c.data)->Cap;
        if (cap == ICAP_XRESOLUTION) {
            std::this_thread::sleep_for(300ms);
            return FakeDsmState::AnswerOneValue(c, TWTY_UINT16, 1);
        }
        return FakeDsmState::AnswerOneValue(c, TWTY_UINT16, 7);
    };
    t.Thread()->SetTimeout(100);
    TTwnContainer* c = nullptr;
    EXPECT_EQ(t.GetCapability(ICAP_XRESOLUTION, MSG_GET, c), TWRC_TIMEOUT);
    // The next caller waits behind the abandoned call and gets its own answer.
    t.Thread()->SetTimeout(TwnSharedTimeout);
    TTwnContainer* d = nullptr;
    EXPECT_EQ(t.GetCapability(ICAP_PIXELTYPE, MSG_GET, d), TWRC_SUCCESS);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(TwnValueToInt(d->CurrentValue()), 7);
    int xres = 0;
    for (const auto& call : dsm->Calls(DAT_CAPABILITY, MSG_GET)) xres += call.cap == ICAP_XRESOLUTION;
    EXPECT_EQ(xres, 1);
    dsm->hook = nullptr;
}

// A manager that never comes back from a call cannot hold up closing: the
// worker is given up after the limit, left to end on its own once the
// manager answers.
TEST_F(TwainThreads, ShuttingDownGivesUpOnAManagerThatNeverAnswers) {
    auto release = std::make_shared<std::atomic<bool>>(false);
    dsm->hook = [release](FakeDsmContext& c) -> std::optional<uint16_t> {
        while (c.dat == DAT_IDENTITY && c.msg == MSG_CLOSEDS && !release->load()) std::this_thread::sleep_for(5ms);
        return std::nullopt;
    };
    // What a worker left running uses is never freed.
    static auto* main = new TQelMainCaller();
    static auto* identities = new TW_IDENTITY[2]();
    static auto* abandoned = new std::vector<TOrloTWAINThread*>();
    TOrloTWAINThread* worker = abandoned->emplace_back(new TOrloTWAINThread(main));
    worker->SetIdentities(&identities[0], &identities[1]);
    worker->Start();
    ASSERT_EQ(worker->OpenSourceManager(), TWRC_SUCCESS);
    ASSERT_EQ(worker->OpenSource(), TWRC_SUCCESS);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(worker->Shutdown(300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    release->store(true);
    EXPECT_TRUE(PumpUntil([&] { return !worker->DSMOpen(); }));
}

TEST_F(TwainThreads, XferReadyWithoutEnablingOnlyRecordsTheState) {
    TOrloTWAIN t(nullptr);
    TwainRecorder rec;
    rec.Attach(t);
    ASSERT_TRUE(t.OpenSourceManager());
    ASSERT_TRUE(t.OpenSource(""));
    dsm->log.clear();
    dsm->Post(MSG_XFERREADY);
    EXPECT_TRUE(PumpUntil([&] { return t.TwainState() == 6; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(rec.ready, 0);
    for (const auto& c : dsm->Log()) EXPECT_NE(c.dg, DG_IMAGE);
}

TEST_F(TwainThreads, WindowMessagesWithoutAnOpenSourceAreDropped) {
    TOrloTWAIN t(nullptr);
    ASSERT_TRUE(t.OpenSourceManager());
    dsm->log.clear();
    dsm->Post(MSG_XFERREADY);
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(dsm->Calls(DAT_EVENT, MSG_PROCESSEVENT).empty());
    t.CloseSourceManager();
}

// --- Transfers ----------------------------------------------------------------------------

class TwainTransfers : public FakeDsmTest {
protected:
    std::vector<int> states;
    std::mutex statesMutex;
    void Probe(TOrloTWAIN& t) {
        t.Thread()->StateProbe = [this](int s) {
            std::lock_guard<std::mutex> lock(statesMutex);
            states.push_back(s);
        };
    }
};

TEST_F(TwainTransfers, EditorStyleFileTransferWalksEveryStateAndLeavesTheFile) {
    dsm->fileBytes = MakeDib(3, 2, true);
    TOrloTWAIN t(nullptr);
    EditorSettings(t);
    TwainRecorder rec;
    rec.Attach(t);
    Probe(t);
    ASSERT_TRUE(t.Acquire(""));
    ASSERT_TRUE(PumpUntil([&] { return rec.images.size() == 1 && SessionEnded(t) && rec.enableMenus == 1; }));
    {
        std::lock_guard<std::mutex> lock(statesMutex);
        EXPECT_EQ(states, (std::vector<int>{2, 3, 4, 5, 6, 7, 5, 4, 3, 2, 1}));
    }
    const auto& img = rec.images[0];
    EXPECT_EQ(img.hImage, nullptr);
    EXPECT_EQ(img.path, QString::fromStdString(dsm->fileName));
    const QFileInfo info(img.path);
    EXPECT_EQ(info.path(), QDir::tempPath());
    EXPECT_TRUE(info.fileName().startsWith("twn"));
    EXPECT_EQ(info.suffix(), "bmp");
    QFile f(img.path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), dsm->fileBytes);
    f.remove();
    EXPECT_EQ(rec.events.front(), "disable");
    EXPECT_EQ(rec.events.back(), "enable");
}

TEST_F(TwainTransfers, FileTransferWithAHandleLoadsAndDeletesTheFile) {
    dsm->fileBytes = MakeDib(3, 2, true);
    TOrloTWAIN t(nullptr);
    t.SetXferMech(TWFX_FILES);
    t.SetDIBHandleType(THDT_DIBSEC);
    TwainRecorder rec;
    rec.Attach(t);
    ASSERT_TRUE(t.Acquire(""));
    ASSERT_TRUE(PumpUntil([&] { return rec.images.size() == 1 && SessionEnded(t); }));
    const auto& img = rec.images[0];
    ASSERT_NE(img.hImage, nullptr);
    EXPECT_NE(img.pBmp, nullptr);
    EXPECT_TRUE(img.hasInfo);
    EXPECT_EQ(img.info.biWidth, 3);
    EXPECT_TRUE(img.path.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(dsm->fileName)));
    TwnDibSection* dib = TwnAsDibSection(img.hImage);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(0, std::memcmp(dib->Bits(), dsm->fileBytes.data() + 54, 16));
}

TEST_F(TwainTransfers, NativeDibGetsAResolutionAndASizeOrPassesThrough) {
    dsm->nativeDib = MakeDib(2, 2, false, 0);
    TOrloTWAIN t(nullptr);
    t.SetDIBHandleType(THDT_DIBSEC);
    TwainRecorder rec;
    rec.Attach(t);
    ASSERT_TRUE(t.Acquire(""));
    ASSERT_TRUE(PumpUntil([&] { return rec.images.size() == 1 && SessionEnded(t); }));
    EXPECT_EQ(rec.images[0].info.biXPelsPerMeter, 11811);
    EXPECT_EQ(rec.images[0].info.biYPelsPerMeter, 11811);
    EXPECT_EQ(rec.images[0].info.biSizeImage, 16u);
    EXPECT_EQ(0, std::memcmp(rec.images[0].pBmp, dsm->nativeDib.data() + 40, 16));

    // Raw: the source's own block is handed on.
    TW_HANDLE given = nullptr;
    dsm->hook = [&](FakeDsmContext& c) -> std::optional<uint16_t> {
        if (c.dat != DAT_IMAGENATIVEXFER) return std::nullopt;
        given = TwnBlockOf(dsm->nativeDib);
        *static_cast<TW_HANDLE*>(c.data) = given;
        return TWRC_XFERDONE;
    };
    t.SetDIBHandleType(THDT_DIBRAW);
    ASSERT_TRUE(t.Acquire(""));
    ASSERT_TRUE(PumpUntil([&] { return rec.images.size() == 2 && SessionEnded(t); }));
    EXPECT_EQ(rec.images[1].hImage, given);
    int32_t w = 0, h = 0;
    EXPECT_TRUE(TwnPackedDibSize(given, w, h));
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 2);
    dsm->hook = nullptr;
}

TEST_F(TwainTransfers, PendingImagesFollowTheNextTransferHandler) {
    dsm->fileBytes = MakeDib(2, 2, true);
    dsm->pending = 3;
    {
        TOrloTWAIN t(nullptr);
        EditorSettings(t);
        TwainRecorder rec;
        rec.Attach(t);
        t.SetOnXferNext([](void*, int& n, bool&) { n = 0; });
        ASSERT_TRUE(t.Acquire(""));
        ASSERT_TRUE(PumpUntil([&] { return SessionEnded(t); }));
        EXPECT_EQ(rec.images.size(), 1u);
        EXPECT_EQ(dsm->Calls(DAT_PENDINGXFERS, MSG_RESET).size(), 1u);
        for (auto& i : rec.images) QFile::remove(i.path);
    }
    dsm->log.clear();
    {
        TOrloTWAIN t(nullptr);
        EditorSettings(t);
        TwainRecorder rec;
        rec.Attach(t);
        bool first = true;
        t.SetOnXferNext([&](void*, int&, bool& skip) {
            skip = first;
            first = false;
        });
        ASSERT_TRUE(t.Acquire(""));
        ASSERT_TRUE(PumpUntil([&] { return SessionEnded(t) && rec.images.size() == 2; }));
        EXPECT_EQ(dsm->Calls(DAT_IMAGEFILEXFER, MSG_GET).size(), 2u);
        for (auto& i : rec.images) QFile::remove(i.path);
    }
}

// A memory image: rows of `bpr` bytes, row y filled with y + 1.
void MemoryImage(FakeDsmState* dsm, int w, int h, int bpp, int pixelType, uint32_t bpr) {
    dsm->imageInfo = TW_IMAGEINFO{};
    dsm->imageInfo.ImageWidth = w;
    dsm->imageInfo.ImageLength = h;
    dsm->imageInfo.BitsPerPixel = int16_t(bpp);
    dsm->imageInfo.PixelType = int16_t(pixelType);
    dsm->imageInfo.XResolution = FloatToFix(300);
    dsm->imageInfo.YResolution = FloatToFix(300);
    dsm->memBytesPerRow = bpr;
    dsm->memRows.assign(size_t(bpr) * size_t(h), 0);
    for (int y = 0; y < h; ++y) std::memset(dsm->memRows.data() + size_t(y) * bpr, y + 1, bpr);
}

TEST_F(TwainTransfers, MemoryTransferSizesBuffersBuildsPalettesAndRespacesRows) {
    // 16 grey levels, 8 pixels wide (stride 4); the source's rows are 6 bytes.
    MemoryImage(dsm, 8, 5, 4, TWPT_GRAY, 6);
    dsm->SetCap(ICAP_UNITS, TWON_ONEVALUE, FakeDsmState::OneValue(TWTY_UINT16, TWUN_INCHES));
    dsm->SetCap(ICAP_PIXELFLAVOR, TWON_ONEVALUE, FakeDsmState::OneValue(TWTY_UINT16, TWPF_VANILLA));
    TOrloTWAIN t(nullptr);
    t.SetXferMech(TWFX_MEMORY);
    t.SetDIBHandleType(THDT_DIBSEC);
    TwainRecorder rec;
    rec.Attach(t);
    t.SetOnMemXferSize([](void*, int, int, int& buf, const TwnBitmapInfoHeader*) { buf = 10; });
    ASSERT_TRUE(t.Acquire(""));
    ASSERT_TRUE(PumpUntil([&] { return rec.images.size() == 1 && SessionEnded(t); }));
    const auto strips = dsm->Calls(DAT_IMAGEMEMXFER, MSG_GET);
    ASSERT_FALSE(strips.empty());
    EXPECT_EQ(strips[0].memLength, 64u);
    TwnDibSection* dib = TwnAsDibSection(rec.images[0].hImage);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->Info()->biXPelsPerMeter, 11811);
    EXPECT_EQ(dib->Info()->biClrUsed, 16u);
    const uint8_t* table = dib->info.data() + 40;
    EXPECT_EQ(table[0], 255);      // vanilla: inverted
    EXPECT_EQ(table[4], 255 - 16);
    EXPECT_EQ(table[8], 255 - 33);
    EXPECT_EQ(table[60], 255 - 254);
    // Bottom-up after the flip, every row at the DIB's stride.
    ASSERT_EQ(dib->bits.size(), 20u);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(dib->bits[size_t(y) * 4 + size_t(x)], 5 - y) << y << "," << x;
}

TEST_F(TwainTransfers, RgbStripsIntoCallerBuffersAreSwapped) {
    MemoryImage(dsm, 2, 3, 24, TWPT_RGB, 6);
    for (size_t i = 0; i < dsm->memRows.size(); ++i) dsm->memRows[i] = uint8_t(i % 3);  // R=0 G=1 B=2
    TOrloTWAIN t(nullptr);
    t.SetDIBHandleType(THDT_MEMPTR);
    std::vector<uint8_t> buffer(4096), received;
    int last = -1;
    t.SetOnMemXferBuffer([&](void*, const TwnBitmapInfoHeader*, int, int rows, int size, void*& pData) {
        if (size > 0) received.insert(received.end(), buffer.begin(), buffer.begin() + size);
        last = rows;
        pData = buffer.data();
    });
    ASSERT_TRUE(t.Acquire(""));
    ASSERT_TRUE(PumpUntil([&] { return SessionEnded(t) && last == 0; }));
    ASSERT_EQ(received.size(), 18u);
    EXPECT_EQ(received[0], 2);
    EXPECT_EQ(received[1], 1);
    EXPECT_EQ(received[2], 0);
}

TEST_F(TwainTransfers, HostileImagesEndInNothingAndTheSessionCloses) {
    TOrloTWAIN t(nullptr);
    TwainRecorder rec;
    rec.Attach(t);
    auto expectNothing = [&](const char* what) {
        ASSERT_TRUE(PumpUntil([&] { return rec.images.size() == 1 && SessionEnded(t); })) << what;
        EXPECT_EQ(rec.images[0].hImage, nullptr) << what;
        EXPECT_TRUE(rec.images[0].path.isEmpty()) << what;
        rec.images.clear();
        EXPECT_FALSE(dsm->dsmOpen) << what;
    };
    // A native 8-bit DIB with an endless colour table.
    dsm->nativeDib = MakeDib(2, 2, false);
    TwnBitmapInfoHeader bi;
    std::memcpy(&bi, dsm->nativeDib.data(), 40);
    bi.biBitCount = 8;
    bi.biClrUsed = 0xffffffffu;
    std::memcpy(dsm->nativeDib.data(), &bi, 40);
    t.SetDIBHandleType(THDT_DIBSEC);
    ASSERT_TRUE(t.Acquire(""));
    expectNothing("colour table");

    // Memory strips with more rows than the image has.
    MemoryImage(dsm, 4, 2, 24, TWPT_RGB, 12);
    dsm->hook = [](FakeDsmContext& c) -> std::optional<uint16_t> {
        if (c.dat != DAT_IMAGEMEMXFER) return std::nullopt;
        auto* mx = static_cast<TW_IMAGEMEMXFER*>(c.data);
        mx->BytesPerRow = 12;
        mx->Rows = 9;
        mx->BytesWritten = 108;
        return TWRC_SUCCESS;
    };
    t.SetXferMech(TWFX_MEMORY);
    ASSERT_TRUE(t.Acquire(""));
    expectNothing("rows");

    // A source that answers 0 without progress would hold the worker for good.
    dsm->hook = [](FakeDsmContext& c) -> std::optional<uint16_t> {
        if (c.dat != DAT_IMAGEMEMXFER) return std::nullopt;
        auto* mx = static_cast<TW_IMAGEMEMXFER*>(c.data);
        mx->BytesPerRow = 12;
        mx->Rows = 0;
        mx->BytesWritten = 0;
        return TWRC_SUCCESS;
    };
    ASSERT_TRUE(t.Acquire(""));
    expectNothing("no progress");

    // An image of unknown length.
    dsm->hook = nullptr;
    dsm->imageInfo.ImageLength = -1;
    ASSERT_TRUE(t.Acquire(""));
    expectNothing("unknown length");

    // A BMP file with a header size of 0, loaded raw.
    dsm->fileBytes = MakeDib(2, 2, true);
    std::memset(dsm->fileBytes.data() + 2, 0, 4);
    t.SetXferMech(TWFX_FILES);
    t.SetDIBHandleType(THDT_DIBRAW);
    ASSERT_TRUE(t.Acquire(""));
    ASSERT_TRUE(PumpUntil([&] { return rec.images.size() == 1 && SessionEnded(t); }));
    EXPECT_EQ(rec.images[0].hImage, nullptr);
    EXPECT_FALSE(rec.images[0].path.isEmpty());  // not loadable: handed on by name
    QFile::remove(rec.images[0].path);
}

TEST_F(TwainTransfers, ANativeDibLongerThanItsBlockIsReportedAsAFailure) {
    dsm->nativeDib = TwnHugeClaim();
    TOrloTWAIN t(nullptr);
    t.SetDIBHandleType(THDT_DIBSEC);
    TwainRecorder rec;
    rec.Attach(t);
    ASSERT_TRUE(t.Acquire(""));
    auto refused = [&] {
        for (const auto& f : rec.failures)
            if (f.dg == int(DG_IMAGE) && f.dat == DAT_IMAGENATIVEXFER && f.status == TWCC_BADVALUE) return true;
        return false;
    };
    ASSERT_TRUE(PumpUntil([&] { return rec.images.size() == 1 && SessionEnded(t) && refused(); }));
    EXPECT_EQ(rec.images[0].hImage, nullptr);
}

TEST_F(TwainTransfers, FailedImageInfoEndsTheTransferSoTheSessionCanClose) {
    MemoryImage(dsm, 4, 2, 24, TWPT_RGB, 12);
    dsm->hook = [](FakeDsmContext& c) -> std::optional<uint16_t> {
        if (c.dat == DAT_IMAGEINFO) return TWRC_FAILURE;
        return std::nullopt;
    };
    TOrloTWAIN t(nullptr);
    t.SetXferMech(TWFX_MEMORY);
    TwainRecorder rec;
    rec.Attach(t);
    ASSERT_TRUE(t.Acquire(""));
    ASSERT_TRUE(PumpUntil([&] { return rec.images.size() == 1 && SessionEnded(t); }));
    EXPECT_EQ(rec.images[0].hImage, nullptr);
    EXPECT_EQ(dsm->Calls(DAT_PENDINGXFERS, MSG_ENDXFER).size(), 1u);
    EXPECT_EQ(dsm->Calls(DAT_USERINTERFACE, MSG_DISABLEDS).back().rc, TWRC_SUCCESS);
    EXPECT_FALSE(dsm->dsmOpen);
}

TEST_F(TwainTransfers, NoImageHandlerResetsThePendingImagesSoTheSessionCloses) {
    dsm->fileBytes = MakeDib(2, 2, true);
    dsm->pending = 3;
    TOrloTWAIN t(nullptr);
    EditorSettings(t);
    t.SetOnMemXferBuffer([](void*, const TwnBitmapInfoHeader*, int, int, int, void*&) {});
    ASSERT_TRUE(t.Acquire(""));
    ASSERT_TRUE(PumpUntil([&] { return SessionEnded(t); }));
    EXPECT_EQ(dsm->Calls(DAT_IMAGEFILEXFER, MSG_GET).size(), 1u);
    EXPECT_EQ(dsm->Calls(DAT_PENDINGXFERS, MSG_RESET).size(), 1u);
    EXPECT_EQ(dsm->Calls(DAT_USERINTERFACE, MSG_DISABLEDS).back().rc, TWRC_SUCCESS);
    EXPECT_FALSE(dsm->dsmOpen);
    QFile::remove(QString::fromStdString(dsm->fileName));
}

TEST_F(TwainTransfers, DestroyingDuringATransferNeitherHangsNorDelivers) {
    dsm->fileBytes = MakeDib(2, 2, true);
    dsm->hook = [](FakeDsmContext& c) -> std::optional<uint16_t> {
        if (c.dat == DAT_IMAGEFILEXFER) std::this_thread::sleep_for(200ms);
        return std::nullopt;
    };
    TwainRecorder rec;
    auto start = std::chrono::steady_clock::now();
    {
        TOrloTWAIN t(nullptr);
        EditorSettings(t);
        rec.Attach(t);
        ASSERT_TRUE(t.Acquire(""));
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    QCoreApplication::processEvents();
    EXPECT_TRUE(rec.images.empty());
    QFile::remove(QString::fromStdString(dsm->fileName));
}

}  // namespace
