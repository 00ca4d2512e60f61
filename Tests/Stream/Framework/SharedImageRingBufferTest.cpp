#include "Stream/Framework/SharedImageRingBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <optional>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Support/TestUtil.h"

using namespace Corvexis;
namespace T = Corvexis::Test;

namespace {

// Main-memory pixel buffers are allocated with the aligned, non-throwing operator new; counting the
// large ones counts image memory, whichever class asks for it.
std::atomic<long> gLargeAlignedAllocations{0};
constexpr std::size_t kLargeAllocationBytes = 64 * 1024;

}  // namespace

void* operator new(std::size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    if (bytes >= kLargeAllocationBytes)
        gLargeAlignedAllocations.fetch_add(1, std::memory_order_relaxed);
    try {
        return ::operator new(bytes, alignment);
    } catch (...) {
        return nullptr;
    }
}

namespace {

const ImageDescriptor kSmall(ImageDescriptor::kUByte, 4, 4);
const ImageDescriptor kOther(ImageDescriptor::kUByte, 4, 5);
constexpr auto kMemory = Image::Location::Memory;

}  // namespace

TEST(SharedImageRingBuffer, FullRingOfHeldBuffersEvictsTheOldest)
{
    SharedImageRingBuffer ring;
    ASSERT_EQ(ring.maxSize(), 2u);
    auto first = ring.getBuffer(kSmall, kMemory);
    auto second = ring.getBuffer(kSmall, kMemory);
    EXPECT_TRUE(first.newlyAllocated);
    EXPECT_TRUE(second.newlyAllocated);
    EXPECT_NE(first.image, second.image);
    ASSERT_EQ(ring.size(), 2u);

    // Both still held: a third is allocated and the oldest leaves the ring, alive in its holder.
    auto third = ring.getBuffer(kSmall, kMemory);
    EXPECT_TRUE(third.newlyAllocated);
    EXPECT_EQ(ring.size(), 2u);
    EXPECT_EQ(first.image.use_count(), 1);
    EXPECT_EQ(second.image.use_count(), 2);
    ASSERT_NE(first.image->mem(), nullptr);

    // Released buffers come back oldest first: `second` is older than `third`.
    second.image.reset();
    third.image.reset();
    const auto again = ring.getBuffer(kSmall, kMemory);
    EXPECT_FALSE(again.newlyAllocated);
    EXPECT_EQ(ring.size(), 2u);
}

TEST(SharedImageRingBuffer, ReleasedBufferIsReturnedAgainWithoutAllocation)
{
    SharedImageRingBuffer ring;
    auto buffer = ring.getBuffer(kSmall, kMemory);
    SharedImage* raw = buffer.image.get();
    std::memset(buffer.image->mem()->data(), 7, buffer.image->mem()->byteSize());
    EXPECT_TRUE(ring.mustAllocate(kSmall));  // held by the producer
    buffer.image.reset();

    const auto reused = ring.getBuffer(kSmall, kMemory);
    EXPECT_FALSE(reused.newlyAllocated);
    EXPECT_EQ(reused.image.get(), raw);
    // The pixels of the previous frame are still there: reuse is not a new, zeroed image.
    EXPECT_EQ(static_cast<const std::uint8_t*>(reused.image->mem()->data())[0], 7);
}

TEST(SharedImageRingBuffer, MustAllocateWhenNoFreeBufferOfTheDescriptor)
{
    SharedImageRingBuffer ring(3);
    EXPECT_TRUE(ring.mustAllocate(kSmall));
    auto held = ring.getBuffer(kSmall, kMemory);
    EXPECT_TRUE(ring.mustAllocate(kSmall));
    ring.getBuffer(kOther, kMemory);  // released at once
    EXPECT_FALSE(ring.mustAllocate(kOther));
    EXPECT_TRUE(ring.mustAllocate(kSmall));
    held.image.reset();
    EXPECT_FALSE(ring.mustAllocate(kSmall));
}

TEST(SharedImageRingBuffer, OtherDescriptorNeverGetsAnOldBuffer)
{
    SharedImageRingBuffer ring(4);
    const auto small = ring.getBuffer(kSmall, kMemory).image.get();
    ring.getBuffer(kSmall, kMemory);
    const auto other = ring.getBuffer(kOther, kMemory);
    EXPECT_TRUE(other.newlyAllocated);
    EXPECT_NE(other.image.get(), small);
    EXPECT_EQ(other.image->descriptor(), kOther);

    // Same extent, different spacing: still a different descriptor.
    ImageDescriptor spaced = kSmall;
    spaced.spacing = Eigen::Vector3d(0.5, 0.5, 1.0);
    const auto fresh = ring.getBuffer(spaced, kMemory);
    EXPECT_TRUE(fresh.newlyAllocated);
    EXPECT_EQ(fresh.image->descriptor(), spaced);
}

