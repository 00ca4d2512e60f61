#include "Stream/Framework/ImageStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Stream/Framework/TestImageStreams.h"

using namespace Corvexis;
namespace T = Corvexis::Test;
using Kind = Data::Kind;

// A producer alternating 2-D frames and volumes while another thread reads the descriptor, kind and
// description: every kind change is announced exactly once, and readers never see a torn descriptor.
TEST(ImageStreamConcurrency, ReadersSeeWholeDescriptorsWhileKindFlips)
{
    T::ManualImageStream stream;
    const ImageDescriptor image(ImageDescriptor::kUByte, 8, 4);
    const ImageDescriptor volume(ImageDescriptor::kUShort, 6, 5, 3);
    const auto frames =
        std::vector{T::ManualImageStream::makeImage(image), T::ManualImageStream::makeImage(volume)};

    std::atomic<int> changes{0};
    auto connection = stream.signalKindChanged.connect([&](Kind) { changes.fetch_add(1); });

    std::atomic<bool> done{false};
    std::atomic<int> readings{0};
    std::thread reader([&] {
        while (!done.load()) {
            if (const auto desc = stream.descriptor()) {
                EXPECT_TRUE(*desc == image || *desc == volume);
            }
            EXPECT_FALSE(stream.describe().empty());
            readings.fetch_add(1);
        }
    });

    int emitted = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < deadline && emitted < 20000) {
        stream.emitImages({frames[static_cast<size_t>(emitted % 2)]});
        ++emitted;
    }
    done = true;
    reader.join();
    connection.disconnect();

    // One producer: every frame after the first flips the kind (the first volume is frame 1).
    EXPECT_EQ(changes.load(), emitted - 1);
    EXPECT_GT(readings.load(), 0);
}
