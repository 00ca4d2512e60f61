#include "Stream/Framework/StreamUtils.h"

#include "Host/Core/PreciseSleep.h"

namespace Corvexis::StreamUtils {

void preciseSleep(std::chrono::nanoseconds d)
{
    Threading::preciseSleep(d);
}

std::chrono::nanoseconds preciseSleepGuard()
{
    return Threading::preciseSleepGuard();
}

std::optional<std::chrono::nanoseconds> timerResolution(clockid_t clock)
{
    return Threading::timerResolution(clock);
}

}  // namespace Corvexis::StreamUtils