TEST(SharedImageRingBuffer, EnsureAllocatedFillsUpAndMakesRoom)
{
    SharedImageRingBuffer ring;
    ring.getBuffer(kOther, kMemory);
    ring.getBuffer(kOther, kMemory);

    // Raises the maximum to 3 and needs 3 of kSmall: the two others go.
    EXPECT_EQ(ring.ensureAllocated(3, kSmall, kMemory), 3u);
    EXPECT_EQ(ring.maxSize(), 3u);
    EXPECT_EQ(ring.size(), 3u);
    EXPECT_TRUE(ring.mustAllocate(kOther));
    EXPECT_EQ(ring.ensureAllocated(3, kSmall, kMemory), 0u);
    EXPECT_EQ(ring.ensureAllocated(2, kSmall, kMemory), 0u);
    EXPECT_EQ(ring.maxSize(), 3u);

    // One of kOther is wanted: two kSmall stay at the front, the newest of them makes room.
    EXPECT_EQ(ring.ensureAllocated(1, kOther, kMemory), 1u);
    EXPECT_EQ(ring.size(), 3u);
    EXPECT_FALSE(ring.mustAllocate(kOther));
    EXPECT_FALSE(ring.mustAllocate(kSmall));

    // Bringing kSmall back to 3 keeps the two it has.
    EXPECT_EQ(ring.ensureAllocated(3, kSmall, kMemory), 1u);
    EXPECT_TRUE(ring.mustAllocate(kOther));
}

TEST(SharedImageRingBuffer, ClearIncompatibleAndSmallerMaximumDropBuffers)
{
    SharedImageRingBuffer ring(4);
    auto a = ring.getBuffer(kSmall, kMemory);
    auto b = ring.getBuffer(kOther, kMemory);
    auto held = ring.getBuffer(kSmall, kMemory);
    auto d = ring.getBuffer(kOther, kMemory);
    ASSERT_EQ(ring.size(), 4u);
    SharedImage* const oldest = a.image.get();
    a.image.reset();
    b.image.reset();
    d.image.reset();

    ring.clearIncompatible(kSmall);
    EXPECT_EQ(ring.size(), 2u);
    EXPECT_TRUE(ring.mustAllocate(kOther));

    // The newest (held) buffer is dropped; the oldest stays and is handed out.
    ring.setMaxSize(1);
    EXPECT_EQ(ring.size(), 1u);
    EXPECT_EQ(held.image.use_count(), 1);
    const auto next = ring.getBuffer(kSmall, kMemory);
    EXPECT_EQ(next.image.get(), oldest);
    EXPECT_FALSE(next.newlyAllocated);

    ring.clear();
    EXPECT_EQ(ring.size(), 0u);
    EXPECT_TRUE(ring.mustAllocate(kSmall));
}

TEST(SharedImageRingBuffer, UnsupportedLocationsLogAndGiveMainMemoryImages)
{
    struct Case
    {
        Image::Location location;
        const char* message;
    };
    const Case cases[] = {
        {Image::Location::Empty,
         "Allocating empty image not supported by SharedImageRingBuffer, returning MemImage"},
        {Image::Location::OpenCL,
         "Allocating OpenCL image not supported by SharedImageRingBuffer, returning MemImage"},
        {Image::Location::Custom,
         "Allocating Custom image not supported by SharedImageRingBuffer, returning MemImage"},
        {static_cast<Image::Location>(5), "Invalid memory location"},
        {static_cast<Image::Location>(-1), "Invalid memory location"},
    };
    for (const auto& c : cases) {
        Log::ScopedCapture capture;
        SharedImageRingBuffer ring;
        const auto buffer = ring.getBuffer(kSmall, c.location);
        EXPECT_EQ(capture->count(Log::Level::Error, "SharedImageRingBuffer", c.message), 1u) << c.message;
        ASSERT_TRUE(buffer.image);
        EXPECT_TRUE(buffer.newlyAllocated);
        EXPECT_TRUE(buffer.image->hasMem());
        EXPECT_FALSE(buffer.image->hasGl());
        EXPECT_EQ(buffer.image->descriptor(), kSmall);
    }
    Log::ScopedCapture capture;
    SharedImageRingBuffer ring;
    ring.getBuffer(kSmall, kMemory);
    EXPECT_TRUE(capture->records().empty());
}

