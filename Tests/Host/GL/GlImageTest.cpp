#include "Host/GL/GlImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/GL/ComputeProgram.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/OpenGL.h"
#include "Host/GL/RequireOpenGL.h"

namespace Corvexis {
namespace {

constexpr int kAllTypes[] = {ImageDescriptor::kByte,   ImageDescriptor::kUByte, ImageDescriptor::kShort,
                             ImageDescriptor::kUShort, ImageDescriptor::kInt,   ImageDescriptor::kUInt,
                             ImageDescriptor::kFloat};

// Fills with random bytes, integer types including their extremes; floats get random finite values
// of both signs and wide range (random bytes could make NaNs, whose payload is not preserved).
void fillRandom(MemImage& image, std::uint32_t seed)
{
    std::mt19937 random(seed);
    if (image.pixelType() == ImageDescriptor::kFloat) {
        std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
        std::uniform_int_distribution<int> exponent(-30, 30);
        auto* values = static_cast<float*>(image.data());
        for (std::size_t i = 0; i < image.byteSize() / sizeof(float); ++i)
            values[i] = std::ldexp(mantissa(random), exponent(random));
        return;
    }
    auto* bytes = static_cast<std::uint8_t*>(image.data());
    for (std::size_t i = 0; i < image.byteSize(); ++i)
        bytes[i] = static_cast<std::uint8_t>(random());
    std::memset(bytes, 0xff, std::min<std::size_t>(image.byteSize(), 8));  // -1 / max values
    if (image.byteSize() > 16)
        std::memset(bytes + 8, 0x80, 8);  // most negative signed values
}

class GlImageTest : public Test::OpenGLTest
{
};

// Main memory -> graphics card -> main memory is bit-exact for every type and channel count, at odd
// sizes (rows not multiples of 4 bytes), 2-D and 3-D, on a thread without its own context.
TEST_F(GlImageTest, RoundTripIsBitExactForEveryTypeAndChannelCount)
{
    std::uint32_t seed = 1;
    for (const int slices : {1, 3}) {
        for (const int type : kAllTypes) {
            for (int channels = 1; channels <= 4; ++channels) {
                SCOPED_TRACE(ImageDescriptor::typeName(type) + " x" + std::to_string(channels) + " slices " +
                             std::to_string(slices));
                const ImageDescriptor descriptor(type, 37, 21, slices, channels);
                auto source = MemImage::create(descriptor);
                ASSERT_NE(source, nullptr);
                fillRandom(*source, seed++);
                auto gl = GlImage::fromMemImage(*source);
                ASSERT_NE(gl, nullptr);
                EXPECT_EQ(gl->target(), slices == 1 ? unsigned{GL_TEXTURE_2D} : unsigned{GL_TEXTURE_3D});
                auto back = gl->download();
                ASSERT_NE(back, nullptr);
                EXPECT_TRUE(back->hasSamePixels(*source));
            }
        }
    }
}

TEST_F(GlImageTest, DownloadIntoExistingImageAndCopyOnTheCard)
{
    const ImageDescriptor descriptor(ImageDescriptor::kUShort, 5, 3, 1, 3);
    auto source = MemImage::create(descriptor);
    fillRandom(*source, 7);
    auto a = GlImage::fromMemImage(*source);
    GlImage b(descriptor);
    ASSERT_TRUE(a && b.isValid());
    ASSERT_TRUE(b.copyFrom(*a));
    auto target = MemImage::create(descriptor);
    ASSERT_TRUE(b.download(*target));
    EXPECT_TRUE(target->hasSamePixels(*source));
}

TEST_F(GlImageTest, RefusesMismatchedLayoutsWithALogLine)
{
    Log::ScopedCapture capture;
    GlImage gl(ImageDescriptor(ImageDescriptor::kUByte, 8, 8, 1, 1));
    auto other = MemImage::create(ImageDescriptor(ImageDescriptor::kUByte, 8, 8, 1, 2));
    EXPECT_FALSE(gl.upload(*other));
    EXPECT_FALSE(gl.download(*other));
    GlImage otherGl(ImageDescriptor(ImageDescriptor::kUByte, 8, 9, 1, 1));
    EXPECT_FALSE(gl.copyFrom(otherGl));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "GlImage", "different layouts"));
}

