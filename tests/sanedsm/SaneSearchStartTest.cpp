// The device search when the bridge's thread cannot be started.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>

#include "SaneTestSupport.h"
#include "ThreadStartFaults.h"
#include "TwnDefs.h"

#ifdef SANE_TWAINDSM_DIR

namespace {

using TEntry = TW_UINT16 (*)(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);

// Opening the manager starts a search whose thread cannot be started; the
// next device list starts it again and it ends.
int SearchAfterAFailedStart() {
    void* library = dlopen(SANE_TWAINDSM_DIR "/libvisara_twaindsm.so", RTLD_NOW | RTLD_LOCAL);
    const auto entry = library ? reinterpret_cast<TEntry>(dlsym(library, "DSM_Entry")) : nullptr;
    const auto wait = library ? reinterpret_cast<int (*)(int)>(dlsym(library, "SaneDsm_WaitForDevices")) : nullptr;
    if (!entry || !wait) return 2;
    TW_IDENTITY app{}, first{};
    FailNextThreadStart();
    if (entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr) != TWRC_SUCCESS) return 3;
    entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &first);
    if (wait(30000) == 1) return 0;
    std::fputs("the search stayed under way\n", stderr);
    return 1;
}

}  // namespace

// In a process of its own, where the bridge's thread has not yet been started.
TEST(SaneSearch, AThreadThatCannotStartLeavesTheSearchToTheNextList) {
    ASSERT_TRUE(SaneTestConfig());
    if (SaneReportedSize("test:0").first == 0) GTEST_SKIP() << "no SANE test backend";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            alarm(50);
            _exit(SearchAfterAFailedStart());
        },
        ::testing::ExitedWithCode(0), "");
}

#endif
