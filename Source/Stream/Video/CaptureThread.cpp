#include "Stream/Video/CaptureThread.h"

#include "Stream/Framework/StreamUtils.h"

namespace Corvexis {

namespace {

// The condition-variable wait ends this much before the deadline; the precise sleep covers the rest.
constexpr auto kCoarseWaitMargin = std::chrono::milliseconds(2);

}  // namespace

CaptureThread::~CaptureThread()
{
    stop();
}

void CaptureThread::start(std::function<void()> loop)
{
    stop_.store(false);
    thread_ = std::make_unique<std::thread>(std::move(loop));
}

void CaptureThread::stop()
{
    if (!thread_)
        return;
    {
        std::lock_guard wakeLock(wakeMutex_);
        stop_.store(true);
    }
    wake_.notify_all();
    thread_->join();
    thread_.reset();
    stop_.store(false);
}

bool CaptureThread::sleepUntil(std::chrono::steady_clock::time_point deadline)
{
    {
        std::unique_lock wakeLock(wakeMutex_);
        if (wake_.wait_until(wakeLock, deadline - kCoarseWaitMargin, [this] { return stop_.load(); }))
            return false;
    }
    StreamUtils::preciseSleep(deadline - std::chrono::steady_clock::now());
    return !stop_.load();
}

}  // namespace Corvexis
