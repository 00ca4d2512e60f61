#include "Stream/Framework/ThreadSafeSharedImage.h"

#include <gtest/gtest.h>

#include <barrier>
#include <thread>

#include "Host/Core/TypedImage.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/GlImage.h"
#include "Host/GL/RequireOpenGL.h"
#include "Stream/Framework/ImageStreamData.h"

using namespace Corvexis;

class ThreadSafeSharedImageConcurrency : public Corvexis::Test::OpenGLTest
{
};

TEST_F(ThreadSafeSharedImageConcurrency, MemoryAndGraphicsRequestsOfOneFrameConvertOnce)
{
    for (int round = 0; round < 20; ++round) {
        auto mem = MemImage::create(ImageDescriptor(5121, 33, 17, 1, 3));
        static_cast<std::uint8_t*>(mem->data())[5] = static_cast<std::uint8_t>(round);
        auto record = std::make_unique<ImageStreamData>(
            nullptr, std::unique_ptr<SharedImage>(std::make_unique<SharedImage>(std::move(mem))));
        auto image = std::const_pointer_cast<SharedImage>(record->images()[0]);
        record.reset();
        ASSERT_EQ(image->conversionCount(), 0u);

        std::barrier sync(2);
        std::thread graphics([&] {
            auto context = GL::ContextManager::get().createContext();
            sync.arrive_and_wait();
            EXPECT_NE(image->gl(), nullptr);
        });
        sync.arrive_and_wait();
        EXPECT_EQ(static_cast<const std::uint8_t*>(image->mem()->data())[5], round);
        graphics.join();
        EXPECT_EQ(image->conversionCount(), 1u) << "round " << round;
        EXPECT_TRUE(image->hasGl());
        // The last reference goes on a thread without a context: the texture must still be released
        // with one (a borrowed context), which the sanitizers and the driver would catch otherwise.
        std::thread([img = std::move(image)]() mutable { img.reset(); }).join();
    }
}
