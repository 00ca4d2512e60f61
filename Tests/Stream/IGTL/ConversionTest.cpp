#include "Stream/IGTL/Conversion.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>
#include <set>

#include <gtest/gtest.h>

#include "Host/Core/MemImage.h"
#include "Host/Core/Mesh.h"
#include "Host/Core/PointCloud.h"
#include "Stream/IGTL/IgtlTestUtil.h"
#include "Stream/IGTL/IgtlTrackingOutStream.h"
#include "Stream/IGTL/MessageReader.h"

namespace Corvexis::IGTL {
namespace {

// Decodes a packed message from its bytes the way a connection does: header, then the registered class,
// then the body (CRC checked).
igtl::MessageBase::Pointer decode(igtl::MessageBase& packed)
{
    const std::vector<std::uint8_t> bytes = IgtlTest::bytesOf(packed);
    auto header = MessageReader::unpackHeader(bytes.data());
    if (!header)
        return nullptr;
    igtl::MessageBase::Pointer message = MessageReader::prepareBody(*header);
    if (message.IsNull())
        return nullptr;
    std::memcpy(LibraryAdapter::bodyPointer(*message), bytes.data() + LibraryAdapter::kHeaderSize,
                bytes.size() - LibraryAdapter::kHeaderSize);
    std::string why;
    if (!MessageReader::unpackBody(*message, header->type, true, &why)) {
        ADD_FAILURE() << why;
        return nullptr;
    }
    return message;
}

template <typename T>
typename T::Pointer decodeAs(igtl::MessageBase& packed)
{
    igtl::MessageBase::Pointer message = decode(packed);
    return typename T::Pointer(dynamic_cast<T*>(message.GetPointer()));
}

Eigen::Matrix4d distinctMatrix()
{
    Eigen::Matrix4d m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m(r, c) = (r == 3) ? (c == 3 ? 1.0 : 0.0) : 10.0 * r + c + 0.5;
    return m;
}

TEST(ConversionTest, EveryMappedPixelTypeSurvivesTheWireWithBytesSpacingAndTime)
{
    const std::vector<std::pair<int, int>> table{{5120, 2}, {5121, 3}, {5122, 4},  {5123, 5},
                                                 {5124, 6}, {5125, 7}, {5126, 10}, {5130, 11}};
    for (const auto& [pixelType, scalarType] : table) {
        ImageDescriptor d(pixelType, 5, 3, 2, 3);
        d.spacing = Eigen::Vector3d(0.5, 0.25, 2.0);
        std::unique_ptr<MemImage> image = MemImage::create(d);
        ASSERT_TRUE(image);
        auto* bytes = static_cast<std::uint8_t*>(image->data());
        for (std::size_t i = 0; i < image->byteSize(); ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
        EXPECT_EQ(Conversion::scalarTypeForPixelType(pixelType), scalarType);

        // Images carry rigid poses: the wire folds the spacing into the rotation columns.
        Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
        pose.block<3, 3>(0, 0) << 0, -1, 0, 1, 0, 0, 0, 0, 1;
        pose.block<3, 1>(0, 3) << 3.5, -2.0, 7.0;
        igtl::ImageMessage::Pointer sent = Conversion::imageToMessage(*image, pose, 1234567, "Probe");
        auto received = decodeAs<igtl::ImageMessage>(*sent);
        ASSERT_TRUE(received) << pixelType;
        EXPECT_EQ(received->GetScalarType(), scalarType);
        EXPECT_EQ(Conversion::timestampMs(*received), 1234567u);
        igtl::Matrix4x4 m;
        received->GetMatrix(m);
        EXPECT_FLOAT_EQ(m[0][3], 3.5f);  // translation x = (row 0, column 3)
        EXPECT_FLOAT_EQ(m[0][1], -1.0f);
        EXPECT_FLOAT_EQ(m[1][0], 1.0f);

        std::unique_ptr<MemImage> back = Conversion::messageToImage(*received);
        ASSERT_TRUE(back) << pixelType;
        EXPECT_EQ(back->pixelType(), pixelType);
        EXPECT_TRUE(back->hasSamePixels(*image)) << pixelType;
        EXPECT_EQ(back->spacing(), d.spacing);
    }
}

TEST(ConversionTest, UnmappedTypesAreSentAsZeroAndUnknownScalarsGiveNoImage)
{
    EXPECT_EQ(Conversion::scalarTypeForPixelType(5127), 0);
    EXPECT_EQ(Conversion::scalarTypeForPixelType(0), 0);
    EXPECT_EQ(Conversion::pixelTypeForScalarType(11), ImageDescriptor::kDouble);
    EXPECT_FALSE(Conversion::pixelTypeForScalarType(12));
    EXPECT_FALSE(Conversion::pixelTypeForScalarType(0));

    igtl::ImageMessage::Pointer message = igtl::ImageMessage::New();
    message->SetDimensions(2, 2, 1);
    message->SetScalarType(12);
    message->AllocateScalars();
    EXPECT_FALSE(Conversion::messageToImage(*message));
}

TEST(ConversionTest, BigEndianSixteenBitPixelsAreSwappedToHostOrder)
{
    igtl::ImageMessage::Pointer message = igtl::ImageMessage::New();
    message->SetDimensions(2, 1, 1);
    message->SetScalarType(igtl::ImageMessage::TYPE_UINT16);
    message->SetEndian(igtl::ImageMessage::ENDIAN_BIG);
    message->AllocateScalars();
    const std::uint8_t wire[4] = {0x12, 0x34, 0xab, 0xcd};
    std::memcpy(message->GetScalarPointer(), wire, 4);
    std::unique_ptr<MemImage> image = Conversion::messageToImage(*message);
    ASSERT_TRUE(image);
    const auto* values = static_cast<const std::uint16_t*>(image->data());
    EXPECT_EQ(values[0], 0x1234);
    EXPECT_EQ(values[1], 0xabcd);
}

// FLOAT64 images built and packed by the protocol library arrive as 64-bit float images with every
// value exact, including values a float cannot hold, in either byte order.
TEST(ConversionTest, Float64ImagesKeepEveryDoubleValueInBothByteOrders)
{
    const double values[] = {0.1, -1.0 / 3.0, 1e300, -4.9e-324, 123456789.123456789, 0.0};
    for (const int endian : {igtl::ImageMessage::ENDIAN_LITTLE, igtl::ImageMessage::ENDIAN_BIG}) {
        igtl::ImageMessage::Pointer message = igtl::ImageMessage::New();
        message->SetDeviceName("Dose");
        message->SetDimensions(3, 2, 1);
        message->SetSpacing(0.5f, 0.5f, 2.0f);
        message->SetScalarType(igtl::ImageMessage::TYPE_FLOAT64);
        message->SetEndian(endian);
        message->AllocateScalars();
        auto* wire = static_cast<std::uint8_t*>(message->GetScalarPointer());
        for (int i = 0; i < 6; ++i) {
            std::uint8_t bytes[8];
            std::memcpy(bytes, &values[i], 8);
            const bool swap =
                (endian == igtl::ImageMessage::ENDIAN_BIG) == (std::endian::native == std::endian::little);
            if (swap)
                std::reverse(bytes, bytes + 8);
            std::memcpy(wire + 8 * i, bytes, 8);
        }
        message->Pack();
        auto received = decodeAs<igtl::ImageMessage>(*message);
        ASSERT_TRUE(received);
        std::unique_ptr<MemImage> image = Conversion::messageToImage(*received);
        ASSERT_TRUE(image) << endian;
        EXPECT_EQ(image->pixelType(), ImageDescriptor::kDouble);
        EXPECT_EQ(image->byteSize(), 48u);
        EXPECT_EQ(image->spacing(), Eigen::Vector3d(0.5, 0.5, 2.0));
        const auto* got = static_cast<const double*>(image->data());
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(got[i], values[i]) << "value " << i << " endian " << endian;
    }
}

TEST(ConversionTest, DeviceNamesAreCutToTwentyCharacters)
{
    std::unique_ptr<MemImage> image = MemImage::create(ImageDescriptor(5121, 1, 1));
    igtl::ImageMessage::Pointer message =
        Conversion::imageToMessage(*image, Eigen::Matrix4d::Identity(), 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const auto bytes = IgtlTest::bytesOf(*message);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 14, 20), "ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(std::string(message->GetDeviceName()), "ABCDEFGHIJKLMNOPQRST");
}

TEST(ConversionTest, TDataElementsBecomeInstrumentsInOrderWithIndexIdentifiers)
{
    TrackingInstrument a(TrackerID("x", "Pointer"));
    a.matrix = distinctMatrix();
    TrackingInstrument b(TrackerID("y", "Probe"));
    TrackingInstrument c(TrackerID("z", "Reference"));
    c.matrix(2, 3) = -7.25;
    const std::vector<TrackingInstrument> instruments{a, b, c};
    igtl::TrackingDataMessage::Pointer sent = Conversion::instrumentsToTData(
        instruments, IgtlTrackingOutStream::instrumentsNames(instruments, "Tracker"), 5000, "Tracker");
    auto received = decodeAs<igtl::TrackingDataMessage>(*sent);
    ASSERT_TRUE(received);
    const auto back = Conversion::tdataToInstruments(*received);
    ASSERT_EQ(back.size(), 3u);
    const char* names[] = {"Pointer", "Probe", "Reference"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(back[i].id.ID(), "igtl-" + std::to_string(i));
        EXPECT_EQ(back[i].id.name(), names[i]);
        EXPECT_EQ(back[i].quality, 1.0);
        EXPECT_TRUE(back[i].active);
        EXPECT_EQ(back[i].timestamp, 5000u);
    }
    EXPECT_TRUE(back[0].matrix.isApprox(distinctMatrix()));
    EXPECT_DOUBLE_EQ(back[2].matrix(2, 3), -7.25);
}

TEST(ConversionTest, UnnamedAndRepeatedInstrumentsGetDistinctNamesWithinARecord)
{
    std::vector<TrackingInstrument> instruments{
        TrackingInstrument(TrackerID("1")), TrackingInstrument(TrackerID("2")),
        TrackingInstrument(TrackerID("3", "Tool")), TrackingInstrument(TrackerID("4", "Tool")),
        TrackingInstrument(TrackerID("5", "AVeryLongInstrumentNameIndeed"))};
    const auto names = IgtlTrackingOutStream::instrumentsNames(instruments, "Tracker");
    ASSERT_EQ(names.size(), 5u);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 5u);
    EXPECT_EQ(names[0].rfind("instr", 0), 0u);
    EXPECT_EQ(names[2], "Tool");
    for (const auto& n : names)
        EXPECT_LE(n.size(), 20u);
    const auto prefixed = IgtlTrackingOutStream::instrumentsNames(instruments, "LongTrackerDeviceName", true);
    EXPECT_EQ(prefixed[2].substr(prefixed[2].size() - 5), ":Tool");
    EXPECT_EQ(std::set<std::string>(prefixed.begin(), prefixed.end()).size(), 5u);
    for (const auto& n : prefixed)
        EXPECT_LE(n.size(), 20u);
}

TEST(ConversionTest, OwnTrackingMessageCarriesQualityAfterTheTransformOnTheWire)
{
    TrackingInstrument instrument(TrackerID("t", "Needle"));
    instrument.matrix = distinctMatrix();
    instrument.quality = 0.75;
    TrackingMessage::Pointer sent = Conversion::instrumentToTrackingCvx(instrument, "Needle", 42);
    const auto bytes = IgtlTest::bytesOf(*sent);
    ASSERT_EQ(bytes.size(), LibraryAdapter::kHeaderSize + 52);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 2, 12), std::string("TRACKING_CVX"));
    // Quality: big-endian float at body offset 48 (0.75f = 0x3f400000).
    const std::uint8_t* quality = bytes.data() + LibraryAdapter::kHeaderSize + 48;
    EXPECT_EQ(quality[0], 0x3f);
    EXPECT_EQ(quality[1], 0x40);
    EXPECT_EQ(quality[2], 0x00);
    // Translation x (matrix (0,3) = 3.5f = 0x40600000) is the tenth float of the body.
    const std::uint8_t* tx = bytes.data() + LibraryAdapter::kHeaderSize + 36;
    EXPECT_EQ(tx[0], 0x40);
    EXPECT_EQ(tx[1], 0x60);

