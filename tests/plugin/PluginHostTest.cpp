// The plug-in library in a test host, against a fake program that covers
// every way the program can end.
#include <link.h>
#include <signal.h>

#include <cstring>

#include "PluginTestHost.h"

using namespace plugintest;

namespace {

class PluginHostTest : public PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        Log = Dir / "fake.log";
        Env.Set("FAKE_VISARA_LOG", Log.string());
        for (const char* name : {"FAKE_VISARA_MODE", "FAKE_VISARA_PLANES", "FAKE_VISARA_ROWBYTES",
                                 "FAKE_VISARA_HEADERSIZE", "FAKE_VISARA_WIDTH", "FAKE_VISARA_HEIGHT",
                                 "FAKE_VISARA_IMAGEMODE", "FAKE_VISARA_LENGTH", "FAKE_VISARA_DELAY_MS"})
            Env.Unset(name);
    }

    // The fake program, registered under a folder whose name has a blank.
    void RegisterFake() {
        ProgramFolder = Dir / "My Programs";
        fs::create_directories(ProgramFolder);
        fs::create_symlink(FAKE_VISARA_PROGRAM, ProgramFolder / "Visara");
        Register((ProgramFolder / "Visara").string());
    }

    void LoadWithFake(const std::string& mode) {
        RegisterFake();
        Env.Set("FAKE_VISARA_MODE", mode);
        Load();
    }

    std::map<std::string, std::string> FakeLog() const {
        std::map<std::string, std::string> values;
        std::istringstream in(ReadText(Log));
        for (std::string line; std::getline(in, line);)
            if (const size_t eq = line.find('='); eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
        return values;
    }

    // What the fake writes back in its "ok" mode: the input inverted.
    static uint8_t Inverted(int32_t x, int32_t y, int c) { return uint8_t(255 - THost::Pixel(x, y, c)); }

    fs::path Log;
    fs::path ProgramFolder;
};

TEST_F(PluginHostTest, LibraryExportsTheEntryAndTheTableOnlyAndPullsInNoQt) {
    Register("/nowhere/Visara");
    Load();
    auto table = reinterpret_cast<VisaraPiplFunction>(dlsym(Library, VISARA_PIPL_NAME));
    ASSERT_TRUE(table);
    // Our own symbols stay hidden.
    EXPECT_EQ(dlsym(Library, "PhotoshopFilter"), nullptr);

    int count = 0;
    const VisaraPiplProperty* p = table(&count);
    ASSERT_EQ(count, 8);
    const char* keys[8] = {"kind", "name", "catg", "vers", "lx64", "mode", "enbl", "fici"};
    for (int i = 0; i < 8; ++i) {
        EXPECT_STREQ(p[i].vendor, "8BIM");
        EXPECT_STREQ(p[i].key, keys[i]);
    }
    auto text = [](const VisaraPiplProperty& q) { return std::string(static_cast<const char*>(q.value), q.size); };
    EXPECT_EQ(text(p[0]), "8BFM");
    EXPECT_EQ(text(p[1]), std::string("\x09") + "Visara...");
    EXPECT_EQ(text(p[2]), "Velmora");
    ASSERT_EQ(p[3].size, 4u);
    EXPECT_EQ(*static_cast<const uint32_t*>(p[3].value), 0x00020005u);
    EXPECT_EQ(text(p[4]), "ENTRYPOINT");
    EXPECT_EQ(*static_cast<const uint32_t*>(p[5].value), 1u << VisaraRGBMode);
    EXPECT_EQ(text(p[6]), "in (PSHOP_ImageMode,RGBMode)");
    ASSERT_EQ(p[7].size, sizeof(VisaraFilterCase) * VisaraFilterCaseCount);
    const auto* cases = static_cast<const VisaraFilterCase*>(p[7].value);
    const uint8_t flags[7] = {0x07, 0x0F, 0x0F, 0x07, 0x0F, 0x07, 0x0F};
    for (int i = 0; i < VisaraFilterCaseCount; ++i) {
        EXPECT_EQ(cases[i].inHandling, 1) << i;
        EXPECT_EQ(cases[i].outHandling, 1) << i;
        EXPECT_EQ(cases[i].flags, flags[i]) << i;
    }

    // This process links no Qt, so any Qt library loaded now came with the plug-in.
    int qtLibraries = 0;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* found) {
            if (info->dlpi_name && std::strstr(info->dlpi_name, "libQt")) ++*static_cast<int*>(found);
            return 0;
        },
        &qtLibraries);
    EXPECT_EQ(qtLibraries, 0);
}

