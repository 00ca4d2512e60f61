#include "Stream/Framework/ImageStreamCache.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>

#include "Host/Core/Log.h"
#include "Host/Core/MemImage.h"
#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/TestImageStreams.h"

using namespace Corvexis;
namespace T = Corvexis::Test;

namespace {

const ImageDescriptor kFrame(ImageDescriptor::kUInt, 4, 4);

void ensureApplication()
{
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "ImageStreamCacheConcurrencyTest";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);
    }
    ImageStreamCache::ref();
}

void turn()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

std::uint32_t frameNumber(const SharedImage& image)
{
    std::uint32_t value = 0;
    std::memcpy(&value, image.mem()->data(), sizeof(value));
    return value;
}

std::shared_ptr<SharedImage> numberedFrame(std::uint32_t number)
{
    auto image = std::make_shared<SharedImage>(kFrame, Image::Location::Memory);
    std::memcpy(image->mem()->data(), &number, sizeof(number));
    image->markChanged(Image::Location::Memory);
    return image;
}

}  // namespace

// A producer thread emits as fast as it can while a third thread takes and drops handles of the same
// stream and the user interface turns its loop: the shown frame numbers only grow, and once the
// producer stops the newest frame is shown.
TEST(ImageStreamCacheConcurrency, ProducerHandlesAndUserInterfaceRace)
{
    ensureApplication();
    T::ManualImageStream stream("racing");
    auto handle = ImageStreamCache::ref().image(&stream);
    SharedImageSet* set = handle.image();

    std::atomic<bool> producing{true};
    std::atomic<std::uint32_t> lastEmitted{0};
    std::thread producer([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        for (std::uint32_t n = 1; n <= 20000 && std::chrono::steady_clock::now() < deadline; ++n) {
            stream.emitImages({numberedFrame(n)});
            lastEmitted = n;
        }
        producing = false;
    });
    std::atomic<int> handleCycles{0};
    std::thread holder([&] {
        while (producing.load()) {
            auto extra = ImageStreamCache::ref().image(&stream);
            EXPECT_EQ(extra.image(), set);
            auto copy = extra;
            handleCycles.fetch_add(1);
        }
    });

    std::uint32_t previous = 0;
    int updates = 0;
    bool monotonic = true;
    const auto watch = QObject::connect(&ImageStreamCache::ref(), &ImageStreamCache::updateRequested, [&] {
        const std::uint32_t shown = frameNumber(*set->get(0));
        monotonic = monotonic && shown >= previous;
        previous = shown;
        ++updates;
    });
    while (producing.load())
        turn();
    producer.join();
    holder.join();
    turn();
    QObject::disconnect(watch);

    EXPECT_TRUE(monotonic);
    EXPECT_EQ(previous, lastEmitted.load());
    EXPECT_GT(updates, 0);
    EXPECT_LE(updates, static_cast<int>(lastEmitted.load()));
    EXPECT_GT(handleCycles.load(), 0);
}

// Streams deleted on their producer thread while the user interface holds their sets and turns the
// loop: each deletion detaches once, and no queued notification reaches a deleted stream.
TEST(ImageStreamCacheConcurrency, StreamsDeletedOnTheirProducerThread)
{
    ensureApplication();
    Log::ScopedCapture capture;
    int cycles = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < deadline && cycles < 200) {
        auto stream = std::make_unique<T::ManualImageStream>("doomed");
        auto handle = ImageStreamCache::ref().image(stream.get());
        std::atomic<bool> done{false};
        std::thread producer([&] {
            for (std::uint32_t n = 1; n <= 50; ++n)
                stream->emitImages({numberedFrame(n)});
            stream.reset();
            done = true;
        });
        while (!done.load())
            turn();
        producer.join();
        turn();
        EXPECT_EQ(ImageStreamCache::ref().stream(handle.image()), nullptr);
        ++cycles;
    }
    EXPECT_EQ(capture->count(Log::Level::Debug, "ImageStreamCache",
                             "Detaching ImageStreamCache from ImageStream because stream was deleted"),
              static_cast<size_t>(cycles));
    EXPECT_EQ(
        capture->count(Log::Level::Debug, "ImageStreamCache", "Detaching ImageStreamCache from ImageStream"),
        0u);
}
