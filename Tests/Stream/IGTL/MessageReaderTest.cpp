#include "Stream/IGTL/MessageReader.h"

#include <cstring>

#include <gtest/gtest.h>
#include <igtlPolyDataMessage.h>
#include <igtlTransformMessage.h>

#include "Host/Core/Log.h"
#include "Stream/IGTL/DeviceKinds.h"
#include "Stream/IGTL/IgtlTestUtil.h"
#include "Stream/IGTL/MessageValidator.h"
#include "Stream/IGTL/SupportedDeviceTypes.h"
#include "Stream/IGTL/SupportedTypes.h"

namespace Corvexis::IGTL {
namespace {

std::vector<std::uint8_t> packedPolyData()
{
    igtl::PolyDataMessage::Pointer message = igtl::PolyDataMessage::New();
    message->SetDeviceName("Mesh");
    igtl::PolyDataPointArray::Pointer points = igtl::PolyDataPointArray::New();
    points->AddPoint(0, 0, 0);
    points->AddPoint(1, 0, 0);
    points->AddPoint(0, 1, 0);
    message->SetPoints(points);
    igtl::PolyDataCellArray::Pointer polygons = igtl::PolyDataCellArray::New();
    igtlUint32 triangle[3] = {0, 1, 2};
    polygons->AddCell(3, triangle);
    message->SetPolygons(polygons);
    message->Pack();
    return IgtlTest::bytesOf(*message);
}

void putBe32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

TEST(MessageReaderTest, RegistryListsTheMessageClassesInOrderAndRefusesDuplicates)
{
    EXPECT_EQ(SupportedTypes::listSupported(), (std::vector<std::string>{"SENSOR", "IMAGE", "TRACKING_CVX",
                                                                         "TRANSFORM", "TDATA", "POLYDATA"}));
    EXPECT_EQ(SupportedTypes::hash(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(SupportedTypes::hash("a"), 0xaf63dc4c8601ec8cull);
    Log::ScopedCapture capture;
    EXPECT_FALSE(
        SupportedTypes::instance().registerType("IMAGE", [] { return igtl::MessageBase::Pointer(); }));
    EXPECT_TRUE(capture->contains(Log::Level::Error, "IGTL.SupportedTypes",
                                  "The selected IGTLINK type was already registered"));
    // The first registration stays.
    EXPECT_TRUE(SupportedTypes::instance().create("IMAGE").IsNotNull());
    EXPECT_TRUE(SupportedTypes::instance().create("STATUS").IsNull());
    EXPECT_TRUE(SupportedTypes::instance().create("UNKNOWN").IsNull());
    EXPECT_FALSE(SupportedTypes::instance().isSupported("IMAG"));
}

TEST(MessageReaderTest, DeviceKindRegistryHoldsTwelveKindsAndTheLastDescriptorWins)
{
    SupportedDeviceTypes::clear();
    DeviceKinds::registerAll();
    const auto names = SupportedDeviceTypes::listSupported();
    ASSERT_EQ(names.size(), 12u);
    EXPECT_EQ(names.front(), "Igtlink Input Image Data");
    EXPECT_EQ(names[3], "Igtlink Output Image Stream");
    EXPECT_EQ(names.back(), "Igtlink Output Tracking Stream");
    SupportedDeviceTypes::registerDescriptor({"Igtlink Input Image Data", Device::IO::Output, nullptr});
    EXPECT_EQ(SupportedDeviceTypes::listSupported().size(), 12u);
    EXPECT_EQ(SupportedDeviceTypes::descriptor("Igtlink Input Image Data")->io, Device::IO::Output);
    SupportedDeviceTypes::clear();
    DeviceKinds::registerAll();
    EXPECT_EQ(SupportedDeviceTypes::descriptor("Igtlink Input Image Data")->io, Device::IO::Input);
}

TEST(MessageReaderTest, HeaderGivesTypeNameAndTheFullAnnouncedSize)
{
    igtl::TransformMessage::Pointer message = igtl::TransformMessage::New();
    message->SetDeviceName("Tracker:Tip");
    message->Pack();
    std::vector<std::uint8_t> bytes = IgtlTest::bytesOf(*message);
    auto header = MessageReader::unpackHeader(bytes.data());
    ASSERT_TRUE(header);
    EXPECT_EQ(header->type, "TRANSFORM");
    EXPECT_EQ(header->deviceName, "Tracker:Tip");
    EXPECT_EQ(header->bodySize, 48u);
    // A size beyond what the library's int can hold is reported as it is, and never allocated.
    for (int i = 0; i < 8; ++i)
        bytes[42 + i] = 0xff;
    header = MessageReader::unpackHeader(bytes.data());
    ASSERT_TRUE(header);
    EXPECT_EQ(header->bodySize, ~std::uint64_t{0});
    EXPECT_TRUE(MessageReader::prepareBody(*header).IsNull());
}

TEST(MessageReaderTest, BodiesWithLyingCountsAreRefusedBeforeTheLibrarySeesThem)
{
    const std::vector<std::uint8_t> good = packedPolyData();
    const std::uint8_t* body = good.data() + LibraryAdapter::kHeaderSize;
    const std::size_t size = good.size() - LibraryAdapter::kHeaderSize;
    std::string why;
    EXPECT_TRUE(MessageValidator::validBody("POLYDATA", body, size, &why)) << why;

    std::vector<std::uint8_t> bad(body, body + size);
    putBe32(bad.data(), 1000000);  // more points than the body holds
    EXPECT_FALSE(MessageValidator::validBody("POLYDATA", bad.data(), bad.size(), &why));

    bad.assign(body, body + size);
    // The polygon's last index (after 40-byte header, 36 bytes of points, count and two indices).
    putBe32(bad.data() + 40 + 36 + 12, 3);
    EXPECT_FALSE(MessageValidator::validBody("POLYDATA", bad.data(), bad.size(), &why));
    EXPECT_NE(why.find("point that does not exist"), std::string::npos);

    bad.assign(body, body + size);
    putBe32(bad.data() + 20, 2);  // two polygons announced, one present
    EXPECT_FALSE(MessageValidator::validBody("POLYDATA", bad.data(), bad.size(), &why));

    std::vector<std::uint8_t> image(72 + 4, 0);
    image[2] = 1;               // one component
    image[3] = 3;               // UINT8
    image[7] = image[9] = 2;    // 2 x 2
    image[11] = 1;              // x 1
    image[67] = image[69] = 2;  // sub-volume 2 x 2
    image[71] = 1;              // x 1
    EXPECT_TRUE(MessageValidator::validBody("IMAGE", image.data(), image.size(), &why)) << why;
    EXPECT_FALSE(MessageValidator::validBody("IMAGE", image.data(), image.size() - 1, &why));
    image[3] = 12;
    EXPECT_FALSE(MessageValidator::validBody("IMAGE", image.data(), image.size(), &why));

    std::vector<std::uint8_t> zeros(71, 0);
    EXPECT_FALSE(MessageValidator::validBody("TDATA", zeros.data(), 71, &why));
    EXPECT_TRUE(MessageValidator::validBody("TDATA", zeros.data(), 70, &why));
    EXPECT_FALSE(MessageValidator::validBody("TRANSFORM", zeros.data(), 47, &why));
    EXPECT_FALSE(MessageValidator::validBody("TRACKING_CVX", zeros.data(), 48, &why));
}

}  // namespace
}  // namespace Corvexis::IGTL