namespace {

// A record that keeps its ring buffer busy for as long as a consumer holds the record.
class RingFrameRecord : public ImageStreamData
{
public:
    RingFrameRecord(Stream* stream, std::shared_ptr<SharedImage> buffer)
        : ImageStreamData(stream, buffer), buffer_(std::move(buffer))
    {
    }
    std::unique_ptr<StreamData> clone() const override { return std::make_unique<RingFrameRecord>(*this); }

private:
    std::shared_ptr<SharedImage> buffer_;
};

// Produces 640 x 480 frames from a ring on its worker thread, as fast as it can, up to `frameLimit`.
class RingProducerStream : public ImageStream
{
public:
    RingProducerStream(int frameLimit, std::uint64_t ringSize)
        : ImageStream("ring producer"), frameLimit_(frameLimit)
    {
        ring_.setMaxSize(ringSize);
    }
    ~RingProducerStream() override { close(); }

    std::atomic<int> frames{0};
    std::atomic<int> newlyAllocated{0};
    // Allocations counted after this many frames count as "after warm-up".
    std::atomic<int> newlyAllocatedAfterWarmUp{0};
    static constexpr int kWarmUpFrames = 10;

protected:
    bool workerThreadRequiresOpenGl() const override { return false; }
    bool openImpl() override { return true; }
    bool closeImpl() override { return true; }
    bool startImpl() override { return true; }
    bool stopImpl() override { return true; }
    std::optional<WorkContinuation> doWork() override
    {
        const int index = frames.load();
        if (index >= frameLimit_)
            return std::nullopt;
        auto buffer =
            ring_.getBuffer(ImageDescriptor(ImageDescriptor::kUByte, 640, 480), Image::Location::Memory);
        if (buffer.newlyAllocated) {
            newlyAllocated.fetch_add(1);
            if (index >= kWarmUpFrames)
                newlyAllocatedAfterWarmUp.fetch_add(1);
        }
        auto* pixels = static_cast<std::uint8_t*>(buffer.image->mem()->data());
        pixels[0] = static_cast<std::uint8_t>(index);
        buffer.image->markChanged(Image::Location::Memory);
        signalStreamData.emitSignal(std::make_shared<RingFrameRecord>(this, std::move(buffer.image)));
        frames.fetch_add(1);
        return WorkContinuation{};
    }

private:
    const int frameLimit_;
    SharedImageRingBuffer ring_;
};

}  // namespace

TEST(SharedImageRingBuffer, StreamWithConsumerHoldingFewerThanMaxSizeFramesStopsAllocating)
{
    constexpr std::uint64_t kRingSize = 3;
    constexpr int kFrames = 600;
    RingProducerStream stream(kFrames, kRingSize);

    // The consumer keeps the newest maxSize - 1 records, as a display and a recorder might.
    std::deque<std::shared_ptr<const StreamData>> held;
    int badFrames = 0;
    int expected = 0;
    auto connection = stream.signalStreamData.connect([&](std::shared_ptr<const StreamData> data) {
        const auto* record = dynamic_cast<const ImageStreamData*>(data.get());
        if (!record || record->size() != 1 ||
            static_cast<const std::uint8_t*>(record->images()[0]->mem()->data())[0] !=
                static_cast<std::uint8_t>(expected))
            ++badFrames;
        ++expected;
        held.push_back(std::move(data));
        if (held.size() > kRingSize - 1)
            held.pop_front();
    });

    const long allocationsBefore = gLargeAlignedAllocations.load();
    ASSERT_TRUE(stream.open());
    ASSERT_TRUE(stream.start());
    ASSERT_TRUE(T::waitUntil([&] { return stream.frames.load() >= kFrames; }, std::chrono::seconds(60)));
    ASSERT_TRUE(stream.close());
    connection.disconnect();

    EXPECT_EQ(stream.newlyAllocated.load(), static_cast<int>(kRingSize));
    EXPECT_EQ(stream.newlyAllocatedAfterWarmUp.load(), 0);
    // Pixel memory: one buffer per ring image and nothing per frame.
    EXPECT_EQ(gLargeAlignedAllocations.load() - allocationsBefore, static_cast<long>(kRingSize));
    EXPECT_EQ(badFrames, 0);
}
