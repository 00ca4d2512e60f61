#include "Stream/Framework/ImageStreamBuffer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "Host/Lib/SharedImageSet.h"
#include "Stream/Framework/TestImageStreams.h"
#include "Stream/Framework/TestStreams.h"

using namespace Corvexis;
namespace T = Corvexis::Test;
using namespace std::chrono_literals;

namespace {

const ImageDescriptor kFrame(ImageDescriptor::kUByte, 4, 3);

}  // namespace

TEST(ImageStreamBuffer, KeepsRecordsExactlyBufferTimeApart)
{
    T::ManualImageStream stream;
    ImageStreamBuffer buffer(stream);
    EXPECT_EQ(buffer.bufferTime(), 10s);

    stream.emitFrame(kFrame, 1, 1'000);
    stream.emitFrame(kFrame, 2, 6'000);
    stream.emitFrame(kFrame, 3, 11'000);  // exactly 10 000 ms after the first: kept
    EXPECT_EQ(buffer.size(), 3u);

    stream.emitFrame(kFrame, 4, 11'001);  // 10 001 ms after the first: the first goes
    EXPECT_EQ(buffer.size(), 3u);
    const auto set = buffer.freezeBuffer();
    ASSERT_EQ(set->size(), 3);
    EXPECT_EQ(set->timestamp(0), 6'000.0);
    EXPECT_EQ(set->timestamp(2), 11'001.0);

    stream.emitFrame(kFrame, 5, 30'000);  // everything older goes at once
    EXPECT_EQ(buffer.size(), 1u);
}

TEST(ImageStreamBuffer, ShorterBufferTimeTrimsAtOnce)
{
    T::ManualImageStream stream;
    ImageStreamBuffer buffer(stream);
    for (std::uint64_t ms = 0; ms <= 5'000; ms += 500)
        stream.emitFrame(kFrame, 0, 100'000 + ms);
    ASSERT_EQ(buffer.size(), 11u);

    buffer.setBufferTime(std::chrono::duration<double>(1.5));
    EXPECT_EQ(buffer.bufferTime().count(), 1.5);
    EXPECT_EQ(buffer.size(), 4u);  // 103 500 .. 105 000
    buffer.setBufferTime(0s);
    EXPECT_EQ(buffer.size(), 1u);
    // A longer time brings nothing back, and keeps what is there.
    buffer.setBufferTime(60s);
    EXPECT_EQ(buffer.size(), 1u);
}

TEST(ImageStreamBuffer, FreezeTakesFirstImagesOfImageRecordsOnly)
{
    T::ManualImageStream stream;
    ImageStreamBuffer buffer(stream);

    const auto first = T::ManualImageStream::makeImage(kFrame, 10);
    const auto second = T::ManualImageStream::makeImage(kFrame, 20);
    stream.emitImages({first, second}, 1'000);
    stream.signalStreamData.emitSignal(std::make_shared<T::PlainRecord>(&stream));  // arrival 0
    stream.emitImages({}, 1'500);
    stream.emitFrame(kFrame, 30, 2'000);
    // Every record is kept, whatever its kind; trimming compares only the first and last arrival times.
    EXPECT_EQ(buffer.size(), 4u);

    const auto set = buffer.freezeBuffer();
    ASSERT_EQ(set->size(), 2);
    EXPECT_EQ(set->name(), "manual");
    EXPECT_EQ(T::firstByte(*set->get(0)), 10);
    EXPECT_EQ(T::firstByte(*set->get(1)), 30);
    EXPECT_EQ(set->timestamp(0), 1'000.0);
    EXPECT_EQ(set->timestamp(1), 2'000.0);
    // The buffer is left as it was.
    EXPECT_EQ(buffer.size(), 4u);

    // The frozen frames share pixel storage with the records' images: no copy was made.
    EXPECT_EQ(set->get(0)->mem()->data(), first->mem()->data());
}

TEST(ImageStreamBuffer, OutlivesItsStream)
{
    auto stream = std::make_unique<T::ManualImageStream>();
    ImageStreamBuffer buffer(*stream);
    stream->emitFrame(kFrame, 1, 5);
    stream.reset();
    EXPECT_EQ(buffer.size(), 1u);
    const auto set = buffer.freezeBuffer();
    ASSERT_EQ(set->size(), 1);
    EXPECT_EQ(T::firstByte(*set->get(0)), 1);
}

TEST(ImageStreamBuffer, DestroyedBufferIsDisconnected)
{
    T::ManualImageStream stream;
    const auto before = stream.signalStreamData.connectionCount();
    {
        ImageStreamBuffer buffer(stream);
        EXPECT_EQ(stream.signalStreamData.connectionCount(), before + 1);
    }
    EXPECT_EQ(stream.signalStreamData.connectionCount(), before);
    stream.emitFrame(kFrame);
}
