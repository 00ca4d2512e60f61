#include "Host/Core/Parameter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <Eigen/Core>

using namespace Corvexis;

TEST(ParameterTest, ValueChangeSignalsOnlyOnRealChangesWithTheNewValue)
{
    Parameter<int> p("count", 3);
    std::vector<int> seen;
    auto connection = p.signalValueChanged.connect([&](const int& v) { seen.push_back(v); });

    EXPECT_EQ(p.value(), 3);
    EXPECT_TRUE(p.isDefault());
    p.setValue(3);
    p = 4;
    p = 4;
    p.setValue(5);
    p.resetToDefault();
    EXPECT_EQ(seen, (std::vector<int>{4, 5, 3}));
    EXPECT_EQ(static_cast<int>(p), 3);
    EXPECT_EQ(p.defaultValue(), 3);
}

TEST(ParameterTest, FloatingValuesTreatNaNAsUnchangedAndKeepTheSignOfZero)
{
    Parameter<double> p("x", 0.0);
    int signals = 0;
    auto connection = p.signalValueChanged.connect([&](const double&) { ++signals; });
    p = -0.0;
    EXPECT_EQ(signals, 1);
    EXPECT_TRUE(std::signbit(p.value()));
    EXPECT_FALSE(p.isDefault());
    p = std::numeric_limits<double>::quiet_NaN();
    p = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(signals, 2);
    EXPECT_TRUE(std::isnan(p.value()));
}

TEST(ParameterTest, TextAccessRoundTripsAndRefusesMalformedTextKeepingTheValue)
{
    Parameter<double> fps("fps", 30.0);
    EXPECT_EQ(fps.valueText(), "30");
    EXPECT_TRUE(fps.setValueText("0.1"));
    EXPECT_EQ(fps.value(), 0.1);
    std::string why;
    EXPECT_FALSE(fps.setValueText("fast", &why));
    EXPECT_EQ(fps.value(), 0.1);
    EXPECT_EQ(why, "expected a number");

    Parameter<unsigned> port("port", 3888);
    EXPECT_FALSE(port.setValueText("-1", &why));
    EXPECT_EQ(port.value(), 3888u);

    Parameter<Eigen::Matrix4d> pose("pose", Eigen::Matrix4d::Identity());
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m(0, 3) = 1.0 / 3.0;
    pose = m;
    Parameter<Eigen::Matrix4d> copy("pose", Eigen::Matrix4d::Zero());
    EXPECT_TRUE(copy.setValueText(pose.valueText()));
    EXPECT_EQ(copy.value(), m);
    EXPECT_FALSE(copy.setValueText("1 2 3", &why));
    EXPECT_EQ(why, "expected 16 numbers separated by spaces");
    EXPECT_EQ(copy.value(), m);
}

TEST(ParameterTest, OptionalParametersSaveNoValueAsEmptyText)
{
    Parameter<std::optional<int>> limit("limit", std::nullopt);
    std::vector<std::optional<int>> seen;
    auto connection =
        limit.signalValueChanged.connect([&](const std::optional<int>& v) { seen.push_back(v); });
    EXPECT_EQ(limit.valueText(), "");
    EXPECT_TRUE(limit.setValueText("7"));
    EXPECT_EQ(limit.value(), 7);
    EXPECT_TRUE(limit.setValueText(""));
    EXPECT_EQ(limit.value(), std::nullopt);
    EXPECT_FALSE(limit.setValueText("seven"));
    EXPECT_EQ(seen, (std::vector<std::optional<int>>{7, std::nullopt}));
    EXPECT_TRUE(limit.isDefault());
}

TEST(ParameterTest, LabelIsTheLabelAttributeAndAttributesKeepTheirOrder)
{
    Parameter<std::string> mode("trackingStreamHistory", "Limited");
    mode.setAttribute("values", "None, Limited");
    mode.setLabel("Tracking Stream History in 3D View");
    mode.setAttribute("values", "None, Limited, Unlimited");
    EXPECT_EQ(mode.label(), "Tracking Stream History in 3D View");
    EXPECT_EQ(mode.attribute("label"), mode.label());
    const Properties::Attributes expected{{"values", "None, Limited, Unlimited"},
                                          {"label", "Tracking Stream History in 3D View"}};
    EXPECT_EQ(mode.attributes(), expected);
    EXPECT_EQ(mode.attribute("min"), "");
}

TEST(ParameterTest, DynamicVectorsOfDifferentLengthsAreChanges)
{
    Parameter<Eigen::VectorXd> v("v", Eigen::VectorXd::Zero(2));
    int signals = 0;
    auto connection = v.signalValueChanged.connect([&](const Eigen::VectorXd&) { ++signals; });
    v = Eigen::VectorXd::Zero(3);
    v = Eigen::VectorXd::Zero(3);
    EXPECT_EQ(signals, 1);
    EXPECT_EQ(v.value().size(), 3);
}
