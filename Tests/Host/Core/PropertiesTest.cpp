#include "Host/Core/Properties.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include <Eigen/Core>

using namespace Corvexis;

TEST(PropertiesTest, SetParamReplacesInPlaceAndKeepsOrderAndAttributes)
{
    Properties p("Block");
    p.setParam("b", 1);
    p.setParam("a", 2);
    p.setParam("c", 3);
    p.setParamAttribute("a", "label", "The A");
    p.setParam("a", 20);
    EXPECT_EQ(p.paramNames(), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(p.param("a", 0), 20);
    EXPECT_EQ(p.paramAttribute("a", "label"), "The A");

    p.removeParam("b");
    EXPECT_EQ(p.paramNames(), (std::vector<std::string>{"a", "c"}));
    // Lookups after a removal still find the shifted entries.
    EXPECT_EQ(p.param("c", 0), 3);
    EXPECT_FALSE(p.hasParam("b"));
    p.setParam("b", 4);
    EXPECT_EQ(p.paramNames(), (std::vector<std::string>{"a", "c", "b"}));
    EXPECT_EQ(p.paramAttribute("b", "label"), "");  // a re-added key starts without attributes
}

TEST(PropertiesTest, AttributesKeepFirstSetOrderAndMissingKeysAreIgnored)
{
    Properties p;
    p.setParamAttribute("missing", "label", "x");
    EXPECT_FALSE(p.hasParam("missing"));
    p.setParam("mode", std::string("Limited"));
    p.setParamAttribute("mode", "values", "None, Limited");
    p.setParamAttribute("mode", "label", "Mode");
    p.setParamAttribute("mode", "values", "None, Limited, Unlimited");
    const Properties::Attributes expected{{"values", "None, Limited, Unlimited"}, {"label", "Mode"}};
    EXPECT_EQ(p.paramAttributes("mode"), expected);
    EXPECT_EQ(p.paramAttribute("mode", "nope"), "");

    p.setAttribute("label", "Stream");
    EXPECT_EQ(p.attribute("label"), "Stream");
}

TEST(PropertiesTest, TypedValuesRoundTripExactly)
{
    Properties p;
    const double third = 1.0 / 3.0;
    const double tiny = std::numeric_limits<double>::denorm_min();
    Eigen::Matrix4d m;
    for (int i = 0; i < 16; ++i)
        m(i / 4, i % 4) = std::ldexp(1.0 + i / 7.0, i - 8);
    const Eigen::Vector3d v(0.1, -0.0, 1e300);
    const std::vector<int> ints{-3, 0, 7};
    const std::vector<std::string> texts{"", "a b", "quote \" and \\ back", "\xc3\xa9"};
    const uint64_t bigMs = std::numeric_limits<uint64_t>::max();

    p.setParam("third", third);
    p.setParam("tiny", tiny);
    p.setParam("float", 0.1f);
    p.setParam("flag", true);
    p.setParam("count", -42);
    p.setParam("unsigned", 42u);
    p.setParam("ms", bigMs);
    p.setParam("text", "a literal");
    p.setParam("matrix", m);
    p.setParam("vector", v);
    p.setParam("ints", ints);
    p.setParam("texts", texts);

    EXPECT_EQ(p.param("third", 0.0), third);
    EXPECT_EQ(p.param("tiny", 0.0), tiny);
    EXPECT_EQ(p.param("float", 0.0f), 0.1f);
    EXPECT_TRUE(p.param("flag", false));
    EXPECT_EQ(p.param("count", 0), -42);
    EXPECT_EQ(p.param("unsigned", 0u), 42u);
    EXPECT_EQ(p.param<uint64_t>("ms", 0), bigMs);
    EXPECT_EQ(p.param("text", ""), "a literal");
    EXPECT_EQ(p.param("matrix", Eigen::Matrix4d::Zero().eval()), m);
    const Eigen::Vector3d back = p.param("vector", Eigen::Vector3d::Zero().eval());
    EXPECT_EQ(back, v);
    EXPECT_TRUE(std::signbit(back.y()));
    EXPECT_EQ(p.param("ints", std::vector<int>{}), ints);
    p.setParam("flags", std::vector<bool>{true, false});
    EXPECT_EQ(*p.paramText("flags"), "true false");
    EXPECT_EQ(p.param("flags", std::vector<bool>{}), (std::vector<bool>{true, false}));
    EXPECT_EQ(p.param("texts", std::vector<std::string>{}), texts);
    // A matrix is written row by row.
    Eigen::Matrix2d rows;
    rows << 1, 2, 3, 4;
    p.setParam("rows", rows);
    EXPECT_EQ(*p.paramText("rows"), "1 2 3 4");
}

TEST(PropertiesTest, GetParamRefusesMissingAndMalformedAndLeavesOutputUntouched)
{
    Properties p;
    p.setParam("negative", -1);
    p.setParam("fraction", 2.5);
    p.setParam("word", "abc");
    p.setParam("big", std::string("99999999999"));
    p.setParam("pair", Eigen::Vector2d(1, 2));

    unsigned u = 7;
    EXPECT_FALSE(p.getParam("negative", u));
    EXPECT_EQ(u, 7u);
    int i = 5;
    EXPECT_FALSE(p.getParam("fraction", i));
    EXPECT_FALSE(p.getParam("big", i));  // out of range for int
    EXPECT_FALSE(p.getParam("missing", i));
    EXPECT_EQ(i, 5);
    bool b = true;
    EXPECT_FALSE(p.getParam("word", b));
    EXPECT_TRUE(b);
    Eigen::Vector3d v3(9, 9, 9);
    EXPECT_FALSE(p.getParam("pair", v3));  // wrong element count
    EXPECT_EQ(v3, Eigen::Vector3d(9, 9, 9));
    EXPECT_EQ(p.param("word", 3.0), 3.0);

    // Compatible reads: an integer as a double, a dynamic vector of any length, surrounding blanks.
    double d = 0;
    EXPECT_TRUE(p.getParam("negative", d));
    EXPECT_EQ(d, -1.0);
    Eigen::VectorXd dynamic;
    EXPECT_TRUE(p.getParam("pair", dynamic));
    EXPECT_EQ(dynamic.size(), 2);
    p.setParam("padded", std::string(" +12 "));
    EXPECT_EQ(p.param("padded", 0), 12);
}

TEST(PropertiesTest, OptionalValuesUseEmptyTextForNone)
{
    Properties p;
    p.setParam("none", std::optional<int>());
    p.setParam("some", std::optional<int>(0));
    EXPECT_EQ(*p.paramText("none"), "");
    EXPECT_EQ(p.param("none", std::optional<int>(5)), std::nullopt);
    EXPECT_EQ(p.param("some", std::optional<int>()), std::optional<int>(0));
    p.setParam("bad", "x");
    std::optional<int> out = 3;
    EXPECT_FALSE(p.getParam("bad", out));
    EXPECT_EQ(out, 3);
}

TEST(PropertiesTest, SubBlocksAreOrderedNamedAndOwned)
{
    Properties p("Root");
    Properties* devices = p.addSubProperties("Devices");
    Properties* a = devices->addSubProperties("OscillatingDevice");
    Properties* b = devices->addSubProperties("SweepDevice");
    Properties* c = devices->addSubProperties("OscillatingDevice");
    a->setParam("name", "first");
    c->setParam("name", "second");

    EXPECT_EQ(p.subProperties("Devices"), devices);
    EXPECT_EQ(p.subProperties("Nope"), nullptr);
    EXPECT_EQ(devices->subProperties("OscillatingDevice"), a);
    EXPECT_EQ(devices->subPropertiesList("OscillatingDevice"), (std::vector<Properties*>{a, c}));
    EXPECT_EQ(devices->subProperties(), (std::vector<Properties*>{a, b, c}));
    EXPECT_EQ(p.addSubProperties(std::unique_ptr<Properties>()), nullptr);

    Properties outsider("OscillatingDevice");
    devices->removeSubProperties(&outsider);  // not ours: nothing happens
    EXPECT_EQ(devices->subPropertiesCount(), 3u);
    devices->removeSubProperties(a);
    EXPECT_EQ(devices->subProperties("OscillatingDevice"), c);

    auto owned = std::make_unique<Properties>("Extra");
    Properties* raw = owned.get();
    EXPECT_EQ(p.addSubProperties(std::move(owned)), raw);
    EXPECT_EQ(p.subProperties().back(), raw);
}

TEST(PropertiesTest, CopiesAreDeepAndEqualityComparesEverything)
{
    Properties p("Root");
    p.setParam("x", 1);
    p.setParamAttribute("x", "min", "0");
    p.addSubProperties("Child")->setParam("y", 2.5);

    Properties copy(p);
    EXPECT_EQ(copy, p);
    EXPECT_NE(copy.subProperties("Child"), p.subProperties("Child"));
    copy.subProperties("Child")->setParam("y", 3.5);
    EXPECT_FALSE(copy == p);
    EXPECT_EQ(p.subProperties("Child")->param("y", 0.0), 2.5);

    Properties assigned;
    assigned = p;
    EXPECT_EQ(assigned, p);
    assigned.setParamAttribute("x", "min", "1");
    EXPECT_FALSE(assigned == p);
    assigned = p;
    assigned.setName("Other");
    EXPECT_FALSE(assigned == p);

    Properties moved(std::move(assigned));
    EXPECT_EQ(moved.param("x", 0), 1);

    moved.clear();
    EXPECT_TRUE(moved.empty());
    EXPECT_EQ(moved.name(), "Other");
}
