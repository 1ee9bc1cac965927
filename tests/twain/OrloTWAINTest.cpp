#include "OrloTWAIN.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "OrloTWAINFix.h"
#include "TwainTestSupport.h"

namespace {

// --- Transfer-file names ---------------------------------------------------------------

TEST(TwainFileNames, NamesFormatsAndExtensions) {
    TOrloTWAIN t(nullptr);
    QTemporaryDir tmp(QDir::tempPath() + "/twainnames");
    ASSERT_TRUE(tmp.isValid());
    const QString folder = tmp.path().toLower();
    ASSERT_TRUE(QDir().mkpath(folder));

    // An existing lower-case folder: the name is lower-cased, the extension follows.
    t.SetFilename(folder + "/Scan.BMP");
    EXPECT_EQ(t.Filename(), folder + "/scan.bmp");
    EXPECT_EQ(t.FileFormat(), TWFF_BMP);
    t.SetFileFormat(TWFF_PNG);
    EXPECT_EQ(t.Filename(), folder + "/scan.png");
    t.SetFileFormat(TWFF_PICT);  // changes nothing
    EXPECT_EQ(t.FileFormat(), TWFF_PNG);
    EXPECT_EQ(t.Filename(), folder + "/scan.png");

    // A folder that does not exist: a unique name in the temporary folder.
    t.SetFileFormat(TWFF_BMP);
    t.SetFilename("/no/such/folder/Scan.bmp");
    const QFileInfo unique(t.Filename());
    EXPECT_EQ(unique.path(), QDir::tempPath());
    EXPECT_TRUE(unique.fileName().startsWith("twn"));
    EXPECT_EQ(unique.suffix(), "bmp");
    EXPECT_FALSE(unique.exists());

    // Clearing the name restores BMP with a handle.
    t.SetFilename("");
    EXPECT_TRUE(t.Filename().isEmpty());
    EXPECT_EQ(t.FileFormat(), TWFF_BMP);
    EXPECT_TRUE(t.ReturnHandle());
    t.SetFileFormat(TWFF_TIFF);
    t.SetReturnHandle(true);
    EXPECT_FALSE(t.ReturnHandle());

    EXPECT_EQ(TOrloTWAIN::FormatOfName("a.JPG"), TWFF_JFIF);
    EXPECT_EQ(TOrloTWAIN::FormatOfName("a.tiff"), TwnNoFileFormat);
    EXPECT_EQ(TOrloTWAIN::FormatExtension(TWFF_EXIF), "jpg");
    EXPECT_EQ(TOrloTWAIN::FormatExtension(TwnNoFileFormat), "");
}

TEST(TwainFileNames, FoldersKeepTheirCase) {
    // Linux names are case-sensitive: only the file's own name is lower-cased.
    QTemporaryDir tmp(QDir::tempPath() + "/TwainCaps");
    ASSERT_TRUE(tmp.isValid());
    TOrloTWAIN t(nullptr);
    t.SetFilename(tmp.path() + "/MyScan.bmp");
    EXPECT_EQ(t.Filename(), tmp.path() + "/myscan.bmp");
}

TEST(TwainSettings, CouplingsAndIdentity) {
    TOrloTWAIN t(nullptr);
    EXPECT_TRUE(t.DisableAfterAcquire());
    EXPECT_EQ(t.XferMech(), TWFX_NATIVE);
    t.SetDIBHandleType(THDT_MEMPTR);
    EXPECT_EQ(t.XferMech(), TWFX_MEMORY);
    t.SetXferMech(TWFX_FILES);
    EXPECT_EQ(t.DIBHandleType(), THDT_DIBHANDLE);
    TTwnFileFormats f;
    f.set(TWFF_PICT).set(TWFF_XBM).set(TWFF_PNG);
    t.SetFileFormats(f);
    EXPECT_EQ(t.FileFormats(), TTwnFileFormats().set(TWFF_PNG));
    EXPECT_EQ(t.Country(), cyUNITEDKINGDOM);
    EXPECT_EQ(t.AppIdentity.Version.Country, 44);
    t.SetCountry(cyGERMANY);
    EXPECT_EQ(t.AppIdentity.Version.Country, 49);
    t.AppIdentity.Version.Country = 9999;
    EXPECT_EQ(t.Country(), cyUNITEDKINGDOM);
    EXPECT_EQ(t.Language(), lgENGLISH_INTL);
    t.SetLanguage(lgUSERLOCALE);
    EXPECT_EQ(int16_t(t.AppIdentity.Version.Language), -1);
    t.SetProductName(QString(40, QChar(0xe9)));  // two bytes each: cut at a character boundary
    EXPECT_EQ(t.ProductName(), QString(16, QChar(0xe9)));
}

// --- Session and enumeration ------------------------------------------------------------

class TwainSession : public FakeDsmTest {};

TEST_F(TwainSession, SourceListIdleAndWhileASourceIsOpen) {
    TOrloTWAIN t(nullptr);
    QStringList list;
    t.GetSourceList(list);
    EXPECT_EQ(list, QStringList({"Alpha", "Beta"}));
    EXPECT_TRUE(PumpUntil([&] { return SessionEnded(t); }));
    ASSERT_TRUE(t.OpenSourceManager());
    ASSERT_TRUE(t.OpenSource(""));
    EXPECT_EQ(t.GetSourceList(list), TWRC_FAILURE);
    EXPECT_TRUE(list.isEmpty());
    EXPECT_TRUE(t.DSMOpen());
    t.CloseSource();
    t.CloseSourceManager();
}

TEST_F(TwainSession, AcquireOpensTheNamedSourceOrTheDefault) {
    TOrloTWAIN t(nullptr);
    TwainRecorder rec;
    rec.Attach(t);
    dsm->xferReadyOnEnable = false;
    for (const char* name : {"Beta", "beta", "Gamma"}) {
        dsm->log.clear();
        ASSERT_TRUE(t.Acquire(name)) << name;
        const auto opens = dsm->Calls(DAT_IDENTITY, MSG_OPENDS);
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(opens[0].productName, std::string(name) == "Beta" ? "Beta" : "") << name;
        t.CloseSource();
        t.CloseSourceManager();
    }
}

TEST_F(TwainSession, MissingImageHandlerClosesAndRaises) {
    TOrloTWAIN t(nullptr);
    try {
        t.Acquire("");
        FAIL() << "no exception";
    } catch (const EImageReadyError& e) {
        EXPECT_EQ(QString::fromStdString(e.what()),
                  "Event \"OnImageReady\" or \"OnMemXferBuffer\" must be assigned, \rbefore an image acquisition can "
                  "commence.");
    }
    EXPECT_FALSE(t.DSOpen());
    EXPECT_FALSE(t.DSMOpen());
    const auto log = dsm->Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].msg, MSG_CLOSEDS);
    EXPECT_EQ(log.back().msg, MSG_CLOSEDSM);
}

