// libFuzzer entry for the framer and parser: arbitrary bytes as the serial line might carry them.
#include "fuzz/ProtocolHarness.h"

#include <cstdio>
#include <unistd.h>

namespace {

// The digest goes somewhere the optimiser must honour, so no read of a record can be dropped.
volatile uint64_t uiDigestSink;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Runs before the fuzzer closes standard error (-close_fd_mask=2): broken rules keep a copy of it.
    const int iFd = dup(STDERR_FILENO);
    if (iFd >= 0)
        fuzz::SetFailureStream(fdopen(iFd, "w"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbyData, size_t uiSize) {
    uiDigestSink = fuzz::RunProtocolInput(pbyData, uiSize);
    return 0;
}