    auto received = decodeAs<TrackingMessage>(*sent);
    ASSERT_TRUE(received);
    const TrackingInstrument back = Conversion::trackingCvxToInstrument(*received, TrackerID("Needle"));
    EXPECT_EQ(back.quality, 0.75);
    EXPECT_TRUE(back.matrix.isApprox(distinctMatrix()));
    EXPECT_TRUE(std::isnan(TrackingMessage::New()->quality()));
}

TEST(ConversionTest, MeshRoundTripKeepsGeometryNormalsAndColours)
{
    Mesh mesh;
    ASSERT_TRUE(
        mesh.setGeometry({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{0, 1, 2}, {0, 1, 3}, {1, 2, 3}}));
    ASSERT_TRUE(mesh.setVertexNormals({{0, 0, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, -1}}));
    ASSERT_TRUE(mesh.setVertexColors({{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}, {0.5f, 0.5f, 0.5f, 0.25f}}));
    igtl::PolyDataMessage::Pointer sent = Conversion::meshToMessage(mesh, 10, "Surface");
    auto received = decodeAs<igtl::PolyDataMessage>(*sent);
    ASSERT_TRUE(received);
    std::unique_ptr<Mesh> back = Conversion::messageToMesh(*received);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->vertices(), mesh.vertices());
    EXPECT_EQ(back->faces(), mesh.faces());
    EXPECT_EQ(back->vertexNormals(), mesh.vertexNormals());
    EXPECT_EQ(back->vertexColors(), mesh.vertexColors());
}

