#include "Apps/corvexis/SettingsApplier.h"

#include <gtest/gtest.h>

#include "Host/Core/Configurable.h"
#include "Host/Core/Parameter.h"
#include "Host/Core/PropertiesIO.h"
#include "Host/Core/SettingsSchema.h"

namespace Corvexis {
namespace {

// Reads one registered parameter and, like the simulated streams, a nested block and a list of blocks
// that are not parameters. Records what configure received.
class Object : public Configurable
{
public:
    Object()
    {
        rate.setAttribute("min", "1");
        rate.setAttribute("max", "100");
    }

    void configure(const Properties* p) override
    {
        Configurable::configure(p);
        ++configureCalls;
        if (p != nullptr)
            received = *p;
    }
    void configuration(Properties* p) const override
    {
        Configurable::configuration(p);
        Properties* size = p->addSubProperties("size");
        size->setParam("width", 100);
        size->setParam("height", 50);
        Properties* list = p->addSubProperties("Items");
        list->addSubProperties("Round")->setParam("radius", 1.0);
    }
    void describeSettings(Properties* schema) const override
    {
        Configurable::describeSettings(schema);
        Properties* size = schema->addSubProperties("size");
        SettingsSchema::add(*size, "width", 100);
        size->setParamAttribute("width", "min", "1");
        SettingsSchema::add(*size, "height", 50);
        Properties* list = schema->addSubProperties("Items");
        list->setAttribute("repeated", "true");
        SettingsSchema::add(*list->addSubProperties("Round"), "radius", 1.0);
        SettingsSchema::add(*list->addSubProperties("Square"), "side", 1.0);
    }

    Parameter<double> rate{"rate", 30.0, this};
    int configureCalls = 0;
    Properties received;
};

Properties overrides(const std::vector<std::pair<std::string, std::string>>& pairs)
{
    Properties p("Settings");
    for (const auto& [k, v] : pairs)
        p.setParamText(k, v);
    return p;
}

TEST(SettingsApplierTest, KeysChangeOnlyThemselvesOnTopOfTheCurrentConfiguration)
{
    Object object;
    SettingsApplier::Refusal refusal;
    ASSERT_TRUE(SettingsApplier::apply(object, overrides({{"rate", "60"}, {"height", "7"}}), &refusal))
        << refusal.text;
    EXPECT_EQ(object.configureCalls, 1);
    EXPECT_EQ(object.rate.value(), 60.0);
    // "height" lives only in the "size" block, so it may be named alone; "width" keeps its value.
    EXPECT_EQ(object.received.subProperties("size")->param("height", 0), 7);
    EXPECT_EQ(object.received.subProperties("size")->param("width", 0), 100);
    EXPECT_EQ(object.received.subProperties("Items")->subProperties().size(), 1u);

    ASSERT_TRUE(SettingsApplier::apply(object, overrides({{"size.width", "3"}}), &refusal)) << refusal.text;
    EXPECT_EQ(object.received.subProperties("size")->param("width", 0), 3);
    EXPECT_EQ(object.rate.value(), 60.0);
}

TEST(SettingsApplierTest, RefusalsLeaveTheObjectUntouched)
{
    struct Case
    {
        std::pair<std::string, std::string> setting;
        std::string expected;
    };
    const std::vector<Case> cases{
        {{"rate", "abc"}, "setting rate=abc not accepted: expected a number from 1 to 100"},
        {{"rate", "0"}, "setting rate=0 not accepted: expected a number from 1 to 100"},
        {{"rate", "100.5"}, "setting rate=100.5 not accepted"},
        {{"rate", "nan"}, "setting rate=nan not accepted"},
        {{"width", "-5"}, "setting width=-5 not accepted: expected an integer of at least 1"},
        {{"width", "2.5"}, "setting width=2.5 not accepted"},
        {{"rat", "3"}, "unknown setting 'rat'; did you mean 'rate'?"},
        {{"size.depth", "3"}, "unknown setting 'size.depth'"},
        {{"radius", "3"}, "unknown setting 'radius'"},  // inside a list: not settable alone
    };
    for (const auto& c : cases) {
        Object object;
        SettingsApplier::Refusal refusal;
        EXPECT_FALSE(SettingsApplier::apply(object, overrides({c.setting}), &refusal)) << c.expected;
        EXPECT_EQ(refusal.text.rfind(c.expected, 0), 0u)
            << "expected: " << c.expected << "\n     got: " << refusal.text;
        EXPECT_EQ(object.configureCalls, 0);
        EXPECT_EQ(object.rate.value(), 30.0);
    }
}

TEST(SettingsApplierTest, ListBlocksAreCheckedEntryByEntryAndReplacedWhole)
{
    Object object;
    PropertiesIO::SourceLines lines;
    auto given = PropertiesIO::loadFromString(
        "S {\n  Items {\n    Square {\n      side = 2\n    }\n    Square {\n      side = 3\n    }\n  }\n}\n",
        nullptr, &lines);
    ASSERT_TRUE(given);
    SettingsApplier::Refusal refusal;
    ASSERT_TRUE(SettingsApplier::apply(object, *given, &refusal, &lines)) << refusal.text;
    const auto items = object.received.subProperties("Items")->subProperties();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->name(), "Square");
    EXPECT_EQ(items[1]->param("side", 0.0), 3.0);
    EXPECT_EQ(object.received.subPropertiesList("Items").size(), 1u);

    given = PropertiesIO::loadFromString(
        "S {\n  Items {\n    Round {\n      radius = x\n    }\n    Oval {\n    }\n  }\n}\n", nullptr, &lines);
    ASSERT_TRUE(given);
    EXPECT_FALSE(SettingsApplier::apply(object, *given, &refusal, &lines));
    EXPECT_EQ(refusal.text, "setting Items.Round.radius=x not accepted: expected a number");
    EXPECT_EQ(refusal.line, 4);

    given = PropertiesIO::loadFromString("S {\n  Items {\n    Oval {\n    }\n  }\n}\n", nullptr, &lines);
    EXPECT_FALSE(SettingsApplier::apply(object, *given, &refusal, &lines));
    EXPECT_EQ(refusal.text, "unknown block 'Oval' in Items (expected one of Round, Square)");
    EXPECT_EQ(refusal.line, 3);
}

}  // namespace
}  // namespace Corvexis
