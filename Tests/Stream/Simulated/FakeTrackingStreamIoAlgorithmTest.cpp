#include "Stream/Simulated/FakeTrackingStreamIoAlgorithm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Host/Core/Log.h"
#include "Host/Core/OwningDataList.h"
#include "Host/Core/Properties.h"
#include "Stream/StreamAlgorithmFactory.h"

namespace Corvexis {
namespace {

std::vector<std::string> typesOf(const FakeTrackingStream& stream)
{
    std::vector<std::string> types;
    for (const auto& [id, device] : stream.devicesCopy())
        types.push_back(id + "=" + device->deviceTypeName());
    return types;
}

TEST(FakeTrackingStreamIoAlgorithm, DeviceActionsAddAndRemoveTheLastDevice)
{
    Log::ScopedCapture capture;
    FakeTrackingStreamIoAlgorithm algorithm;
    std::vector<std::string> ids;
    for (const auto& a : algorithm.actions())
        ids.push_back(a.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"addOscillatingDevice", "addSweepDevice", "addConstantDevice",
                                             "removeDevice"}));
    EXPECT_FALSE(algorithm.runAction("addSweepDevice"));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Error, "FakeTrackingStreamIoAlgorithm", "no stream"));

    algorithm.compute();
    ASSERT_EQ(algorithm.status(), Algorithm::Status::Success);
    FakeTrackingStream* stream = algorithm.fakeStream();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->currentState(), Stream::State::Running);
    EXPECT_TRUE(typesOf(*stream).empty()) << "starts without instruments";
    EXPECT_FALSE(algorithm.runAction("removeDevice"));

    // Twelve devices, so that identifier order ("faketrk-10" < "faketrk-2") differs from the order added.
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(algorithm.runAction("addOscillatingDevice"));
    ASSERT_TRUE(algorithm.runAction("addSweepDevice"));
    ASSERT_TRUE(algorithm.runAction("addConstantDevice"));
    EXPECT_TRUE(
        capture->contains(Log::Level::Info, "FakeTrackingStreamIoAlgorithm",
                          "FakeTrackingStreamIoAlgorithm addConstantDevice(): added faketrk-11, number of "
                          "devices: 12"));
    auto devices = stream->devicesCopy();
    ASSERT_EQ(devices.size(), 12u);
    EXPECT_EQ(devices.at("faketrk-10")->deviceTypeName(), "SweepDevice");
    EXPECT_EQ(devices.at("faketrk-11")->deviceTypeName(), "ConstantDevice");
    // The defaults of a new device: an oscillating one circles on its ellipse about the x axis.
    const auto& oscillating =
        dynamic_cast<const FakeTrackingStream::OscillatingDevice&>(*devices.at("faketrk-0"));
    EXPECT_EQ(oscillating.axis, Eigen::Vector3d::UnitX());
    EXPECT_EQ(oscillating.speed.value(), 1.0);

    ASSERT_TRUE(algorithm.runAction("removeDevice"));
    devices = stream->devicesCopy();
    EXPECT_EQ(devices.count("faketrk-11"), 0u);
    EXPECT_EQ(devices.count("faketrk-10"), 1u);
    ASSERT_TRUE(algorithm.runAction("removeDevice"));
    EXPECT_EQ(stream->devicesCopy().count("faketrk-10"), 0u);
    EXPECT_EQ(stream->devicesCopy().size(), 10u);

    // Still reaches the stream after the host took it, until the host destroys it.
    OwningDataList output = algorithm.takeOutput();
    ASSERT_EQ(output.size(), 1u);
    EXPECT_TRUE(algorithm.runAction("addSweepDevice"));
    EXPECT_EQ(stream->devicesCopy().size(), 11u);
    output.clear();
    EXPECT_EQ(algorithm.fakeStream(), nullptr);
    EXPECT_FALSE(algorithm.runAction("removeDevice"));
}

TEST(FakeTrackingStreamIoAlgorithm, FactoryCreatesTheSubclassForAnEmptyList)
{
    StreamAlgorithmFactory factory;
    auto created = factory.create("Stream.CreateStreamIoFakeTracking", DataList{});
    EXPECT_NE(dynamic_cast<FakeTrackingStreamIoAlgorithm*>(created.get()), nullptr);
}

}  // namespace
}  // namespace Corvexis
