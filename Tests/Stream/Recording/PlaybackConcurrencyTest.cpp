#include "Stream/Recording/PlaybackStreamGroup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Stream/Recording/PlaybackImageStream.h"
#include "Stream/Recording/PlaybackTestData.h"
#include "Stream/Recording/PlaybackTrackingStream.h"

using namespace Corvexis;
using namespace Corvexis::PlaybackTest;
using namespace std::chrono_literals;

// Rate and speed changes, pauses and resumes from two threads while a tracked set plays fast: the
// synchronised tracking stream still answers every image with exactly one record.
TEST(PlaybackConcurrencyTest, ChangesWhilePlayingKeepTrackingOneToOneWithImages)
{
    std::vector<double> times;
    std::vector<double> seconds;
    for (int i = 0; i < 20; ++i) {
        times.push_back(i * 2.0);
        seconds.push_back(i * 0.002);
    }
    auto set = makeSet(20, times);
    auto sequence = makeSequence("probe", seconds);
    auto imageStream = std::make_unique<PlaybackImageStream>(*set);
    auto trackingStream = std::make_unique<PlaybackTrackingStream>(
        std::vector<TrackingSequence*>{sequence.get()}, imageStream.get());
    PlaybackImageStream* images = imageStream.get();
    PlaybackTrackingStream* tracking = trackingStream.get();
    PlaybackStreamGroup group;
    group.addPlaybackStream(std::move(trackingStream), *tracking);
    group.addPlaybackStream(std::move(imageStream), *images);

    std::atomic<int> imageRecords{0};
    std::atomic<int> trackingRecords{0};
    auto a =
        images->signalStreamData.connect([&](const std::shared_ptr<const StreamData>&) { ++imageRecords; });
    auto b = tracking->signalStreamData.connect(
        [&](const std::shared_ptr<const StreamData>&) { ++trackingRecords; });
    ASSERT_TRUE(group.start());

    const auto end = std::chrono::steady_clock::now() + 1s;
    std::thread rates([&] {
        int n = 0;
        while (std::chrono::steady_clock::now() < end) {
            if (n++ % 2 == 0)
                images->setFps(200 + n % 300);
            else
                tracking->setSpeedFactor(0.5 + (n % 4));
            std::this_thread::sleep_for(3ms);
        }
    });
    std::thread pauses([&] {
        while (std::chrono::steady_clock::now() < end) {
            group.pause();
            std::this_thread::sleep_for(1ms);
            group.resume();
            std::this_thread::sleep_for(2ms);
        }
    });
    rates.join();
    pauses.join();
    group.resume();
    ASSERT_TRUE(group.close());
    a.disconnect();
    b.disconnect();
    EXPECT_GT(imageRecords.load(), 0);
    EXPECT_EQ(trackingRecords.load(), imageRecords.load());
}
