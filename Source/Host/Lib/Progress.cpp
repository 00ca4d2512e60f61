#include "Host/Lib/Progress.h"

namespace Corvexis {

void Progress::beginTask(const std::string& text, int steps)
{
    {
        std::lock_guard lock(textMutex_);
        text_ = text;
    }
    steps_.store(steps);
    done_.store(0);
    active_.store(true);
}

void Progress::advance(int steps)
{
    done_.fetch_add(steps);
}

void Progress::endTask()
{
    active_.store(false);
}

std::string Progress::text() const
{
    std::lock_guard lock(textMutex_);
    return text_;
}

}  // namespace Corvexis
