#include "Host/Lib/SharedImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Core/TimestampDataComponent.h"
#include "Host/Core/TypedImage.h"
#include "Host/GL/ComputeProgram.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/GlImage.h"
#include "Host/GL/OpenGL.h"
#include "Host/GL/RequireOpenGL.h"

namespace Corvexis {
namespace {

using Location = Image::Location;
using CloneOptions = Image::CloneOptions;

std::unique_ptr<MemImage> randomImage(const ImageDescriptor& descriptor, std::uint32_t seed)
{
    auto image = MemImage::create(descriptor);
    std::mt19937 random(seed);
    if (descriptor.pixelType == ImageDescriptor::kFloat) {
        auto* values = static_cast<float*>(image->data());
        std::uniform_real_distribution<float> value(-1e6f, 1e6f);
        for (std::size_t i = 0; i < image->byteSize() / 4; ++i)
            values[i] = value(random);
    } else {
        auto* bytes = static_cast<std::uint8_t*>(image->data());
        for (std::size_t i = 0; i < image->byteSize(); ++i)
            bytes[i] = static_cast<std::uint8_t>(random());
    }
    return image;
}

std::unique_ptr<SharedImage> u8Image(int width, int height, std::uint8_t value)
{
    auto image = TypedImage<std::uint8_t>::create(ImageDescriptor(ImageDescriptor::kUByte, width, height));
    image->fill(value);
    return std::make_unique<SharedImage>(std::unique_ptr<MemImage>(std::move(image)));
}

std::uint8_t pixel(const SharedImage& image, std::size_t index = 0)
{
    return static_cast<const std::uint8_t*>(image.mem()->data())[index];
}

// --- Main memory only (no OpenGL needed) ---

TEST(SharedImageMemory, ConstructionStatesAndAllocation)
{
    SharedImage empty(std::unique_ptr<MemImage>{});
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(empty.mem(), nullptr);
    EXPECT_FALSE(empty.hasMem());

    SharedImage allocated(ImageDescriptor(ImageDescriptor::kShort, 3, 2, 1, 2), Location::Memory);
    ASSERT_TRUE(allocated.hasMem());
    EXPECT_FALSE(allocated.hasGl());
    EXPECT_TRUE(allocated.isUpToDate(Location::Memory));
    EXPECT_EQ(allocated.mem()->byteSize(), 3u * 2 * 2 * 2);
    EXPECT_EQ(allocated.channels(), 2);

    Log::ScopedCapture capture;
    for (const auto location :
         {Location::Empty, Location::OpenCL, Location::Custom, static_cast<Location>(9)}) {
        SharedImage refused(ImageDescriptor(ImageDescriptor::kUByte, 3, 2), location);
        EXPECT_TRUE(refused.isEmpty());
    }
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "SharedImage", "Invalid (9)"));
    EXPECT_FALSE(allocated.makeExclusive(Location::OpenCL));
    EXPECT_TRUE(allocated.hasMem());
    EXPECT_FALSE(allocated.markChanged(Location::OpenGL));
}

TEST(SharedImageMemory, ShallowCopySharesPixelsDeepCopiesDoNot)
{
    auto source = u8Image(5, 3, 1);
    source->setModality(Data::Modality::CT);
    source->components().emplace<TimestampDataComponent>(4u, 5u);
    const SharedImage shallow(*source, CloneOptions::Shallow);
    const SharedImage deep(*source, CloneOptions::Deep);
    const SharedImage deepMemory(*source, CloneOptions::DeepMemory);
    const SharedImage plainCopy(*source);
    const SharedImage allocated(*source, CloneOptions::Allocate);

    EXPECT_EQ(shallow.mem(), source->mem());
    EXPECT_NE(deep.mem(), source->mem());
    static_cast<std::uint8_t*>(source->mem()->data())[4] = 77;
    EXPECT_EQ(pixel(shallow, 4), 77);
    EXPECT_EQ(pixel(deep, 4), 1);
    EXPECT_EQ(pixel(deepMemory, 4), 1);
    EXPECT_EQ(pixel(plainCopy, 4), 1);
    EXPECT_EQ(pixel(allocated, 4), 0);  // new zero-filled storage of the same layout
    for (const SharedImage* copy : {&shallow, &deep, &deepMemory, &plainCopy, &allocated}) {
        EXPECT_EQ(copy->descriptor(), source->descriptor());
        EXPECT_EQ(copy->modality(), Data::Modality::CT);
        EXPECT_NE(copy->components().get<TimestampDataComponent>(), nullptr);
    }

    Log::ScopedCapture capture;
    const SharedImage unknown(*source, static_cast<CloneOptions>(42));
    EXPECT_NE(unknown.mem(), source->mem());
    EXPECT_EQ(pixel(unknown, 4), 77);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "SharedImage", "Unknown clone option 42"));
}

