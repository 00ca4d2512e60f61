#pragma once

// What the fuzz targets share besides LLVMFuzzerTestOneInput: how a broken promise ends the run, and
// keeping the host log quiet (the readers log every refusal, which would drown libFuzzer's output).

#include <cstdio>
#include <cstdlib>

#include "Host/Core/Log.h"

namespace Corvexis::FuzzCheck {

// A promise of the code under test did not hold: say which, and abort so libFuzzer keeps the input.
[[noreturn]] inline void violated(const char* target, const char* what)
{
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
}

// Removes the log's default sink once; cheap on every later call.
inline void quietLog()
{
    static const bool quiet = [] {
        Log::removeSink(Log::defaultSink());
        return true;
    }();
    (void)quiet;
}

}  // namespace Corvexis::FuzzCheck
