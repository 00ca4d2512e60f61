#include "Stream/Network/Serialization.h"

#include <gtest/gtest.h>

#include <cstring>

#include "Host/Core/Framework.h"
#include "Host/Core/Log.h"
#include "Host/Core/PointCloud.h"
#include "Host/Core/TrackingSequence.h"
#include "Host/Core/TypedImage.h"
#include "Host/Lib/SharedImageSet.h"

namespace Corvexis {
namespace {

constexpr const char* kRead = "Serialization::dataFromByteBuffer";

std::uint64_t field(const ByteBuffer& m, int index)
{
    std::uint64_t v = 0;
    std::memcpy(&v, m.data() + index * 8, 8);
    return v;
}

void setField(ByteBuffer& m, int index, std::uint64_t v)
{
    std::memcpy(m.data() + index * 8, &v, 8);
}

OwningDataList sampleItems()
{
    OwningDataList items;
    auto set = std::make_unique<SharedImageSet>("frames");
    auto image = TypedImage<std::uint16_t>::create(3, 2);
    image->at(2, 1) = 4097;
    set->add(std::make_shared<SharedImage>(std::unique_ptr<MemImage>(std::move(image))), 12.5);
    items.add(std::move(set));
    auto ts = std::make_unique<TrackingSequence>("track");
    ts->add(Eigen::Matrix4d::Identity(), 0.25, 0.5, 3);
    items.add(std::move(ts));
    auto cloud = std::make_unique<PointCloud>("cloud");
    cloud->setPoints({{1, 2, 3}});
    items.add(std::move(cloud));
    return items;
}

TEST(Serialization, HeaderFieldsAndRoundTripOfAWritersMessage)
{
    const OwningDataList items = sampleItems();
    std::optional<ByteBuffer> message = Serialization::dataToByteBuffer(items.dataList());
    ASSERT_TRUE(message.has_value());
    const Utils::Version v = Framework::version();
    EXPECT_EQ(field(*message, 0), 0u);
    EXPECT_EQ(field(*message, 1), static_cast<std::uint64_t>(v.major));
    EXPECT_EQ(field(*message, 2), static_cast<std::uint64_t>(v.minor));
    EXPECT_EQ(field(*message, 3), static_cast<std::uint64_t>(v.patch));
    EXPECT_EQ(field(*message, 4), 3u);
    EXPECT_EQ(field(*message, 5), message->size() - 48);

    Log::ScopedCapture capture;
    std::optional<OwningDataList> back = Serialization::dataFromByteBuffer(*message);
    ASSERT_TRUE(back.has_value());
    ASSERT_EQ(back->size(), 3u);
    auto* set = dynamic_cast<SharedImageSet*>((*back)[0]);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->timestamp(0), 12.5);
    EXPECT_EQ(static_cast<const TypedImage<std::uint16_t>*>(set->get(0)->mem())->at(2, 1), 4097);
    auto* ts = dynamic_cast<TrackingSequence*>((*back)[1]);
    ASSERT_NE(ts, nullptr);
    EXPECT_EQ(ts->status(0), 3);
    EXPECT_EQ((*back)[2]->name(), "cloud");
    EXPECT_TRUE(capture->records().empty());
}

TEST(Serialization, ShortAndIncompleteMessagesGiveAnEmptyListWithTheirMessage)
{
    Log::ScopedCapture capture;
    ByteBuffer headerOnly(48);
    std::memset(headerOnly.data(), 0, 48);
    std::optional<OwningDataList> got = Serialization::dataFromByteBuffer(headerOnly);
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(got->empty());
    EXPECT_TRUE(capture->contains(Log::Level::Error, kRead,
                                  "Failed to deserialize any data. Buffer does not contain any valid data."));

    const OwningDataList items = sampleItems();
    ByteBuffer message = *Serialization::dataToByteBuffer(items.dataList());
    const std::size_t full = message.size();
    message.resize(full - 1);
    got = Serialization::dataFromByteBuffer(message);
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(got->empty());
    EXPECT_TRUE(capture->contains(Log::Level::Error, kRead,
                                  "Input buffer is incomplete. Received " + std::to_string(full - 1) +
                                      " bytes, should be " + std::to_string(full) + " bytes."));

    // A payload size near 2^64 is refused and reported without wrapping around.
    ByteBuffer wrapped = *Serialization::dataToByteBuffer(items.dataList());
    setField(wrapped, 5, UINT64_MAX - 10);
    got = Serialization::dataFromByteBuffer(wrapped);
    EXPECT_TRUE(
        capture->containsFragment(Log::Level::Error, kRead, "should be 18446744073709551605 + 48 bytes."));
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(got->empty());
}

TEST(Serialization, AForeignVersionIsWarnedAboutOncePerVersionAndStillRead)
{
    Log::ScopedCapture capture;
    const OwningDataList items = sampleItems();
    ByteBuffer message = *Serialization::dataToByteBuffer(items.dataList());
    setField(message, 1, 3);
    setField(message, 2, 97);
    setField(message, 3, 2);
    for (int i = 0; i < 2; ++i) {
        std::optional<OwningDataList> got = Serialization::dataFromByteBuffer(message);
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(got->size(), 3u);
    }
    const std::string warning =
        "SDK versions do not match: Serialization with SDK version 3.97.2 might not be "
        "compatible with the deserialization with this SDK version " +
        Framework::version().toString() + ".\n\tDeserialization might fail due to mismatching protocols.";
    EXPECT_EQ(capture->count(Log::Level::Warning, kRead, warning), 1u);
    // Another patch number of the same pair is not warned about again; another minor is.
    setField(message, 3, 9);
    Serialization::dataFromByteBuffer(message);
    setField(message, 2, 98);
    Serialization::dataFromByteBuffer(message);
    EXPECT_EQ(capture->records().size(), 2u);
}

TEST(Serialization, ACountMismatchOrDamagedPayloadIsReported)
{
    Log::ScopedCapture capture;
    const OwningDataList items = sampleItems();
    ByteBuffer message = *Serialization::dataToByteBuffer(items.dataList());
    setField(message, 4, 5);
    std::optional<OwningDataList> got = Serialization::dataFromByteBuffer(message);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->size(), 3u);
    EXPECT_TRUE(capture->contains(Log::Level::Error, kRead,
                                  "Failed to deserialize all data. Deserialized 3 out of 5 data instances."));

    ByteBuffer garbage = *Serialization::dataToByteBuffer(items.dataList());
    garbage[48] ^= 0xFF;  // the payload's signature
    EXPECT_FALSE(Serialization::dataFromByteBuffer(garbage).has_value());
    EXPECT_TRUE(capture->contains(Log::Level::Error, kRead,
                                  "Failed to deserialize all data. Deserialized 0 out of 3 data instances."));

    struct Live : Data
    {
        Kind kind() const override { return Kind::TrackingStream; }
    } live;
    EXPECT_FALSE(Serialization::dataToByteBuffer(DataList{&live}).has_value());
    EXPECT_TRUE(capture->contains(Log::Level::Error, "Serialization::dataToByteBuffer",
                                  "Failed to serialize all data"));
}

}  // namespace
}  // namespace Corvexis