TEST(SharedImageMemory, AssignmentKeepsTheBufferOfHolders)
{
    auto target = u8Image(4, 4, 1);
    const MemImage* held = target->mem();
    auto other = u8Image(4, 4, 9);
    other->setSpacing(Eigen::Vector3d(0.5, 0.5, 2.0), true);
    *target = *other;
    EXPECT_EQ(target->mem(), held);
    EXPECT_EQ(pixel(*target, 15), 9);
    EXPECT_EQ(target->spacing(), Eigen::Vector3d(0.5, 0.5, 2.0));
    EXPECT_EQ(held->spacing(), Eigen::Vector3d(0.5, 0.5, 2.0));
    EXPECT_TRUE(target->isMetric());

    // A different layout cannot keep the storage: the image becomes a copy.
    auto larger = u8Image(8, 2, 3);
    *target = *larger;
    EXPECT_EQ(target->width(), 8);
    EXPECT_EQ(pixel(*target, 15), 3);
    EXPECT_NE(target->mem(), larger->mem());
}

TEST(SharedImageMemory, AssigningAShallowCopyKeepsThePixels)
{
    auto image = u8Image(3, 3, 6);
    const SharedImage shallow(*image, CloneOptions::Shallow);
    *image = shallow;  // same buffer on both sides
    EXPECT_EQ(pixel(*image, 8), 6);
    EXPECT_EQ(image->mem(), shallow.mem());
}

TEST(SharedImageMemory, MoveLeavesTheSourceEmpty)
{
    auto source = u8Image(2, 2, 5);
    const MemImage* held = source->mem();
    SharedImage moved(std::move(*source));
    EXPECT_EQ(moved.mem(), held);
    EXPECT_TRUE(source->isEmpty());  // NOLINT(bugprone-use-after-move): the moved-from state is specified
    EXPECT_EQ(source->mem(), nullptr);
}

TEST(SharedImageMemory, SpacingIsCheckedAndReachesTheRepresentation)
{
    auto image = u8Image(2, 2, 0);
    EXPECT_FALSE(image->isMetric());
    {
        Log::ScopedCapture capture;
        EXPECT_FALSE(image->setSpacing(Eigen::Vector3d(1.0, NAN, 1.0)));
        EXPECT_FALSE(image->setSpacing(Eigen::Vector3d(1.0, -1.0, 1.0)));
    }
    EXPECT_EQ(image->spacing(), Eigen::Vector3d::Ones());
    EXPECT_TRUE(image->setSpacing(Eigen::Vector3d(0.1, 0.2, 0.3), false));
    EXPECT_EQ(image->mem()->spacing(), Eigen::Vector3d(0.1, 0.2, 0.3));
    EXPECT_FALSE(image->isMetric());
}

// --- Main memory and graphics card ---

class SharedImageGl : public Test::OpenGLTest
{
};

// Main memory -> graphics card -> main memory through the cache, bit-exact for every type and channel
// count at an odd 3-D size.
TEST_F(SharedImageGl, RoundTripThroughTheGraphicsCardIsBitExact)
{
    std::uint32_t seed = 11;
    for (const int type :
         {ImageDescriptor::kByte, ImageDescriptor::kUByte, ImageDescriptor::kShort, ImageDescriptor::kUShort,
          ImageDescriptor::kInt, ImageDescriptor::kUInt, ImageDescriptor::kFloat}) {
        for (int channels = 1; channels <= 4; ++channels) {
            SCOPED_TRACE(ImageDescriptor::typeName(type) + " x" + std::to_string(channels));
            auto original = randomImage(ImageDescriptor(type, 37, 21, 3, channels), seed++);
            SharedImage image(original->clone());
            ASSERT_NE(image.gl(), nullptr);
            ASSERT_TRUE(image.makeExclusive(Location::OpenGL));
            EXPECT_FALSE(image.hasMem());
            const MemImage* back = image.mem();
            ASSERT_NE(back, nullptr);
            EXPECT_TRUE(back->hasSamePixels(*original));
            EXPECT_EQ(image.conversionCount(), 2u);
            EXPECT_TRUE(image.isUpToDate(Location::Memory) && image.isUpToDate(Location::OpenGL));
        }
    }
}

