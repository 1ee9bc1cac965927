// Shared set-up of the import tests: the scripted data source manager,
// reached both by the component (through its folder rule) and by the test
// (for scripting and the call log), and event pumping with a deadline.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <functional>

#include "FakeTwainDsm.h"

inline FakeDsmState* FakeDsm() {
    static FakeDsmState* state = [] {
        void* h = dlopen(FAKE_TWAINDSM_DIR "/libvisara_twaindsm.so", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!h) return static_cast<FakeDsmState*>(nullptr);
        auto get = reinterpret_cast<FakeDsmState* (*)()>(dlsym(h, "FakeDsm_State"));
        return get ? get() : nullptr;
    }();
    return state;
}

// Runs the UI thread's events until pred holds; false after the deadline.
inline bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// Every import test starts from a fresh fake and points the component at it.
class FakeDsmTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("VISARA_TWAIN_DSM_DIR", FAKE_TWAINDSM_DIR);
        dsm = FakeDsm();
        ASSERT_NE(dsm, nullptr);
        dsm->Reset();
    }
    void TearDown() override { dsm->Reset(); }

    FakeDsmState* dsm = nullptr;
};

#include <QString>
#include <cstring>
#include <vector>

#include "OrloTWAIN.h"
#include "OrloTWAINDib.h"

// A bottom-up 24-bit BMP file or packed DIB of w x h pixels, pixel (x, y)
// holding x + 16 * y in every channel.
inline std::vector<uint8_t> MakeDib(int32_t w, int32_t h, bool withFileHeader, int32_t pelsPerMeter = 0) {
    const uint32_t stride = uint32_t((w * 24 + 31) / 32 * 4);
    std::vector<uint8_t> out(withFileHeader ? 14 : 0, 0);
    TwnBitmapInfoHeader bi{};
    bi.biSize = 40;
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biXPelsPerMeter = bi.biYPelsPerMeter = pelsPerMeter;
    const size_t at = out.size();
    out.resize(at + 40 + stride * uint32_t(h), 0);
    std::memcpy(out.data() + at, &bi, 40);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) out[at + 40 + size_t(y) * stride + size_t(x) * 3 + size_t(c)] = uint8_t(x + 16 * y);
    if (withFileHeader) {
        TwnBitmapFileHeader fh{TwnBmpSignature, uint32_t(out.size()), 0, 0, 54};
        std::memcpy(out.data(), &fh, 14);
    }
    return out;
}

// What the component's events delivered.
struct TwainRecorder {
    struct Image {
        void* pBmp;
        bool hasInfo;
        alignas(8) TwnBitmapInfoHeader info;  // aligned: the tests read its fields by reference
        void* hImage;
        QString path;
    };
    std::vector<Image> images;
    std::vector<std::string> events;
    struct Failure {
        int dg, dat, cap, msg, error, status;
    };
    std::vector<Failure> failures;
    int enableMenus = 0, disableMenus = 0, ready = 0;

    void Attach(TOrloTWAIN& t) {
        t.SetOnImageReady([this](void*, void* pBmp, const TwnBitmapInfoHeader* info, void* h, const QString& path) {
            images.push_back({pBmp, info != nullptr, info ? *info : TwnBitmapInfoHeader{}, h, path});
            events.push_back("image");
        });
        t.SetOnEnableMenus([this](void*) {
            ++enableMenus;
            events.push_back("enable");
        });
        t.OnDisableMenus = [this](void*) {
            ++disableMenus;
            events.push_back("disable");
        };
        t.SetOnFailure([this](void*, int dg, uint16_t dat, uint16_t cap, uint16_t msg, int e, int s) {
            failures.push_back({dg, dat, cap, msg, e, s});
        });
        t.SetOnXferReady([this](void*) { ++ready; });
    }
    ~TwainRecorder() {
        for (Image& i : images)
            if (i.hImage) TwnFreeImage(i.hImage);
    }
};

// The editor's settings: BMP files, no handle returned.
inline void EditorSettings(TOrloTWAIN& t) {
    t.SetXferMech(TWFX_FILES);
    t.SetFileFormat(TWFF_BMP);
    t.SetReturnHandle(false);
}

inline bool SessionEnded(TOrloTWAIN& t) { return t.TwainState() == 1 && !t.DSMOpen(); }