TEST_F(TwainSession, AcquireWhileEnabledFailsAndCloses) {
    TOrloTWAIN t(nullptr);
    TwainRecorder rec;
    rec.Attach(t);
    dsm->xferReadyOnEnable = false;
    ASSERT_TRUE(t.Acquire(""));
    EXPECT_TRUE(t.DSEnabled());
    EXPECT_FALSE(t.Acquire(""));
    // The enabled source is not disabled by a second Acquire's close.
    t.DisableSource();
    t.CloseSource();
    t.CloseSourceManager();
    EXPECT_FALSE(t.DSMOpen());
}

TEST_F(TwainSession, DeviceNotReadyIsAskedUntilTheHandlerGivesUp) {
    dsm->SetCap(CAP_DEVICEONLINE, TWON_ONEVALUE, FakeDsmState::OneValue(TWTY_BOOL, 0));
    TOrloTWAIN t(nullptr);
    int calls = 0;
    t.OnDeviceNotReady = [&](QObject*, bool& doOpen) {
        if (++calls == 3) doOpen = false;
    };
    ASSERT_TRUE(t.OpenSourceManager());
    EXPECT_FALSE(t.OpenSource(""));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(dsm->Calls(DAT_IDENTITY, MSG_CLOSEDS).size(), 1u);
    // A source that does not list the capability counts as online.
    calls = 0;
    dsm->SetCap(CAP_SUPPORTEDCAPS, TWON_ARRAY, FakeDsmState::Array(TWTY_UINT16, {ICAP_XFERMECH}));
    EXPECT_TRUE(t.OpenSource(""));
    EXPECT_EQ(calls, 0);
    t.CloseSource();
    t.CloseSourceManager();
}