TEST(ConversionTest, PolyDataWithoutNormalsGetsComputedOnesAndCellAttributesGoToHalfEdges)
{
    igtl::PolyDataMessage::Pointer message = igtl::PolyDataMessage::New();
    message->SetDeviceName("Quad");
    igtl::PolyDataPointArray::Pointer points = igtl::PolyDataPointArray::New();
    for (const auto& p : std::vector<std::array<float, 3>>{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}})
        points->AddPoint(p[0], p[1], p[2]);
    message->SetPoints(points);
    igtl::PolyDataCellArray::Pointer polygons = igtl::PolyDataCellArray::New();
    igtlUint32 quad[4] = {0, 1, 2, 3};
    polygons->AddCell(4, quad);
    message->SetPolygons(polygons);
    igtl::PolyDataAttribute::Pointer colors = igtl::PolyDataAttribute::New();
    colors->SetType(igtl::PolyDataAttribute::CELL_RGBA);
    colors->SetName("cell colors");
    colors->SetSize(1);
    igtlFloat32 rgba[4] = {0.2f, 0.4f, 0.6f, 1.0f};
    colors->SetData(rgba);
    message->AddAttribute(colors);
    message->Pack();
    auto received = decodeAs<igtl::PolyDataMessage>(*message);
    ASSERT_TRUE(received);
    std::unique_ptr<Mesh> mesh = Conversion::messageToMesh(*received);
    ASSERT_TRUE(mesh);
    EXPECT_EQ(mesh->numberOfFaces(), 2);  // the quad, fanned
    ASSERT_TRUE(mesh->hasVertexNormals());
    EXPECT_TRUE(mesh->vertexNormals()[0].isApprox(Eigen::Vector3f(0, 0, 1)));
    ASSERT_EQ(mesh->halfEdgeColors().size(), 6u);
    EXPECT_TRUE(mesh->halfEdgeColors()[5].isApprox(Eigen::Vector4f(0.2f, 0.4f, 0.6f, 1.0f)));
}

