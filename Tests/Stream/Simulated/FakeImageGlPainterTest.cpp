#include "Stream/Simulated/FakeImageGlPainter.h"

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/GlImage.h"
#include "Host/GL/RequireOpenGL.h"
#include "Stream/Simulated/FakeImageCpuPainter.h"
#include "Stream/Simulated/FakeImageFrame.h"
#include "Stream/Simulated/FakeImageTestUtil.h"

using namespace Corvexis;
using namespace Corvexis::Test;

class FakeImageGlPainterTest : public Test::OpenGLTest
{
protected:
    void SetUp() override
    {
        OpenGLTest::SetUp();
        if (IsSkipped())
            return;
        context_ = GL::ContextManager::get().createContext();
        ASSERT_NE(context_, nullptr);
    }
    void TearDown() override
    {
        painter_.reset();
        context_.reset();
    }

    std::unique_ptr<MemImage> paintGl(const FakeImageFrame& frame)
    {
        auto image = GlImage::create(frame.descriptor());
        EXPECT_NE(image, nullptr);
        if (!image)
            return nullptr;
        EXPECT_TRUE(painter_->paint(*image, frame));
        return image->download();
    }

    std::unique_ptr<GL::Context> context_;
    std::unique_ptr<FakeImageGlPainter> painter_ = std::make_unique<FakeImageGlPainter>();
};

TEST_F(FakeImageGlPainterTest, EqualsTheCpuPathForEveryPixelTypeAndChannelCount)
{
    for (int type : kAllTypes)
        for (int channels = 1; channels <= 4; ++channels) {
            // Odd width: rows are not word aligned for 8- and 16-bit values.
            const ImageDescriptor d(type, 37, 29, 1, channels);
            for (int counter : {0, 45, 200}) {
                const FakeImageFrame frame = frameOf(d, counter, 1);
                auto gl = paintGl(frame);
                ASSERT_NE(gl, nullptr);
                auto cpu = MemImage::create(d);
                ASSERT_TRUE(FakeImageCpuPainter::paint(*cpu, frame));
                ASSERT_TRUE(gl->hasSamePixels(*cpu)) << d.toString() << " counter " << counter;
            }
        }
}

TEST_F(FakeImageGlPainterTest, EqualsTheCpuPathForVolumesAndLargeFrames)
{
    for (const ImageDescriptor& d : {ImageDescriptor(ImageDescriptor::kUByte, 33, 20, 9, 1),
                                     ImageDescriptor(ImageDescriptor::kFloat, 24, 16, 7, 3),
                                     ImageDescriptor(ImageDescriptor::kUByte, 640, 480, 1, 3)}) {
        const FakeImageFrame frame = frameOf(d, 123);
        auto gl = paintGl(frame);
        ASSERT_NE(gl, nullptr);
        auto cpu = MemImage::create(d);
        ASSERT_TRUE(FakeImageCpuPainter::paint(*cpu, frame));
        EXPECT_TRUE(gl->hasSamePixels(*cpu)) << d.toString();
    }
}

TEST_F(FakeImageGlPainterTest, RepaintsTheSameTextureEveryFrame)
{
    const ImageDescriptor d(ImageDescriptor::kUByte, 50, 40, 1, 1);
    auto image = GlImage::create(d);
    ASSERT_NE(image, nullptr);
    for (int counter : {10, 11, 12}) {
        const FakeImageFrame frame = frameOf(d, counter);
        ASSERT_TRUE(painter_->paint(*image, frame));
        auto cpu = MemImage::create(d);
        ASSERT_TRUE(FakeImageCpuPainter::paint(*cpu, frame));
        EXPECT_TRUE(image->download()->hasSamePixels(*cpu)) << counter;
    }
}

TEST_F(FakeImageGlPainterTest, RefusesAMismatchedImage)
{
    Log::ScopedCapture capture;
    auto image = GlImage::create(ImageDescriptor(ImageDescriptor::kUByte, 10, 10, 1, 1));
    ASSERT_NE(image, nullptr);
    EXPECT_FALSE(painter_->paint(*image, frameOf(ImageDescriptor(ImageDescriptor::kByte, 10, 10), 0)));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "FakeImagePainter", "Cannot paint"));
}