TEST_F(TwainSession, SelectSourceChoosesWithoutLeavingAnythingOpen) {
    TOrloTWAIN t(nullptr);
    TwainRecorder rec;
    rec.Attach(t);
    EXPECT_EQ(t.SelectSource(), TWRC_SUCCESS);
    EXPECT_TRUE(PumpUntil([&] { return rec.enableMenus == 1; }));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"disable", "enable"}));
    EXPECT_FALSE(t.DSMOpen());
    EXPECT_EQ(t.Thread()->State(), 1);
    EXPECT_FALSE(dsm->dsmOpen);
    // The choice is what an empty name opens.
    dsm->xferReadyOnEnable = false;
    dsm->log.clear();
    ASSERT_TRUE(t.Acquire(""));
    EXPECT_EQ(dsm->Calls(DAT_IDENTITY, MSG_OPENDS).at(0).productName, "Beta");
    t.CloseSource();
    t.CloseSourceManager();
    // Cancelled: the identity stays.
    dsm->userSelectChoice = -1;
    std::strcpy(t.SourceIdentity.ProductName, "Alpha");
    EXPECT_EQ(t.SelectSource(), TWRC_CANCEL);
    EXPECT_STREQ(t.SourceIdentity.ProductName, "Alpha");
}

// --- Capabilities and negotiation -------------------------------------------------------

class TwainCaps : public FakeDsmTest {};

TEST_F(TwainCaps, UnsupportedCapabilitiesAreNotAsked) {
    dsm->SetCap(CAP_SUPPORTEDCAPS, TWON_ARRAY, FakeDsmState::Array(TWTY_UINT16, {CAP_SUPPORTEDCAPS, CAP_INDICATORS}));
    TOrloTWAIN t(nullptr);
    ASSERT_TRUE(t.OpenSourceManager());
    ASSERT_TRUE(t.OpenSource(""));
    // The transfer mechanism is still negotiated, and indicators are sent.
    const auto sets = dsm->Calls(DAT_CAPABILITY, MSG_SET);
    ASSERT_GE(sets.size(), 2u);
    EXPECT_EQ(sets[0].cap, ICAP_XFERMECH);
    EXPECT_EQ(sets.back().cap, CAP_INDICATORS);
    EXPECT_EQ(sets.back().ItemType(), TWTY_BOOL);
    EXPECT_EQ(sets.back().Value(), 1u);
    dsm->log.clear();
    TTwnContainer* c = nullptr;
    EXPECT_EQ(t.GetCapability(ICAP_XRESOLUTION, MSG_GET, c), -1);
    EXPECT_TRUE(dsm->Log().empty());
    t.CloseSource();
    // A source whose list cannot be read: everything counts as supported.
    dsm->caps.erase(CAP_SUPPORTEDCAPS);
    ASSERT_TRUE(t.OpenSource(""));
    dsm->log.clear();
    EXPECT_EQ(t.GetCapability(ICAP_XRESOLUTION, MSG_GET, c), TWRC_FAILURE);
    EXPECT_EQ(dsm->Calls(DAT_CAPABILITY, MSG_GET).size(), 1u);
    t.CloseSource();
    t.CloseSourceManager();
}

TEST_F(TwainCaps, FilesAreAskedAsFile2ThenFile) {
    dsm->hook = [](FakeDsmContext& c) -> std::optional<uint16_t> {
        if (c.dat != DAT_CAPABILITY || c.msg != MSG_SET) return std::nullopt;
        auto* cap = static_cast<TW_CAPABILITY*>(c.data);
        const auto* p = static_cast<const uint8_t*>(TwnGlobal::lock(cap->hContainer));
        const uint16_t v = uint16_t(p[2] | p[3] << 8);
        TwnGlobal::unlock(cap->hContainer);
        if (cap->Cap == ICAP_XFERMECH && v == TWSX_FILE2) return TWRC_FAILURE;
        return std::nullopt;
    };
    TOrloTWAIN t(nullptr);
    EditorSettings(t);
    ASSERT_TRUE(t.OpenSourceManager());
    ASSERT_TRUE(t.OpenSource(""));
    std::vector<uint32_t> mechs;
    for (const auto& c : dsm->Calls(DAT_CAPABILITY, MSG_SET))
        if (c.cap == ICAP_XFERMECH) mechs.push_back(c.Value());
    EXPECT_EQ(mechs, (std::vector<uint32_t>{TWSX_FILE2, TWSX_FILE}));
    EXPECT_EQ(t.XferMech(), TWFX_FILES);
    EXPECT_EQ(t.FileFormat(), TWFF_BMP);
    const QFileInfo name(t.Filename());
    EXPECT_EQ(name.path(), QDir::tempPath());
    EXPECT_TRUE(name.fileName().startsWith("twn"));
    EXPECT_EQ(name.suffix(), "bmp");
    t.CloseSource();
    t.CloseSourceManager();
}

