#include "Stream/Processing/LiveFrameAverageAlgorithm.h"

#include <gtest/gtest.h>

#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/TestImageStreams.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using Test::ManualImageStream;
using Test::waitUntil;

int meanByte(const LiveFrameAverageAlgorithm& algorithm)
{
    auto mean = algorithm.latestMean();
    return mean ? static_cast<const std::uint8_t*>(mean->mem()->data())[0] : -1;
}

TEST(LiveFrameAverageAlgorithmTest, AveragesTheLastFramesOnItsThread)
{
    ManualImageStream input;
    LiveFrameAverageAlgorithm average({&input});
    average.frameCount = 3;
    const ImageDescriptor frame(ImageDescriptor::kUByte, 5, 3, 1, 2);
    const int values[] = {10, 20, 31, 40, 255};
    double window[3] = {0, 0, 0};
    for (int i = 0; i < 5; ++i) {
        input.emitFrame(frame, static_cast<std::uint8_t>(values[i]), static_cast<std::uint64_t>(i));
        ASSERT_TRUE(waitUntil([&] { return average.meansComputed() == static_cast<std::uint64_t>(i + 1); }));
        window[i % 3] = values[i];
        const int n = std::min(i + 1, 3);
        const double sum = window[0] + window[1] + window[2];
        EXPECT_EQ(meanByte(average), static_cast<int>(std::floor(sum / n + 0.5))) << "after frame " << i;
    }
    EXPECT_EQ(average.latestMean()->descriptor(), frame);
}

TEST(LiveFrameAverageAlgorithmTest, AFrameOfAnotherLayoutStartsANewHistory)
{
    ManualImageStream input;
    LiveFrameAverageAlgorithm average({&input});
    average.frameCount = 4;
    input.emitFrame(ImageDescriptor(ImageDescriptor::kUByte, 4, 4), 100, 1);
    ASSERT_TRUE(waitUntil([&] { return average.meansComputed() == 1; }));
    input.emitFrame(ImageDescriptor(ImageDescriptor::kUByte, 6, 2), 10, 2);
    ASSERT_TRUE(waitUntil([&] { return average.meansComputed() == 2; }));
    EXPECT_EQ(meanByte(average), 10);
    EXPECT_EQ(average.latestMean()->width(), 6);
}

}  // namespace
}  // namespace Corvexis
