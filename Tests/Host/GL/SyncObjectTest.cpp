#include "Host/GL/SyncObject.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/GL/ComputeProgram.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/Flush.h"
#include "Host/GL/GlImage.h"
#include "Host/GL/OpenGL.h"
#include "Host/GL/RequireOpenGL.h"

namespace Corvexis::GL {
namespace {

class SyncObjectTest : public Test::OpenGLTest
{
};

TEST(SyncObjectEmpty, WaitsOnNothing)
{
    SyncObject sync;
    EXPECT_FALSE(sync.isValid());
    EXPECT_TRUE(sync.isSignaled());
    EXPECT_TRUE(sync.waitCpu(std::chrono::milliseconds(1)));
    EXPECT_FALSE(sync.waitGpu());
}

TEST(SyncObjectEmpty, WithoutContextCreateIsEmptyAndFlushRefuses)
{
    std::thread worker([] {
        Log::ScopedCapture capture;
        SyncObject sync = SyncObject::create();
        EXPECT_FALSE(sync.isValid());
        EXPECT_TRUE(
            capture->containsFragment(Log::Level::Warning, "GL.SyncObject", "No current OpenGL context"));
        EXPECT_FALSE(flush());
        EXPECT_FALSE(finish());
    });
    worker.join();
}

TEST_F(SyncObjectTest, SignalsAfterFinishAndMovesOwnership)
{
    std::thread worker([] {
        auto context = ContextManager::get().createContext();
        ASSERT_NE(context, nullptr);
        SyncObject first = SyncObject::create();
        ASSERT_TRUE(first.isValid());
        EXPECT_TRUE(finish());
        EXPECT_TRUE(first.isSignaled());
        SyncObject second(std::move(first));
        EXPECT_FALSE(first.isValid());  // NOLINT(bugprone-use-after-move): moved-from state is specified
        EXPECT_TRUE(second.isValid());
        EXPECT_TRUE(second.waitCpu());
        first = std::move(second);
        EXPECT_TRUE(first.isValid());
        EXPECT_TRUE(flush());
    });
    worker.join();
}

// A producer thread fills a texture with a compute shader in its own context and hands it over with a
// fence; the consumer, in another context, waits on the fence and must see every pixel written.
TEST_F(SyncObjectTest, TwoContextsExchangeATextureThroughAFence)
{
    constexpr int kSize = 64;
    std::promise<std::pair<std::shared_ptr<GlImage>, std::shared_ptr<SyncObject>>> handOver;
    std::promise<void> consumed;

    std::thread producer([&] {
        auto context = ContextManager::get().createContext();
        ASSERT_NE(context, nullptr);
        auto image = std::make_shared<GlImage>(ImageDescriptor(ImageDescriptor::kUByte, kSize, kSize, 1, 1));
        ASSERT_TRUE(image->isValid());
        auto program = ComputeProgram::compile(R"(#version 430
layout(local_size_x = 8, local_size_y = 8) in;
layout(r8ui, binding = 0) uniform writeonly uimage2D target;
void main() {
    ivec2 p = ivec2(gl_GlobalInvocationID.xy);
    uint v = 0u;
    for (int i = 0; i < 200; ++i)   // some work, so that the fence matters
        v = (v * 31u + uint(p.x ^ p.y) + uint(i)) & 255u;
    imageStore(target, p, uvec4(v | 1u));
})");
        ASSERT_NE(program, nullptr);
        glBindImageTexture(0, image->texture(), 0, GL_FALSE, 0, GL_WRITE_ONLY, GL_R8UI);
        program->dispatch(kSize / 8, kSize / 8);
        handOver.set_value({image, std::make_shared<SyncObject>(SyncObject::create())});
        consumed.get_future().wait();  // keep the producing context alive while the consumer reads
    });

    std::thread consumer([&] {
        auto context = ContextManager::get().createContext();
        ASSERT_NE(context, nullptr);
        auto [image, sync] = handOver.get_future().get();
        ASSERT_TRUE(sync->isValid());
        EXPECT_TRUE(sync->wait());
        auto mem = image->download();
        ASSERT_NE(mem, nullptr);
        const auto* pixels = static_cast<const std::uint8_t*>(mem->data());
        int unwritten = 0;
        for (int i = 0; i < kSize * kSize; ++i)
            unwritten += (pixels[i] & 1u) == 0 ? 1 : 0;
        EXPECT_EQ(unwritten, 0);
        EXPECT_TRUE(sync->waitCpu());
        consumed.set_value();
    });
    producer.join();
    consumer.join();
}

}  // namespace
}  // namespace Corvexis::GL
