#include "Stream/Simulated/FakeTrackingStream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>

#include "Host/Core/Log.h"
#include "Host/Core/Properties.h"
#include "Host/Core/PropertiesIO.h"
#include "Stream/Framework/TrackingStreamData.h"
#include "Support/TestUtil.h"

namespace Corvexis {
namespace {

using Fake = FakeTrackingStream;
constexpr double kPi = std::numbers::pi;
constexpr double kEps = 1e-12;

// Lets the test run single work cycles on its own thread.
class SteppedFakeStream : public FakeTrackingStream
{
public:
    SteppedFakeStream() : FakeTrackingStream("Fake Tracking Stream") {}
    using FakeTrackingStream::doWork;
    using FakeTrackingStream::openImpl;
};

Eigen::Vector3d position(const Eigen::Matrix4d& m)
{
    return m.block<3, 1>(0, 3);
}

Eigen::Matrix3d rotationPart(const Eigen::Matrix4d& m)
{
    return m.topLeftCorner<3, 3>();
}

// Rotation angle about x of a pose whose rotation is about x.
double angleAboutX(const Eigen::Matrix4d& m)
{
    return std::atan2(m(2, 1), m(1, 1));
}

std::vector<std::string> names(const TrackingStream& s)
{
    std::vector<std::string> result;
    for (const auto& t : s.instruments())
        result.push_back(t.id.ID() + "=" + t.id.name());
    return result;
}

std::filesystem::path exampleFile()
{
    return std::filesystem::path(CORVEXIS_SOURCE_DIR) / "examples" /
           "fake-tracking.properties";
}

TEST(FakeTrackingStreamDevices, OscillatingAtZeroAndQuarterPeriod)
{
    const double v = 2.0;
    const Fake::OscillatingDevice d(Eigen::Vector3d::Zero(), Eigen::Vector3d(2, 0, 0), v);
    const Eigen::Matrix4d atZero = d.matrix(0.0);
    EXPECT_TRUE(position(atZero).isApprox(Eigen::Vector3d(0, 25, 0), kEps));
    EXPECT_TRUE(rotationPart(atZero).isIdentity(kEps));
    EXPECT_DOUBLE_EQ(d.quality(0.0), 1.0);

    const double t = kPi / (2 * v);
    const Eigen::Matrix4d quarter = d.matrix(t);
    EXPECT_NEAR(quarter(0, 3), 5.0, kEps);
    EXPECT_NEAR(quarter(1, 3), 0.0, 1e-9);
    EXPECT_NEAR(quarter(2, 3), 0.0, kEps);
    EXPECT_NEAR(angleAboutX(quarter), (kPi / 2) / 10, kEps);  // x / 10 with x = t v = pi/2
    // Quality ignores the speed: |cos(t / 10)|, scaled into [minimumQuality, 1].
    EXPECT_NEAR(d.quality(t), std::abs(std::cos(t / 10)), kEps);
    Fake::OscillatingDevice floor = d;
    floor.minimumQuality = 0.5;
    EXPECT_NEAR(floor.quality(5 * kPi), 0.5, kEps);  // cos(pi/2) = 0

    // The centre shifts the ellipse.
    const Fake::OscillatingDevice moved(Eigen::Vector3d(1, 2, 3), Eigen::Vector3d::UnitZ(), v);
    EXPECT_TRUE(position(moved.matrix(0.0)).isApprox(Eigen::Vector3d(1, 27, 3), kEps));
}

TEST(FakeTrackingStreamDevices, ZeroAxesMeanIdentityOrNoTilt)
{
    const Fake::OscillatingDevice still(Eigen::Vector3d(4, 5, 6), Eigen::Vector3d::Zero(), 3.0);
    for (double t : {0.0, 0.7, 123.0}) {
        EXPECT_TRUE(still.matrix(t).isIdentity(0.0)) << t;
        EXPECT_EQ(still.quality(t), 1.0);
    }
    Fake::SweepDevice flat;
    flat.rotationAxis = Eigen::Vector3d::Zero();
    const Eigen::Matrix4d m = flat.matrix(5 * kPi);  // sin(t v) = 1
    EXPECT_TRUE(rotationPart(m).isIdentity(0.0));
    EXPECT_TRUE(position(m).isApprox(Eigen::Vector3d(0, -2, 0), kEps));
    // A tiny but non-zero axis still rotates.
    Fake::SweepDevice tiny;
    tiny.rotationAxis = Eigen::Vector3d(1e-100, 0, 0);
    EXPECT_NEAR(angleAboutX(tiny.matrix(5 * kPi)), kPi / 8, kEps);
}

TEST(FakeTrackingStreamDevices, SweepDefaultsReachTheirExtremes)
{
    const Fake::SweepDevice d;
    EXPECT_DOUBLE_EQ(d.speed.value(), 0.1);
    // sin(0.1 t) is +1 at t = 5 pi and -1 at t = 15 pi.
    const Eigen::Matrix4d plus = d.matrix(5 * kPi);
    const Eigen::Matrix4d minus = d.matrix(15 * kPi);
    EXPECT_TRUE(position(plus).isApprox(Eigen::Vector3d(0, -2, 0), kEps));
    EXPECT_TRUE(position(minus).isApprox(Eigen::Vector3d(0, 2, 0), kEps));
    EXPECT_NEAR(angleAboutX(plus) * 180 / kPi, 22.5, 1e-9);
    EXPECT_NEAR(angleAboutX(minus) * 180 / kPi, -22.5, 1e-9);
    EXPECT_TRUE(d.matrix(0).isIdentity(kEps));
    EXPECT_EQ(d.quality(3.0), 1.0);

    Fake::SweepDevice based = d;
    based.baseAngle = kPi / 2;
    EXPECT_NEAR(angleAboutX(based.matrix(0)), kPi / 2, kEps);
}

TEST(FakeTrackingStreamDevices, ConstantDeviceAndCopies)
{
    Fake::ConstantDevice c(Eigen::Vector3d(1, 2, 3));
    EXPECT_EQ(c.speed.value(), 0.0);
    c.fixedQuality = 0.25;
    EXPECT_TRUE(position(c.matrix(99)).isApprox(Eigen::Vector3d(1, 2, 3), 0.0));
    EXPECT_EQ(c.quality(99), 0.25);

    Fake::OscillatingDevice o(Eigen::Vector3d::Zero(), Eigen::Vector3d::UnitY(), 7.0);
    auto clone = o.clone();
    EXPECT_EQ(clone->deviceTypeName(), "OscillatingDevice");
    EXPECT_EQ(clone->speed.value(), 7.0);
    o.speed = 1.0;
    EXPECT_EQ(clone->speed.value(), 7.0);  // a clone shares nothing
    EXPECT_EQ(clone->parameter("speed"), &clone->speed);
    Fake::OscillatingDevice assigned;
    assigned = o;
    EXPECT_EQ(assigned.speed.value(), 1.0);
    EXPECT_EQ(assigned.axis, Eigen::Vector3d::UnitY());
}

TEST(FakeTrackingStreamDevices, AnglesAreDegreesInTheConfiguration)
{
    Properties p;
    p.setParam("angleAmplitude", 45.0);
    p.setParam("baseAngle", -90.0);
    Fake::SweepDevice d;
    d.configure(&p);
    EXPECT_NEAR(d.angleAmplitude, kPi / 4, kEps);
    EXPECT_NEAR(d.baseAngle, -kPi / 2, kEps);
    EXPECT_EQ(d.translationAmplitude, 2.0);  // missing keys keep their values

    Properties saved;
    Fake::SweepDevice().configuration(&saved);
    EXPECT_NEAR(saved.param("angleAmplitude", 0.0), 22.5, 1e-12);
    for (const char* key :
         {"center", "rotationAxis", "translationAxis", "translationAmplitude", "angleAmplitude", "baseAngle", "speed"})
        EXPECT_TRUE(saved.hasParam(key)) << key;
}

TEST(FakeTrackingStream, AddRemoveAndIdentifiers)
{
    Log::ScopedCapture capture;
    SteppedFakeStream s;
    int instrumentSignals = 0;
    std::vector<std::string> mains;
    s.signalInstrumentsChanged.connect([&] { ++instrumentSignals; });
    s.signalMainInstrumentChanged.connect([&](const std::string& id) { mains.push_back(id); });

    EXPECT_EQ(s.addDevice(std::make_unique<Fake::ConstantDevice>()), "faketrk-0");
    EXPECT_EQ(s.addDevice(std::make_unique<Fake::SweepDevice>()), "faketrk-1");
    EXPECT_EQ(s.addDevice(std::make_unique<Fake::OscillatingDevice>()), "faketrk-2");
    EXPECT_EQ(s.addDevice(nullptr), "");
    EXPECT_EQ(names(s), (std::vector<std::string>{"faketrk-0=ConstantDevice", "faketrk-1=SweepDevice",
                                                  "faketrk-2=OscillatingDevice"}));
    EXPECT_EQ(instrumentSignals, 3);
    EXPECT_EQ(mains, (std::vector<std::string>{"faketrk-0"}));

    EXPECT_TRUE(s.removeDevice("faketrk-0"));
    EXPECT_FALSE(s.removeDevice("faketrk-0"));
    EXPECT_EQ(mains, (std::vector<std::string>{"faketrk-0", "faketrk-1"}));
    EXPECT_EQ(s.addDevice(std::make_unique<Fake::ConstantDevice>()), "faketrk-0");

    const auto copies = s.devicesCopy();
    ASSERT_EQ(copies.size(), 3u);
    EXPECT_EQ(copies.at("faketrk-1")->deviceTypeName(), "SweepDevice");
    EXPECT_EQ(s.kind(), Data::Kind::TrackingStream);
}

TEST(FakeTrackingStream, WorkCycleAdvancesByTheTruncatedPeriod)
{
    SteppedFakeStream s;
    s.addDevice(std::make_unique<Fake::OscillatingDevice>());
    std::vector<std::shared_ptr<const TrackingStreamData>> records;
    s.signalStreamData.connect([&](const std::shared_ptr<const StreamData>& r) {
        records.push_back(std::dynamic_pointer_cast<const TrackingStreamData>(r));
    });
    ASSERT_EQ(s.fps.value(), 30.0);
    const auto before = std::chrono::time_point_cast<Stream::Ticks>(std::chrono::system_clock::now());
    const auto next = s.doWork();
    const auto after = std::chrono::time_point_cast<Stream::Ticks>(std::chrono::system_clock::now());
    ASSERT_TRUE(next && next->nextCall);
    EXPECT_GE(*next->nextCall, before + Stream::Ticks(333330));
    EXPECT_LE(*next->nextCall, after + Stream::Ticks(333330));
    EXPECT_DOUBLE_EQ(s.simulatedTime(), 0.033333);  // not 1/30

    s.doWork();
    s.doWork();
    EXPECT_DOUBLE_EQ(s.simulatedTime(), 3 * 0.033333);
    ASSERT_EQ(records.size(), 3u);
    const auto last = records.back()->instrument("faketrk-0");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->timestamp, 66u);  // 0.066666 s of simulated time, truncated to milliseconds
    EXPECT_EQ(records.back()->timestampDevice(), 66u);
    const Fake::OscillatingDevice reference;
    EXPECT_TRUE(last->matrix.isApprox(reference.matrix(2 * 0.033333), kEps));

