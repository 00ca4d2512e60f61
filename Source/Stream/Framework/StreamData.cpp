#include "Stream/Framework/StreamData.h"

namespace Corvexis {

void StreamData::setTimestampArrival(std::chrono::system_clock::time_point time)
{
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    const std::int64_t ticks = std::chrono::duration_cast<Ticks>(time.time_since_epoch()).count();
    // Integer division truncates toward zero, also for time points before the epoch.
    timestampArrival_ = static_cast<std::uint64_t>(ticks / 10000);
}

}  // namespace Corvexis
