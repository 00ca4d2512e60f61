#include "Host/Core/StringUtils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <sstream>

#include "Host/Core/Random.h"

using namespace Corvexis;

namespace {
std::string viaStream(double value, int precision)
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.precision(precision);
    out << value;
    return out.str();
}
}  // namespace

TEST(StringUtilsTest, DefaultPrecisionGivesSixSignificantDigitsWithoutTrailingZeros)
{
    EXPECT_EQ(String::fromDouble(30.0), "30");
    EXPECT_EQ(String::fromDouble(29.97), "29.97");
    EXPECT_EQ(String::fromDouble(0.0), "0");
    EXPECT_EQ(String::fromDouble(-0.0), "-0");
    EXPECT_EQ(String::fromDouble(1.0 / 3.0), "0.333333");
    EXPECT_EQ(String::fromDouble(123456.0), "123456");
    EXPECT_EQ(String::fromDouble(1234567.0), "1.23457e+06");
    EXPECT_EQ(String::fromDouble(0.0001), "0.0001");
    EXPECT_EQ(String::fromDouble(0.00001), "1e-05");
    EXPECT_EQ(String::fromDouble(-2.5), "-2.5");
    EXPECT_EQ(String::fromDouble(999999.5), "1e+06");
}

TEST(StringUtilsTest, PrecisionArgumentAndItsBounds)
{
    EXPECT_EQ(String::fromDouble(3.14159265, 3), "3.14");
    EXPECT_EQ(String::fromDouble(3.14159265, 0), "3");
    EXPECT_EQ(String::fromDouble(3.14159265, 1), "3");
    EXPECT_EQ(String::fromDouble(3.14159265, -4), "3.14159");
    EXPECT_EQ(String::fromDouble(0.1, 17), "0.10000000000000001");
    EXPECT_EQ(String::fromDouble(29.97, 1000), viaStream(29.97, 100));
    EXPECT_EQ(String::fromDouble(std::numeric_limits<double>::max(), 100),
              viaStream(std::numeric_limits<double>::max(), 100));
}

TEST(StringUtilsTest, NonFiniteValues)
{
    EXPECT_EQ(String::fromDouble(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(String::fromDouble(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(String::fromDouble(std::numeric_limits<double>::quiet_NaN()), "nan");
}

TEST(StringUtilsTest, MatchesDefaultStreamFormattingOverManyValues)
{
    Random::Generator g(11);
    for (int i = 0; i < 5000; ++i) {
        const double magnitude = std::pow(10.0, g.uniformDouble(-12.0, 12.0));
        const double value = g.chance(0.5) ? magnitude : -magnitude;
        const int precision = static_cast<int>(g.uniformInt(1, 17));
        ASSERT_EQ(String::fromDouble(value, precision), viaStream(value, precision))
            << "value " << viaStream(value, 17) << " precision " << precision;
    }
}

TEST(StringUtilsTest, IgnoresTheProcessLocale)
{
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    bool switched = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            switched = true;
            break;
        }
    }
    const std::string text = String::fromDouble(29.97);
    std::setlocale(LC_NUMERIC, previous.c_str());
    if (!switched)
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    EXPECT_EQ(text, "29.97");
}
