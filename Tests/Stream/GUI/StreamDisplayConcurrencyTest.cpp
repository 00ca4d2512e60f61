#include "Stream/GUI/StreamDisplay.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "Stream/Framework/TestStreams.h"
#include "Stream/GUI/PolyDataStreamDisplay.h"
#include "Stream/Simulated/FakePolyDataStream.h"

namespace Corvexis {
namespace {

// The host reads status lines and summaries on its main thread while the stream's worker emits, and
// stops watching while records still arrive: counts never go back, and nothing arrives after stop.
TEST(StreamDisplayConcurrencyTest, ReadingAndStoppingWhileTheWorkerEmits)
{
    FakePolyDataStream stream;
    stream.fps = 50;
    PolyDataStreamDisplay display(stream);
    display.startWatching();
    ASSERT_TRUE(stream.open());
    ASSERT_TRUE(stream.start());
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
    std::uint64_t seen = 0;
    std::size_t lines = 0;
    while (std::chrono::steady_clock::now() < until) {
        const std::uint64_t now = display.records();
        EXPECT_GE(now, seen);
        seen = now;
        lines += display.statusLine().size() + display.summary().size();
        std::this_thread::yield();
    }
    EXPECT_GT(lines, 0u);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (display.records() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GE(display.records(), 3u) << "the worker emitted nothing within 10 s";
    display.stopWatching();
    const std::uint64_t counted = display.records();
    // Records keep coming (the stream runs on); the display must not count them.
    const auto deadlineMore = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::atomic<std::uint64_t> more{0};
    auto connection = stream.signalStreamData.connect([&](std::shared_ptr<const StreamData>) { ++more; });
    while (more < 3 && std::chrono::steady_clock::now() < deadlineMore)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    connection.disconnect();
    EXPECT_GE(more.load(), 3u);
    EXPECT_EQ(display.records(), counted);
    EXPECT_TRUE(stream.close());
    EXPECT_EQ(display.summary().back().rfind("  per record: meshes 1", 0), 0u) << display.summary().back();
}

}  // namespace
}  // namespace Corvexis
