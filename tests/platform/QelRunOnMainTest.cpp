#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "QelRunOnMain.h"

// A worker hands plain data to the UI thread and takes plain data back, as
// the import's events do. Under the thread sanitizer the test fails where
// either way of the hand-over is hidden from it.
TEST(QelMainCaller, HandsOverBothWaysCarriesExceptionsAndEndsAsNoOpsWhenClosing) {
    TQelMainCaller caller;
    std::string toMain = "request", fromMain, error;
    bool ranWhileClosing = false;
    std::atomic<int> step{0};
    std::thread worker([&] {
        caller.Run([&] { fromMain = toMain + " answered"; });
        try {
            caller.Run([] { throw std::runtime_error("thrown on the UI thread"); });
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        for (step = 1; step.load() != 2;) std::this_thread::yield();
        // Pending when the UI thread closes: answered as a no-op.
        caller.Run([&] { ranWhileClosing = true; });
        step = 3;
    });
    while (step.load() != 1) QCoreApplication::processEvents();
    step = 2;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    caller.SetClosing(true);
    EXPECT_TRUE(caller.WaitUntil([&] { return step.load() == 3; }, std::chrono::seconds(10)));
    worker.join();
    EXPECT_EQ(fromMain, "request answered");
    EXPECT_EQ(error, "thrown on the UI thread");
    EXPECT_FALSE(ranWhileClosing);
}
