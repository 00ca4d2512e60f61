#include "Stream/Processing/SpacingAttachedImageStream.h"

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Stream/Framework/TestImageStreams.h"
#include "Stream/Processing/ImageStreamSpacingAttacher.h"
#include "Stream/Processing/TestProcessors.h"

namespace Corvexis {
namespace {

using Test::ManualImageStream;
using Test::RecordCollector;

constexpr const char* kCategory = "SpacingAttachedImageStream";

class SpacingAttachedImageStreamTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(adapted.open());
        ASSERT_TRUE(adapted.start());
    }

    // A 3 x 2 frame with 3 channels whose bytes are all different: byte (r, c, k) = 10 * (3r + c) + k.
    static std::shared_ptr<SharedImage> numberedFrame()
    {
        auto image = ManualImageStream::makeImage(ImageDescriptor(ImageDescriptor::kUByte, 3, 2, 1, 3));
        auto* p = static_cast<std::uint8_t*>(image->mem()->data());
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 3; ++c)
                for (int k = 0; k < 3; ++k)
                    p[(r * 3 + c) * 3 + k] = static_cast<std::uint8_t>(10 * (3 * r + c) + k);
        image->markChanged(Image::Location::Memory);
        return image;
    }

    ManualImageStream input{"grabber"};
    SpacingAttachedImageStream adapted{&input};
};

TEST_F(SpacingAttachedImageStreamTest, FlipsMirrorWholePixels)
{
    const auto frame = numberedFrame();
    for (int flips = 0; flips < 4; ++flips) {
        const bool fx = (flips & 1) != 0;
        const bool fy = (flips & 2) != 0;
        SCOPED_TRACE(testing::Message() << "flipX " << fx << " flipY " << fy);
        adapted.flipX = fx;
        adapted.flipY = fy;
        RecordCollector out(adapted);
        input.emitImages({frame}, 77);
        ASSERT_EQ(out.count(), 1u);
        const auto& record = *out.records().front();
        EXPECT_EQ(record.timestampArrival(), 77u);
        const auto image = record.images().front();
        ASSERT_EQ(image->descriptor().width, 3);
        const auto* p = static_cast<const std::uint8_t*>(image->mem()->data());
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 3; ++c) {
                const int sr = fy ? 1 - r : r;
                const int sc = fx ? 2 - c : c;
                for (int k = 0; k < 3; ++k)
                    ASSERT_EQ(p[(r * 3 + c) * 3 + k], 10 * (3 * sr + sc) + k) << r << "," << c << "," << k;
            }
    }
    // The input's frame is untouched.
    EXPECT_EQ(static_cast<const std::uint8_t*>(frame->mem()->data())[0], 0);
}

TEST_F(SpacingAttachedImageStreamTest, SpacingIsGivenOrDerivedFromTheDimensions)
{
    RecordCollector out(adapted);
    const auto frame = ManualImageStream::makeImage(ImageDescriptor(ImageDescriptor::kUByte, 640, 480));
    input.emitImages({frame});
    adapted.spacing = Eigen::Vector2d(0.25, 0.5);
    adapted.isMetric = true;
    input.emitImages({frame});
    adapted.useDepth = true;
    input.emitImages({ManualImageStream::makeImage(ImageDescriptor(ImageDescriptor::kUByte, 500, 250))});
    ASSERT_EQ(out.count(), 3u);
    const auto records = out.records();
    EXPECT_EQ(records[0]->images().front()->spacing(), Eigen::Vector3d(1.0, 1.0, 1.0));
    EXPECT_FALSE(records[0]->images().front()->isMetric());
    EXPECT_EQ(records[1]->images().front()->spacing(), Eigen::Vector3d(0.25, 0.5, 1.0));
    EXPECT_TRUE(records[1]->images().front()->isMetric());
    EXPECT_EQ(records[2]->images().front()->spacing(), Eigen::Vector3d(0.1, 0.2, 1.0));
    // The input's record keeps its own spacing.
    EXPECT_EQ(frame->spacing(), Eigen::Vector3d(1.0, 1.0, 1.0));
    EXPECT_EQ(frame->mem()->spacing(), Eigen::Vector3d(1.0, 1.0, 1.0));
}

TEST_F(SpacingAttachedImageStreamTest, RefusesWhatItCannotAdapt)
{
    Log::ScopedCapture capture;
    RecordCollector out(adapted);
    const ImageDescriptor wide(ImageDescriptor::kUShort, 4, 2);
    adapted.flipY = true;
    input.emitFrame(wide);
    EXPECT_EQ(out.count(), 0u);
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, kCategory, "Flipping is only supported for 2D 8-bit images"));
    adapted.flipY = false;
    input.emitFrame(wide);
    EXPECT_EQ(out.count(), 1u);

    input.emitFrame(ImageDescriptor(ImageDescriptor::kUByte, 4, 2, 3));
    input.emitImages({});
    EXPECT_EQ(out.count(), 1u);
    EXPECT_TRUE(capture->contains(Log::Level::Warning, kCategory, "Input stream-data has no 2D image"));

    ASSERT_TRUE(adapted.stop());
    input.emitFrame(ImageDescriptor(ImageDescriptor::kUByte, 4, 2));
    EXPECT_EQ(out.count(), 1u);
}

TEST_F(SpacingAttachedImageStreamTest, StartAndStopReachTheInputOpenAndCloseDoNot)
{
    ASSERT_TRUE(adapted.stop());
    ASSERT_TRUE(adapted.close());
    EXPECT_EQ(input.currentState(), Stream::State::Open);  // started and stopped through the adapter
    ASSERT_TRUE(input.close());
    ASSERT_TRUE(adapted.open());
    EXPECT_EQ(input.currentState(), Stream::State::Closed);

    SpacingAttachedImageStream orphan(nullptr);
    EXPECT_FALSE(orphan.open());
}

TEST(ImageStreamSpacingAttacherTest, ComputeNeedsAnInputAndHandsTheStreamOverOnce)
{
    Log::ScopedCapture capture;
    ImageStreamSpacingAttacher none(nullptr);
    none.compute();
    EXPECT_EQ(static_cast<int>(none.status()), 3);
    EXPECT_TRUE(
        capture->contains(Log::Level::Error, "ImageStreamSpacingAttacher", "Input stream is not available"));

    ManualImageStream input;
    std::unique_ptr<Algorithm> made;
    ASSERT_TRUE(ImageStreamSpacingAttacher::createCompatible(DataList{&input}, &made));
    EXPECT_FALSE(ImageStreamSpacingAttacher::createCompatible(DataList{&input, &input}, nullptr));
    // The stream's parameters can be given with the algorithm.
    Properties config;
    config.setParam("spacing", Eigen::Vector2d(0.3, 0.6));
    config.setParam("flipX", true);
    made->configure(&config);
    Properties reported;
    made->configuration(&reported);
    EXPECT_EQ(reported.param("spacing", Eigen::Vector2d(0, 0)), Eigen::Vector2d(0.3, 0.6));
    made->compute();
    EXPECT_EQ(made->status(), Algorithm::Status::Success);
    OwningDataList out = made->takeOutput();
    ASSERT_EQ(out.size(), 1u);
    auto* stream = dynamic_cast<SpacingAttachedImageStream*>(out[0]);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->inputStream(), &input);
    EXPECT_TRUE(stream->flipX.value());
    EXPECT_TRUE(made->takeOutput().empty());
}

}  // namespace
}  // namespace Corvexis
