// libFuzzer entry for the window's device side: arbitrary replies of the instrument on a real port.
#include "fuzz/DeviceHarness.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

DeviceHarness* pHarness = nullptr;

} // namespace

// Qt comes without frame pointers: past the allocating call, the fast unwinder reads stack garbage, and the
// sanitizer keeps every new stack it records for good, which grows without bound over millions of inputs.
// The allocation site itself is kept.
extern "C" const char* __asan_default_options() {
    return "malloc_context_size=2";
}

// Fontconfig, under Qt's text layout, keeps caches that the leak checker takes for leaks.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Runs before the fuzzer closes standard error (-close_fd_mask=2): broken rules keep a copy of it.
    const int iFd = dup(STDERR_FILENO);
    if (iFd >= 0)
        DeviceHarness::SetFailureStream(fdopen(iFd, "w"));
    pHarness = new DeviceHarness;
    if (!pHarness->SetUp())
        exit(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbyData, size_t uiSize) {
    pHarness->Run(pbyData, uiSize);
    return 0;
}
