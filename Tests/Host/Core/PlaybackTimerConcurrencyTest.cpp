#include "Host/Core/PlaybackTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace Corvexis;
using namespace std::chrono_literals;
using Threading::PlaybackTimer;

namespace {

std::vector<double> schedule(int frames, double intervalSec)
{
    std::vector<double> times;
    for (int i = 0; i < frames; ++i)
        times.push_back(i * intervalSec);
    return times;
}

}  // namespace

// Requests from several threads while frames play: every call returns, the timer keeps its state
// consistent, and after destruction no callback runs.
TEST(PlaybackTimerConcurrencyTest, RequestsFromSeveralThreadsWhilePlaying)
{
    std::atomic<int> frames{0};
    std::atomic<int> outOfRange{0};
    std::atomic<bool> destroyed{false};
    std::atomic<int> afterDestruction{0};
    {
        PlaybackTimer timer([&](int index) {
            if (destroyed.load())
                afterDestruction.fetch_add(1);
            if (index < 0 || index >= 5)
                outOfRange.fetch_add(1);
            frames.fetch_add(1);
        });
        timer.setRangeTimestamps(schedule(5, 0.0005));
        ASSERT_TRUE(timer.start());
        const auto end = std::chrono::steady_clock::now() + 1s;
        std::thread controller([&] {
            int n = 0;
            while (std::chrono::steady_clock::now() < end) {
                switch (n++ % 4) {
                    case 0:
                        timer.pause();
                        break;
                    case 1:
                        timer.resume();
                        break;
                    case 2:
                        timer.stop();
                        break;
                    default:
                        timer.start(n % 5);
                        break;
                }
                std::this_thread::sleep_for(1ms);
            }
        });
        std::thread tuner([&] {
            bool on = false;
            while (std::chrono::steady_clock::now() < end) {
                timer.setSkipDelayedFrames(on = !on);
                timer.setLoop(true);
                (void)timer.isRunning();
                (void)timer.dueTime(1, 2);
                std::this_thread::sleep_for(200us);
            }
        });
        controller.join();
        tuner.join();
        timer.stop();
        timer.resume();
        ASSERT_TRUE(timer.start(0));
    }
    destroyed.store(true);
    EXPECT_GT(frames.load(), 0);
    EXPECT_EQ(outOfRange.load(), 0);
    EXPECT_EQ(afterDestruction.load(), 0);
}

// A callback stopping its own timer while another thread stops it too: neither waits for the other.
TEST(PlaybackTimerConcurrencyTest, StopFromTheCallbackAndFromOutsideAtOnce)
{
    for (int round = 0; round < 50; ++round) {
        std::atomic<bool> called{false};
        PlaybackTimer* self = nullptr;
        PlaybackTimer timer([&](int) {
            called.store(true);
            self->stop();
        });
        self = &timer;
        timer.setRangeTimestamps(schedule(3, 0.0002));
        ASSERT_TRUE(timer.start());
        while (!called.load())
            std::this_thread::yield();
        timer.stop();
        EXPECT_FALSE(timer.isRunning());
    }
}
