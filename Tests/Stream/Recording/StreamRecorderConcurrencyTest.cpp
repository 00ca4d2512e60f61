#include "Stream/Recording/StreamRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "Host/Core/Properties.h"
#include "Host/Core/TrackingSequence.h"
#include "Stream/Recording/StreamRecorderAlgorithm.h"
#include "Stream/Recording/TrackingStreamRecorder.h"
#include "Stream/Simulated/FakeTrackingStream.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

// Starting and stopping from the test thread while a 1000 Hz stream emits: each recording's output
// holds exactly the samples it counted, and nothing is stored after a stop.
TEST(StreamRecorderConcurrency, StartStopWhileTheStreamEmits)
{
    FakeTrackingStream stream;
    stream.fps = 1000.0;
    stream.addDevice(std::make_unique<FakeTrackingStream::ConstantDevice>());
    TrackingStreamRecorder recorder(stream);
    recorder.setQualityThreshold(0.0);
    ASSERT_TRUE(stream.open());
    ASSERT_TRUE(stream.start());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    int cycles = 0;
    while (std::chrono::steady_clock::now() < end && cycles < 50) {
        ASSERT_TRUE(recorder.start());
        const int before = recorder.recordedSamples();
        ASSERT_TRUE(Corvexis::Test::waitUntil([&] { return recorder.recordedSamples() >= before + 5; }));
        ASSERT_TRUE(recorder.stop());
        const int counted = recorder.recordedSamples();
        auto output = recorder.takeOutput();
        ASSERT_EQ(output.size(), 1u);
        EXPECT_EQ(dynamic_cast<TrackingSequence*>(output[0])->size(), counted);
        ++cycles;
    }
    stream.stop();
    EXPECT_GT(cycles, 0);
}

// Restarts after a bytes limit happen on the stream's thread while another thread reads the progress
// and finally stops: every restart yields one recording of exactly the limit.
TEST(StreamRecorderConcurrency, RestartsOnTheStreamThreadWhileProgressIsRead)
{
    FakeTrackingStream stream;
    stream.fps = 1000.0;
    stream.addDevice(std::make_unique<FakeTrackingStream::ConstantDevice>());
    StreamRecorderAlgorithm algorithm({&stream});
    algorithm.setSaveToFile(false);
    algorithm.setTrackingQualityThreshold(0.0);
    algorithm.setAutomaticLimitRestart(true);
    algorithm.setLimits(0.0, 0.0, 0, 0, 20 * TrackingStreamRecorder::kBytesPerSample);
    std::atomic<int> stops{0};
    algorithm.signalStopped.connect([&] { ++stops; });
    algorithm.compute();
    ASSERT_TRUE(stream.open());
    ASSERT_TRUE(stream.start());
    ASSERT_TRUE(Corvexis::Test::waitUntil([&] {
        Properties status;
        algorithm.configuration(&status);  // reads every recorder's statistics
        return stops.load() >= 5;
    }));
    algorithm.stop();
    stream.stop();
    auto output = algorithm.takeOutput();
    ASSERT_GE(output.size(), 5u);
    for (std::size_t i = 0; i + 1 < output.size(); ++i)
        EXPECT_EQ(dynamic_cast<TrackingSequence*>(output[i])->size(), 20) << "recording " << i;
}

}  // namespace
}  // namespace Corvexis
