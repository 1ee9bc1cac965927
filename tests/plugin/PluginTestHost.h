// A host image editor for the plug-in library: loads a fresh copy of the
// built library with dlopen (the library reads the registry when it is
// loaded, so every test chooses its own), fills the filter record, serves
// input and output buffers of exactly rowBytes x rows through advanceState,
// records messages and runs the selectors in the host's order.
#pragma once

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "visara_filter_api.h"

namespace plugintest {

namespace fs = std::filesystem;

struct TMessage {
    std::string Text;
    std::string Caption;
    uint32_t Flags = 0;
    void* Window = nullptr;
};

inline bool IsEmpty(const VisaraRect& r) { return r.right <= r.left || r.bottom <= r.top; }
inline bool IsZero(const VisaraRect& r) { return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0; }

class THost {
public:
    // The default image: 5 x 3 pixels of a larger canvas, pixel (x, y) of
    // the rectangle R = 10x, G = 20y, B = 7 (and transparency 0x40).
    int16_t Planes = 3;
    int16_t ImageMode = VisaraRGBMode;
    VisaraRect FilterRect{2, 1, 7, 4};
    int32_t InRowBytes = 16;
    int32_t OutRowBytes = 15;
    // Answers of advanceState for the input and the output.
    int16_t InAnswer = 0;
    int16_t OutAnswer = 0;
    bool NoAdvanceState = false;
    bool NoCallbacks = false;
    // Hands out a null pointer with the data.
    bool NullInData = false;
    // Claims InRowBytes but serves 16 bytes only (for rows that must never
    // be read).
    bool SmallInBuffer = false;

    std::vector<uint8_t> In;
    std::vector<uint8_t> Out;
    int InRequests = 0;
    int OutRequests = 0;
    int Pumps = 0;
    std::vector<TMessage> Messages;
    VisaraFilterRecord Record{};
    VisaraPlatformData Platform{};
    int WindowTag = 0;

    static uint8_t Pixel(int32_t x, int32_t y, int c) {
        const uint8_t values[4] = {uint8_t(10 * x), uint8_t(20 * y), 7, 0x40};
        return values[c];
    }

    int32_t Width() const { return FilterRect.right - FilterRect.left; }
    int32_t Height() const { return FilterRect.bottom - FilterRect.top; }
    // Row y of the image the filter handed back.
    const uint8_t* OutRow(int32_t y) const { return Out.data() + size_t(y) * size_t(OutRowBytes); }

    void Prepare() {
        Record = VisaraFilterRecord{};
        Record.filterRect = FilterRect;
        Record.planes = Planes;
        Record.imageMode = ImageMode;
        Record.inRowBytes = InRowBytes;
        Record.outRowBytes = OutRowBytes;
        Record.advanceState = NoAdvanceState ? nullptr : &Advance;
        Platform.window = &WindowTag;
        Platform.showMessage = NoCallbacks ? nullptr : &ShowMessage;
        Platform.processEvents = NoCallbacks ? nullptr : &ProcessEvents;
        Record.platformData = &Platform;
    }

    static thread_local THost* Active;

private:
    static int16_t Advance() {
        THost& h = *Active;
        VisaraFilterRecord& r = h.Record;
        if (!IsEmpty(r.inRect)) {
            ++h.InRequests;
            if (h.InAnswer != 0) return h.InAnswer;
            const int32_t w = r.inRect.right - r.inRect.left, rows = r.inRect.bottom - r.inRect.top;
            const int32_t planes = r.inHiPlane - r.inLoPlane + 1;
            h.In.assign(h.SmallInBuffer ? 16 : size_t(r.inRowBytes) * size_t(rows), 0xEE);
            for (int32_t y = 0; y < rows && !h.SmallInBuffer; ++y)
                for (int32_t x = 0; x < w; ++x)
                    for (int32_t c = 0; c < planes; ++c)
                        h.In[size_t(y) * size_t(r.inRowBytes) + size_t(x * planes + c)] = Pixel(x, y, c);
            r.inData = h.NullInData ? nullptr : h.In.data();
        }
        if (!IsEmpty(r.outRect)) {
            ++h.OutRequests;
            if (h.OutAnswer != 0) return h.OutAnswer;
            const int32_t rows = r.outRect.bottom - r.outRect.top;
            h.Out.assign(size_t(r.outRowBytes) * size_t(rows), 0xAB);
            r.outData = h.Out.data();
        }
        return 0;
    }
    static void ShowMessage(void* window, const char* text, const char* caption, uint32_t flags) {
        Active->Messages.push_back({text, caption, flags, window});
    }
    static void ProcessEvents(void* window) {
        EXPECT_EQ(window, &Active->WindowTag);
        ++Active->Pumps;
    }
};

inline thread_local THost* THost::Active = nullptr;

// Sets an environment variable for one test and puts the old value back.
class TEnvironment {
public:
    ~TEnvironment() {
        for (const auto& [name, value] : FSaved)
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
    }
    void Set(const std::string& name, const std::string& value) {
        Save(name);
        setenv(name.c_str(), value.c_str(), 1);
    }
    void Unset(const std::string& name) {
        Save(name);
        unsetenv(name.c_str());
    }

private:
    void Save(const std::string& name) {
        if (FSaved.count(name)) return;
        const char* value = getenv(name.c_str());
        FSaved[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> FSaved;
};

inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

class PluginFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "visara-plugin-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        Dir = fs::canonical(pattern);
        Tmp = Dir / "tmp";
        fs::create_directories(Tmp);
        Env.Set("TMPDIR", Tmp.string());
        Env.Set("VISARA_REGISTRY_ROOT", (Dir / "registry").string());
    }

