#include "Apps/corvexis/CommandLine.h"

#include <gtest/gtest.h>

#include "Apps/corvexis/StreamWatch.h"

namespace Corvexis {
namespace {

std::optional<CommandLine> parse(std::vector<std::string> arguments, std::string* error = nullptr)
{
    return CommandLine::parse(arguments, error);
}

TEST(CommandLineTest, RunTakesSettingsOptionsAndActionsInAnyOrder)
{
    auto line = parse({"--plugins", "/a", "run", "Stream.X", "fps=30", "--seconds", "2.5", "name=a=b", "--action",
                       "stop", "--plugins", "/b", "--config", "c.txt", "--log-level", "1", "empty="});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->command, CommandLine::Command::Run);
    EXPECT_EQ(line->algorithmId, "Stream.X");
    EXPECT_EQ(line->pluginDirectories, (std::vector<std::string>{"/a", "/b"}));
    ASSERT_EQ(line->settings.size(), 3u);
    EXPECT_EQ(line->settings[0], (std::pair<std::string, std::string>{"fps", "30"}));
    // Only the first '=' separates: values may contain more.
    EXPECT_EQ(line->settings[1], (std::pair<std::string, std::string>{"name", "a=b"}));
    EXPECT_EQ(line->settings[2], (std::pair<std::string, std::string>{"empty", ""}));
    EXPECT_DOUBLE_EQ(*line->seconds, 2.5);
    EXPECT_EQ(line->actions, std::vector<std::string>{"stop"});
    EXPECT_EQ(line->configFile, "c.txt");
    EXPECT_EQ(line->logLevel, 1);
}

TEST(CommandLineTest, MalformedInputIsRefusedWithOneLine)
{
    struct Case
    {
        std::vector<std::string> arguments;
        std::string fragment;
    };
    const std::vector<Case> cases{
        {{}, "no command"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"run"}, "needs an algorithm identifier"},
        {{"run", "X", "novalue"}, "malformed setting 'novalue'"},
        {{"run", "X", "=3"}, "malformed setting '=3'"},
        {{"run", "X", "a b=3"}, "malformed setting 'a b=3'"},
        {{"show"}, "one algorithm identifier"},
        {{"show", "A", "B"}, "one algorithm identifier"},
        {{"list", "extra"}, "takes no arguments"},
        {{"list", "--seconds", "3"}, "belong to 'run'"},
        {{"run", "X", "--seconds"}, "needs a value"},
        {{"run", "X", "--seconds", "-1"}, "non-negative"},
        {{"run", "X", "--seconds", "3s"}, "non-negative"},
        {{"--log-level", "5", "list"}, "0 (trace) to 4"},
        {{"--bogus", "list"}, "unknown option '--bogus'"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(parse(c.arguments, &error)) << c.fragment;
        EXPECT_NE(error.find(c.fragment), std::string::npos) << "got: " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST(CommandLineTest, HelpWinsAndDemoNeedsNoArguments)
{
    EXPECT_EQ(parse({"run", "--help"})->command, CommandLine::Command::Help);
    auto demo = parse({"demo"});
    ASSERT_TRUE(demo);
    EXPECT_EQ(demo->command, CommandLine::Command::Demo);
    EXPECT_FALSE(demo->seconds);
}

TEST(StreamWatchTest, TimestampsFormatAsUtcWithMilliseconds)
{
    EXPECT_EQ(StreamWatch::formatTimestamp(0), "-");
    EXPECT_EQ(StreamWatch::formatTimestamp(1), "1970-01-01 00:00:00.001 UTC");
    EXPECT_EQ(StreamWatch::formatTimestamp(1'796'543'999'999ull), "2026-12-06 07:59:59.999 UTC");
}

}  // namespace
}  // namespace Corvexis
