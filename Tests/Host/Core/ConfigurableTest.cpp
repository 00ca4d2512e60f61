#include "Host/Core/Configurable.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "Host/Core/Log.h"
#include "Host/Core/Parameter.h"
#include "Host/Core/PropertiesIO.h"

using namespace Corvexis;

namespace {

// A configurable shaped like a stream's settings: typed parameters with labels and attributes.
class Settings : public Configurable
{
public:
    Settings()
    {
        timeout.setLabel("Stream inactivity timeout [ms]");
        history.setAttribute("values", "None, Limited, Unlimited");
        path.setAttribute("OpenDirectory", "true");
    }

    Parameter<int> timeout{"streamInactivityTimeout", 2000, this};
    Parameter<std::string> history{"trackingStreamHistory", "Limited", this};
    Parameter<std::string> path{"defaultStreamRecorderPath", "C:/Temp/CorvexisRecordings", this};
    Parameter<double> fps{"fps", 30.0, this};
    Parameter<std::optional<int>> limit{"limit", std::nullopt, this};
};

}  // namespace

TEST(ConfigurableTest, ConfigurationWritesValuesAndAttributesInRegistrationOrder)
{
    Settings s;
    Properties p("StreamSettings");
    p.setParam("unrelated", 1);
    s.configuration(&p);
    EXPECT_EQ(p.paramNames(),
              (std::vector<std::string>{"unrelated", "streamInactivityTimeout", "trackingStreamHistory",
                                        "defaultStreamRecorderPath", "fps", "limit"}));
    EXPECT_EQ(p.param("streamInactivityTimeout", 0), 2000);
    EXPECT_EQ(p.paramAttribute("streamInactivityTimeout", "label"), "Stream inactivity timeout [ms]");
    EXPECT_EQ(p.paramAttribute("trackingStreamHistory", "values"), "None, Limited, Unlimited");
    EXPECT_EQ(*p.paramText("limit"), "");
    s.configuration(nullptr);  // tolerated
}

TEST(ConfigurableTest, ConfigureRoundTripsThroughTextIntoAnotherObject)
{
    Settings a;
    a.timeout = 500;
    a.history = "a \"quoted\"\nvalue";
    a.fps = 1.0 / 3.0;
    a.limit = 12;
    Properties p("StreamSettings");
    a.configuration(&p);
    const auto parsed = PropertiesIO::loadFromString(PropertiesIO::saveToString(p));
    ASSERT_NE(parsed, nullptr);

    Settings b;
    b.configure(parsed.get());
    EXPECT_EQ(b.timeout.value(), 500);
    EXPECT_EQ(b.history.value(), "a \"quoted\"\nvalue");
    EXPECT_EQ(b.fps.value(), 1.0 / 3.0);
    EXPECT_EQ(b.limit.value(), 12);
}

TEST(ConfigurableTest, MalformedValueKeepsTheOldValueAndLogsKeyAndReason)
{
    Settings s;
    s.timeout = 700;
    Properties p;
    p.setParam("streamInactivityTimeout", "soon");
    p.setParam("fps", 60.0);
    Log::ScopedCapture capture;
    s.configure(&p);
    EXPECT_EQ(s.timeout.value(), 700);
    EXPECT_EQ(s.fps.value(), 60.0);  // the other keys are still applied
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "Configurable", "'streamInactivityTimeout'"));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "Configurable", "'soon'"));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "Configurable", "expected an integer"));
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "Configurable", "keeping '700'"));
    EXPECT_EQ(capture->records().size(), 1u);
}

TEST(ConfigurableTest, ConfigureSignalsOnceAndOnlyWhenSomethingChanged)
{
    Settings s;
    int changes = 0;
    auto connection = s.signalParametersChanged.connect([&] { ++changes; });
    int timeoutChanges = 0;
    auto timeoutConnection = s.timeout.signalValueChanged.connect([&](const int&) { ++timeoutChanges; });

    Properties same;
    s.configuration(&same);
    s.configure(&same);
    EXPECT_EQ(changes, 0);

    Properties several;
    several.setParam("streamInactivityTimeout", 1);
    several.setParam("fps", 5.0);
    several.setParam("limit", 3);
    s.configure(&several);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(timeoutChanges, 1);

    s.timeout = 2;  // a single change outside configure signals at once
    EXPECT_EQ(changes, 2);

    s.configureDefaults();
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(s.timeout.value(), 2000);
    EXPECT_EQ(s.limit.value(), std::nullopt);
    s.configureDefaults();
    EXPECT_EQ(changes, 3);

    s.configure(nullptr);
    EXPECT_EQ(changes, 3);
}

TEST(ConfigurableTest, NestedBatchesSignalOnceAtTheOutermostEnd)
{
    Settings s;
    int changes = 0;
    auto connection = s.signalParametersChanged.connect([&] { ++changes; });
    {
        Configurable::ChangeBatch outer(s);
        s.timeout = 1;
        {
            Configurable::ChangeBatch inner(s);
            s.fps = 2.0;
        }
        EXPECT_EQ(changes, 0);
        Properties p;
        p.setParam("fps", 3.0);
        s.configure(&p);
        EXPECT_EQ(changes, 0);
    }
    EXPECT_EQ(changes, 1);
}

TEST(ConfigurableTest, RegistrationRefusesDuplicatesAndForeignParametersAndFollowsLifetimes)
{
    Settings s;
    Log::ScopedCapture capture;
    Parameter<int> twin("fps", 1);
    s.registerParameter(&twin);
    EXPECT_EQ(twin.owner(), nullptr);
    EXPECT_TRUE(capture->containsFragment(Log::Level::Warning, "Configurable", "'fps' not registered"));

    Settings other;
    other.registerParameter(&s.fps);
    EXPECT_EQ(s.fps.owner(), &s);
    EXPECT_EQ(other.parameter("fps"), &other.fps);

    s.registerParameter(&s.fps);  // already ours: nothing happens, no warning
    EXPECT_EQ(capture->records().size(), 2u);

    {
        Parameter<int> extra("extra", 9, &s);
        EXPECT_EQ(s.parameter("extra"), &extra);
        EXPECT_EQ(s.parameters().size(), 6u);
    }
    EXPECT_EQ(s.parameter("extra"), nullptr);
    EXPECT_EQ(s.parameters().size(), 5u);

    // A parameter that outlives its owner is left without one and still works.
    auto owner = std::make_unique<Configurable>();
    Parameter<int> survivor("survivor", 1, owner.get());
    EXPECT_EQ(survivor.owner(), owner.get());
    owner.reset();
    EXPECT_EQ(survivor.owner(), nullptr);
    survivor = 2;
    EXPECT_EQ(survivor.value(), 2);

    Configurable plain;
    s.unregisterParameter(&s.limit);
    plain.registerParameter(&s.limit);
    EXPECT_EQ(s.limit.owner(), &plain);
    int changes = 0;
    auto connection = plain.signalParametersChanged.connect([&] { ++changes; });
    s.limit = 4;
    EXPECT_EQ(changes, 1);
    plain.unregisterParameter(&s.limit);
}