TEST(ConversionTest, PointCloudRoundTripKeepsNormalsAndColoursAndHasNoCells)
{
    PointCloud cloud;
    cloud.setPoints({{1, 2, 3}, {4, 5, 6}});
    ASSERT_TRUE(cloud.setNormals({{1, 0, 0}, {0, 1, 0}}));
    ASSERT_TRUE(cloud.setColors({{1, 1, 1, 1}, {0, 0, 0, 1}}));
    igtl::PolyDataMessage::Pointer sent = Conversion::pointCloudToMessage(cloud, 0, "Cloud");
    auto received = decodeAs<igtl::PolyDataMessage>(*sent);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->GetPolygons() == nullptr ? 0u : received->GetPolygons()->GetNumberOfCells(), 0u);
    std::unique_ptr<PointCloud> back = Conversion::messageToPointCloud(*received);
    EXPECT_EQ(back->points(), cloud.points());
    EXPECT_EQ(back->normals(), cloud.normals());
    EXPECT_EQ(back->colors(), cloud.colors());
}

}  // namespace
}  // namespace Corvexis::IGTL
namespace Corvexis::IGTL {
namespace {
TEST(ConversionTest, EmptyPointCloudDecodesToAnEmptyMessage)
{
    igtl::PolyDataMessage::Pointer sent = Conversion::pointCloudToMessage(PointCloud(), 7, "Geometry");
    const auto bytes = IgtlTest::bytesOf(*sent);
    ASSERT_EQ(bytes.size(), LibraryAdapter::kHeaderSize + 40);
    auto received = decodeAs<igtl::PolyDataMessage>(*sent);
    ASSERT_TRUE(received);
}
}  // namespace
}  // namespace Corvexis::IGTL
