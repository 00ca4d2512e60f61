#include "Stream/Framework/StreamAlgorithmBase.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "Stream/Framework/CreateStreamIoAlgorithm.h"
#include "Stream/Framework/TestStreams.h"

namespace Corvexis {
namespace {

std::atomic<int> gLive{0};

class CountedStream : public Test::ScriptedStream
{
public:
    CountedStream() : ScriptedStream("counted", ThreadingMode::NoWorkerThread) { ++gLive; }
    ~CountedStream() override { --gLive; }
};

using CountedIo = CreateStreamIoAlgorithm<CountedStream, false, false>;

// The host may destroy a taken stream on any thread while the algorithm that made it is read or
// destroyed on another: resetStream and the algorithm's destruction must exclude each other.
TEST(StreamAlgorithmBaseConcurrencyTest, StreamAndAlgorithmDestroyedOnTwoThreads)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1200);
    int rounds = 0;
    int resetSeen = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        auto algorithm = std::make_unique<CountedIo>();
        algorithm->compute();
        OwningDataList output = algorithm->takeOutput();
        ASSERT_EQ(output.size(), 1u);
        std::atomic<bool> go{false};
        std::thread destroyer([&] {
            while (!go) {
            }
            output.clear();
        });
        go = true;
        if (rounds % 2 == 0) {
            // Read while the stream goes; the pointer is either the stream or null, never stale.
            while (algorithm->stream() != nullptr) {
            }
            ++resetSeen;
        }
        algorithm.reset();
        destroyer.join();
        ++rounds;
    }
    EXPECT_GT(rounds, 0);
    EXPECT_EQ(resetSeen, (rounds + 1) / 2);
    EXPECT_EQ(gLive, 0);
}

}  // namespace
}  // namespace Corvexis
