#include "Host/Lib/SharedImage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "Host/Core/MemImage.h"
#include "Host/Core/TypedImage.h"
#include "Host/GL/GlImage.h"
#include "Host/GL/RequireOpenGL.h"

namespace Corvexis {
namespace {

// The arrangement the stream records rely on: a subclass that serialises syncImpl and clone with a
// recursive mutex of its own. SharedImage must route every transfer through syncImpl for it to work.
class LockedSharedImage : public SharedImage
{
public:
    using SharedImage::SharedImage;

    std::unique_ptr<SharedImage> clone(CloneOptions options) const override
    {
        std::lock_guard lock(mutex_);
        return std::make_unique<LockedSharedImage>(*this, options);
    }

protected:
    void syncImpl(Image::Location location) const override
    {
        std::lock_guard lock(mutex_);
        SharedImage::syncImpl(location);
    }

private:
    mutable std::recursive_mutex mutex_;
};

class SharedImageConcurrency : public Test::OpenGLTest
{
};

// One frame asked for in main memory on some threads and on the graphics card on others at the same
// moment is converted exactly once, and every reader sees the right pixels. Repeated for a bounded
// number of rounds and time, starting from either location.
TEST_F(SharedImageConcurrency, ConcurrentRequestsConvertOnce)
{
    constexpr int kReaders = 4;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    int rounds = 0;
    for (; rounds < 60 && std::chrono::steady_clock::now() < deadline; ++rounds) {
        const auto value = static_cast<std::uint8_t>(rounds + 1);
        // Large enough that a transfer takes longer than the threads need to reach it together.
        auto pixels = TypedImage<std::uint8_t>::create(ImageDescriptor(ImageDescriptor::kUByte, 1024, 512));
        pixels->fill(value);
        LockedSharedImage image{std::unique_ptr<MemImage>(std::move(pixels))};
        const bool startOnCard = rounds % 2 == 0;
        if (startOnCard) {
            ASSERT_TRUE(image.makeExclusive(Image::Location::OpenGL));
        }
        const std::uint64_t before = image.conversionCount();

        std::atomic<int> ready{0};
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kReaders; ++t) {
            threads.emplace_back([&, t] {
                ready.fetch_add(1);
                while (ready.load() < kReaders)
                    std::this_thread::yield();
                const SharedImage& view = image;
                if (t % 2 == 0) {
                    const MemImage* mem = view.mem();
                    if (mem == nullptr ||
                        static_cast<const std::uint8_t*>(mem->data())[1024 * 512 - 1] != value)
                        wrong.fetch_add(1);
                } else {
                    const GlImage* gl = view.gl();
                    if (gl == nullptr || gl->texture() == 0)
                        wrong.fetch_add(1);
                }
                if (!view.hasMem() && !view.hasGl())
                    wrong.fetch_add(1);
            });
        }
        for (auto& thread : threads)
            thread.join();
        ASSERT_EQ(wrong.load(), 0) << "round " << rounds;
        ASSERT_EQ(image.conversionCount(), before + 1) << "round " << rounds;
        EXPECT_TRUE(image.isUpToDate(Image::Location::Memory) && image.isUpToDate(Image::Location::OpenGL));
    }
    EXPECT_GT(rounds, 0);
}

// Shallow clones made while other threads bring the source up to date share its pixels.
TEST_F(SharedImageConcurrency, ClonesDuringSynchronisationShareThePixels)
{
    auto pixels = TypedImage<std::uint8_t>::create(ImageDescriptor(ImageDescriptor::kUByte, 8, 8));
    pixels->fill(3);
    LockedSharedImage image{std::unique_ptr<MemImage>(std::move(pixels))};
    ASSERT_TRUE(image.makeExclusive(Image::Location::OpenGL));
    std::vector<std::unique_ptr<SharedImage>> clones(4);
    std::thread syncer([&] { image.syncMem(); });
    std::vector<std::thread> cloners;
    for (std::size_t i = 0; i < clones.size(); ++i)
        cloners.emplace_back([&, i] { clones[i] = image.clone(Image::CloneOptions::Shallow); });
    syncer.join();
    for (auto& thread : cloners)
        thread.join();
    for (const auto& clone : clones) {
        ASSERT_NE(clone, nullptr);
        ASSERT_NE(dynamic_cast<LockedSharedImage*>(clone.get()), nullptr);
        EXPECT_EQ(clone->gl(), image.gl());
        EXPECT_EQ(static_cast<const std::uint8_t*>(clone->mem()->data())[63], 3);
    }
}

}  // namespace
}  // namespace Corvexis