TEST_F(PluginHostTest, OnlyAboutAndStartDoAnything) {
    RegisterFake();
    Load();
    THost host;
    THost::Active = &host;
    host.Prepare();
    VisaraAboutRecord about{&host.Platform};
    EXPECT_EQ(Call(VisaraSelectorAbout, &about), VisaraNoErr);
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0].Text, "Visara Plug-in\nVersion: 4.1");
    EXPECT_EQ(host.Messages[0].Caption, "About Visara Plug-in");
    EXPECT_EQ(host.Messages[0].Flags, uint32_t(VisaraMessageOK));
    EXPECT_EQ(host.Messages[0].Window, &host.WindowTag);

    for (int16_t selector : {1, 2, 4, 5}) EXPECT_EQ(Call(selector, &host.Record), VisaraNoErr) << selector;
    for (int16_t selector : {6, 7, -1, 300}) EXPECT_EQ(Call(selector, &host.Record), VisaraFilterBadParameters);
    EXPECT_EQ(Call(VisaraSelectorStart, nullptr), VisaraFilterBadParameters);
    EXPECT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.InRequests + host.OutRequests, 0);
    EXPECT_TRUE(TmpIsEmpty());
    EXPECT_FALSE(fs::exists(Log));
    THost::Active = nullptr;
}