    void TearDown() override {
        if (Library) dlclose(Library);
        std::error_code ignored;
        fs::remove_all(Dir, ignored);
    }

    fs::path KeyFile() const { return Dir / "registry/SOFTWARE/Velmora/Photo Plugins/Visara.ini"; }
    void Register(const std::string& program) { WriteText(KeyFile(), "@=" + program + "\n"); }

    // Loads a copy of the library, which reads the registry now.
    void Load() {
        static int copies = 0;
        const fs::path copy = Dir / ("VisaraPlugin-" + std::to_string(++copies) + ".so");
        fs::copy_file(VISARA_PLUGIN_LIBRARY, copy);
        LoadFile(copy);
    }
    void LoadFile(const fs::path& library) {
        Library = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_TRUE(Library) << dlerror();
        Entry = reinterpret_cast<VisaraEntryPoint>(dlsym(Library, VISARA_ENTRY_POINT_NAME));
        ASSERT_TRUE(Entry);
    }

    int16_t Call(int16_t selector, void* block) {
        int16_t result = 12345;
        intptr_t data = 0;
        Entry(selector, block, &data, &result);
        return result;
    }

    // Runs the filter as a host does: Parameters, Prepare, Start, Continue
    // while it asks for data, Finish. Answers Start's result.
    int16_t Run(THost& host) {
        THost::Active = &host;
        host.Prepare();
        EXPECT_EQ(Call(VisaraSelectorParameters, &host.Record), VisaraNoErr);
        EXPECT_EQ(Call(VisaraSelectorPrepare, &host.Record), VisaraNoErr);
        const int16_t result = Call(VisaraSelectorStart, &host.Record);
        for (int i = 0; i < 3 && !(IsEmpty(host.Record.inRect) && IsEmpty(host.Record.outRect) &&
                                   IsEmpty(host.Record.maskRect));
             ++i)
            EXPECT_EQ(Call(VisaraSelectorContinue, &host.Record), VisaraNoErr);
        EXPECT_EQ(Call(VisaraSelectorFinish, &host.Record), VisaraNoErr);
        EXPECT_TRUE(IsZero(host.Record.inRect) && IsZero(host.Record.outRect) && IsZero(host.Record.maskRect));
        THost::Active = nullptr;
        return result;
    }

    // Runs the filter on a host of this layout and expects it to end well
    // and silently; true when the host then holds every output row.
    bool RunWithLayout(THost& host, int16_t planes, int32_t inRowBytes, int32_t outRowBytes) {
        host.Planes = planes;
        host.InRowBytes = inRowBytes;
        host.OutRowBytes = outRowBytes;
        EXPECT_EQ(Run(host), VisaraNoErr);
        EXPECT_TRUE(host.Messages.empty());
        const size_t expected = size_t(outRowBytes) * size_t(host.Height());
        EXPECT_EQ(host.Out.size(), expected);
        return host.Out.size() == expected;
    }

    bool TmpIsEmpty() const { return fs::is_empty(Tmp); }

    fs::path Dir;
    fs::path Tmp;
    TEnvironment Env;
    void* Library = nullptr;
    VisaraEntryPoint Entry = nullptr;
};

}  // namespace plugintest
