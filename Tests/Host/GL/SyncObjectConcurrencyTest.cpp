#include "Host/GL/SyncObject.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "Host/Core/MemImage.h"
#include "Host/GL/ComputeProgram.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/GlImage.h"
#include "Host/GL/OpenGL.h"
#include "Host/GL/RequireOpenGL.h"

namespace Corvexis::GL {
namespace {

class SyncObjectConcurrency : public Test::OpenGLTest
{
};

struct Frame
{
    std::shared_ptr<GlImage> image;
    SyncObject sync;
    unsigned value = 0;
};

// A producer renders frames with a compute shader in its own context, each stamped with its number and
// handed over with a fence; a consumer in another context waits on each fence and checks that every
// pixel carries the frame's number. Bounded in frames and time.
TEST_F(SyncObjectConcurrency, ConsumerSeesCompleteFramesFromAnotherContext)
{
    constexpr int kSize = 32;
    constexpr unsigned kFrames = 40;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Frame> queue;  // guarded by mutex
    bool done = false;        // guarded by mutex
    unsigned consumed = 0;
    unsigned incomplete = 0;

    std::thread producer([&] {
        // Ends the consumer however the producer leaves (an assertion returns early). Fences and
        // textures live in the share group, so they outlive this thread's context.
        struct Done
        {
            std::mutex& mutex;
            std::condition_variable& changed;
            bool& done;
            ~Done()
            {
                std::lock_guard lock(mutex);
                done = true;
                changed.notify_all();
            }
        } finish{mutex, changed, done};
        auto context = ContextManager::get().createContext();
        ASSERT_NE(context, nullptr);
        auto program = ComputeProgram::compile(R"(#version 430
layout(local_size_x = 8, local_size_y = 8) in;
layout(r32ui, binding = 0) uniform writeonly uimage2D target;
uniform uint frameValue;
void main() {
    imageStore(target, ivec2(gl_GlobalInvocationID.xy), uvec4(frameValue));
})");
        ASSERT_NE(program, nullptr);
        const int location = program->uniformLocation("frameValue");
        for (unsigned n = 1; n <= kFrames && std::chrono::steady_clock::now() < deadline; ++n) {
            auto image = std::make_shared<GlImage>(ImageDescriptor(ImageDescriptor::kUInt, kSize, kSize));
            ASSERT_TRUE(image->isValid());
            glUseProgram(program->id());
            glUniform1ui(location, n);
            glBindImageTexture(0, image->texture(), 0, GL_FALSE, 0, GL_WRITE_ONLY, GL_R32UI);
            program->dispatch(kSize / 8, kSize / 8);
            Frame frame{image, SyncObject::create(), n};
            std::lock_guard lock(mutex);
            queue.push_back(std::move(frame));
            changed.notify_all();
        }
    });

    std::thread consumer([&] {
        auto context = ContextManager::get().createContext();
        ASSERT_NE(context, nullptr);
        auto mem = MemImage::create(ImageDescriptor(ImageDescriptor::kUInt, kSize, kSize));
        for (;;) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return !queue.empty() || done; });
            if (queue.empty())
                break;
            Frame frame = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            EXPECT_TRUE(frame.sync.wait());
            ASSERT_TRUE(frame.image->download(*mem));
            const auto* pixels = static_cast<const std::uint32_t*>(mem->data());
            for (int i = 0; i < kSize * kSize; ++i)
                if (pixels[i] != frame.value) {
                    ++incomplete;
                    break;
                }
            ++consumed;
        }
    });
    producer.join();
    consumer.join();
    EXPECT_GT(consumed, 0u);
    EXPECT_EQ(incomplete, 0u);
}

}  // namespace
}  // namespace Corvexis::GL