TEST_F(GlImageTest, InvalidDescriptorGivesNoTexture)
{
    Log::ScopedCapture capture;
    EXPECT_EQ(GlImage::create(ImageDescriptor(ImageDescriptor::kUByte, 0, 4)), nullptr);
    EXPECT_EQ(GlImage::create(ImageDescriptor(1234, 4, 4)), nullptr);
    GlImage invalid(ImageDescriptor(ImageDescriptor::kFloat, 4, -1));
    EXPECT_FALSE(invalid.isValid());
    EXPECT_EQ(invalid.texture(), 0u);
    EXPECT_EQ(invalid.download(), nullptr);
}

TEST_F(GlImageTest, SpacingIsKeptAndCheckedButLayoutIsNot)
{
    ImageDescriptor descriptor(ImageDescriptor::kUByte, 4, 4);
    descriptor.spacing = Eigen::Vector3d(0.5, 0.25, 2.0);
    auto mem = MemImage::create(descriptor);
    auto gl = GlImage::fromMemImage(*mem);
    ASSERT_NE(gl, nullptr);
    EXPECT_EQ(gl->descriptor().spacing, descriptor.spacing);
    {
        Log::ScopedCapture capture;
        EXPECT_FALSE(gl->setSpacing(Eigen::Vector3d(1.0, 0.0, 1.0)));
    }
    EXPECT_TRUE(gl->setSpacing(Eigen::Vector3d(1.0, 1.0, 3.0)));
    EXPECT_EQ(gl->download()->spacing(), Eigen::Vector3d(1.0, 1.0, 3.0));
}

// Pixels written on the card by a compute shader come back to main memory exactly.
TEST_F(GlImageTest, ComputeShaderOutputIsDownloaded)
{
    std::thread worker([] {
        auto context = GL::ContextManager::get().createContext();
        ASSERT_NE(context, nullptr);
        const int width = 19;
        const int height = 7;
        GlImage gl(ImageDescriptor(ImageDescriptor::kUByte, width, height, 1, 1));
        ASSERT_TRUE(gl.isValid());
        std::string log;
        auto program = GL::ComputeProgram::compile(R"(#version 430
layout(local_size_x = 1, local_size_y = 1) in;
layout(r8ui, binding = 0) uniform writeonly uimage2D target;
void main() {
    ivec2 p = ivec2(gl_GlobalInvocationID.xy);
    imageStore(target, p, uvec4(uint(p.x * 13 + p.y * 7) & 255u));
})",
                                                   &log);
        ASSERT_NE(program, nullptr) << log;
        glBindImageTexture(0, gl.texture(), 0, GL_FALSE, 0, GL_WRITE_ONLY, GL_R8UI);
        ASSERT_TRUE(program->dispatch(width, height));
        auto mem = gl.download();
        ASSERT_NE(mem, nullptr);
        const auto* pixels = static_cast<const std::uint8_t*>(mem->data());
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                ASSERT_EQ(pixels[y * width + x], (x * 13 + y * 7) & 255) << x << "," << y;
    });
    worker.join();
}

TEST_F(GlImageTest, BadShaderGivesTheCompilerLog)
{
    std::thread worker([] {
        auto context = GL::ContextManager::get().createContext();
        ASSERT_NE(context, nullptr);
        Log::ScopedCapture capture;
        std::string log;
        EXPECT_EQ(GL::ComputeProgram::compile("#version 430\nvoid main() { undefined(); }", &log), nullptr);
        EXPECT_FALSE(log.empty());
        EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "GL.ComputeProgram", "does not compile"));
    });
    worker.join();
}

}  // namespace
}  // namespace Corvexis
