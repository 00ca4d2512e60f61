#include "Host/Core/SettingsSchema.h"

#include <gtest/gtest.h>

#include "Host/Core/Configurable.h"
#include "Host/Core/Parameter.h"
#include "Host/Core/PropertiesIO.h"

namespace Corvexis {
namespace {

enum class Colour : int
{
    Red,
    Green
};

TEST(SettingsSchemaTest, TypesFollowTheValueTypes)
{
    EXPECT_EQ(SettingsSchema::typeOf<bool>(), "bool");
    EXPECT_EQ(SettingsSchema::typeOf<int>(), "integer");
    EXPECT_EQ(SettingsSchema::typeOf<Colour>(), "integer");
    EXPECT_EQ(SettingsSchema::typeOf<double>(), "number");
    EXPECT_EQ(SettingsSchema::typeOf<std::string>(), "text");
    EXPECT_EQ(SettingsSchema::typeOf<Eigen::Vector3d>(), "numbers 3");
    EXPECT_EQ(SettingsSchema::typeOf<Eigen::Matrix4d>(), "numbers 16");
    EXPECT_EQ(SettingsSchema::typeOf<Eigen::VectorXd>(), "list");
    EXPECT_EQ(SettingsSchema::typeOf<std::optional<int>>(), "integer?");
    EXPECT_EQ(SettingsSchema::typeOf<std::vector<int>>(), "list");
}

// Registered parameters describe themselves by default: default value (not the current one), type and
// every attribute.
TEST(SettingsSchemaTest, ConfigurableDescribesItsParameters)
{
    Configurable object;
    Parameter<double> rate("rate", 30.0, &object);
    rate.setAttribute("min", "1");
    rate.setAttribute("label", "Rate");
    rate = 12.0;
    Parameter<Colour> colour("colour", Colour::Green, &object);
    colour.setAttribute("values", "Red, Green");
    Properties schema;
    object.describeSettings(&schema);
    EXPECT_EQ(schema.paramNames(), (std::vector<std::string>{"rate", "colour"}));
    EXPECT_EQ(*schema.paramText("rate"), "30");
    EXPECT_EQ(schema.paramAttribute("rate", "type"), "number");
    EXPECT_EQ(schema.paramAttribute("rate", "min"), "1");
    EXPECT_EQ(SettingsSchema::describe(schema, "rate"), "a number of at least 1");
    EXPECT_EQ(SettingsSchema::describe(schema, "colour"), "one of 0 (Red), 1 (Green)");
}

TEST(SettingsSchemaTest, AcceptsChecksTypeLimitsAndValuesAtTheBoundaries)
{
    Properties schema;
    SettingsSchema::add(schema, "fps", 30.0);
    schema.setParamAttribute("fps", "min", "0.1");
    schema.setParamAttribute("fps", "max", "1000");
    SettingsSchema::add(schema, "count", 1);
    schema.setParamAttribute("count", "min", "0");
    SettingsSchema::add(schema, "mode", 0);
    schema.setParamAttribute("mode", "values", "A, B, C");
    SettingsSchema::add(schema, "on", false);
    SettingsSchema::add(schema, "centre", Eigen::Vector3d(0, 0, 0));
    SettingsSchema::add(schema, "limit", std::optional<int>());
    SettingsSchema::add(schema, "name", std::string("x"));

    struct Case
    {
        std::string key, text;
        bool accepted;
    };
    const std::vector<Case> cases{
        {"fps", "0.1", true},
        {"fps", "1000", true},
        {"fps", "0.09", false},
        {"fps", "1000.01", false},
        {"fps", "abc", false},
        {"fps", "inf", false},
        {"fps", "", false},
        {"count", "0", true},
        {"count", "-1", false},
        {"count", "1.5", false},
        {"mode", "2", true},
        {"mode", "3", false},
        {"mode", "-1", false},
        {"on", "true", true},
        {"on", "1", true},
        {"on", "yes", false},
        {"centre", "1 2 3", true},
        {"centre", "1 2", false},
        {"centre", "1 2 3 4", false},
        {"limit", "", true},
        {"limit", "4", true},
        {"limit", "x", false},
        {"name", "anything at all", true},
    };
    for (const auto& c : cases) {
        std::string accepted;
        EXPECT_EQ(SettingsSchema::accepts(schema, c.key, c.text, &accepted), c.accepted)
            << c.key << "=" << c.text;
        if (!c.accepted) {
            EXPECT_EQ(accepted, SettingsSchema::describe(schema, c.key));
        }
    }
    EXPECT_EQ(SettingsSchema::describe(schema, "fps"), "a number from 0.1 to 1000");
    EXPECT_EQ(SettingsSchema::describe(schema, "centre"), "3 numbers separated by spaces");
    EXPECT_EQ(SettingsSchema::describe(schema, "limit"), "an integer or an empty text");
}

TEST(SettingsSchemaTest, PathsNameNestedKeysAndRepeatedBlocksOnly)
{
    Properties schema;
    SettingsSchema::add(schema, "fps", 1.0);
    SettingsSchema::add(*schema.addSubProperties("descriptor"), "width", 1);
    Properties* devices = schema.addSubProperties("Devices");
    devices->setAttribute("repeated", "true");
    SettingsSchema::add(*devices->addSubProperties("Kind"), "speed", 1.0);
    EXPECT_EQ(SettingsSchema::paths(schema),
              (std::vector<std::string>{"fps", "descriptor.width", "Devices"}));
}

TEST(SettingsSchemaTest, TheReaderNotesTheLineOfEveryKeyAndBlock)
{
    PropertiesIO::SourceLines lines;
    auto tree = PropertiesIO::loadFromString(
        "Top {\n  a = 1\n\n  Sub {\n    b = \"two\nlines\"\n    c = 3\n  }\n}\n", nullptr, &lines);
    // A quoted text may not span lines; the error must not leave partial line records behind in use.
    EXPECT_FALSE(tree);
    lines = {};
    tree = PropertiesIO::loadFromString(
        "Top {\n  a = 1\n\n  Sub [label = x] {\n    b = 2  # note\n    c = 3\n  }\n}\n", nullptr, &lines);
    ASSERT_TRUE(tree);
    const Properties* sub = tree->subProperties("Sub");
    EXPECT_EQ(lines.block(tree.get()), 1);
    EXPECT_EQ(lines.key(tree.get(), "a"), 2);
    EXPECT_EQ(lines.block(sub), 4);
    EXPECT_EQ(lines.key(sub, "b"), 5);
    EXPECT_EQ(lines.key(sub, "c"), 6);
    EXPECT_EQ(lines.key(sub, "a"), 0);
}

}  // namespace
}  // namespace Corvexis
