#include "Stream/Framework/StreamFps.h"

#include <gtest/gtest.h>

#include "Stream/Framework/TestStreams.h"

using namespace Corvexis;
namespace T = Corvexis::Test;

namespace {

void feed(StreamFps& fps, std::uint64_t arrivalMs, std::uint64_t deviceMs = 0)
{
    T::PlainRecord record(nullptr);
    record.setTimestampArrival(arrivalMs);
    record.setTimestampDevice(deviceMs);
    fps.addRecord(record);
}

}  // namespace

TEST(StreamFpsTest, ZeroUntilTheRingIsFullThenTheRate)
{
    StreamFps fps;
    fps.setRounding(1);
    for (int i = 0; i < 10; ++i) {
        feed(fps, 5000 + 100 * static_cast<std::uint64_t>(i));
        EXPECT_EQ(fps.fps(), 0.0) << "record " << i + 1;
    }
    feed(fps, 6000);
    EXPECT_TRUE(fps.changed());
    EXPECT_DOUBLE_EQ(fps.fps(), 10.0);
    EXPECT_FALSE(fps.changed()) << "reading clears the flag";
    // The ring keeps sliding: the next ten records 50 ms apart bring the rate to 20.
    for (int i = 1; i <= 10; ++i)
        feed(fps, 6000 + 50 * static_cast<std::uint64_t>(i));
    EXPECT_DOUBLE_EQ(fps.fps(), 20.0);
}

TEST(StreamFpsTest, RoundingAndNoRounding)
{
    StreamFps rounded;
    rounded.setNumberOfFrames(3);
    rounded.setRounding(1);
    StreamFps exact;
    exact.setNumberOfFrames(3);
    exact.setRounding(11);
    for (std::uint64_t t : {0u, 33u, 67u, 100u + 7u}) {
        feed(rounded, t);
        feed(exact, t);
    }
    EXPECT_DOUBLE_EQ(exact.fps(), 3 * 1000.0 / 107.0);
    EXPECT_DOUBLE_EQ(rounded.fps(), 28.0);
}

TEST(StreamFpsTest, EqualTimestampsGiveZeroNotADivisionError)
{
    StreamFps fps;
    fps.setNumberOfFrames(2);
    for (int i = 0; i < 3; ++i)
        feed(fps, 42);
    EXPECT_EQ(fps.fps(), 0.0);
}

TEST(StreamFpsTest, SettersClearOnlyOnRealChange)
{
    StreamFps fps;
    fps.setNumberOfFrames(0);  // becomes 1
    feed(fps, 0);
    feed(fps, 250);
    EXPECT_DOUBLE_EQ(fps.fps(), 4.0);
    fps.setNumberOfFrames(1);  // same value: measurement kept
    EXPECT_DOUBLE_EQ(fps.fps(), 4.0);
    fps.setNumberOfFrames(2);
    EXPECT_EQ(fps.fps(), 0.0);

    // Device time is measured separately from arrival time.
    StreamFps device;
    device.setNumberOfFrames(1);
    device.setUseDeviceTimestamp(true);
    feed(device, 0, 1000);
    feed(device, 10, 1500);
    EXPECT_DOUBLE_EQ(device.fps(), 2.0);
    device.setUseDeviceTimestamp(true);
    EXPECT_DOUBLE_EQ(device.fps(), 2.0);
    device.setUseDeviceTimestamp(false);
    EXPECT_EQ(device.fps(), 0.0);
}

TEST(StreamFpsTest, UpdateIntervalLimitsRecomputation)
{
    StreamFps fps;
    fps.setNumberOfFrames(1);
    fps.setRounding(11);
    fps.setUpdateInterval(1.0);  // seconds
    feed(fps, 1000);             // recomputes (first): ring not full, 0
    feed(fps, 1100);             // 100 ms since the last update: no recomputation
    EXPECT_EQ(fps.fps(), 0.0);
    feed(fps, 2000);  // 1000 ms after the last update: recomputes over 1100..2000
    EXPECT_NEAR(fps.fps(), 1000.0 / 900.0, 1e-9);
}

TEST(StreamFpsTest, StateChangesOfTheConnectedStreamClearIt)
{
    T::ScriptedStream s("fps", Stream::ThreadingMode::NoWorkerThread);
    StreamFps fps;
    fps.setNumberOfFrames(1);
    fps.connect(&s);
    ASSERT_TRUE(s.start());
    s.emitRecordAt(0);
    s.emitRecordAt(100);
    EXPECT_DOUBLE_EQ(fps.fps(), 10.0);
    ASSERT_TRUE(s.stop());
    EXPECT_EQ(fps.fps(), 0.0);
    fps.disconnect(&s);
    ASSERT_TRUE(s.start());
    s.emitRecordAt(0);
    s.emitRecordAt(100);
    EXPECT_EQ(fps.fps(), 0.0) << "no records after disconnect";
    EXPECT_TRUE(s.close());
}
