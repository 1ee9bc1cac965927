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