TEST_F(PluginHostTest, ProgramThatCannotStartIsNamedWithTheSystemsCode) {
    struct TCase {
        const char* Name;
        std::optional<std::string> KeyFile;  // none: not registered at all
        std::string Expected;
    };
    const std::string notExecutable = (Dir / "readme.txt").string();
    WriteText(notExecutable, "not a program");
    const TCase cases[] = {
        {"unregistered", std::nullopt, "Execute application \"\" error: 2"},
        {"other values only", "Path=/usr/bin/true\n", "Execute application \"\" error: 2"},
        {"value too long", "@=/" + std::string(1023, 'x') + "\n", "Execute application \"\" error: 2"},
        {"missing program", "Other=1\r\n@=/nowhere/Visara\r\n", "Execute application \"/nowhere/Visara\" error: 2"},
        {"not executable", "@=" + notExecutable + "\n", "Execute application \"" + notExecutable + "\" error: 13"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove(KeyFile());
        if (c.KeyFile) WriteText(KeyFile(), *c.KeyFile);
        Load();
        THost host;
        EXPECT_EQ(Run(host), VisaraStartErr);
        ASSERT_EQ(host.Messages.size(), 1u);
        EXPECT_EQ(host.Messages[0].Text, c.Expected);
        EXPECT_EQ(host.Messages[0].Caption, "Error");
        EXPECT_EQ(host.Messages[0].Flags, uint32_t(VisaraMessageIconError));
        EXPECT_EQ(host.Messages[0].Window, &host.WindowTag);
        EXPECT_EQ(host.OutRequests, 0);
        EXPECT_TRUE(TmpIsEmpty());
        dlclose(Library);
        Library = nullptr;
    }
}

TEST_F(PluginHostTest, UnloadedLibraryIsGoneAndAReloadReadsTheRegistryAfresh) {
    // One file loaded twice: a library the loader keeps would still hold the
    // first program's path.
    const fs::path library = Dir / "VisaraPlugin.so";
    fs::copy_file(VISARA_PLUGIN_LIBRARY, library);
    auto mapped = [&] { return ReadText("/proc/self/maps").find(library.string()) != std::string::npos; };
    for (const char* program : {"/nowhere/First", "/nowhere/Second"}) {
        SCOPED_TRACE(program);
        Register(program);
        ASSERT_NO_FATAL_FAILURE(LoadFile(library));
        EXPECT_TRUE(mapped());
        THost host;
        EXPECT_EQ(Run(host), VisaraStartErr);
        ASSERT_EQ(host.Messages.size(), 1u);
        EXPECT_EQ(host.Messages[0].Text, "Execute application \"" + std::string(program) + "\" error: 2");
        EXPECT_EQ(dlclose(Library), 0);
        Library = nullptr;
        EXPECT_FALSE(mapped());
    }
}

TEST_F(PluginHostTest, InputThatDoesNotArriveEndsBeforeAnyFileOrProgram) {
    LoadWithFake("ok");
    THost refused, noCall, nullData;
    refused.InAnswer = -1;
    noCall.NoAdvanceState = true;
    nullData.NullInData = true;
    for (THost* host : {&refused, &noCall, &nullData}) {
        EXPECT_EQ(Run(*host), VisaraStartErr);
        ASSERT_EQ(host->Messages.size(), 1u);
        EXPECT_EQ(host->Messages[0].Text, "Get image data error.");
        EXPECT_EQ(host->Messages[0].Caption, "Error");
        EXPECT_EQ(host->OutRequests, 0);
    }
    EXPECT_TRUE(TmpIsEmpty());
    EXPECT_FALSE(fs::exists(Log));
}

TEST_F(PluginHostTest, ImageTooLargeForTheFilesFieldsIsRefusedUnread) {
    LoadWithFake("ok");
    // The host claims rows it does not have: nothing of them may be read.
    THost wide, tall;
    wide.SmallInBuffer = tall.SmallInBuffer = true;
    wide.InRowBytes = 0x7FFFFFF0;
    wide.FilterRect = {0, 0, 1, 1};
    tall.InRowBytes = 0x40000000;
    tall.FilterRect = {0, 0, 1, 2};
    for (THost* host : {&wide, &tall}) {
        EXPECT_EQ(Run(*host), VisaraStartErr);
        ASSERT_EQ(host->Messages.size(), 1u);
        EXPECT_EQ(host->Messages[0].Text, "Create temp file error.");
    }
    EXPECT_TRUE(TmpIsEmpty());
    EXPECT_FALSE(fs::exists(Log));
}

TEST_F(PluginHostTest, RoundTripCopiesEachRowUpToTheShorterStride) {
    LoadWithFake("ok");
    Env.Set("FAKE_VISARA_DELAY_MS", "60");
    THost host;  // the fake writes rows of 16 bytes
    ASSERT_TRUE(RunWithLayout(host, 3, 16, 15));
    EXPECT_GT(host.Pumps, 0);
    EXPECT_EQ(host.InRequests, 1);
    EXPECT_EQ(host.OutRequests, 1);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(host.Out[size_t(y * 15 + x * 3 + c)], Inverted(x, y, c));

    // What the program was given: its path and the file, in its folder, and
    // the host's rows as they were, with the rectangle's place.
    const auto log = FakeLog();
    EXPECT_EQ(log.at("argc"), "2");
    EXPECT_EQ(log.at("argv0"), (ProgramFolder / "Visara").string());
    const fs::path temp = log.at("argv1");
    EXPECT_EQ(temp.parent_path(), Tmp);
    EXPECT_EQ(temp.filename().string().substr(0, 4), "PSPF");
    EXPECT_EQ(temp.extension(), ".tmp");
    EXPECT_EQ(log.at("cwd"), ProgramFolder.string());
    EXPECT_EQ(log.at("magic"), "PSPF");
    EXPECT_EQ(log.at("length"), std::to_string(36 + 16 * 3));
    const int32_t header[8] = {32, 3, 2, 1, 5, 3, 16, 3};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(log.at("field" + std::to_string(i)), std::to_string(header[i])) << i;
    EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(PluginHostTest, ReturnedImagesOfOtherLayoutsComeBackExactly) {
    LoadWithFake("ok");
    struct TCase {
        const char* Name;
        int16_t Planes;
        int32_t OutRowBytes;
        const char* FakePlanes;
        const char* FakeRowBytes;
        const char* FakeHeaderSize;
        // Bytes per out row that take the fake's row (the rest stays 0xAB).
        int32_t Copied;
    } cases[] = {
        {"wider file rows", 3, 15, "3", "24", "32", 15},
        {"wider host rows", 3, 20, "3", "16", "32", 16},
        {"longer header", 3, 15, "3", "16", "40", 15},
        {"4 host planes, 3 returned", 4, 22, "3", "16", "32", 20},
        {"4 planes both ways", 4, 20, "4", "20", "32", 20},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Env.Set("FAKE_VISARA_PLANES", c.FakePlanes);
        Env.Set("FAKE_VISARA_ROWBYTES", c.FakeRowBytes);
        Env.Set("FAKE_VISARA_HEADERSIZE", c.FakeHeaderSize);
        THost host;
        ASSERT_TRUE(RunWithLayout(host, c.Planes, 5 * c.Planes + 1, c.OutRowBytes));
        for (int32_t y = 0; y < 3; ++y) {
            const uint8_t* row = host.OutRow(y);
            for (int32_t x = 0; x < 5; ++x) {
                const uint8_t* p = row + x * c.Planes;
                for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(p[ch], Inverted(x, y, ch)) << x << "," << y;
                // The fake's fourth byte comes along in a row copy; a 3-plane
                // file makes the host's transparency opaque.
                if (c.Planes == 4) {
                    EXPECT_EQ(p[3], std::strcmp(c.FakePlanes, "4") == 0 ? 0x11 : 255);
                }
            }
            // Row padding: the fake's padding bytes up to the shorter stride.
            for (int32_t i = 5 * c.Planes; i < c.OutRowBytes; ++i)
                EXPECT_EQ(row[i], i < c.Copied && std::strcmp(c.FakePlanes, std::to_string(c.Planes).c_str()) == 0
                                      ? 0xCC
                                      : 0xAB)
                    << i;
        }
    }
    EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(PluginHostTest, UnchangedFileCopiesTheHostsOwnImageBack) {
    // The program leaves the file alone when it cannot open the image, and
    // still ends with 0.
    LoadWithFake("keep");
    THost host;
    host.Planes = 4;
    host.InRowBytes = 20;
    host.OutRowBytes = 20;
    EXPECT_EQ(Run(host), VisaraNoErr);
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_EQ(host.Out, host.In);
    EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(PluginHostTest, CancelCrashAndFailureCopyNothingAndSayNothing) {
    RegisterFake();
    Load();
    for (const char* mode : {"cancel", "abort", "exit1"}) {
        SCOPED_TRACE(mode);
        Env.Set("FAKE_VISARA_MODE", mode);
        fs::remove(Log);
        THost host;
        EXPECT_EQ(Run(host), VisaraUserCanceledErr);
        EXPECT_TRUE(host.Messages.empty());
        EXPECT_EQ(host.OutRequests, 0);
        EXPECT_TRUE(fs::exists(Log));  // it did run
        EXPECT_TRUE(TmpIsEmpty());
    }
}

TEST_F(PluginHostTest, HostThatIgnoresChildrenGetsNothingCopied) {
    LoadWithFake("ok");
    struct sigaction ignore {}, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGCHLD, &ignore, &old);
    THost host;
    const int16_t result = Run(host);
    sigaction(SIGCHLD, &old, nullptr);
    EXPECT_EQ(result, VisaraUserCanceledErr);
    EXPECT_EQ(host.OutRequests, 0);
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(PluginHostTest, DamagedReturnedFilesAreRefusedWithoutReadingPastThem) {
    LoadWithFake("ok");
    // 5 x 3 pixels; the fake's default rows are 16 bytes, so a sound file is
    // 36 + 48 bytes long.
    struct TCase {
        const char* Name;
        std::map<std::string, std::string> Settings;
    } cases[] = {
        {"cropped", {{"FAKE_VISARA_WIDTH", "4"}}},
        {"resized", {{"FAKE_VISARA_HEIGHT", "4"}}},
        {"other mode", {{"FAKE_VISARA_IMAGEMODE", "4"}}},
        {"last row cut short", {{"FAKE_VISARA_LENGTH", "83"}}},
        {"header past the end", {{"FAKE_VISARA_HEADERSIZE", "1000"}, {"FAKE_VISARA_LENGTH", "84"}}},
        {"header shorter than the fields", {{"FAKE_VISARA_HEADERSIZE", "8"}}},
        {"negative header", {{"FAKE_VISARA_HEADERSIZE", "-36"}}},
        {"two planes", {{"FAKE_VISARA_PLANES", "2"}, {"FAKE_VISARA_ROWBYTES", "16"}}},
        {"rows narrower than the width", {{"FAKE_VISARA_ROWBYTES", "14"}}},
        {"huge rows", {{"FAKE_VISARA_ROWBYTES", "0x7FFFFFFF"}, {"FAKE_VISARA_LENGTH", "84"}}},
        {"negative rows", {{"FAKE_VISARA_ROWBYTES", "-16"}, {"FAKE_VISARA_LENGTH", "84"}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TEnvironment settings;
        for (const auto& [name, value] : c.Settings) settings.Set(name, value);
        THost host;
        EXPECT_EQ(Run(host), VisaraUserCanceledErr);
        ASSERT_EQ(host.Messages.size(), 1u);
        EXPECT_EQ(host.Messages[0].Text, "Transfer image data error.");
        EXPECT_EQ(host.Messages[0].Caption, "Error");
        EXPECT_EQ(host.Messages[0].Flags, uint32_t(VisaraMessageIconError));
        EXPECT_EQ(host.Out, std::vector<uint8_t>(45, 0xAB));
        EXPECT_TRUE(TmpIsEmpty());
    }
}

TEST_F(PluginHostTest, FilesWithoutTheMagicArePassedOverSilently) {
    RegisterFake();
    Load();
    struct TCase {
        const char* Name;
        const char* Mode;
        const char* Length;
    } cases[] = {
        {"other magic", "nomagic", nullptr},
        {"emptied", "ok", "0"},
        {"header cut", "ok", "35"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TEnvironment settings;
        settings.Set("FAKE_VISARA_MODE", c.Mode);
        if (c.Length) settings.Set("FAKE_VISARA_LENGTH", c.Length);
        THost host;
        EXPECT_EQ(Run(host), VisaraUserCanceledErr);
        EXPECT_TRUE(host.Messages.empty());
        EXPECT_EQ(host.Out, std::vector<uint8_t>(45, 0xAB));
        EXPECT_TRUE(TmpIsEmpty());
    }
}

TEST_F(PluginHostTest, OutputThatDoesNotArriveIsReportedAndNothingCopied) {
    LoadWithFake("ok");
    THost refused, noCallbacks;
    refused.OutAnswer = -1;
    EXPECT_EQ(Run(refused), VisaraUserCanceledErr);
    ASSERT_EQ(refused.Messages.size(), 1u);
    EXPECT_EQ(refused.Messages[0].Text, "Get out image data error.");
    EXPECT_TRUE(refused.Out.empty());
    EXPECT_TRUE(TmpIsEmpty());

    // Without host callbacks the run still completes; messages go to stderr.
    noCallbacks.NoCallbacks = true;
    noCallbacks.OutAnswer = -1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Run(noCallbacks), VisaraUserCanceledErr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Get out image data error.\n");
    EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(PluginHostTest, EmptyFilterAreaWritesNothingEvenWhenTheFileHasRowBytes) {
    // No columns, three rows: the host serves no buffers at all, yet the
    // returned file's rows carry bytes; nothing may be written anywhere.
    LoadWithFake("ok");
    Env.Set("FAKE_VISARA_ROWBYTES", "16");
    THost host;
    host.FilterRect = VisaraRect{2, 1, 2, 4};
    host.InRowBytes = 0;
    EXPECT_EQ(Run(host), VisaraNoErr);
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_EQ(host.OutRequests, 0);
    EXPECT_TRUE(TmpIsEmpty());
}

}  // namespace
