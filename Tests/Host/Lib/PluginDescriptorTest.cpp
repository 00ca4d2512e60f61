#include "Host/Lib/PluginDescriptor.h"

#include <gtest/gtest.h>

namespace Corvexis {
namespace {

constexpr const char* kHost = "__CORVEXIS_PLUGIN_V2_MAGIC_STRING__|hostversion=4.5.0|buildflags=CXXABI:1017,IDL:0|"
                              "pluginversion=";

TEST(PluginDescriptorTest, OwnTextIsAccepted)
{
    std::string why = "untouched";
    EXPECT_TRUE(PluginCompatibility::check(PluginCompatibility::kHostMagic, &why));
    EXPECT_EQ(why, "untouched");
    EXPECT_TRUE(PluginCompatibility::check(kHost, nullptr, kHost));
    EXPECT_NE(std::string(PluginCompatibility::kHostMagic).find("|hostversion=4.5.0|"), std::string::npos);
}

TEST(PluginDescriptorTest, EachDifferingFieldIsNamedWithBothValues)
{
    struct Case
    {
        const char* plugin;
        const char* why;
    };
    const Case cases[] = {
        {"__CORVEXIS_PLUGIN_V2_MAGIC_STRING__|hostversion=4.4.0|buildflags=CXXABI:1017,IDL:0|pluginversion=",
         "field 'hostversion' is '4.4.0', the host expects '4.5.0'"},
        {"__CORVEXIS_PLUGIN_V2_MAGIC_STRING__|hostversion=4.5.0|buildflags=MSC_VER:1929,IDL:0|pluginversion=",
         "field 'buildflags' is 'MSC_VER:1929,IDL:0', the host expects 'CXXABI:1017,IDL:0'"},
        {"__CORVEXIS_PLUGIN_V2_MAGIC_STRING__|hostversion=4.5.0|buildflags=CXXABI:1017,IDL:1|pluginversion=",
         "field 'buildflags' is 'CXXABI:1017,IDL:1', the host expects 'CXXABI:1017,IDL:0'"},
        {"__CORVEXIS_PLUGIN_V1_MAGIC_STRING__|hostversion=4.5.0|buildflags=CXXABI:1017,IDL:0|pluginversion=",
         "field 'magic' is '__CORVEXIS_PLUGIN_V1_MAGIC_STRING__', the host expects "
         "'__CORVEXIS_PLUGIN_V2_MAGIC_STRING__'"},
        {"__CORVEXIS_PLUGIN_V2_MAGIC_STRING__|buildflags=CXXABI:1017,IDL:0",
         "field 'hostversion' is missing, the host expects '4.5.0'"},
        {"__CORVEXIS_PLUGIN_V2_MAGIC_STRING__|hostversion=4.5.0", "field 'buildflags' is missing, the host expects "
                                                                  "'CXXABI:1017,IDL:0'"},
        // A prefix of the right value is not the value.
        {"__CORVEXIS_PLUGIN_V2_MAGIC_STRING__|hostversion=4.5|buildflags=CXXABI:1017,IDL:0",
         "field 'hostversion' is '4.5', the host expects '4.5.0'"},
        {"", "field 'magic' is '', the host expects '__CORVEXIS_PLUGIN_V2_MAGIC_STRING__'"},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_FALSE(PluginCompatibility::check(c.plugin, &why, kHost)) << c.plugin;
        EXPECT_EQ(why, c.why);
    }
}

TEST(PluginDescriptorTest, FieldOrderAndPluginVersionDoNotMatter)
{
    EXPECT_TRUE(PluginCompatibility::check(
        "__CORVEXIS_PLUGIN_V2_MAGIC_STRING__|buildflags=CXXABI:1017,IDL:0|hostversion=4.5.0|pluginversion=7", nullptr,
        kHost));
}

}  // namespace
}  // namespace Corvexis