// A compute shader changes the graphics-card pixels; after markChanged and syncMem main memory shows
// them, in the buffer that existed before.
TEST_F(SharedImageGl, ComputeShaderChangeIsSeenInMainMemoryAfterSyncMem)
{
    constexpr int kWidth = 23;
    constexpr int kHeight = 9;
    auto image = u8Image(kWidth, kHeight, 5);
    const MemImage* held = image->mem();
    std::thread worker([&] {
        auto context = GL::ContextManager::get().createContext();
        ASSERT_NE(context, nullptr);
        GlImage* gl = image->gl();
        ASSERT_NE(gl, nullptr);
        auto program = GL::ComputeProgram::compile(R"(#version 430
layout(local_size_x = 1) in;
layout(r8ui, binding = 0) uniform uimage2D target;
void main() {
    ivec2 p = ivec2(gl_GlobalInvocationID.xy);
    uint v = imageLoad(target, p).r;
    imageStore(target, p, uvec4(v + uint(p.x + 2 * p.y)));
})");
        ASSERT_NE(program, nullptr);
        glBindImageTexture(0, gl->texture(), 0, GL_FALSE, 0, GL_READ_WRITE, GL_R8UI);
        ASSERT_TRUE(program->dispatch(kWidth, kHeight));
        ASSERT_TRUE(image->markChanged(Location::OpenGL));
        EXPECT_FALSE(image->isUpToDate(Location::Memory));
        image->syncMem();
    });
    worker.join();
    ASSERT_EQ(image->mem(), held);
    const auto* pixels = static_cast<const std::uint8_t*>(held->data());
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            ASSERT_EQ(pixels[y * kWidth + x], 5 + x + 2 * y) << x << "," << y;
}

TEST_F(SharedImageGl, MakeExclusiveKeepsOneRepresentation)
{
    SharedImage image(ImageDescriptor(ImageDescriptor::kUShort, 6, 5), Location::OpenGL);
    EXPECT_TRUE(image.hasGl());
    EXPECT_FALSE(image.hasMem());
    // Painting on the card and then wanting both (the fake stream's "both" mode).
    ASSERT_TRUE(image.makeExclusive(Location::OpenGL));
    image.syncMem();
    EXPECT_TRUE(image.hasMem() && image.hasGl());
    ASSERT_TRUE(image.makeExclusive(Location::Memory));
    EXPECT_FALSE(image.hasGl());
    EXPECT_TRUE(image.isUpToDate(Location::Memory));
}

TEST_F(SharedImageGl, ClonesByLocation)
{
    auto source = u8Image(7, 3, 4);
    ASSERT_TRUE(source->makeExclusive(Location::OpenGL));  // uploads, drops main memory

    const SharedImage memoryCopy(*source, CloneOptions::DeepMemory);
    EXPECT_TRUE(memoryCopy.hasMem());
    EXPECT_FALSE(memoryCopy.hasGl());
    EXPECT_EQ(pixel(memoryCopy, 20), 4);

    const SharedImage glCopy(*source, CloneOptions::DeepOpenGL);
    EXPECT_FALSE(glCopy.hasMem());
    ASSERT_TRUE(glCopy.hasGl());
    EXPECT_NE(glCopy.gl(), source->gl());
    EXPECT_EQ(pixel(glCopy, 20), 4);

    const SharedImage shallow(*source, CloneOptions::Shallow);
    EXPECT_EQ(shallow.gl(), source->gl());
    // The main-memory copy brought the source up to date in memory too, so a deep copy has both.
    EXPECT_TRUE(source->isUpToDate(Location::Memory));
    const SharedImage deep(*source);
    EXPECT_TRUE(deep.hasGl() && deep.hasMem());
    EXPECT_NE(deep.gl()->texture(), source->gl()->texture());
}

// The image cache of a viewer keeps its texture; assignment writes the new pixels into it.
TEST_F(SharedImageGl, AssignmentWritesIntoTheExistingTexture)
{
    auto shown = u8Image(8, 8, 0);
    const GlImage* gl = shown->gl();
    ASSERT_NE(gl, nullptr);
    const unsigned texture = gl->texture();

    auto onCard = u8Image(8, 8, 42);
    ASSERT_TRUE(onCard->makeExclusive(Location::OpenGL));
    *shown = *onCard;  // texture to texture, main memory by download
    EXPECT_EQ(shown->gl()->texture(), texture);
    EXPECT_TRUE(shown->isUpToDate(Location::Memory) && shown->isUpToDate(Location::OpenGL));
    auto downloaded = shown->gl()->download();
    EXPECT_EQ(static_cast<const std::uint8_t*>(downloaded->data())[63], 42);
    EXPECT_EQ(pixel(*shown, 63), 42);

    auto inMemory = u8Image(8, 8, 17);
    *shown = *inMemory;  // upload into the kept texture
    EXPECT_EQ(shown->gl()->texture(), texture);
    EXPECT_EQ(static_cast<const std::uint8_t*>(shown->gl()->download()->data())[0], 17);
}

}  // namespace
}  // namespace Corvexis
