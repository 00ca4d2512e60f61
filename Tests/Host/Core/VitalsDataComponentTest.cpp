#include "Host/Core/VitalsDataComponent.h"

#include <gtest/gtest.h>

#include "Host/Core/Log.h"
#include "Host/Core/Properties.h"
#include "Host/Core/PropertiesIO.h"

using namespace Corvexis;

using Vitals = VitalsDataComponent;

namespace {

Vitals::Sample sample(std::int64_t ticks, double value)
{
    return {Vitals::TimePoint(Vitals::Ticks(ticks)), value};
}

}  // namespace

TEST(VitalsDataComponentTest, SeriesKeepOrderAndEmptySeriesCount)
{
    Vitals v;
    EXPECT_EQ(v.id(), "VitalsDataComponent");
    v.addTimeSeries(Vitals::VitalsKind::Ecg, {sample(0, 0.1), sample(33333, 0.2)});
    v.addTimeSeries(Vitals::VitalsKind::HeartRate, {});
    ASSERT_EQ(v.timeSeries().size(), 2u);
    EXPECT_EQ(v.sampleCount(), 2u);
    ASSERT_NE(v.timeSeries(Vitals::VitalsKind::HeartRate), nullptr);
    EXPECT_TRUE(v.timeSeries(Vitals::VitalsKind::HeartRate)->samples.empty());
    EXPECT_EQ(v.timeSeries(Vitals::VitalsKind::Respiration), nullptr);

    std::unique_ptr<DataComponentBase> c = v.clone();
    auto* copy = dynamic_cast<Vitals*>(c.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(*copy, v);
    copy->clear();
    EXPECT_EQ(v.timeSeries().size(), 2u);
}

TEST(VitalsDataComponentTest, ConfigurationRoundTripsExactTimesAndValues)
{
    Vitals v;
    // Ticks beyond 2^53 and values without a short decimal form must survive the text form exactly.
    v.addTimeSeries(Vitals::VitalsKind::Ecg,
                    {sample(17'000'000'000'000'001, 1.0 / 3.0), sample(17'000'000'000'033'334, -0.25)});
    v.addTimeSeries(Vitals::VitalsKind::PulseOximetry, {});
    Properties p;
    v.configuration(&p);
    std::unique_ptr<Properties> loaded = PropertiesIO::loadFromString(PropertiesIO::saveToString(p));
    ASSERT_NE(loaded, nullptr);
    Vitals back;
    back.configure(loaded.get());
    EXPECT_EQ(back, v);
}

TEST(VitalsDataComponentTest, MalformedSeriesAreSkipped)
{
    Properties p;
    Properties* mismatched = p.addSubProperties("TimeSeries");
    mismatched->setParam("kind", 0);
    mismatched->setParam("times", std::vector<std::int64_t>{1, 2});
    mismatched->setParam("values", std::vector<double>{1.0});
    Properties* badKind = p.addSubProperties("TimeSeries");
    badKind->setParam("kind", 77);
    badKind->setParam("times", std::vector<std::int64_t>{});
    badKind->setParam("values", std::vector<double>{});
    Properties* good = p.addSubProperties("TimeSeries");
    good->setParam("kind", 3);
    good->setParam("times", std::vector<std::int64_t>{5});
    good->setParam("values", std::vector<double>{120.0});

    Vitals v;
    Log::ScopedCapture capture;
    v.configure(&p);
    ASSERT_EQ(v.timeSeries().size(), 1u);
    EXPECT_EQ(v.timeSeries()[0].kind, Vitals::VitalsKind::BloodPressure);
    EXPECT_EQ(capture->records().size(), 2u);
    EXPECT_EQ(Vitals::kindName(Vitals::VitalsKind::BloodPressure), "Blood Pressure");
    EXPECT_EQ(Vitals::unit(Vitals::VitalsKind::BloodPressure), "mmHg");
}
