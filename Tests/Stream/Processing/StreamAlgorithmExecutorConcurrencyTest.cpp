#include "Stream/Processing/StreamAlgorithmExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "Stream/Framework/TestImageStreams.h"
#include "Stream/Processing/AlgorithmExecutorStream.h"
#include "Stream/Processing/TestProcessors.h"

namespace Corvexis {
namespace {

using Test::ManualImageStream;
using Test::TestAlgorithmFactory;

// Frames flow from a producer thread while another thread renames the algorithm, changes the queue
// size and reconfigures the live algorithm. Every result must come from one of the configurations that
// were in force, results keep the arrival order, and nothing deadlocks or races.
TEST(StreamAlgorithmExecutorConcurrencyTest, RenameAndReconfigureWhileFramesFlow)
{
    TestAlgorithmFactory factory;
    ManualImageStream input;
    StreamAlgorithmExecutor executor(input);
    executor.setStreamAlgorithmName("Test.Add");

    std::mutex mutex;
    std::uint64_t lastArrival = 0;
    int results = 0;
    int bad = 0;
    auto connection =
        executor.outputStream()->signalStreamData.connect([&](std::shared_ptr<const StreamData> d) {
            auto record = std::dynamic_pointer_cast<const ImageStreamData>(d);
            const int got = static_cast<const std::uint8_t*>(record->images().front()->mem()->data())[0];
            const int sent = static_cast<int>(record->timestampArrival() % 200);
            const int added = got - sent;
            std::lock_guard lock(mutex);
            if (record->timestampArrival() <= lastArrival || (added != 1 && added != 10 && added != 3))
                ++bad;
            lastArrival = record->timestampArrival();
            ++results;
        });

    std::atomic<bool> done{false};
    std::thread producer([&] {
        const ImageDescriptor frame(ImageDescriptor::kUByte, 8, 8);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        for (std::uint64_t i = 1; i <= 20000 && std::chrono::steady_clock::now() < end; ++i)
            input.emitFrame(frame, static_cast<std::uint8_t>(i % 200), i);
        done = true;
    });

    int round = 0;
    while (!done.load()) {
        executor.setStreamAlgorithmName(round % 2 == 0 ? "Test.AddTen" : "Test.Add");
        Properties config;
        config.setParam("queueSize", 1 + round % 6);
        if (round % 3 == 0)
            config.addSubProperties("algorithmConfig")->setParam("amount", 3);
        executor.configure(&config);
        Properties current;
        executor.configuration(&current);
        EXPECT_FALSE(executor.streamAlgorithmName().empty());
        ++round;
        std::this_thread::yield();
    }
    producer.join();
    executor.waitUntilCompleted();
    connection.disconnect();

    std::lock_guard lock(mutex);
    EXPECT_EQ(bad, 0);
    EXPECT_GT(results, 0);
    EXPECT_GT(round, 1);
}

// Destroying the executor while frames are still being pushed and processed ends cleanly.
TEST(StreamAlgorithmExecutorConcurrencyTest, DestructionWhileFramesFlow)
{
    TestAlgorithmFactory factory;
    ManualImageStream input;
    const std::size_t connectionsBefore = input.signalStreamData.connectionCount();
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        const ImageDescriptor frame(ImageDescriptor::kUByte, 4, 4);
        for (int i = 0; i < 100000 && !stop.load(); ++i)
            input.emitFrame(frame, 1, static_cast<std::uint64_t>(i));
    });
    for (int i = 0; i < 20; ++i) {
        auto executor = std::make_unique<StreamAlgorithmExecutor>(input);
        executor->setStreamAlgorithmName("Test.Add");
        std::this_thread::yield();
        executor.reset();
    }
    stop = true;
    producer.join();
    // Every executor let go of the input.
    EXPECT_EQ(input.signalStreamData.connectionCount(), connectionsBefore);
}

}  // namespace
}  // namespace Corvexis