// Answers TIFF to every file-format request.
std::optional<uint16_t> AlwaysTiff(FakeDsmContext& c) {
    if (c.dat != DAT_CAPABILITY || c.msg != MSG_GET) return std::nullopt;
    auto* cap = static_cast<TW_CAPABILITY*>(c.data);
    if (cap->Cap != ICAP_IMAGEFILEFORMAT) return std::nullopt;
    return FakeDsmState::AnswerOneValue(c, TWTY_UINT16, TWFF_TIFF);
}

TEST_F(TwainCaps, NoFileFormatAgreementFallsBackToNativeAndTheNextSourceStartsAfresh) {
    dsm->hook = AlwaysTiff;
    TOrloTWAIN t(nullptr);
    EditorSettings(t);
    TTwnFileFormats formats;
    formats.set(TWFF_BMP).set(TWFF_EXIF);  // EXIF is no 0..7 fallback: this round never agrees
    t.SetFileFormats(formats);
    ASSERT_TRUE(t.OpenSourceManager());
    ASSERT_TRUE(t.OpenSource(""));
    EXPECT_EQ(t.XferMech(), TWFX_NATIVE);
    EXPECT_EQ(t.FileFormat(), TwnNoFileFormat);
    t.CloseSource();
    // A source that takes BMP gets files again: the owner's request holds.
    dsm->hook = nullptr;
    ASSERT_TRUE(t.OpenSource(""));
    EXPECT_EQ(t.XferMech(), TWFX_FILES2);
    EXPECT_EQ(t.FileFormat(), TWFF_BMP);
    t.CloseSource();
    t.CloseSourceManager();
}

TEST_F(TwainCaps, DeviceEventsAreSubscribedAndDroppedWithoutAHandler) {
    TOrloTWAIN t(nullptr);
    ASSERT_TRUE(t.OpenSourceManager());
    ASSERT_TRUE(t.OpenSource(""));
    t.SetDeviceEventTypes(TTwnDeviceEventTypes().set(TWDE_CHECKBATTERY).set(TWDE_POWERSAVE));
    auto sets = dsm->Calls(DAT_CAPABILITY, MSG_SET);
    ASSERT_FALSE(sets.empty());
    EXPECT_EQ(sets.back().cap, CAP_DEVICEEVENT);
    EXPECT_EQ(sets.back().conType, TWON_ARRAY);
    EXPECT_EQ(sets.back().payload, (std::vector<uint8_t>{4, 0, 2, 0, 0, 0, 1, 0, 15, 0}));
    // With a handler, the event's fields arrive; without, the subscription ends.
    dsm->deviceEvent.Event = TWDE_CHECKRESOLUTION;
    std::strcpy(dsm->deviceEvent.DeviceName, "cam");
    dsm->deviceEvent.XResolution = FloatToFix(300);
    QString name;
    QVariant a;
    t.OnDeviceEvent = [&](QObject*, int, const QString& n, const QVariant& x, const QVariant&, const QVariant&) {
        name = n;
        a = x;
    };
    dsm->Post(MSG_DEVICEEVENT);
    EXPECT_TRUE(PumpUntil([&] { return !name.isEmpty(); }));
    EXPECT_EQ(name, "cam");
    EXPECT_DOUBLE_EQ(a.toDouble(), 300.0);
    t.OnDeviceEvent = nullptr;
    dsm->Post(MSG_DEVICEEVENT);
    EXPECT_TRUE(PumpUntil([&] { return t.DeviceEventTypes().none(); }));
    EXPECT_TRUE(PumpUntil([&] { return dsm->Calls(DAT_CAPABILITY, MSG_SET).back().payload.size() == 6; }));
    EXPECT_EQ(dsm->Calls(DAT_CAPABILITY, MSG_SET).back().payload, (std::vector<uint8_t>{4, 0, 0, 0, 0, 0}));
    t.CloseSource();
    t.CloseSourceManager();
}

}  // namespace