    s.openImpl();
    EXPECT_EQ(s.simulatedTime(), 0.0);
}

TEST(FakeTrackingStream, DisabledInstrumentKeepsItsLastPoseAndTimestamp)
{
    SteppedFakeStream s;
    const std::string id = s.addDevice(std::make_unique<Fake::OscillatingDevice>());
    int records = 0;
    s.signalStreamData.connect([&](const std::shared_ptr<const StreamData>&) { ++records; });
    s.doWork();
    s.doWork();
    s.setInstrumentActive(id, false);
    const TrackingInstrument kept = *s.queryInstrument(id);
    EXPECT_EQ(kept.timestamp, 33u);
    s.doWork();
    s.doWork();
    EXPECT_EQ(*s.queryInstrument(id), kept);  // pose, quality and timestamp
    EXPECT_EQ(records, 2);                    // nothing changed, nothing emitted
    s.setInstrumentActive(id, true);
    s.doWork();
    EXPECT_EQ(s.queryInstrument(id)->timestamp, 133u);
    EXPECT_EQ(records, 3);
}

TEST(FakeTrackingStream, SaveAndLoadOrdersKindsOscillatingSweepConstant)
{
    SteppedFakeStream original;
    original.fps = 60.0;
    original.addDevice(std::make_unique<Fake::ConstantDevice>(Eigen::Vector3d(1, 1, 1)));
    original.addDevice(std::make_unique<Fake::SweepDevice>());
    original.addDevice(std::make_unique<Fake::OscillatingDevice>(Eigen::Vector3d::Zero(), Eigen::Vector3d::UnitZ(), 3));
    original.setInstrumentName("faketrk-1", "Probe");
    original.setInstrumentActive("faketrk-0", false);
    Properties saved;
    original.configuration(&saved);

    SteppedFakeStream loaded;
    loaded.addDevice(std::make_unique<Fake::ConstantDevice>());  // replaced by the load
    int instrumentSignals = 0;
    loaded.signalInstrumentsChanged.connect([&] { ++instrumentSignals; });
    loaded.configure(&saved);
    EXPECT_EQ(instrumentSignals, 1);
    EXPECT_EQ(loaded.fps.value(), 60.0);
    EXPECT_EQ(names(loaded), (std::vector<std::string>{"faketrk-0=OscillatingDevice", "faketrk-1=Probe",
                                                       "faketrk-2=ConstantDevice"}));
    EXPECT_FALSE(loaded.isInstrumentActive("faketrk-2"));
    EXPECT_TRUE(loaded.isInstrumentActive("faketrk-0"));
    const auto devices = loaded.devicesCopy();
    EXPECT_EQ(devices.at("faketrk-0")->speed.value(), 3.0);
    const auto* constant = dynamic_cast<const Fake::ConstantDevice*>(devices.at("faketrk-2").get());
    ASSERT_NE(constant, nullptr);
    EXPECT_EQ(constant->center, Eigen::Vector3d(1, 1, 1));

    // Without a "Devices" block only the parameters change.
    Properties onlyFps;
    onlyFps.setParam("fps", 10.0);
    loaded.configure(&onlyFps);
    EXPECT_EQ(loaded.fps.value(), 10.0);
    EXPECT_EQ(loaded.instruments().size(), 3u);
}

TEST(FakeTrackingStream, PerInstrumentConfiguration)
{
    SteppedFakeStream s;
    const std::string id = s.addDevice(std::make_unique<Fake::SweepDevice>());
    int instrumentSignals = 0;
    s.signalInstrumentsChanged.connect([&] { ++instrumentSignals; });
    Properties block;
    block.setParam("enabled", false);
    block.setParam("name", "Tilted probe");
    block.setParam("angleAmplitude", 45.0);
    EXPECT_TRUE(s.configureDevice(id, &block));
    EXPECT_FALSE(s.configureDevice("faketrk-9", &block));
    EXPECT_EQ(instrumentSignals, 1);
    EXPECT_FALSE(s.isInstrumentActive(id));
    EXPECT_EQ(s.queryInstrument(id)->id.name(), "Tilted probe");

    Properties written;
    EXPECT_TRUE(s.configurationDevice(id, &written));
    EXPECT_EQ(written.param("name", ""), "Tilted probe");
    EXPECT_FALSE(written.param("enabled", true));
    EXPECT_NEAR(written.param("angleAmplitude", 0.0), 45.0, 1e-12);
    const auto copies = s.devicesCopy();
    const auto* sweep = dynamic_cast<const Fake::SweepDevice*>(copies.at(id).get());
    ASSERT_NE(sweep, nullptr);
    EXPECT_NEAR(sweep->angleAmplitude, kPi / 4, kEps);
    Properties none;
    EXPECT_FALSE(s.configurationDevice("faketrk-9", &none));
}

TEST(FakeTrackingStream, ShippedExampleLoadsAndIsExactlyWhatTheStreamSaves)
{
    std::ifstream in(exampleFile(), std::ios::binary);
    ASSERT_TRUE(in) << exampleFile();
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    const auto properties = PropertiesIO::loadFromString(text.str(), &error);
    ASSERT_TRUE(properties) << error;

    SteppedFakeStream s;
    s.configure(properties.get());
    EXPECT_EQ(names(s), (std::vector<std::string>{"faketrk-0=Pointer", "faketrk-1=Probe"}));
    Properties saved(properties->name());
    s.configuration(&saved);
    EXPECT_EQ(PropertiesIO::saveToString(saved), text.str());
}

TEST(FakeTrackingStream, RunsOnItsWorkerAndReplaysAfterReopening)
{
    FakeTrackingStream s("Fake Tracking Stream");
    s.fps = 200.0;
    s.addDevice(std::make_unique<Fake::OscillatingDevice>());
    std::mutex mutex;
    std::vector<std::uint64_t> timestamps;
    s.signalStreamData.connect([&](const std::shared_ptr<const StreamData>& r) {
        std::lock_guard lock(mutex);
        timestamps.push_back(r->timestampDevice());
    });
    namespace T = Corvexis::Test;
    const auto count = [&] {
        std::lock_guard lock(mutex);
        return timestamps.size();
    };
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(T::waitUntil([&] { return count() >= 3; }));
    ASSERT_TRUE(s.close());
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(timestamps[0], 0u);
        EXPECT_EQ(timestamps[1], 5u);
        timestamps.clear();
    }
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(T::waitUntil([&] { return count() >= 1; }));
    ASSERT_TRUE(s.close());
    std::lock_guard lock(mutex);
    EXPECT_EQ(timestamps[0], 0u);
}

}  // namespace
}  // namespace Corvexis
